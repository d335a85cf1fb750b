// Our logo, drawn in code so the module carries no image file: a blue field darkening towards
// the bottom with a white ring and tail (a "Q") on the left and three bars beside it.
#include <cmath>

#include "qel_logo/qel_logo.h"

namespace tamsolo {

namespace {

constexpr int kWidth = 136, kHeight = 87;

uint32_t Pixel(int r, int g, int b) {
  return 0xFF000000u | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
         static_cast<uint32_t>(b);
}

bool InRing(int x, int y) {
  double dx = x - 38.0, dy = y - 42.0;
  double d = std::sqrt(dx * dx + dy * dy);
  bool ring = d >= 17.0 && d <= 25.0;
  bool tail = x >= 44 && x <= 66 && std::abs((y - 42) - (x - 44)) <= 3 && y >= 50;
  return ring || tail;
}

bool InBars(int x, int y) {
  for (int i = 0; i < 3; ++i) {
    int top = 24 + i * 14;
    if (y >= top && y < top + 8 && x >= 76 && x < 122 - i * 10) return true;
  }
  return false;
}

}  // namespace

gdi::Image MakeLogoImage() {
  gdi::Image image;
  image.width = kWidth;
  image.height = kHeight;
  image.pixels.reserve(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (InRing(x, y) || InBars(x, y)) {
        image.pixels.push_back(Pixel(255, 255, 255));
        continue;
      }
      // #6294CD at the top to a deep blue at the bottom.
      int r = 98 - 98 * y / kHeight, g = 148 - 100 * y / kHeight, b = 205 - 90 * y / kHeight;
      image.pixels.push_back(Pixel(r, g, b));
    }
  }
  return image;
}

}  // namespace tamsolo
