// A vantrel-site started by a test on a fresh demo site (admin "admin" / "Secret1", demo users with
// the password "demo"), on a free loopback port. Ended with SIGTERM when the object goes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace testsupport {

class SiteServer {
 public:
  struct Options {
    bool behindTls = false;
    std::vector<std::string> extraArgs;  // more of vantrel-site's arguments
    std::filesystem::path database{};     // a site database to serve in place, instead of a fresh copy
  };
  SiteServer() : SiteServer(Options{}) {}
  explicit SiteServer(const Options& options);
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // "http://127.0.0.1:PORT/APP" and a path below it.
  const std::string& Base() const { return base_; }
  std::string Url(std::string_view path) const { return base_ + std::string(path); }
  std::string Origin() const;  // "http://127.0.0.1:PORT"
  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  const std::filesystem::path& Folder() const { return dir_.path(); }
  const std::filesystem::path& DatabaseFile() const { return database_; }

  // SIGTERM and wait; the exit status (as waitpid gives it), -1 when already stopped.
  int Stop();

 private:
  TempDir dir_;
  std::filesystem::path database_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string base_;
};

// The vantrel-site program of this build.
std::filesystem::path SiteProgram();

}  // namespace testsupport
