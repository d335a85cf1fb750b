#include "common/bitmap_file.h"

namespace tamsolo {

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

std::string BitmapFile(int width, int height, const std::vector<uint32_t>& pixels) {
  constexpr uint32_t kHeaders = 14 + 40;
  const uint32_t row = (static_cast<uint32_t>(width) * 3 + 3) / 4 * 4;
  const uint32_t image = row * static_cast<uint32_t>(height);
  std::string out;
  out.reserve(kHeaders + image);
  out += "BM";
  Put32(out, kHeaders + image);
  Put32(out, 0);
  Put32(out, kHeaders);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));  // positive: rows bottom-up
  Put16(out, 1);                              // planes
  Put16(out, 24);
  Put32(out, 0);  // uncompressed
  Put32(out, image);
  Put32(out, 0);  // pixels per metre, both ways
  Put32(out, 0);
  Put32(out, 0);  // colours used and important: no table
  Put32(out, 0);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
      const uint32_t p = at < pixels.size() ? pixels[at] : 0;
      out += static_cast<char>(p & 0xFF);  // blue, green, red
      out += static_cast<char>((p >> 8) & 0xFF);
      out += static_cast<char>((p >> 16) & 0xFF);
    }
    out.append(row - static_cast<uint32_t>(width) * 3, '\0');
  }
  return out;
}

}  // namespace tamsolo
