#include "site/command_line.h"

#include <charconv>
#include <vector>

namespace site {

std::optional<SiteOptions> ParseArguments(int argc, char** argv, std::string& error) {
  SiteOptions o;
#ifdef VANTREL_DEFAULT_CONTROLS
  o.controls = VANTREL_DEFAULT_CONTROLS;
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  auto value = [&](size_t& i) -> std::optional<std::string> {
    if (i + 1 >= args.size()) return std::nullopt;
    return args[++i];
  };
  auto number = [](const std::string& s, int& out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::optional<std::string> v;
    if (a == "--behind-tls") {
      o.behindTls = true;
    } else if (a == "--listen" && (v = value(i))) {
      const size_t colon = v->rfind(':');
      if (colon == std::string::npos || !number(v->substr(colon + 1), o.port) || o.port < 0 || o.port > 65535) {
        error = "--listen takes ADDRESS:PORT";
        return std::nullopt;
      }
      o.address = v->substr(0, colon);
    } else if (a == "--root" && (v = value(i))) {
      if (!v->starts_with("/")) {
        error = "--root takes a path that starts with /";
        return std::nullopt;
      }
      while (v->ends_with("/")) v->pop_back();
      o.root = *v;
    } else if (a == "--idle-minutes" && (v = value(i))) {
      if (!number(*v, o.idleMinutes) || o.idleMinutes < 1) {
        error = "--idle-minutes takes a whole number of minutes";
        return std::nullopt;
      }
    } else if (a == "--controls" && (v = value(i))) {
      o.controls = *v;
    } else if (!a.starts_with("--") && o.folder.empty()) {
      o.folder = a;
    } else {
      error = "unknown or incomplete argument " + a;
      return std::nullopt;
    }
  }
  if (o.folder.empty()) {
    error = "the site folder is missing";
    return std::nullopt;
  }
  return o;
}

}  // namespace site
