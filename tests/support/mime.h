// A strict MIME reader for the tests: splits a received message into headers and (nested) parts
// and decodes RFC 2047 words, base64 and quoted-printable. Anything malformed (a bare CR or LF, a
// line over 998 octets, raw 8-bit header text, a header line without a colon, a missing closing
// boundary, a bad encoding) throws std::runtime_error, so a test that parses a message also
// checks that it is well formed.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport::mime {

struct Entity {
  std::vector<std::pair<std::string, std::string>> headers;  // name, unfolded raw value; in order
  std::string body;                                           // raw, as in the message
  std::string preamble;                                       // multipart only
  std::vector<Entity> parts;                                  // multipart only

  // Raw value of the first header of this name (case ignored); empty when absent.
  std::string Header(std::string_view name) const;
  size_t HeaderCount(std::string_view name) const;
  std::string DecodedHeader(std::string_view name) const;  // encoded-words decoded
  std::vector<std::string> HeaderNames() const;            // in order
  std::string MediaType() const;                     // "text/plain", lower case; the default
  std::string Parameter(std::string_view name) const;  // a Content-Type parameter, unquoted
  std::string TransferEncoding() const;              // lower case; "7bit" when absent
  std::string DecodedBody() const;                   // the body undone from its encoding
  bool IsMultipart() const { return MediaType().rfind("multipart/", 0) == 0; }
};

Entity Parse(std::string_view message);

std::string DecodeBase64(std::string_view text);
std::string DecodeQuotedPrintable(std::string_view text);
std::string DecodeEncodedWords(std::string_view text);
// The addresses (name@host) of an address header value: "A <a@x>, b@y" gives a@x, b@y.
std::vector<std::string> Mailboxes(std::string_view value);
// Length in octets of the longest line of a CRLF text.
size_t LongestLine(std::string_view text);

}  // namespace testsupport::mime
