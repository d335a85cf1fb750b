// The capture control's icon, drawn in code: a grey desktop with a window (blue title bar) and
// a dashed frame around it, as the picked window is framed.
#include "capture/capture_ctl.h"

namespace tamsolo {

namespace {

constexpr int kWidth = 121, kHeight = 66;

uint32_t Pixel(int r, int g, int b) {
  return 0xFF000000u | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
         static_cast<uint32_t>(b);
}

uint32_t At(int x, int y) {
  const bool frame = (x == 30 || x == 90 || y == 12 || y == 54) && x >= 30 && x <= 90 && y >= 12 && y <= 54;
  if (frame) return (x + y) % 4 < 2 ? Pixel(0, 0, 0) : Pixel(255, 255, 255);
  if (x > 33 && x < 87 && y > 15 && y < 51) return y < 22 ? Pixel(10, 36, 106) : Pixel(255, 255, 255);
  return Pixel(212, 208, 200);
}

}  // namespace

gdi::Image MakeCaptureIcon() {
  gdi::Image image;
  image.width = kWidth;
  image.height = kHeight;
  image.pixels.reserve(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) image.pixels.push_back(At(x, y));
  return image;
}

}  // namespace tamsolo
