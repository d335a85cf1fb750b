#include "automation/text.h"

namespace automation {

namespace {
unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }
}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(static_cast<unsigned char>(a[i])) != Lower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
  return out;
}

size_t CharLength(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

namespace {
bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
}  // namespace

std::string_view HeadChars(std::string_view s, size_t chars) {
  size_t i = 0;
  for (size_t n = 0; i < s.size() && n < chars; ++n) {
    ++i;
    while (i < s.size() && IsContinuation(s[i])) ++i;
  }
  return s.substr(0, i);
}

std::string_view TailChars(std::string_view s, size_t chars) {
  size_t i = s.size();
  for (size_t n = 0; i > 0 && n < chars; ++n) {
    --i;
    while (i > 0 && IsContinuation(s[i])) --i;
  }
  return s.substr(i);
}

std::string_view TrimBlanks(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

std::string_view TrimSpaces(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace automation
