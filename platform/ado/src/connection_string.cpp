#include "ado/connection_string.h"

#include "automation/text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <utility>

#include "ado/errors.h"

namespace ado {

namespace {

using automation::EqualsNoCase;
using automation::TrimBlanks;

// One item's extent in the text: [begin, end) without the ';'. Quotes protect ';'; inside them the
// quote doubled stands for itself.
struct Span {
  size_t begin, eq, end;  // eq == npos when there is no '='
};

std::vector<Span> Spans(std::string_view s) {
  std::vector<Span> out;
  size_t i = 0;
  while (i <= s.size()) {
    size_t begin = i, eq = std::string_view::npos;
    char quote = 0;
    for (; i < s.size(); ++i) {
      char c = s[i];
      if (quote) {
        if (c == quote && i + 1 < s.size() && s[i + 1] == quote)
          ++i;
        else if (c == quote)
          quote = 0;
      } else if (c == ';') {
        break;
      } else if (c == '=' && eq == std::string_view::npos) {
        eq = i;
      } else if ((c == '"' || c == '\'') && eq != std::string_view::npos &&
                 TrimBlanks(s.substr(eq + 1, i - eq - 1)).empty()) {
        quote = c;  // a value that starts with a quote runs to the matching quote
      }
    }
    out.push_back({begin, eq, i});
    ++i;
  }
  return out;
}

// The text between a value's quotes, each doubled quote read as one.
std::string Unescape(std::string_view inner, char quote) {
  std::string out;
  for (size_t i = 0; i < inner.size(); ++i) {
    out += inner[i];
    if (inner[i] == quote && i + 1 < inner.size() && inner[i + 1] == quote) ++i;
  }
  return out;
}

}  // namespace

std::string QuoteConnectionValue(std::string_view v) {
  if (v.find_first_of(";\"'") == std::string_view::npos) return std::string(v);
  std::string out = "\"";
  for (char c : v) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

namespace {

std::string Unquote(std::string_view v) {
  v = TrimBlanks(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return Unescape(v.substr(1, v.size() - 2), v.front());
  return std::string(v);
}

// "Password", "User Password", "Jet OLEDB:Database Password", "pwd": any key naming a password.
bool IsPasswordKey(std::string_view key) {
  return EqualsNoCase(key, "pwd") || automation::LowerAscii(key).find("password") != std::string::npos;
}

// The bytes of a file, read whole; false when it cannot be opened or read (a folder, say).
bool ReadWhole(const std::filesystem::path& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return n == 0;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
}

// The text of a connection file: UTF-16 (as Windows tools write them) or UTF-8; section and
// comment lines skipped, the rest joined with ';'.
std::string ConnectionFileText(const std::string& raw) {
  std::string text;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
      unsigned cp = static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8);
      if (cp < 0x80) {
        text += static_cast<char>(cp);
      } else if (cp < 0x800) {
        text += static_cast<char>(0xC0 | (cp >> 6));
        text += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        text += static_cast<char>(0xE0 | (cp >> 12));
        text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (cp & 0x3F));
      }
    }
  } else if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = raw.substr(3);
  } else {
    text = raw;
  }
  std::string joined;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::string_view l = TrimBlanks(line);
    if (l.empty() || l.front() == '[' || l.front() == ';' || l.front() == '#') continue;
    if (!joined.empty() && joined.back() != ';') joined += ';';
    joined += l;
  }
  return joined;
}

// The last connection string this thread resolved through connection files, with each file's
// bytes as read then: the site resolves the same one a few times a request, and while the files
// hold the same bytes the result is the same.
struct LastResolved {
  std::string given, result;
  std::vector<std::pair<std::filesystem::path, std::string>> files;

  static LastResolved& ThisThread() {
    static thread_local LastResolved last;
    return last;
  }
  bool Holds(std::string_view s) const {
    if (files.empty() || s != given) return false;
    std::string now;
    for (const auto& [path, bytes] : files)
      if (!ReadWhole(path, now) || now != bytes) return false;
    return true;
  }
};

}  // namespace

