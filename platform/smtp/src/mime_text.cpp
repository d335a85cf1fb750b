#include "mime_text.h"

#include "automation/text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace smtp::mime {

using automation::TrimBlanks;

namespace {

constexpr char kBase64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";
constexpr size_t kFoldAt = 78;

std::string Base64Run(std::string_view in) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t n = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    out += kBase64Chars[(n >> 18) & 63];
    out += kBase64Chars[(n >> 12) & 63];
    out += kBase64Chars[(n >> 6) & 63];
    out += kBase64Chars[n & 63];
  }
  if (i < in.size()) {
    uint32_t n = uint8_t(in[i]) << 16;
    if (i + 1 < in.size()) n |= uint8_t(in[i + 1]) << 8;
    out += kBase64Chars[(n >> 18) & 63];
    out += kBase64Chars[(n >> 12) & 63];
    out += i + 1 < in.size() ? kBase64Chars[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Splits at line breaks of any convention.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  lines.push_back(text.substr(start));
  return lines;
}

// Length of the UTF-8 sequence that starts with this byte (1 for stray bytes).
size_t Utf8Length(unsigned char c) {
  if (c >= 0xF0 && c < 0xF8) return 4;
  if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
  if (c >= 0xC0) return 2;
  return 1;
}

// Encoded-words of at most 75 characters, never splitting a UTF-8 character.
std::vector<std::string> EncodedWords(std::string_view text) {
  constexpr size_t kMaxBytes = 45;  // 60 base64 characters + "=?UTF-8?B?" + "?=" = 72
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = i;
    while (end < text.size()) {
      size_t len = Utf8Length(static_cast<unsigned char>(text[end]));
      if (end + len > text.size()) len = text.size() - end;
      if (end - i + len > kMaxBytes) break;
      end += len;
    }
    words.push_back("=?UTF-8?B?" + Base64Run(text.substr(i, end - i)) + "?=");
    i = end;
  }
  return words;
}

bool NeedsEncoding(std::string_view value) {
  if (!IsAscii(value) || value.find("=?") != std::string_view::npos) return true;
  size_t run = 0;
  for (char c : value) {
    if (c == ' ' || c == '\t') {
      run = 0;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return true;
    } else if (++run > 900) {
      return true;  // a word too long to fold
    }
  }
  return false;
}

// Folds "Name: value" at blanks so that lines stay near 78 characters. The first line is never cut
// before `minCut` (the field name and its colon).
std::string Fold(std::string line, size_t minCut) {
  std::string out;
  while (line.size() > kFoldAt) {
    size_t cut = line.find_last_of(" \t", kFoldAt);
    if (cut == std::string::npos || cut < minCut) {
      cut = line.find_first_of(" \t", std::max(kFoldAt, minCut));
      if (cut == std::string::npos) break;
    }
    out += line.substr(0, cut);
    out += "\r\n";
    line.erase(0, cut);  // the blank stays, starting the continuation line
    minCut = 1;
  }
  return out + line;
}

// A display name as a quoted string unless it is made of atoms.
std::string Phrase(std::string_view display) {
  if (!IsAscii(display)) {
    std::string out;
    for (const auto& w : EncodedWords(display)) out += (out.empty() ? "" : "\r\n ") + w;
    return out;
  }
  bool plain = true;
  for (char c : display) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == ' ' ||
          std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos)) {
      plain = false;
    }
  }
  if (plain && display.find("=?") == std::string_view::npos) return std::string(display);
  std::string out = "\"";
  for (char c : display) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool ValidMailbox(std::string_view m) {
  size_t at = m.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == m.size()) return false;
  for (char c : m) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || std::string_view("<>()[],;:\"\\").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string Base64(std::string_view bytes) {
  std::string run = Base64Run(bytes);
  std::string out;
  out.reserve(run.size() + run.size() / 76 * 2);
  for (size_t i = 0; i < run.size(); i += 76) {
    if (i) out += "\r\n";
    out.append(run, i, 76);
  }
  return out;
}

