// The systemd notification protocol (sd_notify), spoken directly: datagrams of "KEY=value" lines
// to the socket named by NOTIFY_SOCKET.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string_view>

namespace vdaemon {

class ServiceManager {
 public:
  ServiceManager() = default;
  ~ServiceManager();
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;

  // True when the program was started by systemd with a notification socket. The variable is
  // removed from the environment so that the sender does not inherit it.
  bool Connect();
  bool Connected() const { return fd_ >= 0; }
  bool Send(std::string_view message);

 private:
  int fd_ = -1;
  sockaddr_un address_{};
  socklen_t addressLength_ = 0;
};

}  // namespace vdaemon
