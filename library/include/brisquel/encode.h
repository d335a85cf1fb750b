// The encoders of every renderer and of the site host, one per context a value is written into.
// A value goes out through the encoder of the place it lands in, never raw and never twice.
#pragma once

#include <string>
#include <string_view>

namespace brisquel::encode {

// Text between tags: & < > and the double quote become entities.
std::string HtmlText(std::string_view s);
// An attribute value in double or single quotes: as HtmlText, and the apostrophe as &#39;.
std::string HtmlAttribute(std::string_view s);
// The inside of a script string in single or double quotes: \ ' " CR LF U+2028 U+2029 escaped,
// and < written as \x3C so that no "</script>" can end the block early. Other control
// characters are escaped as \xhh as well.
std::string ScriptString(std::string_view s);
// One URL component (a query value, a path segment): every byte except A-Z a-z 0-9 - _ . ~ as
// %hh with upper-case digits; UTF-8 text gives the escapes of its bytes.
std::string UrlComponent(std::string_view s);

// The URL canonicaliser: escapes blanks, control characters, bytes from 128 (the UTF-8 of
// non-ASCII text), " ' < > \ ^ { } | [ ], the backtick, and a % not followed by two hexadecimal
// digits; everything else, "/ ? & = : ; #" and existing %hh escapes included, stays.
std::string CanonicalUrl(std::string_view s);
// The reverse: each %hh escape becomes its byte where the bytes make UTF-8 text; "+" stays, and
// so does an escape that is cut short, not hexadecimal, %00 or part of a byte sequence that is not
// UTF-8. Never fails.
std::string DecodeUrlEscapes(std::string_view s);

// Whether s is a script identifier (a letter, "_" or "$", then also digits), ASCII only.
bool IsScriptIdentifier(std::string_view s);

}  // namespace brisquel::encode
