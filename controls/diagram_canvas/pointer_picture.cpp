// Cursor 227, the pointer over a node: the arrow with a small box under it, made in code and
// handed to the browser as a PNG in a data: URL (CSS takes no bitmap handles).
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "diagram_canvas/diagram_canvas.h"

namespace tamsolo::canvas {
namespace {

constexpr int kSize = 32;

// "X" black, "o" white, anything else clear; the tip (0, 0) is the hot spot.
constexpr std::array<const char*, 22> kArt = {
    "X",
    "XX",
    "XoX",
    "XooX",
    "XoooX",
    "XooooX",
    "XoooooX",
    "XooooooX",
    "XoooooooX",
    "XooooooooX",
    "XoooooXXXXX",
    "XooXooX",
    "XoX XooX",
    "XX  XooX",
    "X    XooX",
    "      XooX  XXXXXXXXXXXX",
    "       XX   XooooooooooX",
    "            XooooooooooX",
    "            XooooooooooX",
    "            XooooooooooX",
    "            XooooooooooX",
    "            XXXXXXXXXXXX",
};

void Put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

uint32_t Crc32(const std::string& bytes, size_t from) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = from; i < bytes.size(); ++i) c = table[(c ^ static_cast<uint8_t>(bytes[i])) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  Put32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png.size();
  png += type;
  png += data;
  Put32(png, Crc32(png, start));
}

// A zlib stream of stored (uncompressed) blocks: the picture is small enough not to need more.
std::string Stored(const std::string& raw) {
  std::string z = "\x78\x01";
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 0xFFFF);
    z += static_cast<char>(at + n == raw.size() ? 1 : 0);
    z += static_cast<char>(n & 0xFF), z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF), z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (char ch : raw) a = (a + static_cast<uint8_t>(ch)) % 65521, b = (b + a) % 65521;
  Put32(z, (b << 16) | a);
  return z;
}

std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
  }
  return out;
}

}  // namespace

std::string PointerPng() {
  std::string raw;  // rows of RGBA, each after filter byte 0
  for (int y = 0; y < kSize; ++y) {
    raw += '\0';
    const std::string row = y < static_cast<int>(kArt.size()) ? kArt[static_cast<size_t>(y)] : "";
    for (int x = 0; x < kSize; ++x) {
      const char c = x < static_cast<int>(row.size()) ? row[static_cast<size_t>(x)] : ' ';
      const char v = c == 'o' ? '\xFF' : '\0';
      raw += v, raw += v, raw += v;
      raw += c == 'X' || c == 'o' ? '\xFF' : '\0';
    }
  }
  std::string header;
  Put32(header, kSize);
  Put32(header, kSize);
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace
  std::string png = "\x89PNG\r\n\x1A\n";
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", Stored(raw));
  Chunk(png, "IEND", "");
  return png;
}

std::string PointerPictureUrl(const Variant& picture) {
  if (!picture.IsNumeric() || picture.ToLong() != kNodePointer) return "";
  static const std::string url = "data:image/png;base64," + Base64(PointerPng());
  return url;
}

}  // namespace tamsolo::canvas
