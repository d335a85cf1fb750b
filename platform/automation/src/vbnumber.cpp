#include "automation/vbnumber.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace automation {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::optional<double> ParseRadix(std::string_view s, int radix) {
  if (s.empty() || s.size() > 16) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    if (d >= radix) return std::nullopt;
    v = v * radix + d;
  }
  // &H literals of up to 8 digits are 32-bit signed values, as in VB ("&HFFFFFFFF" is -1).
  if (v <= 0xFFFFFFFFull)
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
  return static_cast<double>(static_cast<int64_t>(v));
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string_view s = text.substr(b, e - b);
  if (s.empty()) return std::nullopt;
  if (s.size() > 2 && s[0] == '&') {
    char k = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
    if (k == 'H') return ParseRadix(s.substr(2), 16);
    if (k == 'O') return ParseRadix(s.substr(2), 8);
    return std::nullopt;
  }
  std::string clean;
  clean.reserve(s.size());
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') clean += s[i++];
  bool digits = false, point = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      clean += c;
      digits = true;
    } else if (c == ',' && !point && digits) {
      continue;  // thousands separator
    } else if (c == '.' && !point) {
      clean += c;
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return std::nullopt;
  if (i < s.size()) {
    char c = s[i];
    if (c != 'e' && c != 'E' && c != 'd' && c != 'D') return std::nullopt;
    clean += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) clean += s[i++];
    bool expDigits = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      clean += s[i];
      expDigits = true;
    }
    if (!expDigits || i != s.size()) return std::nullopt;
  }
  char* end = nullptr;
  double v = std::strtod(clean.c_str(), &end);
  if (end != clean.c_str() + clean.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

double RoundHalfEven(double d) { return std::nearbyint(d); }  // default rounding mode: to even

namespace {

std::string Format(double d, int digits) {
  if (d == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, d);
  return buf;  // %G drops trailing zeros and writes "1.5E-05", "1.23456789012346E+17" like CStr
}

}  // namespace

std::string FormatDouble(double d) { return Format(d, 15); }
std::string FormatSingle(float f) { return Format(f, 7); }

}  // namespace automation
