#include "brisquel/encode.h"

#include <cstdint>
#include <vector>

#include "common/url.h"

namespace brisquel::encode {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, char prefix1, char prefix2, unsigned char c) {
  out += prefix1;
  if (prefix2) out += prefix2;
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsEscapeAt(std::string_view s, size_t i) {
  return i + 2 < s.size() + 0 && s[i] == '%' && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0;
}

// The length of the well-formed UTF-8 sequence at the start of b (no overlong forms, no
// surrogates, nothing above U+10FFFF), 0 when there is none.
size_t Utf8SequenceLength(const uint8_t* b, size_t n) {
  if (n == 0) return 0;
  const uint8_t c = b[0];
  if (c < 0x80) return 1;
  size_t len = 0;
  uint8_t lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len || b[1] < lo || b[1] > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (b[k] < 0x80 || b[k] > 0xBF) return 0;
  return len;
}

// Writes a run of consecutive escapes: the bytes that make UTF-8 text as bytes, the others (and
// NUL) as the escape text they came from.
void WriteEscapeRun(std::string& out, std::string_view s, size_t start, const std::vector<uint8_t>& bytes) {
  size_t k = 0;
  while (k < bytes.size()) {
    const size_t len = bytes[k] == 0 ? 0 : Utf8SequenceLength(bytes.data() + k, bytes.size() - k);
    if (len == 0) {
      out.append(s.substr(start + 3 * k, 3));
      ++k;
      continue;
    }
    out.append(reinterpret_cast<const char*>(bytes.data() + k), len);
    k += len;
  }
}

}  // namespace

namespace {

// Entities for the characters HTML gives a meaning; the apostrophe only inside attributes.
template <bool kAttribute>
std::string EncodeHtml(std::string_view s) {
  // Sized in a counting pass, filled in a second; text with nothing to escape is copied once.
  size_t extra = 0;
  for (char c : s) {
    if (c == '"') {
      extra += 5;
    } else if (c == '&' || (kAttribute && c == '\'')) {
      extra += 4;
    } else if (c == '<' || c == '>') {
      extra += 3;
    }
  }
  if (extra == 0) return std::string(s);
  std::string out;
  out.resize(s.size() + extra);
  char* p = out.data();
  auto put = [&](std::string_view e) {
    for (char c : e) *p++ = c;
  };
  for (char c : s) {
    switch (c) {
      case '&': put("&amp;"); break;
      case '<': put("&lt;"); break;
      case '>': put("&gt;"); break;
      case '"': put("&quot;"); break;
      case '\'':
        if (kAttribute) {
          put("&#39;");
          break;
        }
        [[fallthrough]];
      default: *p++ = c;
    }
  }
  return out;
}

}  // namespace

std::string HtmlText(std::string_view s) { return EncodeHtml<false>(s); }

std::string HtmlAttribute(std::string_view s) { return EncodeHtml<true>(s); }

std::string ScriptString(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '\\' || c == '\'' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '<' || c < 0x20 || c == 0x7F) {
      AppendEscape(out, '\\', 'x', c);
    } else if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(s[i + 2]) == 0xA8 || static_cast<unsigned char>(s[i + 2]) == 0xA9)) {
      // U+2028 and U+2029 end a line inside a script string in older engines.
      out += static_cast<unsigned char>(s[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string UrlComponent(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '_' || c == '.' || c == '~';
    if (unreserved) {
      out += ch;
    } else {
      AppendEscape(out, '%', 0, c);
    }
  }
  return out;
}

// The one canonicaliser, shared with the controls' requests.
std::string CanonicalUrl(std::string_view s) { return tamsolo::CanonicalUrl(s); }

std::string DecodeUrlEscapes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (!IsEscapeAt(s, i)) {
      out += s[i++];
      continue;
    }
    const size_t start = i;
    std::vector<uint8_t> bytes;
    while (IsEscapeAt(s, i)) {
      bytes.push_back(static_cast<uint8_t>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 3;
    }
    WriteEscapeRun(out, s, start, bytes);
  }
  return out;
}

bool IsScriptIdentifier(std::string_view s) {
  if (s.empty()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

}  // namespace brisquel::encode
