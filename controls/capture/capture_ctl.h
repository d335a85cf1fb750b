// The screen capture control: our 121 x 66 icon (bitmap 212); a press on it lets the user pick a
// screen, window or tab through the browser's picker, shows the picture in a preview frame, and
// saves it as a JPEG or bitmap file that the page attaches to a new issue (CaptureSaved).
#pragma once

#include <memory>
#include <optional>

#include "frame/bitmap_control.h"

namespace tamsolo {

inline constexpr int kCaptureBitmap = 212;
inline constexpr uint32_t kCaptureMiscStatus = 147857;  // the registry's value and no UI activation
inline constexpr int kSaveAndExit = 32778, kExit = 32780;

// How a typed name is saved: a typed extension other than ".jpg" decides ("bmp", any case, a
// bitmap; anything else a JPEG), otherwise the chosen filter (0 JPEG, 1 bitmap); a name without
// an extension gets the chosen type's.
struct SaveChoice {
  std::string fileName;
  bool bitmap;
  friend bool operator==(const SaveChoice&, const SaveChoice&) = default;
};
SaveChoice ChooseSave(std::string_view typed, int filter);

class CaptureCtl : public BitmapControl {
 public:
  explicit CaptureCtl(Host& host);
  // A press of the left button (the user's gesture the picker needs) starts a pick.
  void OnMouse(const MouseInput& input) override;
  uint32_t GetMiscStatus(int /*aspect*/) const { return kCaptureMiscStatus; }

  void Pick();
  void ShowImage();
  const Picture& Captured() const { return picture_; }

 private:
  void Save();
  void Write(const SaveChoice& choice);
  template <class F>
  auto WhileAlive(F f) {
    return [alive = std::weak_ptr<bool>(alive_), f](auto&&... args) {
      if (alive.lock()) f(std::forward<decltype(args)>(args)...);
    };
  }

  Picture picture_;  // kept until the next capture
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

gdi::Image MakeCaptureIcon();
void RegisterCaptureCtl();

}  // namespace tamsolo
