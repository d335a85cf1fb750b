// URL encoding and decoding take text from anywhere: whatever the bytes, UrlEncode and UrlDecode
// answer without raising; what the encoders write is safe in its context; and decoding gives back
// the UTF-8 text that was encoded.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "automation/automation.h"
#include "eventlog/eventlog.h"
#include "brisquel/encode.h"
#include "pages/ui_helpers.h"

namespace {

class DiscardSink : public eventlog::Sink {
 public:
  void Write(const eventlog::Event&) override {}
};

bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    const auto c1 = static_cast<unsigned char>(len > 1 ? s[i + 1] : 0x80);
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
      return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    eventlog::SetSink(std::make_shared<DiscardSink>());
    return true;
  }();
  (void)quiet;
  namespace encode = brisquel::encode;
  const std::string s(reinterpret_cast<const char*>(data), size);

  brisquel::UIHelpers ui;
  try {
    (void)ui.UrlEncode(s);
    (void)ui.UrlDecode(s);
  } catch (const automation::ComError&) {
    __builtin_trap();  // neither ever raises
  }

  const std::string canonical = encode::CanonicalUrl(s);
  for (char c : canonical) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || std::string_view("\"'<>\\^{}|[]`").find(c) != std::string_view::npos)
      __builtin_trap();
  }
  for (char c : encode::HtmlAttribute(s))
    if (c == '<' || c == '>' || c == '"' || c == '\'') __builtin_trap();
  // Inside the script string every quote is escaped; no line end, "<" or U+2028 stands raw.
  const std::string script = encode::ScriptString(s);
  for (size_t i = 0; i < script.size(); ++i) {
    if (script[i] == '\\') {
      ++i;
      continue;
    }
    if (std::string_view("'\"\r\n<").find(script[i]) != std::string_view::npos) __builtin_trap();
  }
  if (script.find("\xe2\x80\xa8") != std::string::npos) __builtin_trap();

  const bool text = IsUtf8(s) && s.find('\0') == std::string::npos;
  if (text && encode::DecodeUrlEscapes(encode::UrlComponent(s)) != s) __builtin_trap();
  if (text && s.find('%') == std::string::npos && encode::DecodeUrlEscapes(canonical) != s) __builtin_trap();
  if (!IsUtf8(encode::DecodeUrlEscapes(s)) && IsUtf8(s)) __builtin_trap();
  return 0;
}
