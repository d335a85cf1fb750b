// The URL canonicaliser shared by the server's renderers and the controls' requests, so a URL a
// page writes and the URL a control requests are escaped alike.
#pragma once

#include <string>
#include <string_view>

namespace tamsolo {

// Escapes blanks, control characters, bytes from 128 (the UTF-8 of non-ASCII text),
// " ' < > \ ^ { } | [ ], the backtick, and a % not followed by two hexadecimal digits, as %hh with
// upper-case digits; everything else, "/ ? & = : ; #" and existing %hh escapes included, stays.
std::string CanonicalUrl(std::string_view s);

}  // namespace tamsolo
