// Text helpers every layer shares. Names, codes and keys compare without regard to (ASCII) case;
// lengths and limits count characters (code points) of UTF-8 text, not bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace automation {

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string LowerAscii(std::string_view s);
size_t CharLength(std::string_view s);
// Whether the text is well-formed UTF-8 without a NUL (no overlong forms, surrogates or code
// points past U+10FFFF).
bool IsReadableText(std::string_view text);
// The first / last `chars` characters of a UTF-8 text, never cutting a character in two.
std::string_view HeadChars(std::string_view s, size_t chars);
std::string_view TailChars(std::string_view s, size_t chars);
// Blanks (spaces, tabs, CR, LF) off both ends, as lines of a file or of a header are read.
std::string_view TrimBlanks(std::string_view s);
// Spaces only off both ends (a tab or line end stays), as posted values and command switches are
// taken.
std::string_view TrimSpaces(std::string_view s);

}  // namespace automation
