// The keystroke sender: our 19 x 19 icon (bitmap 215), invisible at run time; SendKeys types a
// key string into the page's focused element.
#pragma once

#include "frame/bitmap_control.h"

namespace tamsolo {

inline constexpr int kKeyboardBitmap = 215;

class Keyboard : public BitmapControl {
 public:
  explicit Keyboard(Host& host);
  void SendKeys(std::string_view keys);
};

gdi::Image MakeKeyboardIcon();
void RegisterKeyboard();

}  // namespace tamsolo
