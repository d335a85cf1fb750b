#include "core/conversions.h"

#include "automation/text.h"
#include "automation/vbdate.h"
#include "core/error_protocol.h"

namespace brisquel {

using automation::Variant;

bool CnvToLong(const std::string& text, int32_t& value) {
  try {
    value = Variant(text).ToLong();
    return true;
  } catch (...) {
    value = -1;
    return false;
  }
}

bool CnvToInt(const std::string& text, int16_t& value) {
  try {
    value = Variant(text).ToInt();
    return true;
  } catch (...) {
    value = -1;
    return false;
  }
}

automation::Date CnvToDate(int32_t year, int32_t month, int32_t day) {
  return Procedure("Conversions", "CnvToDate", [&] {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (month < 1) automation::RaiseRuntime(automation::vberr::kInvalidCall);
    std::string name = month <= 12 ? std::string(kMonths + (month - 1) * 3, 3) : std::string();
    std::string text = std::to_string(day) + "-" + name + "-" + std::to_string(year);
    auto d = automation::ParseDate(text);
    if (!d) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
    return *d;
  });
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string FromHex(const std::string& h) {
  return Procedure("Encoding", "FromHex", [&] {
    int hi = h.size() >= 2 ? HexDigit(h[0]) : -1;
    int lo = h.size() >= 2 ? HexDigit(h[1]) : -1;
    if (hi < 0 || lo < 0)
      automation::RaiseRuntime(automation::vberr::kInvalidCall,
                               "\"" + h + "\" is not a hexadecimal byte");
    return std::string(1, static_cast<char>(hi * 16 + lo));
  });
}

std::string UrlDecode(const std::string& s) {
  return Procedure("Encoding", "UrlDecode", [&] {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
      char c = s[i];
      if (c == '+') {
        out += ' ';
      } else if (c == '%') {
        out += FromHex(s.substr(i + 1, 2));
        i += 2;
      } else {
        out += c;
      }
    }
    return out;
  });
}

std::optional<std::string> UrlDecoded(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] != '%') {
      out += s[i];
    } else {
      const int hi = i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
      const int lo = i + 2 < s.size() ? HexDigit(s[i + 2]) : -1;
      if (hi < 0 || lo < 0) return std::nullopt;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
  }
  if (!automation::IsReadableText(out)) return std::nullopt;
  return out;
}

std::optional<int32_t> DecimalId(std::string_view s) {
  if (s.empty() || s.size() > 10) return std::nullopt;
  int64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(n);
}

std::string EncodeByteArray(const std::vector<uint8_t>& bytes) {
  return Procedure("Encoding", "EncodeByteArray", [&] {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (uint8_t c : bytes) {
      bool plain = c >= 32 && c <= 127 && c != '"' && c != '\'' && c != '<' && c != '>' && c != '\\' && c != '&';
      if (plain) {
        out += static_cast<char>(c);
      } else {
        out += '\\';
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    return out;
  });
}

std::vector<uint8_t> DecodeByteArray(const std::string& s) {
  return Procedure("Encoding", "DecodeByteArray", [&] {
    std::vector<uint8_t> out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] != '\\') {
        out.push_back(static_cast<uint8_t>(s[i]));
        continue;
      }
      if (i + 2 >= s.size())
        automation::RaiseRuntime(automation::vberr::kInvalidCall, "The escaped text ends inside an escape");
      int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
      if (hi < 0 || lo < 0)
        automation::RaiseRuntime(automation::vberr::kInvalidCall,
                                 "The escaped text holds an escape that is not hexadecimal");
      out.push_back(static_cast<uint8_t>(hi * 16 + lo));
      i += 2;
    }
    return out;
  });
}

}  // namespace brisquel