std::vector<ConnectionItem> ParseConnectionString(std::string_view s) {
  std::vector<ConnectionItem> items;
  for (const Span& sp : Spans(s)) {
    std::string_view whole = s.substr(sp.begin, sp.end - sp.begin);
    if (TrimBlanks(whole).empty()) continue;
    if (sp.eq == std::string_view::npos) {
      items.push_back({std::string(TrimBlanks(whole)), ""});
    } else {
      items.push_back({std::string(TrimBlanks(s.substr(sp.begin, sp.eq - sp.begin))),
                       Unquote(s.substr(sp.eq + 1, sp.end - sp.eq - 1))});
    }
  }
  return items;
}

std::optional<std::string> ConnectionValue(const std::vector<ConnectionItem>& items, std::string_view key) {
  for (const auto& it : items)
    if (EqualsNoCase(it.key, key)) return it.value;
  return std::nullopt;
}

namespace {

std::string MaskItems(std::string_view s, int depth);

// A value may itself hold items (Extended Properties="...;PWD=x", quoted once more inside):
// those are masked too, at any depth, keeping the value's own quotes. The items are those the
// parser reads from the value (its doubled quotes single), written back escaped.
std::string MaskValue(std::string_view value, int depth) {
  if (value.find('=') == std::string_view::npos) return std::string(value);
  if (depth > 16) return "***";  // deeper than any real string nests: nothing of it is shown
  size_t lead = value.find_first_not_of(" \t");
  size_t last = value.find_last_not_of(" \t");
  if (lead == std::string_view::npos) return std::string(value);
  char q = value[lead];
  if ((q == '"' || q == '\'') && last > lead && value[last] == q) {
    std::string out(value.substr(0, lead + 1));
    for (char c : MaskItems(Unescape(value.substr(lead + 1, last - lead - 1), q), depth + 1)) {
      out += c;
      if (c == q) out += q;
    }
    return out + std::string(value.substr(last));
  }
  return MaskItems(value, depth + 1);
}

std::string MaskItems(std::string_view s, int depth) {
  std::string out;
  for (const Span& sp : Spans(s)) {
    if (sp.begin > 0) out += ';';
    if (sp.begin >= s.size()) continue;
    if (sp.eq == std::string_view::npos) {
      out.append(s.substr(sp.begin, sp.end - sp.begin));
      continue;
    }
    out.append(s.substr(sp.begin, sp.eq - sp.begin + 1));
    if (IsPasswordKey(TrimBlanks(s.substr(sp.begin, sp.eq - sp.begin))))
      out += "***";
    else
      out += MaskValue(s.substr(sp.eq + 1, sp.end - sp.eq - 1), depth);
  }
  return out;
}

}  // namespace

std::string MaskConnectionString(std::string_view s) { return MaskItems(s, 0); }

std::string ResolveConnectionString(std::string_view s) {
  LastResolved& last = LastResolved::ThisThread();
  if (last.Holds(s)) return last.result;
  std::vector<std::pair<std::filesystem::path, std::string>> files;
  std::string current(s);
  for (int depth = 0; depth < 4; ++depth) {
    auto items = ParseConnectionString(current);
    auto file = ConnectionValue(items, "File name");
    if (!file) {
      if (!files.empty()) last = {std::string(s), current, std::move(files)};
      return current;
    }
    std::filesystem::path path(*file);
    std::string raw;
    if (!ReadWhole(path, raw))
      Raise(err::kFail, "ADODB.Connection", "Cannot open the connection file \"" + path.string() + "\".");
    std::string inner = ConnectionFileText(raw);
    files.emplace_back(path, std::move(raw));
    // A relative data source in a connection file is relative to the file's folder.
    auto innerItems = ParseConnectionString(inner);
    if (auto ds = ConnectionValue(innerItems, "Data Source")) {
      std::filesystem::path dsp(*ds);
      if (!ds->empty() && dsp.is_relative()) {
        std::string rebuilt;
        for (const auto& it : innerItems) {
          if (!rebuilt.empty()) rebuilt += ';';
          std::string value = EqualsNoCase(it.key, "Data Source") ? (path.parent_path() / dsp).string() : it.value;
          rebuilt += it.key + "=" + QuoteConnectionValue(value);
        }
        inner = rebuilt;
      }
    }
    current = inner;
  }
  Raise(err::kFail, "ADODB.Connection", "The connection files refer to each other too deeply.");
}

}  // namespace ado
