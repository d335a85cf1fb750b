// A control made for the tests: BackColor and ForeColor, a text property, a method that loads
// (ready state) and an event, drawing its background. It uses the Chart's class entry.
#pragma once

#include "frame/bitmap_control.h"

namespace tamsolo::testing {

class ProbeControl : public Control {
 public:
  explicit ProbeControl(Host& host);
  HRESULT Draw(gdi::Dc& dc, const gdi::Rect& bounds) override;
  std::string caption;
  bool pattern = false;  // draw one of each drawing call
  std::unique_ptr<DomElement> dialog, button;
  int32_t level = 0;
};

// Bitmap controls with the keyboard's and the capture control's rules over test pictures.
inline constexpr int kSmallBitmap = 9019;   // 19 x 19
inline constexpr int kWideBitmap = 9121;    // 121 x 66
void RegisterTestPictures();

}  // namespace tamsolo::testing
