#include "daemon/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vdaemon {

namespace {

void WriteError(int fd, int error) {
  ssize_t n;
  do n = ::write(fd, &error, sizeof error);
  while (n < 0 && errno == EINTR);
  ::_exit(127);
}

}  // namespace

Started Spawn(const std::vector<std::filesystem::path>& candidates, const std::vector<std::string>& argv,
              const SpawnOptions& options) {
  Started result;
  if (candidates.empty() || argv.empty()) {
    result.error = ENOENT;
    return result;
  }
  // Everything the child needs is prepared here: after fork only async-signal-safe calls.
  std::vector<std::string> files;
  for (const auto& c : candidates) files.push_back(c.string());
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  bool changeDir = options.workingDir.has_value();
  std::string dir = changeDir ? options.workingDir->string() : std::string();
  int devNull = options.detach ? ::open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    result.error = errno;
    if (devNull >= 0) ::close(devNull);
    return result;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);  // the service blocks signals it reads itself
    if (options.detach) {
      ::setsid();
      if (devNull >= 0) ::dup2(devNull, 0);
    }
    if (changeDir && ::chdir(dir.c_str()) != 0) WriteError(pipeFds[1], errno);
    // No descriptors of the service beyond the standard three reach the program.
    ::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
    int error = ENOENT;
    bool denied = false;
    for (const auto& f : files) {
      ::execv(f.c_str(), args.data());
      error = errno;
      if (error == EACCES)
        denied = true;
      else if (error != ENOENT && error != ENOTDIR)
        break;
    }
    if (denied && (error == ENOENT || error == ENOTDIR)) error = EACCES;
    WriteError(pipeFds[1], error);
  }
  int forkError = errno;
  ::close(pipeFds[1]);
  if (devNull >= 0) ::close(devNull);
  if (pid < 0) {
    ::close(pipeFds[0]);
    result.error = forkError;
    return result;
  }
  int childError = 0;
  ssize_t n;
  do n = ::read(pipeFds[0], &childError, sizeof childError);
  while (n < 0 && errno == EINTR);
  ::close(pipeFds[0]);
  if (n == static_cast<ssize_t>(sizeof childError)) {
    // The program never ran: collect the child now.
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    result.error = childError ? childError : ENOENT;
    return result;
  }
  result.pid = pid;
  return result;
}

std::vector<std::filesystem::path> ProgramCandidates(std::string_view file, const std::filesystem::path& installDir) {
  std::vector<std::filesystem::path> out;
  std::filesystem::path self = ProgramPath();
  if (!self.empty()) out.push_back(self.parent_path() / file);
  if (!installDir.empty()) {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(installDir, ec);
    out.push_back((ec ? installDir : abs) / file);
  }
  // Relative PATH entries would depend on the current folder: only absolute ones count.
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest(path);
    while (true) {
      size_t colon = rest.find(':');
      std::string_view entry = rest.substr(0, colon);
      if (!entry.empty() && entry[0] == '/') out.push_back(std::filesystem::path(entry) / file);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return out;
}

std::string JoinPaths(const std::vector<std::filesystem::path>& candidates) {
  std::string out;
  for (const auto& c : candidates) out += (out.empty() ? "" : ", ") + c.string();
  return out.empty() ? "nowhere" : out;
}

std::filesystem::path ProgramPath() {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p;
}

int RunToEnd(const std::vector<std::filesystem::path>& candidates, const std::vector<std::string>& argv) {
  Started s = Spawn(candidates, argv, {});
  if (s.pid < 0) return -1;
  int status = 0;
  while (::waitpid(s.pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vdaemon
