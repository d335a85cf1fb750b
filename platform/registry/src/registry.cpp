#include "registry/registry.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "automation/text.h"

namespace registry {

namespace {

using automation::EqualsNoCase;

std::string Lower(std::string_view s) { return automation::LowerAscii(s); }
// A line of the file read without its blanks at either end.
using automation::TrimBlanks;

// The file as lines, with each line's meaning.
struct Line {
  enum Kind { Other, Section, Value } kind = Other;
  std::string text;  // the line as stored
  std::string key;   // Section: the key; Value: the key of its section
  std::string name;  // Value: the value name ("" for "@")
  std::string value;
};

std::vector<Line> Parse(const std::string& content) {
  std::vector<Line> lines;
  std::string current;
  std::istringstream in(content);
  std::string raw;
  while (std::getline(in, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    Line l;
    l.text = raw;
    std::string t(TrimBlanks(raw));
    if (!t.empty() && t[0] == '[' && t.back() == ']') {
      l.kind = Line::Section;
      current = NormalizeKey(t.substr(1, t.size() - 2));
      l.key = current;
    } else if (!t.empty() && t[0] != '#' && t[0] != ';' && !current.empty()) {
      size_t eq = raw.find('=');
      if (eq != std::string::npos) {
        l.kind = Line::Value;
        l.key = current;
        l.name = TrimBlanks(raw.substr(0, eq));
        if (l.name == "@") l.name.clear();
        l.value = raw.substr(eq + 1);
      }
    }
    lines.push_back(std::move(l));
  }
  return lines;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return {};
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<Line> Load() { return Parse(ReadFile(FilePath())); }

bool IsUnder(const std::string& key, const std::string& parent) {
  std::string k = Lower(key), p = Lower(parent);
  return k == p || (k.size() > p.size() && k.compare(0, p.size(), p) == 0 && k[p.size()] == '\\');
}

// A writer killed between writing its temporary file and renaming it leaves "<file>.tmp.<pid>"
// behind. Under the writers' lock no other writer is between the two steps, so the temporary
// files of processes that no longer run are leftovers and go.
void RemoveLeftovers(const std::filesystem::path& path) {
  const std::string prefix = path.filename().string() + ".tmp.";
  std::error_code ec;
  std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH)) std::filesystem::remove(it->path(), ec);
  }
}

// Runs one change under the writers' lock and replaces the file when the change asks for it.
template <class F>
bool Modify(F change) {
  std::filesystem::path path = FilePath();
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::string lockPath = path.string() + ".lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) throw Error("Cannot open the registry lock " + lockPath + ": " + std::strerror(errno));
  while (::flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lock);
      throw Error("Cannot lock the registry: " + std::string(std::strerror(errno)));
    }
  }
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{lock};

  RemoveLeftovers(path);
  std::vector<Line> lines = Parse(ReadFile(path));
  bool changed = change(lines);
  if (!changed) return false;
  std::string out;
  for (const Line& l : lines) {
    out += l.text;
    out += '\n';
  }
  std::string tmp = path.string() + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw Error("Cannot write the registry: " + std::string(std::strerror(errno)));
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::write(fd, out.data() + done, out.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      ::unlink(tmp.c_str());
      throw Error("Cannot write the registry: " + std::string(std::strerror(errno)));
    }
    done += static_cast<size_t>(n);
  }
  ::fsync(fd);
  ::close(fd);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw Error("Cannot replace the registry: " + std::string(std::strerror(errno)));
  }
  return true;
}

void CheckText(std::string_view what, std::string_view s) {
  if (s.find_first_of("\r\n") != std::string_view::npos)
    throw Error("A registry " + std::string(what) + " cannot hold a line break");
}

void CheckName(std::string_view name) {
  CheckText("value name", name);
  if (name.find('=') != std::string_view::npos || (!name.empty() && (name[0] == '#' || name[0] == '[' || name[0] == ';')) ||
      TrimBlanks(name) != name || name == "@")
    throw Error("Invalid registry value name \"" + std::string(name) + "\"");
}

// Index just past the last line of the section that starts at index s.
size_t SectionEnd(const std::vector<Line>& lines, size_t s) {
  size_t e = s + 1;
  while (e < lines.size() && lines[e].kind != Line::Section) ++e;
  // Leave trailing blank lines and comments to the next section.
  while (e > s + 1 && lines[e - 1].kind == Line::Other && TrimBlanks(lines[e - 1].text).empty()) --e;
  return e;
}

std::pair<std::string, std::string> SplitPath(std::string_view path) {
  std::string p(path);
  if (!p.empty() && p.back() == '\\') return {NormalizeKey(p), ""};
  size_t slash = p.rfind('\\');
  if (slash == std::string::npos) throw Error("Invalid registry path \"" + p + "\"");
  return {NormalizeKey(p.substr(0, slash)), p.substr(slash + 1)};
}

}  // namespace

std::filesystem::path FilePath() {
  const char* env = std::getenv("VANTREL_REGISTRY");
  return env && *env ? std::filesystem::path(env) : std::filesystem::path(kDefaultPath);
}

std::string NormalizeKey(std::string_view key) {
  std::string k(TrimBlanks(key));
  while (!k.empty() && k.back() == '\\') k.pop_back();
  size_t slash = k.find('\\');
  std::string root = Lower(k.substr(0, slash));
  std::string rest = slash == std::string::npos ? "" : k.substr(slash);
  if (root == "hklm") return "HKEY_LOCAL_MACHINE" + rest;
  if (root == "hkcu") return "HKEY_CURRENT_USER" + rest;
  if (root == "hkcr") return "HKEY_CLASSES_ROOT" + rest;
  if (root == "hku") return "HKEY_USERS" + rest;
  return k;
}

