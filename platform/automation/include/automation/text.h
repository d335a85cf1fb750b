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

}  // namespace automation
