// Reading what a browser sends: cookies, query strings and url-encoded form bodies, and the checks
// on paths a request names. Pure functions of their text, so they can be fuzzed on their own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace site {

using NameValues = std::vector<std::pair<std::string, std::string>>;

// One request as it arrived: the request line, the headers in order, the peer's address and the
// body, kept in one buffer (a multipart body is handed on from here without a copy).
struct HttpRequest {
  std::string method;
  std::string target;  // as the request line names it: path and query, escapes kept
  std::string path;    // the path alone, %hh escapes decoded
  NameValues headers;
  std::string clientAddress;
  std::vector<uint8_t> body;

  // The first header of that name (names compared without regard to case), "" when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  std::string_view BodyText() const { return {reinterpret_cast<const char*>(body.data()), body.size()}; }
};

// An answer of `length` bytes written piece by piece: `read` fills `buffer` with up to `max` bytes
// from `offset` and returns how many (0 ends it early: the connection is closed).
using ChunkReader = std::function<size_t(uint64_t offset, char* buffer, size_t max)>;

// The answer to one request: its status and headers, and either its bytes or a reader of them.
struct HttpResponse {
  int status = 200;
  NameValues headers;
  std::string body;
  ChunkReader stream;
  uint64_t streamLength = 0;

  // Replaces every header of that name (without regard to case) by one; an empty value removes it.
  void SetHeader(std::string_view name, std::string_view value);
  // Adds one more header of that name (Set-Cookie may be sent more than once).
  void AddHeader(std::string_view name, std::string_view value) { headers.emplace_back(name, value); }
  std::string Header(std::string_view name) const;
};

// The path of a request target with its %hh escapes decoded ("/a%20b.asp?x=1" gives "/a b.asp").
std::string PathOf(std::string_view target);

// The value of the first cookie called `name` (exact name) in a Cookie header, unquoted.
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

// The pairs of a query string or an application/x-www-form-urlencoded body, in order: "+" is a
// blank, %hh escapes are decoded where they make UTF-8 text. A pair without "=" has an empty value.
NameValues ParseUrlEncoded(std::string_view text);
// The first value of `name` (names compared without regard to case), or nullopt.
std::optional<std::string> FirstValue(const NameValues& pairs, std::string_view name);
// The body a page's posts carry: the browsers' multipart/form-data (the site's own forms and the
// workflow editor's upload), or application/x-www-form-urlencoded (the sign-in form).
enum class FormType { Multipart, UrlEncoded, Either };
// Whether a Content-Type header value names a body of that type: multipart/form-data with a
// boundary parameter, or application/x-www-form-urlencoded (media types without regard to case,
// parameters allowed).
bool IsFormType(std::string_view contentType, FormType type);

// The query string of a request target ("/a.asp?x=1" gives "x=1").
std::string_view QueryOf(std::string_view target);

// Whether `path` may be a place to go back to after sign-in: a path of this site below `root`
// (e.g. "/APP"), with no scheme, no "//", no backslash and no control character.
bool IsLocalPath(std::string_view path, std::string_view root);

}  // namespace site
