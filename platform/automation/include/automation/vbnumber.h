// Numbers as VB converts them: text to number (blanks, sign, thousands separators, fraction,
// exponent, &H and &O prefixes), banker's rounding, and number to text (CStr).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace automation {

// The value of a numeric text, or nullopt when the text is not a number.
std::optional<double> ParseNumber(std::string_view text);
// Round half to even, as CLng and CInt do.
double RoundHalfEven(double d);
// CStr of a Double (15 significant digits) and of a Single (7).
std::string FormatDouble(double d);
std::string FormatSingle(float f);

}  // namespace automation
