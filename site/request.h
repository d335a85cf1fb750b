// Reading what a browser sends: cookies, query strings and url-encoded form bodies, and the checks
// on paths a request names. Pure functions of their text, so they can be fuzzed on their own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace site {

using NameValues = std::vector<std::pair<std::string, std::string>>;

// The value of the first cookie called `name` (exact name) in a Cookie header, unquoted.
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

// The pairs of a query string or an application/x-www-form-urlencoded body, in order: "+" is a
// blank, %hh escapes are decoded where they make UTF-8 text. A pair without "=" has an empty value.
NameValues ParseUrlEncoded(std::string_view text);
// The first value of `name` (names compared without regard to case), or nullopt.
std::optional<std::string> FirstValue(const NameValues& pairs, std::string_view name);
// The query string of a request target ("/a.asp?x=1" gives "x=1").
std::string_view QueryOf(std::string_view target);

// Whether `path` may be a place to go back to after sign-in: a path of this site below `root`
// (e.g. "/APP"), with no scheme, no "//", no backslash and no control character.
bool IsLocalPath(std::string_view path, std::string_view root);

}  // namespace site
