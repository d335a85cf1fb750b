// Bitmap 229, the issue-create state's star, drawn in code. The picture's green is the button
// face and its blue the button highlight, so the star sits on the dialog's own colours.
#include <array>
#include <cmath>
#include <numbers>

#include "diagram_canvas/diagram_canvas.h"
#include "gdi/colors.h"
#include "gdi/image.h"

namespace tamsolo::canvas {
namespace {

constexpr int kSize = 32;

uint32_t Opaque(gdi::COLORREF c) {  // COLORREF (0x00BBGGRR) to a 0xAARRGGBB pixel
  return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// Inside the five-pointed star of outer radius 15 and inner radius 6 round the centre.
bool InStar(double x, double y) {
  std::array<std::pair<double, double>, 10> v;
  for (int i = 0; i < 10; ++i) {
    double r = i % 2 == 0 ? 15.0 : 6.0, a = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
    v[static_cast<size_t>(i)] = {15.5 + r * std::cos(a), 15.5 + r * std::sin(a)};
  }
  bool in = false;
  for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
    auto [xi, yi] = v[i];
    auto [xj, yj] = v[j];
    if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
  }
  return in;
}

}  // namespace

gdi::Image MakeStarImage() {
  gdi::Image img{kStarBitmap, kSize, kSize, std::vector<uint32_t>(kSize * kSize)};
  const uint32_t face = Opaque(gdi::SysColor(gdi::SysColorIndex::BtnFace));
  const uint32_t light = Opaque(gdi::SysColor(gdi::SysColorIndex::BtnHighlight));
  const uint32_t gold = 0xFFE0B000u;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      bool in = InStar(x + 0.5, y + 0.5);
      bool rim = in && !(InStar(x - 0.5, y + 0.5) && InStar(x + 1.5, y + 0.5) && InStar(x + 0.5, y - 0.5) &&
                         InStar(x + 0.5, y + 1.5));
      img.pixels[static_cast<size_t>(y * kSize + x)] = !in ? face : rim ? light : gold;
    }
  return img;
}

}  // namespace tamsolo::canvas
