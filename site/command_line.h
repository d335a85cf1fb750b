// The site's options as vantrel-site's command line gives them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace site {

struct SiteOptions {
  std::filesystem::path folder;  // holds DbConnection.udl
  std::string address = "127.0.0.1";
  int port = 8080;      // 0: any free port
  std::string root = "/APP";  // "" when the site is at "/"
  bool behindTls = false;
  int idleMinutes = 20;
  std::filesystem::path controls;  // the control library's files, served under root/controls/
};

// Reads the command line; nullopt and a message when it is wrong.
std::optional<SiteOptions> ParseArguments(int argc, char** argv, std::string& error);

}  // namespace site
