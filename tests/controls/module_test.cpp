#include <gtest/gtest.h>

#include "frame/bitmap_control.h"
#include "gdi/image.h"
#include "hosted_control.h"
#include "probe_control.h"
#include "qel_logo/qel_logo.h"
#include "registration/module.h"

namespace tamsolo {
namespace {

constexpr std::string_view kLogoClsid = "{BC779345-11EC-4E18-8171-76CD0A6BAC9A}";

std::unique_ptr<Control> CreateLogo(Host& host) { return testing::Created(host, kLogoClsid); }

TEST(Module, UnknownClassIsNotAvailable) {
  std::shared_ptr<ClassFactory> factory;
  EXPECT_EQ(DllGetClassObject("{00000000-0000-0000-0000-000000000001}", factory),
            static_cast<HRESULT>(0x80040111));
  EXPECT_EQ(factory, nullptr);
}

TEST(Module, CanUnloadOnlyWhenNoControlLivesAndNoLockIsHeld) {
  RecordingHost host;
  EXPECT_EQ(DllCanUnloadNow(), hr::kOk);
  std::unique_ptr<Control> logo = CreateLogo(host);
  EXPECT_EQ(DllCanUnloadNow(), hr::kFalse);
  logo.reset();
  EXPECT_EQ(DllCanUnloadNow(), hr::kOk);
  std::shared_ptr<ClassFactory> factory;
  DllGetClassObject(kLogoClsid, factory);
  factory->LockServer(true);
  EXPECT_EQ(DllCanUnloadNow(), hr::kFalse);
  factory->LockServer(false);
  EXPECT_EQ(DllCanUnloadNow(), hr::kOk);
}

// Every class of the table, in its order.
TEST(Module, EveryClassIsBuiltIn) {
  std::vector<std::string> names, table;
  for (const ClassEntry* c : AvailableClasses()) names.emplace_back(c->name);
  for (const ClassEntry& c : ClassTable()) table.emplace_back(c.name);
  EXPECT_EQ(names, table);
}

// The controls that load data are complete once a load has ended; the others as soon as they live.
TEST(Module, ControlsThatLoadNothingAreCompleteOnceLive) {
  RecordingHost host;
  for (const ClassEntry* c : AvailableClasses()) {
    std::unique_ptr<Control> control = testing::Created(host, c->clsid);
    ASSERT_TRUE(control) << c->name;
    const bool loads = c->name == "Chart" || c->name == "ChartBar" || c->name == "WorkflowDiagram";
    EXPECT_EQ(control->ReadyState(), loads ? 0 : kReadyStateComplete) << c->name;
  }
}

TEST(QELLogo, AnyExtentBecomes133By125) {
  RecordingHost host;
  auto logo = CreateLogo(host);
  for (gdi::Size asked : {gdi::Size{3201, 1746}, gdi::Size{1, 1}, gdi::Size{0, 0}}) {
    EXPECT_EQ(logo->SetExtent(asked), hr::kOk);
    EXPECT_EQ(logo->Extent(), (gdi::Size{133, 125}));
  }
}

TEST(QELLogo, DrawsThePictureAtTheTopLeftClipped) {
  RecordingHost host;
  auto logo = CreateLogo(host);
  gdi::RecordDc dc;
  EXPECT_EQ(logo->Draw(dc, {10, 20, 200, 60}), hr::kOk);
  EXPECT_EQ(logo->Draw(dc, {0, 0, 136, 87}), hr::kOk);
  EXPECT_EQ(dc.Calls(), (std::vector<std::string>{"DrawImage 243 10,20 10,20,146,60",
                                                  "DrawImage 243 0,0 0,0,136,87"}));
  const gdi::Image* picture = gdi::LoadImage(kLogoBitmap);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->pixels.size(), 136u * 87u);
}

TEST(QELLogo, ObjectSafetyTakesOptionsThreeOnly) {
  RecordingHost host;
  QELLogo logo(host);
  uint32_t supported = 0, enabled = 0;
  EXPECT_EQ(logo.Safety().SetInterfaceSafetyOptions("IDispatch", 3, 3), hr::kOk);
  EXPECT_EQ(logo.Safety().GetInterfaceSafetyOptions("IDispatch", supported, enabled), hr::kOk);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 3u);
  EXPECT_EQ(logo.Safety().SetInterfaceSafetyOptions("IPersistPropertyBag", 1, 1), hr::kNoInterface);
  EXPECT_EQ(logo.Safety().SetInterfaceSafetyOptions("IDispatch", 4, 4), hr::kFail);
  EXPECT_EQ(logo.Safety().SetInterfaceSafetyOptions("IDispatch", 1, 0), hr::kOk);
  logo.Safety().GetInterfaceSafetyOptions("{6A017E15-643A-4D09-AAC1-C79074EBF0E2}", supported, enabled);
  EXPECT_EQ(enabled, 2u);
  EXPECT_EQ(logo.Safety().GetInterfaceSafetyOptions("IConnectionPointContainer", supported, enabled),
            hr::kNoInterface);
}

TEST(BitmapControls, NaturalExtentsComeFromTheBitmapInHimetric) {
  testing::RegisterTestPictures();
  RecordingHost host;
  const ClassEntry& capture = *FindClassByName("CaptureCtl");
  BitmapControl wide(host, capture, testing::kWideBitmap, ExtentAsAsked{}, true);
  BitmapControl small(host, *FindClassByName("Keyboard"), testing::kSmallBitmap, ExtentBitmapPixels{}, true);
  BitmapControl missing(host, capture, 4242, ExtentAsAsked{}, true);
  EXPECT_EQ(wide.FinalConstruct(), hr::kOk);
  EXPECT_EQ(small.FinalConstruct(), hr::kOk);
  EXPECT_EQ(missing.FinalConstruct(), hr::kFalse);
  EXPECT_EQ(wide.NaturalExtent(), (gdi::Size{3201, 1746}));
  EXPECT_EQ(wide.Extent(), (gdi::Size{3201, 1746}));
  EXPECT_EQ(small.NaturalExtent(), (gdi::Size{503, 503}));
  // The keyboard's rule: whatever is asked, the bitmap's pixel numbers are stored.
  EXPECT_EQ(small.SetExtent({2000, 900}), hr::kOk);
  EXPECT_EQ(small.Extent(), (gdi::Size{19, 19}));
  EXPECT_EQ(wide.SetExtent({2000, 900}), hr::kOk);
  EXPECT_EQ(wide.Extent(), (gdi::Size{2000, 900}));
  gdi::RecordDc dc;
  EXPECT_EQ(missing.Draw(dc, {0, 0, 5, 5}), hr::kFalse);
  EXPECT_TRUE(dc.Calls().empty());
}

}  // namespace
}  // namespace tamsolo
