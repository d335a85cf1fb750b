#include <gtest/gtest.h>

#include "capture/capture_ctl.h"
#include "keyboard/keyboard.h"
#include "hosted_control.h"

namespace tamsolo {
namespace {

TEST(CaptureCtl, ChoosesTheFormatByTheTypedExtensionThenByTheFilter) {
  struct Case {
    std::string typed;
    int filter;
    SaveChoice choice;
  } cases[] = {
      {"shot.bmp", 0, {"shot.bmp", true}},  {"shot.png", 1, {"shot.png", false}},
      {"shot", 1, {"shot.bmp", true}},      {"Screen Capture", 0, {"Screen Capture.jpg", false}},
      {"shot.JPG", 1, {"shot.JPG", true}},  {"shot.BmP", 0, {"shot.BmP", true}},
      {"my.dir/shot", 0, {"my.dir/shot.jpg", false}},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseSave(c.typed, c.filter), c.choice) << c.typed;
}

TEST(CaptureCtl, IsTheIconWithShowImageAndItsMiscStatus) {
  testing::Hosted<CaptureCtl> f;
  CaptureCtl& control = *f.control;
  ASSERT_EQ(control.FinalConstruct(), hr::kOk);
  EXPECT_EQ(control.NaturalExtent(), (gdi::Size{3201, 1746}));
  EXPECT_EQ(control.GetMiscStatus(1), 147857u);
  ASSERT_NE(control.FindMethod("ShowImage"), nullptr);
  EXPECT_EQ(control.FindMethod("ShowImage")->dispid, 1);
  // ScreenCaptured is declared for the event interface; a pick and its saves fire CaptureSaved only.
  std::vector<std::pair<std::string, int32_t>> declared;
  for (const Control::Event& e : control.Events()) declared.emplace_back(e.name, e.dispid);
  EXPECT_EQ(declared, (std::vector<std::pair<std::string, int32_t>>{{"CaptureSaved", 1}, {"ScreenCaptured", 2}}));
  EXPECT_TRUE(control.Properties().empty());
  std::string events;
  EXPECT_EQ(control.GetGUID(kGuidKindDefaultSourceDispIid, events), hr::kOk);
  EXPECT_EQ(events, FindClassByName("CaptureCtl")->eventIid);
}

TEST(CaptureCtl, APickThatChoseNothingOrCannotRunShowsItsMessageAndNoFrame) {
  for (auto [result, message] : {std::pair{PickResult::NothingChosen,
                                           "MessageBox Screen Capture: You must drag the icon over a window to capture "
                                           "it. 48"},
                                 std::pair{PickResult::Unsupported,
                                           "MessageBox Screen Capture: Screen capture needs a secure (HTTPS) "
                                           "connection. 48"}}) {
    RecordingHost host;
    host.pickResult = result;
    CaptureCtl control(host);
    control.OnMouse({MouseInput::Kind::Down, 3, 4, MouseInput::kRight, 0, 0, 0});  // nothing
    control.OnMouse({MouseInput::Kind::Move, 3, 4, MouseInput::kLeft, 0, 0, 0});
    EXPECT_TRUE(host.calls.empty());
    control.OnMouse({MouseInput::Kind::Down, 3, 4, MouseInput::kLeft, 0, 0, 0});
    EXPECT_EQ(host.calls, (std::vector<std::string>{"PickDisplay", message}));
  }
}

TEST(CaptureCtl, APickedPictureIsPreviewedSavedAsABitmapAndSavedAgain) {
  RecordingHost host;
  host.pickResult = PickResult::Picked;
  host.picturePixels = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080};
  host.saveName = "shot";
  host.saveFilter = 1;
  CaptureCtl control(host);
  control.Pick();
  ASSERT_TRUE(host.previewCommand);
  host.previewCommand(kSaveAndExit);
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{
                "PickDisplay", "ShowPreview Screen Capture &File [&Save and Exit 32778 on|-|E&xit 32780 on] 7 3x2",
                "AskSaveName Save Image and Attach to New Issue: Screen Capture .jpg JPEG (*.jpg)=*.jpg "
                "Bitmap (*.bmp)=*.bmp",
                "MakeFile shot.bmp bitmap of 7", "HidePreview", "Fire CaptureSaved(shot.bmp)"}));
  EXPECT_EQ(host.files["shot.bmp"].size(), 78u);
  // Mend: the picture stays, so a second save of one capture writes again.
  host.calls.clear();
  host.files.clear();
  host.saveName = "again.jpg";
  host.saveFilter = 0;
  host.previewCommand(kSaveAndExit);
  EXPECT_EQ(host.files["again.jpg"], "JPEG");
  EXPECT_EQ(host.Count("Fire CaptureSaved(again.jpg)"), 1);
  host.previewCommand(kExit);
  EXPECT_EQ(host.calls.back(), "HidePreview");
}

TEST(CaptureCtl, CaptureSavedFiresOnlyWhenAFileWasMade) {
  RecordingHost host;
  // Mend: before any capture the preview is empty and its save is disabled and does nothing.
  CaptureCtl control(host);
  control.ShowImage();
  EXPECT_EQ(host.calls.back(), "ShowPreview Screen Capture &File [&Save and Exit 32778 off|-|E&xit 32780 on] 0 1x1");
  host.previewCommand(kSaveAndExit);
  EXPECT_EQ(host.calls.size(), 1u);
  // Cancelled: the frame stays; a file that could not be made: no event either.
  host.pickResult = PickResult::Picked;
  control.Pick();
  host.previewCommand(kSaveAndExit);
  host.saveName = "shot.jpg";
  host.makeFiles = false;
  host.previewCommand(kSaveAndExit);
  EXPECT_EQ(host.Count("HidePreview"), 0);
  EXPECT_EQ(host.calls.back(), "MakeFile shot.jpg jpeg of 7");
}

TEST(Keyboard, SendKeysPlaysTheCompiledStrokesAndIsAlwaysFine) {
  testing::Hosted<Keyboard> f;
  Keyboard& keyboard = *f.control;
  RecordingHost& host = f.host;
  ASSERT_EQ(keyboard.FinalConstruct(), hr::kOk);
  EXPECT_EQ(keyboard.NaturalExtent(), (gdi::Size{503, 503}));
  ASSERT_NE(keyboard.FindMethod("sendkeys"), nullptr);
  EXPECT_EQ(keyboard.FindMethod("sendkeys")->dispid, 1);
  EXPECT_EQ(keyboard.Call("SendKeys", {automation::Variant("^a")}).Type(), automation::VarType::Empty);
  keyboard.Call("SendKeys", {automation::Variant("%")});
  EXPECT_EQ(host.calls, (std::vector<std::string>{"PlayKeys 4", "PlayKeys 0"}));
  ASSERT_EQ(host.played.size(), 4u);
  EXPECT_TRUE(host.played[1].ctrl);
  EXPECT_EQ(host.played[1].key, "a");
}

}  // namespace
}  // namespace tamsolo
