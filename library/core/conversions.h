// Conversions of posted text and the URL and byte-array encodings the writers share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace brisquel {

// Text to a 32-bit (16-bit) whole number, rounding a fraction half to even. False, with Value -1,
// when the text is not a number or out of range; never raises.
bool CnvToLong(const std::string& text, int32_t& value);
bool CnvToInt(const std::string& text, int16_t& value);
// The date of a year, month and day; raises when they make no date.
automation::Date CnvToDate(int32_t year, int32_t month, int32_t day);

// "+" to a blank and "%hh" to the byte hh; a cut-short or non-hexadecimal escape raises error 5.
std::string UrlDecode(const std::string& s);
// The same without raising, for keys posted from outside: none when a "%" is not followed by two
// hexadecimal digits, or when the bytes are not UTF-8 text or hold a NUL.
std::optional<std::string> UrlDecoded(std::string_view s);
// A posted id: decimal digits only, at most 2147483647. None for anything else (a sign, blanks, a
// fraction, an exponent), which CLng would turn into some other issue's id or an overflow.
std::optional<int32_t> DecimalId(std::string_view s);
// The one-byte string of two hexadecimal digits (either case).
std::string FromHex(const std::string& h);

// Escaped text of a byte array: bytes 32-127 stand for themselves except the six characters
// " ' < > \ &, which like every other byte are written as a backslash and two upper-case
// hexadecimal digits. DecodeByteArray reverses it and refuses a cut-short or malformed escape.
std::string EncodeByteArray(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> DecodeByteArray(const std::string& s);

}  // namespace brisquel
