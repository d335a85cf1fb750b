#include "common/url.h"

namespace tamsolo {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string CanonicalUrl(std::string_view s) {
  static constexpr std::string_view kUnsafe = " \"'<>\\^{}|[]`";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const bool escapeFollows = i + 2 < s.size() && IsHexDigit(s[i + 1]) && IsHexDigit(s[i + 2]);
    const bool escape = c < 0x20 || c >= 0x7F || kUnsafe.find(static_cast<char>(c)) != std::string_view::npos ||
                        (c == '%' && !escapeFollows);
    if (escape) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace tamsolo
