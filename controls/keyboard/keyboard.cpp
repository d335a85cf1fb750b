#include "keyboard/keyboard.h"

#include "common/key_string.h"
#include "frame/control_classes.h"
#include "gdi/image.h"

namespace tamsolo {

using automation::Variant;

Keyboard::Keyboard(Host& host)
    : BitmapControl(host, *FindClassByName("Keyboard"), kKeyboardBitmap, ExtentBitmapPixels{}, true) {
  AddMethod(
      "SendKeys",
      [this](std::vector<Variant>& args) {
        SendKeys(args.empty() ? std::string() : args[0].ToString());
        return Variant();
      },
      1);
}

void Keyboard::SendKeys(std::string_view text) { host_.PlayKeys(keys::Strokes(keys::CompileKeys(text))); }

// A key cap: light grey, a darker edge, a letter-like mark in the middle.
gdi::Image MakeKeyboardIcon() {
  gdi::Image image;
  image.width = image.height = 19;
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 19; ++x) {
      const bool edge = x == 0 || y == 0 || x == 18 || y == 18;
      const bool mark = y >= 6 && y <= 12 && x >= 6 && x <= 12 && (x == 6 || y == 12);
      image.pixels.push_back(edge ? 0xFF404040u : mark ? 0xFF000000u : 0xFFD4D0C8u);
    }
  return image;
}

void RegisterKeyboard() {
  gdi::RegisterImage(kKeyboardBitmap, MakeKeyboardIcon);
  RegisterControlClass("Keyboard", [](Host& host) { return std::make_unique<Keyboard>(host); });
}

}  // namespace tamsolo
