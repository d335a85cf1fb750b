// The notification service: one module per process. Started by systemd (Type=notify) or as a
// plain program; every schedule period it starts the sender once per registered database, one
// after the other, and waits for each.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "daemon/notify.h"

namespace orlenta {

// Service states, numbered as the service manager's status record numbers them.
enum class State { Stopped = 1, StartPending = 2, StopPending = 3, Running = 4 };

// Control requests, numbered likewise; signals are mapped onto them.
inline constexpr int kControlStop = 1;
inline constexpr int kControlPause = 2;
inline constexpr int kControlContinue = 3;
inline constexpr int kControlInterrogate = 4;
inline constexpr int kControlShutdown = 5;

enum class Switch { None, UnregServer, RegServer, Service };

// A switch counts only when it ends the command line: after each "-" or "/" the rest of the line
// is compared with the switch names without regard to case.
Switch FindSwitch(std::string_view commandLine);

class ServiceModule {
 public:
  ServiceModule() = default;
  ~ServiceModule();
  ServiceModule(const ServiceModule&) = delete;
  ServiceModule& operator=(const ServiceModule&) = delete;

  // The program's entry: the whole command line (program path included).
  int Main(std::string_view commandLine);

  // Registration (registration.cpp).
  bool IsInstalled();
  bool Install();
  bool Uninstall();
  int RegisterServer(bool installService);
  int UnregisterServer();

 private:
  void Init();
  void Start();
  void ServiceMainEntry();  // the dispatcher's entry, forwarding to ServiceMain
  void ServiceMain();
  bool RegisterHandler();
  void HandlerEntry(int control);  // forwards to Handler
  void Handler(int control);
  void SetServiceStatus(State state);
  void Run();
  void SetupTimer(int& timer);
  void ProcessEachDatabase();
  void WaitForSender(pid_t pid, const std::string& commandLine);
  // Reads the pending signals and hands each control request to the handler.
  void DispatchControls();

  bool serviceMode_ = true;
  State state_ = State::Stopped;
  int exitCode_ = 0;
  bool quit_ = false;
  int controls_ = -1;  // signalfd of the control signals and SIGCHLD
  vdaemon::ServiceManager manager_;
};

}  // namespace orlenta
