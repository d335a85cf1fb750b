#include "support/site_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/site_db.h"

namespace testsupport {

std::filesystem::path SiteProgram() { return std::filesystem::path(VANTREL_BINARY_DIR) / "site" / "vantrel-site"; }

namespace {

// The first line the program prints, read with a deadline.
std::string ReadFirstLine(int fd, std::chrono::seconds limit) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  fcntl(fd, F_SETFL, O_NONBLOCK);
  while (std::chrono::steady_clock::now() < deadline) {
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n == 1) {
      if (c == '\n') return line;
      line += c;
    } else if (n == 0) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  throw std::runtime_error("vantrel-site did not start: " + line);
}

}  // namespace

SiteServer::SiteServer(const Options& options) {
  database_ = options.database;
  if (database_.empty()) {
    database_ = dir_.path() / "site.db";
    std::filesystem::copy_file(sitedb::FreshSite(true), database_);
  }
  WriteFile(dir_ / "DbConnection.udl", "Data Source=" + DatabaseFile().string() + "\n");

  std::vector<std::string> args{SiteProgram().string(), dir_.path().string(), "--listen", "127.0.0.1:0"};
  if (options.behindTls) args.push_back("--behind-tls");
  args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The site's event log goes to a file of the test's folder, not to syslog.
  std::vector<std::string> env{"VANTREL_EVENTLOG=" + (dir_.path() / "events.log").string()};
  for (char** e = environ; *e; ++e)
    if (!std::string_view(*e).starts_with("VANTREL_EVENTLOG=")) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ == 0) {
    // Ends with the test program, even when that is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(out[1], 1);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  const std::string line = ReadFirstLine(out[0], std::chrono::seconds(30));
  close(out[0]);
  // "Listening on http://127.0.0.1:PORT/APP/Default.asp"
  const std::string prefix = "Listening on ";
  const std::string suffix = "/Default.asp";
  if (!line.starts_with(prefix) || !line.ends_with(suffix)) throw std::runtime_error("unexpected first line: " + line);
  base_ = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  const size_t colon = base_.find(':', 7);
  port_ = std::stoi(base_.substr(colon + 1));
}

std::string SiteServer::Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

int SiteServer::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

SiteServer::~SiteServer() { Stop(); }

}  // namespace testsupport
