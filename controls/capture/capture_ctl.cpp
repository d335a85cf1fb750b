#include "capture/capture_ctl.h"

#include "automation/text.h"
#include "common/bitmap_file.h"
#include "frame/control_classes.h"
#include "gdi/image.h"

namespace tamsolo {

using automation::Variant;

namespace {

constexpr std::string_view kTitle = "Screen Capture";

// The extension of the name's last part (after its last "."), without the dot.
std::string_view ExtensionOf(std::string_view name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return name.substr(dot + 1);
}

}  // namespace

SaveChoice ChooseSave(std::string_view typed, int filter) {
  const std::string_view extension = ExtensionOf(typed);
  if (extension.empty())
    return {std::string(typed) + (filter == 1 ? ".bmp" : ".jpg"), filter == 1};
  if (!automation::EqualsNoCase(extension, "jpg"))
    return {std::string(typed), automation::EqualsNoCase(extension, "bmp")};
  return {std::string(typed), filter == 1};
}

CaptureCtl::CaptureCtl(Host& host)
    : BitmapControl(host, *FindClassByName("CaptureCtl"), kCaptureBitmap, ExtentAsAsked{}, true) {
  AddMethod(
      "ShowImage",
      [this](std::vector<Variant>&) {
        ShowImage();
        return Variant();
      },
      1);
  AddEvent("CaptureSaved", 1);
  // Kept in the event interface for pages written against it; nothing fires it.
  AddEvent("ScreenCaptured", 2);
}

void CaptureCtl::OnMouse(const MouseInput& input) {
  if (input.kind == MouseInput::Kind::Down && input.button == MouseInput::kLeft) Pick();
}

void CaptureCtl::Pick() {
  host_.PickDisplay(WhileAlive([this](PickResult result, Picture picture) {
    if (result == PickResult::Picked) {
      picture_ = picture;
      ShowImage();
    } else if (result == PickResult::NothingChosen) {
      host_.MessageBox("You must drag the icon over a window to capture it.", kTitle, mb::kIconWarning, mb::kOk,
                       nullptr);
    } else {
      host_.MessageBox("Screen capture needs a secure (HTTPS) connection.", kTitle, mb::kIconWarning, mb::kOk,
                       nullptr);
    }
  }));
}

void CaptureCtl::ShowImage() {
  // Without a picture the preview is empty and has nothing to save.
  const std::vector<PreviewMenuItem> items{{"&Save and Exit", kSaveAndExit, picture_.id != 0}, {"", 0, true},
                                    {"E&xit", kExit, true}};
  host_.ShowPreview(kTitle, "&File", items, picture_, WhileAlive([this](int command) {
                      if (command == kSaveAndExit) Save();
                      if (command == kExit) host_.HidePreview();
                    }));
}

void CaptureCtl::Save() {
  if (picture_.id == 0) return;
  const SaveDialog dialog{"Save Image and Attach to New Issue", "Screen Capture", ".jpg",
                          {{"JPEG (*.jpg)", "*.jpg"}, {"Bitmap (*.bmp)", "*.bmp"}}};
  host_.AskSaveName(dialog, WhileAlive([this](std::optional<std::string> name, int filter) {
                      if (name) Write(ChooseSave(*name, filter));
                    }));
}

void CaptureCtl::Write(const SaveChoice& choice) {
  std::string bytes;
  if (choice.bitmap) bytes = BitmapFile(picture_.width, picture_.height, host_.PicturePixels(picture_));
  host_.MakeFile(choice.fileName, picture_, choice.bitmap ? &bytes : nullptr,
                 WhileAlive([this, name = choice.fileName](bool made) {
                   // Only a file that was made is announced.
                   if (!made) return;
                   host_.HidePreview();
                   host_.Fire("CaptureSaved", {Variant(name)});
                 }));
}

void RegisterCaptureCtl() {
  gdi::RegisterImage(kCaptureBitmap, MakeCaptureIcon);
  RegisterControlClass("CaptureCtl", [](Host& host) { return std::make_unique<CaptureCtl>(host); });
}

}  // namespace tamsolo
