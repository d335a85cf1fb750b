#include "support/small_disk.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

SmallDisk::Kind SmallDisk::DefaultKind() {
  const char* env = std::getenv("VANTREL_TEST_SMALL_DISK");
  return env && std::string(env) == "limit" ? Kind::kFileSizeLimit : Kind::kTmpfs;
}

SmallDisk::SmallDisk(uint64_t bytes, Kind kind) {
  std::string tmpl = (fs::temp_directory_path() / "vantrel-disk-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = kind == Kind::kTmpfs &&
             ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  std::error_code ec;
  fs::remove_all(path_, ec);
}

uint64_t SmallDisk::Available() const {
  struct statvfs s {};
  if (::statvfs(path_.c_str(), &s) != 0) return 0;
  return static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
}

void SmallDisk::Fill(uint64_t leaveFree) {
  if (!mounted_) {
    limit_ = leaveFree;
    return;
  }
  int fd = ::open((path_ / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("the filler cannot be created");
  const std::vector<char> block(4096, 'x');
  while (Available() > leaveFree) {
    const uint64_t want = std::min<uint64_t>(block.size(), Available() - leaveFree);
    if (::write(fd, block.data(), want) <= 0) break;
  }
  ::close(fd);
}

void SmallDisk::Free() {
  limit_.reset();
  std::error_code ec;
  fs::remove(path_ / "filler", ec);
}

bool SmallDisk::Limit() const {
  if (mounted_ || !limit_) return true;
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < *limit_)) return false;
  ::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = static_cast<rlim_t>(*limit_);
  return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

std::string SmallDisk::Run(const std::function<std::string()>& work) const {
  int p[2];
  if (::pipe(p) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(p[0]);
    int code = 2;
    if (Limit()) try {
        const std::string out = work();
        code = ::write(p[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 3;
      } catch (...) {
        code = 4;
      }
    ::_exit(code);  // no destructor of the parent's objects runs here
  }
  ::close(p[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::read(p[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  ::close(p[0]);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the child process failed (status " + std::to_string(status) + ")");
  return out;
}

}  // namespace testsupport