bool KeyExists(std::string_view key) {
  std::string k = NormalizeKey(key);
  for (const Line& l : Load())
    if (l.kind == Line::Section && IsUnder(l.key, k)) return true;
  return false;
}

std::optional<std::string> ReadValue(std::string_view key, std::string_view name) {
  std::string k = NormalizeKey(key);
  std::optional<std::string> found;
  for (const Line& l : Load())
    if (l.kind == Line::Value && EqualsNoCase(l.key, k) && EqualsNoCase(l.name, name)) found = l.value;
  return found;
}

std::vector<std::pair<std::string, std::string>> ReadValues(std::string_view key) {
  std::string k = NormalizeKey(key);
  std::vector<std::pair<std::string, std::string>> out;
  for (const Line& l : Load()) {
    if (l.kind != Line::Value || !EqualsNoCase(l.key, k)) continue;
    bool replaced = false;
    for (auto& [n, v] : out)
      if (EqualsNoCase(n, l.name)) {
        v = l.value;
        replaced = true;
      }
    if (!replaced) out.emplace_back(l.name, l.value);
  }
  return out;
}

std::vector<std::string> SubKeys(std::string_view key) {
  std::string k = NormalizeKey(key);
  std::vector<std::string> out;
  for (const Line& l : Load()) {
    if (l.kind != Line::Section || !IsUnder(l.key, k) || EqualsNoCase(l.key, k)) continue;
    std::string rest = l.key.substr(k.size() + 1);
    std::string child = rest.substr(0, rest.find('\\'));
    bool seen = false;
    for (const auto& c : out) seen = seen || EqualsNoCase(c, child);
    if (!seen) out.push_back(child);
  }
  return out;
}

void WriteValue(std::string_view key, std::string_view name, std::string_view value) {
  std::string k = NormalizeKey(key);
  CheckText("key", k);
  CheckName(name);
  CheckText("value", value);
  std::string text = (name.empty() ? std::string("@") : std::string(name)) + "=" + std::string(value);
  Modify([&](std::vector<Line>& lines) {
    Line nl;
    nl.kind = Line::Value;
    nl.text = text;
    nl.key = k;
    nl.name = std::string(name);
    nl.value = std::string(value);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == Line::Section && EqualsNoCase(lines[i].key, k)) {
        size_t end = SectionEnd(lines, i);
        for (size_t j = i + 1; j < end; ++j) {
          if (lines[j].kind == Line::Value && EqualsNoCase(lines[j].name, name)) {
            nl.name = lines[j].name;  // keep the stored spelling of the name
            nl.text = (nl.name.empty() ? std::string("@") : nl.name) + "=" + std::string(value);
            lines[j] = nl;
            return true;
          }
        }
        lines.insert(lines.begin() + static_cast<long>(end), nl);
        return true;
      }
    }
    if (!lines.empty() && !TrimBlanks(lines.back().text).empty()) lines.push_back(Line{});
    Line sec;
    sec.kind = Line::Section;
    sec.key = k;
    sec.text = "[" + k + "]";
    lines.push_back(sec);
    lines.push_back(nl);
    return true;
  });
}

void CreateKey(std::string_view key) {
  std::string k = NormalizeKey(key);
  CheckText("key", k);
  Modify([&](std::vector<Line>& lines) {
    for (const Line& l : lines)
      if (l.kind == Line::Section && EqualsNoCase(l.key, k)) return false;
    if (!lines.empty() && !TrimBlanks(lines.back().text).empty()) lines.push_back(Line{});
    Line sec;
    sec.kind = Line::Section;
    sec.key = k;
    sec.text = "[" + k + "]";
    lines.push_back(sec);
    return true;
  });
}

bool DeleteValue(std::string_view key, std::string_view name) {
  std::string k = NormalizeKey(key);
  return Modify([&](std::vector<Line>& lines) {
    bool removed = false;
    for (size_t i = lines.size(); i-- > 0;) {
      if (lines[i].kind == Line::Value && EqualsNoCase(lines[i].key, k) && EqualsNoCase(lines[i].name, name)) {
        lines.erase(lines.begin() + static_cast<long>(i));
        removed = true;
      }
    }
    return removed;
  });
}

bool DeleteKey(std::string_view key) {
  std::string k = NormalizeKey(key);
  return Modify([&](std::vector<Line>& lines) {
    bool removed = false;
    for (size_t i = 0; i < lines.size();) {
      if (lines[i].kind == Line::Section && IsUnder(lines[i].key, k)) {
        size_t end = SectionEnd(lines, i);
        // The blank line a writer put before the section goes with it, so adding and then
        // removing a key gives the file back as it was.
        size_t begin = i > 0 && lines[i - 1].kind == Line::Other && TrimBlanks(lines[i - 1].text).empty() ? i - 1 : i;
        lines.erase(lines.begin() + static_cast<long>(begin), lines.begin() + static_cast<long>(end));
        i = begin;
        removed = true;
      } else {
        ++i;
      }
    }
    return removed;
  });
}

std::string RegRead(std::string_view path) {
  auto [key, name] = SplitPath(path);
  if (auto v = ReadValue(key, name)) return *v;
  if (name.empty() && KeyExists(key)) return "";
  throw Error("Unable to open registry key \"" + std::string(path) + "\" for reading.");
}

void RegWrite(std::string_view path, std::string_view value) {
  auto [key, name] = SplitPath(path);
  WriteValue(key, name, value);
}

void RegDelete(std::string_view path) {
  auto [key, name] = SplitPath(path);
  bool removed = name.empty() && std::string(path).back() == '\\' ? DeleteKey(key) : DeleteValue(key, name);
  if (!removed) throw Error("Unable to remove registry key \"" + std::string(path) + "\".");
}

}  // namespace registry