std::string QuotedPrintable(std::string_view text) {
  std::string out;
  bool firstLine = true;
  for (std::string_view line : Lines(text)) {
    if (!firstLine) out += "\r\n";
    firstLine = false;
    size_t width = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      bool last = i + 1 == line.size();
      std::string token;
      if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
        token.assign(1, static_cast<char>(c));
      } else {
        token = {'=', kHex[c >> 4], kHex[c & 15]};
      }
      // A soft break ("=") needs one column, except after the last token of the line.
      if (width + token.size() > (last ? 76u : 75u)) {
        out += "=\r\n";
        width = 0;
      }
      out += token;
      width += token.size();
    }
  }
  return out;
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string ToLower(std::string_view s) { return automation::LowerAscii(s); }

bool ParseAddressList(std::string_view text, std::vector<Address>& out, std::string& error) {
  // Items are separated by commas or semicolons outside quotes and angle brackets.
  std::vector<std::string> items;
  std::string cur;
  bool quoted = false, angle = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted && c == '\\' && i + 1 < text.size()) {
      cur += c;
      cur += text[++i];
      continue;
    }
    if (c == '"' && !angle) quoted = !quoted;
    if (!quoted && c == '<') angle = true;
    if (!quoted && c == '>') angle = false;
    if (!quoted && !angle && (c == ',' || c == ';')) {
      items.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  items.push_back(cur);

  for (const std::string& raw : items) {
    std::string item(TrimBlanks(raw));
    if (item.empty()) continue;
    Address a;
    size_t lt = item.rfind('<');
    if (lt != std::string::npos) {
      size_t gt = item.find('>', lt);
      if (gt == std::string::npos || TrimBlanks(std::string_view(item).substr(gt + 1)) != "") {
        error = "The address '" + item + "' is not valid.";
        return false;
      }
      a.mailbox = TrimBlanks(std::string_view(item).substr(lt + 1, gt - lt - 1));
      std::string display(TrimBlanks(std::string_view(item).substr(0, lt)));
      if (display.size() >= 2 && display.front() == '"' && display.back() == '"') {
        std::string unq;
        for (size_t i = 1; i + 1 < display.size(); ++i) {
          if (display[i] == '\\' && i + 2 < display.size()) ++i;
          unq += display[i];
        }
        display = unq;
      }
      a.display = display;
    } else {
      a.mailbox = item;
    }
    if (!ValidMailbox(a.mailbox)) {
      error = "The address '" + item + "' is not valid.";
      return false;
    }
    out.push_back(std::move(a));
  }
  return true;
}

std::string UnstructuredHeader(std::string_view name, std::string_view value) {
  std::string head = std::string(name) + ": ";
  if (!NeedsEncoding(value)) return Fold(head + std::string(value), head.size());
  std::string out = head;
  bool first = true;
  for (const auto& w : EncodedWords(value)) {
    if (!first) out += "\r\n ";
    out += w;
    first = false;
  }
  return out;
}

std::string AddressHeader(std::string_view name, const std::vector<Address>& addresses) {
  std::string out = std::string(name) + ":";
  size_t width = out.size();
  for (size_t i = 0; i < addresses.size(); ++i) {
    const Address& a = addresses[i];
    std::string item = a.display.empty() ? a.mailbox : Phrase(a.display) + " <" + a.mailbox + ">";
    if (i + 1 < addresses.size()) item += ",";
    // Encoded display names already hold their own folds; count from the last one.
    size_t firstLen = item.find("\r\n") == std::string::npos ? item.size() : item.find("\r\n");
    if (i > 0 && width + 1 + firstLen > kFoldAt) {
      out += "\r\n";
      width = 0;
    }
    out += " " + item;
    size_t lastFold = out.rfind("\r\n");
    width = lastFold == std::string::npos ? out.size() : out.size() - lastFold - 2;
  }
  return out;
}

}  // namespace smtp::mime
