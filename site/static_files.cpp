#include "site/static_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "automation/text.h"

namespace site {

namespace detail {
// Generated from site/static by static_to_cpp.cmake.
extern const StaticFile kStaticFiles[];
extern const size_t kStaticFileCount;
}  // namespace detail

namespace {

// The control library's own files; nothing else of its folder is served.
bool IsControlFile(std::string_view name) {
  return name == "tamsolo.js" || name == "tamsolo.wasm" || name == "tamsolo-loader.js";
}

// A strong validator of a file's bytes: "\"" + 64-bit FNV-1a in hex + size + "\"".
std::string ContentTag(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char buf[48];
  std::snprintf(buf, sizeof buf, "\"%016llx-%zx\"", static_cast<unsigned long long>(h), bytes.size());
  return buf;
}

// The control files as last read, with their tags: a file is read and hashed again only when its
// size, change time or inode differ (a rebuilt module is taken at its next request).
class ControlFiles {
 public:
  struct File {
    std::shared_ptr<const std::string> bytes;
    std::string tag;
  };
  std::optional<File> Get(const std::filesystem::path& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const Stamp stamp{st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    std::lock_guard lock(mutex_);
    auto& entry = files_[path.string()];
    if (!entry.file.bytes || !(entry.stamp == stamp)) {
      std::ifstream in(path, std::ios::binary);
      if (!in) return std::nullopt;
      std::ostringstream s;
      s << in.rdbuf();
      auto bytes = std::make_shared<const std::string>(std::move(s).str());
      entry = {stamp, {bytes, ContentTag(*bytes)}};
    }
    return entry.file;
  }

 private:
  struct Stamp {
    ino_t inode;
    off_t size;
    time_t seconds;
    long nanoseconds;
    bool operator==(const Stamp&) const = default;
  };
  struct Entry {
    Stamp stamp{};
    File file;
  };
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> files_;
};

ControlFiles& TheControlFiles() {
  static ControlFiles files;
  return files;
}

}  // namespace

const StaticFile* FindStaticFile(std::string_view name) {
  for (size_t i = 0; i < detail::kStaticFileCount; ++i)
    if (automation::EqualsNoCase(detail::kStaticFiles[i].name, name)) return &detail::kStaticFiles[i];
  return nullptr;
}

std::string_view ContentTypeOf(std::string_view name) {
  struct Type {
    std::string_view extension, type;
  };
  static constexpr Type kTypes[] = {
      {".css", "text/css; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".gif", "image/gif"},               {".jpg", "image/jpeg"},
      {".png", "image/png"},               {".wasm", "application/wasm"},
      {".html", "text/html; charset=utf-8"}, {".ico", "image/x-icon"},
  };
  const std::string lower = automation::LowerAscii(name);
  for (const auto& t : kTypes)
    if (lower.ends_with(t.extension)) return t.type;
  return "application/octet-stream";
}


bool ServeOwnFile(const SiteOptions& options, const HttpRequest& req, HttpResponse& res) {
  if (req.method != "GET" && req.method != "HEAD") return false;
  const std::string& root = options.root;
  std::string_view path = req.path;
  // The site's own files: stylesheet, script, images (also at /images/ for "../images/" links), and
  // the icon also where browsers ask for it, at the server's root.
  for (std::string_view prefix : {std::string_view(root), std::string_view("")}) {
    if (!path.starts_with(prefix) || path.size() <= prefix.size() || path[prefix.size()] != '/') continue;
    std::string_view name = path.substr(prefix.size() + 1);
    if (!prefix.empty() || name.starts_with("images/") || name == "favicon.ico") {
      if (const StaticFile* f = FindStaticFile(name)) {
        res.SetHeader("Content-Type", ContentTypeOf(name));
        res.body = std::string(f->bytes);
        return true;
      }
    }
  }
  const std::string controls = root + "/controls/";
  if (path.starts_with(controls) && !options.controls.empty()) {
    std::string_view name = path.substr(controls.size());
    if (auto file = IsControlFile(name) ? TheControlFiles().Get(options.controls / name) : std::nullopt) {
      // Checked at every use (a rebuilt module is taken at once), answered 304 while unchanged.
      res.SetHeader("Cache-Control", "no-cache");
      res.SetHeader("ETag", file->tag);
      if (req.Header("If-None-Match") == file->tag) {
        res.status = 304;
        return true;
      }
      res.SetHeader("Content-Type", ContentTypeOf(name));
      res.body = *file->bytes;
      return true;
    }
  }
  return false;
}

}  // namespace site
