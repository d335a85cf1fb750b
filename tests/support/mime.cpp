#include "support/mime.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace testsupport::mime {

namespace {

[[noreturn]] void Malformed(const std::string& why) { throw std::runtime_error("malformed MIME: " + why); }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Lines of a CRLF text without their CRLF; checks the line ends and lengths.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string_view::npos) Malformed("bare CR or LF");
    if (line.size() > 998) Malformed("line longer than 998 octets");
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

Entity ParseEntity(std::string_view text) {
  Entity e;
  size_t pos = 0;
  bool blank = false;
  // Header section up to the first empty line.
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = std::min(text.size(), end + 2);
    if (line.empty()) {
      blank = true;
      break;
    }
    for (char c : line) {
      if (static_cast<unsigned char>(c) >= 0x80) Malformed("raw 8-bit header text");
    }
    if (line[0] == ' ' || line[0] == '\t') {
      if (e.headers.empty()) Malformed("continuation before any header");
      e.headers.back().second += std::string(line);
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) Malformed("header line without a name");
    std::string name(line.substr(0, colon));
    for (char c : name) {
      if (c <= 32 || c >= 127) Malformed("bad header name '" + name + "'");
    }
    e.headers.emplace_back(name, std::string(line.substr(colon + 1)));
  }
  if (!blank && pos < text.size()) Malformed("no empty line after the headers");
  for (auto& h : e.headers) h.second = Trim(h.second);
  e.body = std::string(text.substr(pos));

  if (!e.IsMultipart()) return e;
  std::string boundary = e.Parameter("boundary");
  if (boundary.empty()) Malformed("multipart without a boundary");
  std::string delim = "--" + boundary;
  // Body parts lie between delimiter lines; the CRLF before a delimiter belongs to it.
  std::string_view body = e.body;
  size_t cursor = 0;
  bool first = true;
  bool closed = false;
  size_t partStart = 0;
  while (cursor <= body.size()) {
    size_t lineEnd = body.find("\r\n", cursor);
    if (lineEnd == std::string_view::npos) lineEnd = body.size();
    std::string_view line = body.substr(cursor, lineEnd - cursor);
    std::string_view bare = line.substr(0, line.find_last_not_of(" \t") + 1);
    if (bare == delim || bare == delim + "--") {
      size_t contentEnd = cursor >= 2 ? cursor - 2 : 0;
      if (first) {
        e.preamble = std::string(body.substr(0, contentEnd));
      } else {
        e.parts.push_back(ParseEntity(body.substr(partStart, std::max(contentEnd, partStart) - partStart)));
      }
      first = false;
      partStart = lineEnd + 2;
      if (bare != delim) {
        closed = true;
        break;
      }
    }
    if (lineEnd == body.size()) break;
    cursor = lineEnd + 2;
  }
  if (!closed) Malformed("no closing boundary");
  return e;
}

}  // namespace

std::string Entity::Header(std::string_view name) const {
  for (const auto& h : headers) {
    if (Lower(h.first) == Lower(name)) return h.second;
  }
  return {};
}

size_t Entity::HeaderCount(std::string_view name) const {
  size_t n = 0;
  for (const auto& h : headers) n += Lower(h.first) == Lower(name);
  return n;
}

std::string Entity::DecodedHeader(std::string_view name) const { return DecodeEncodedWords(Header(name)); }

std::vector<std::string> Entity::HeaderNames() const {
  std::vector<std::string> names;
  for (const auto& h : headers) names.push_back(h.first);
  return names;
}

std::string Entity::MediaType() const {
  std::string ct = Header("Content-Type");
  if (ct.empty()) return "text/plain";
  return Lower(Trim(ct.substr(0, ct.find(';'))));
}

