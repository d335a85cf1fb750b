#include "daemon/notify.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vdaemon {

ServiceManager::~ServiceManager() {
  if (fd_ >= 0) ::close(fd_);
}

bool ServiceManager::Connect() {
  if (fd_ >= 0) return true;
  const char* env = std::getenv("NOTIFY_SOCKET");
  if (!env || !*env) return false;
  std::string path = env;
  ::unsetenv("NOTIFY_SOCKET");
  // A path, or "@name" for the abstract namespace.
  if ((path[0] != '/' && path[0] != '@') || path.size() >= sizeof address_.sun_path) return false;
  address_ = {};
  address_.sun_family = AF_UNIX;
  std::memcpy(address_.sun_path, path.data(), path.size());
  if (path[0] == '@') address_.sun_path[0] = '\0';
  addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (path[0] == '/' ? 1 : 0));
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd_ >= 0;
}

bool ServiceManager::Send(std::string_view message) {
  if (fd_ < 0) return false;
  ssize_t n;
  do
    n = ::sendto(fd_, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address_),
                 addressLength_);
  while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(message.size());
}

}  // namespace vdaemon
