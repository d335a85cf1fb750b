// Text pieces of the MIME writer shared by the encoder, the writer and the mailer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace smtp::mime {

// Base64 in lines of 76 characters joined by CRLF (no CRLF after the last line).
std::string Base64(std::string_view bytes);
// Quoted-printable for text: every line break (CRLF, LF or CR) becomes a hard CRLF; lines are
// kept to 76 characters with soft breaks.
std::string QuotedPrintable(std::string_view text);
// Every line break as CRLF.
std::string NormalizeLineEnds(std::string_view text);

bool HasLineBreak(std::string_view s);  // CR, LF or NUL
bool IsAscii(std::string_view s);
std::string ToLower(std::string_view s);

struct Address {
  std::string display;  // unquoted display name, may be empty
  std::string mailbox;  // name@host
};
// Parses "a@x, Name <b@y>; \"Doe, J\" <c@z>". False with a reason on a malformed item.
bool ParseAddressList(std::string_view text, std::vector<Address>& out, std::string& error);

// "Name: value" with RFC 2047 encoded-words for text that is not plain ASCII, folded with CRLF SP;
// no final CRLF.
std::string UnstructuredHeader(std::string_view name, std::string_view value);
std::string AddressHeader(std::string_view name, const std::vector<Address>& addresses);

}  // namespace smtp::mime