std::string Entity::Parameter(std::string_view name) const {
  std::string ct = Header("Content-Type");
  size_t pos = ct.find(';');
  while (pos != std::string::npos) {
    size_t start = pos + 1;
    // The value may be quoted and hold semicolons.
    size_t eq = ct.find('=', start);
    if (eq == std::string::npos) return {};
    std::string key = Lower(Trim(ct.substr(start, eq - start)));
    std::string value;
    size_t i = eq + 1;
    while (i < ct.size() && (ct[i] == ' ' || ct[i] == '\t')) ++i;
    if (i < ct.size() && ct[i] == '"') {
      for (++i; i < ct.size() && ct[i] != '"'; ++i) {
        if (ct[i] == '\\' && i + 1 < ct.size()) ++i;
        value += ct[i];
      }
      pos = ct.find(';', i);
    } else {
      pos = ct.find(';', i);
      value = Trim(ct.substr(i, pos == std::string::npos ? std::string::npos : pos - i));
    }
    if (key == Lower(name)) return value;
  }
  return {};
}

std::string Entity::TransferEncoding() const {
  std::string te = Lower(Trim(Header("Content-Transfer-Encoding")));
  return te.empty() ? "7bit" : te;
}

std::string Entity::DecodedBody() const {
  std::string te = TransferEncoding();
  if (te == "base64") return DecodeBase64(body);
  if (te == "quoted-printable") return DecodeQuotedPrintable(body);
  if (te == "7bit" || te == "8bit" || te == "binary") return body;
  Malformed("unknown transfer encoding '" + te + "'");
}

Entity Parse(std::string_view message) {
  Lines(message);  // line ends and lengths of the whole message
  return ParseEntity(message);
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  size_t pad = 0;
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '=') {
      ++pad;
      continue;
    }
    if (pad) Malformed("base64 data after padding");
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else Malformed(std::string("base64 character '") + c + "'");
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  if (pad > 2) Malformed("base64 padding");
  return out;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '=') {
      out += c;
      continue;
    }
    if (text.substr(i + 1, 2) == "\r\n") {
      i += 2;  // soft line break
      continue;
    }
    if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0) {
      Malformed("quoted-printable escape");
    }
    out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
    i += 2;
  }
  return out;
}

std::string DecodeEncodedWords(std::string_view text) {
  std::string out;
  size_t i = 0;
  bool lastWasWord = false;
  std::string pendingSpace;
  while (i < text.size()) {
    if (text.substr(i, 2) == "=?") {
      size_t q1 = text.find('?', i + 2);
      size_t q2 = q1 == std::string_view::npos ? q1 : text.find('?', q1 + 1);
      size_t end = q2 == std::string_view::npos ? q2 : text.find("?=", q2 + 1);
      if (end != std::string_view::npos) {
        char enc = static_cast<char>(std::toupper(static_cast<unsigned char>(text[q1 + 1])));
        std::string_view payload = text.substr(q2 + 1, end - q2 - 1);
        std::string decoded;
        if (enc == 'B') {
          decoded = DecodeBase64(payload);
        } else if (enc == 'Q') {
          std::string p(payload);
          for (char& c : p) {
            if (c == '_') c = ' ';
          }
          decoded = DecodeQuotedPrintable(p);
        } else {
          Malformed("encoded-word encoding");
        }
        if (!lastWasWord) out += pendingSpace;  // blanks between two encoded-words vanish
        pendingSpace.clear();
        out += decoded;
        lastWasWord = true;
        i = end + 2;
        continue;
      }
    }
    if (text[i] == ' ' || text[i] == '\t') {
      pendingSpace += text[i++];
      continue;
    }
    out += pendingSpace;
    pendingSpace.clear();
    out += text[i++];
    lastWasWord = false;
  }
  return out + pendingSpace;
}

std::vector<std::string> Mailboxes(std::string_view value) {
  std::vector<std::string> items;
  std::string cur;
  bool quoted = false, angle = false;
  for (char c : value) {
    if (c == '"' && !angle) quoted = !quoted;
    if (!quoted && c == '<') angle = true;
    if (!quoted && c == '>') angle = false;
    if (!quoted && !angle && c == ',') {
      items.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  items.push_back(cur);
  std::vector<std::string> out;
  for (const auto& item : items) {
    size_t lt = item.rfind('<');
    std::string mailbox = lt == std::string::npos ? Trim(item) : item.substr(lt + 1, item.find('>', lt) - lt - 1);
    if (!mailbox.empty()) out.push_back(mailbox);
  }
  return out;
}

size_t LongestLine(std::string_view text) {
  size_t longest = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    longest = std::max(longest, end - start);
    start = end + 2;
  }
  return longest;
}

}  // namespace testsupport::mime
