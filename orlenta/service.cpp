#include "service.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <vector>

#include "automation/text.h"
#include "daemon/spawn.h"
#include "registry/registry.h"
#include "settings.h"

namespace orlenta {

namespace {

std::string Number(int64_t n) { return std::to_string(n); }

// Signals that arrive as control requests, and SIGCHLD to wake the wait for a sender.
sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2, SIGCHLD}) sigaddset(&set, s);
  return set;
}

int ControlFor(int signal) {
  switch (signal) {
    case SIGTERM:
    case SIGINT:
      return kControlStop;
    case SIGHUP:
      return kControlInterrogate;  // nothing is cached, so there is nothing to reload
    default:
      return 128 + signal;
  }
}

// A timer that also counts time spent suspended and, where the system allows, wakes it.
int CreateTimer() {
  int fd = -1;
  for (clockid_t clock : {CLOCK_BOOTTIME_ALARM, CLOCK_BOOTTIME, CLOCK_MONOTONIC}) {
    fd = ::timerfd_create(clock, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd >= 0) break;
  }
  return fd;
}

const char* StatusMessage(State s) {
  switch (s) {
    case State::StartPending:
      return "STATUS=Starting";
    case State::Running:
      return "READY=1\nSTATUS=Running";
    case State::StopPending:
      return "STOPPING=1\nSTATUS=Stopping";
    case State::Stopped:
      return "STATUS=Stopped";
  }
  return "";
}

}  // namespace

Switch FindSwitch(std::string_view commandLine) {
  for (size_t i = 0; i < commandLine.size(); ++i) {
    if (commandLine[i] != '-' && commandLine[i] != '/') continue;
    std::string_view rest = commandLine.substr(i + 1);
    if (automation::EqualsNoCase(rest, "UnregServer")) return Switch::UnregServer;
    if (automation::EqualsNoCase(rest, "RegServer")) return Switch::RegServer;
    if (automation::EqualsNoCase(rest, "Service")) return Switch::Service;
  }
  return Switch::None;
}

ServiceModule::~ServiceModule() {
  if (controls_ >= 0) ::close(controls_);
}

int ServiceModule::Main(std::string_view commandLine) {
  Trace("Orlenta.exe::_tWinMain started");
  Init();
  switch (FindSwitch(commandLine)) {
    case Switch::UnregServer:
      return UnregisterServer();
    case Switch::RegServer:
      return RegisterServer(false);
    case Switch::Service:
      return RegisterServer(true);
    case Switch::None:
      break;
  }
  for (std::string_view key : {kAppIdKey, kServiceAppIdKey}) {
    if (int code = OpenKey(key)) {
      std::fprintf(stderr, "%s: the key %.*s cannot be read (error %d); register with -RegServer or -Service first.\n",
                   std::string(kServiceName).c_str(), static_cast<int>(key.size()), key.data(), code);
      return code;
    }
  }
  // Registered as a service (-Service) is what makes the program try to run as one.
  serviceMode_ = registry::ReadValue(kServiceAppIdKey, "LocalService").has_value();
  Start();
  Trace("Orlenta.exe::_tWinMain finished");
  return exitCode_;
}

void ServiceModule::Init() {
  Trace("Orlenta.exe::Init started");
  state_ = State::Stopped;
  exitCode_ = 0;
  serviceMode_ = true;
  Trace("Orlenta.exe::Init finished");
}

void ServiceModule::Start() {
  Trace("Orlenta.exe::Start started");
  // Only systemd hands over a notification socket; without one the program runs in the
  // foreground like any other.
  if (serviceMode_) {
    if (manager_.Connect())
      ServiceMainEntry();
    else
      serviceMode_ = false;
  }
  if (!serviceMode_) {
    if (RegisterHandler()) {
      Run();
    } else {
      ErrorEvent("Orlenta.exe::Handler not installed");
      exitCode_ = 1;
    }
  }
  Trace("Orlenta.exe::Start finished");
}

void ServiceModule::ServiceMainEntry() {
  Trace("Orlenta.exe::_ServiceMain started");
  ServiceMain();
  Trace("Orlenta.exe::_ServiceMain finished");
}

void ServiceModule::ServiceMain() {
  Trace("Orlenta.exe::ServiceMain started");
  state_ = State::StartPending;
  if (!RegisterHandler()) {
    ErrorEvent("Orlenta.exe::Handler not installed");
    exitCode_ = 1;
    return;
  }
  SetServiceStatus(State::StartPending);
  exitCode_ = 0;
  Run();
  SetServiceStatus(State::Stopped);
  Notice("Orlenta.exe::Service stopped");
}

bool ServiceModule::RegisterHandler() {
  if (controls_ >= 0) return true;
  sigset_t set = ControlSignals();
  // Blocked signals are read from the descriptor, in the loop and during the wait for a sender.
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return false;
  controls_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (controls_ < 0) {
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    return false;
  }
  return true;
}

void ServiceModule::DispatchControls() {
  if (controls_ < 0) return;
  signalfd_siginfo info;
  while (true) {
    ssize_t n = ::read(controls_, &info, sizeof info);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof info)) return;
    if (info.ssi_signo == SIGCHLD) continue;  // only wakes the wait for a sender
    HandlerEntry(ControlFor(static_cast<int>(info.ssi_signo)));
  }
}

void ServiceModule::HandlerEntry(int control) {
  Trace("Orlenta.exe::_Handler started");
  Handler(control);
  Trace("Orlenta.exe::_Handler finished");
}

void ServiceModule::Handler(int control) {
  Trace("Orlenta.exe::Handler started");
  switch (control) {
    case kControlStop:
      if (serviceMode_) SetServiceStatus(State::StopPending);
      quit_ = true;  // the loop ends once the pass under way (if any) has ended
      break;
    case kControlPause:
    case kControlContinue:
    case kControlInterrogate:
    case kControlShutdown:
      break;
    default:
      Notice("Orlenta.exe::Bad service request");
  }
  Trace("Orlenta.exe::Handler finished");
}

void ServiceModule::SetServiceStatus(State state) {
  Trace("Orlenta.exe::SetServiceStatus started");
  state_ = state;
  manager_.Send(StatusMessage(state));
  Trace("Orlenta.exe::SetServiceStatus finished");
}

void ServiceModule::Run() {
  Trace("Orlenta.exe::Run started");
  Notice("Orlenta.exe::Service started");
  if (serviceMode_) SetServiceStatus(State::Running);

  int timer = CreateTimer();
  if (timer < 0) {
    ErrorEvent("Orlenta.exe::Unable to create timer, last error " + Number(errno));
    return;
  }
  SetupTimer(timer);
  if (timer < 0) Trace("Orlenta.exe::hTimer is null, nothing will be processed.");

  while (true) {
    DispatchControls();
    if (quit_) break;
    pollfd fds[2] = {{controls_, POLLIN, 0}, {timer, POLLIN, 0}};
    int n = ::poll(fds, timer >= 0 ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // cannot wait any more: leave as on a stop
    }
    if (timer >= 0 && (fds[1].revents & POLLIN)) {
      uint64_t expirations;
      ssize_t r = ::read(timer, &expirations, sizeof expirations);
      (void)r;
      // The next pass is due one period after the end of this one, so passes never overlap.
      ProcessEachDatabase();
      if (timer >= 0) SetupTimer(timer);
    }
  }
  if (timer >= 0) ::close(timer);
  Trace("Orlenta.exe::Run finished");
}

void ServiceModule::SetupTimer(int& timer) {
  Trace("Orlenta.exe::SetupTimer started");
  int64_t seconds = 120;
  if (OpenKey(registry::kVantrelKey) == 0) {
    if (auto v = registry::ReadValue(registry::kVantrelKey, "EMailSchedule")) seconds = int64_t{DecimalValue(*v)} * 60;
    seconds = std::clamp<int64_t>(seconds, 60, 600);
  }
  Trace("Orlenta.exe::Sleep timer = " + Number(seconds) + ".");

  int64_t ns = std::max<int64_t>(Minute().count() / 60 * seconds, 1);
  itimerspec due{};
  due.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
  due.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  if (::timerfd_settime(timer, 0, &due, nullptr) != 0) {
    ErrorEvent("Orlenta.exe::Unable set timer, last error " + Number(errno));
    ::close(timer);
    timer = -1;
    return;
  }
  Trace("Orlenta.exe::SetupTimer finished");
}

void ServiceModule::ProcessEachDatabase() {
  Trace("Orlenta.exe::ProcessEachDatabase started");
  if (int code = OpenKey(registry::kVantrelKey)) {
    ErrorEvent(
        "Orlenta.exe::Unable open registry key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel\", cannot send "
        "e-mails (" +
        Number(code) + ").");
    return;
  }
  bool sendingOff = false;
  auto schedule = registry::ReadValue(registry::kVantrelKey, "EMailSchedule");
  if (!schedule) {
    sendingOff = true;
  } else if (DecimalValue(*schedule) <= 0) {
    sendingOff = true;
    Trace("Orlenta.exe::ProcessEachDatabase escalation schedule invalid, disabling escalation.");
  }

  int code = 0;
  auto installDir = ReadValue(registry::kVantrelKey, "INSTALLDIR", &code);
  if (installDir && !IsReadableText(*installDir)) {
    code = EILSEQ;
    installDir.reset();
  } else if (installDir && automation::CharLength(*installDir) > kMaxInstallDirChars) {
    code = ENAMETOOLONG;
    installDir.reset();
  }
  if (!installDir) {
    ErrorEvent(
        "Orlenta.exe::Unable read registry key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\INSTALLDIR\", "
        "cannot send e-mails (" +
        Number(code) + ").");
    return;
  }
  if (sendingOff) {
    Trace("Orlenta.exe::ProcessEachDatabase finished (sending disabled).");
    return;
  }

  if (int c = OpenKey(registry::kDatabasesKey)) {
    ErrorEvent(
        "Orlenta.exe::Unable open registry key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\Databases\", "
        "cannot send e-mails (" +
        Number(c) + ")");
    return;
  }
  // By index, reading the key afresh each time: a database removed while an earlier sender ran
  // is not served.
  for (size_t index = 0;; ++index) {
    auto values = registry::ReadValues(registry::kDatabasesKey);
    if (index >= values.size()) break;
    const auto& [name, data] = values[index];
    // A value that cannot be used is reported and skipped; the databases after it are still served.
    if (!IsReadableText(name) || !IsReadableText(data)) {
      ErrorEvent("Orlenta.exe::ProcessEachDatabase - Value \"" + name + "\" under Databases cannot be read, skipped.");
      continue;
    }
    if (automation::CharLength(name) > kMaxDatabaseNameChars) {
      ErrorEvent("Orlenta.exe::ProcessEachDatabase - Value name \"" + name + "\" under Databases is longer than " +
                 Number(kMaxDatabaseNameChars) + " characters, skipped.");
      continue;
    }
    if (automation::CharLength(data) > kMaxConnectionStringChars) {
      ErrorEvent("Orlenta.exe::ProcessEachDatabase - Value \"" + name + "\" under Databases is longer than " +
                 Number(kMaxConnectionStringChars) + " characters, skipped.");
      continue;
    }
    std::string commandLine = std::string(kSenderFile) + " " + data;
    Trace("Orlenta.exe::ProcessEachDatabase - Invoking " + commandLine);
    vdaemon::SpawnOptions options;
    options.workingDir = *installDir;
    options.detach = true;
    const std::vector<std::filesystem::path> candidates = vdaemon::ProgramCandidates(kSenderFile, *installDir);
    vdaemon::Started sender = vdaemon::Spawn(candidates, {std::string(kSenderFile), data}, options);
    if (sender.pid < 0) {
      ErrorEvent("Orlenta.exe::ProcessEachDatabase - Unable to run \"" + commandLine + "\", error " +
                 Number(sender.error) + ".");
      // Where the sender was looked for, so that a missing one can be put where it is expected.
      if (sender.error == ENOENT)
        ErrorEvent("Orlenta.exe::ProcessEachDatabase - " + std::string(kSenderFile) + " was looked for as " +
                   vdaemon::JoinPaths(candidates) + " (beside orlenta, in INSTALLDIR, then on PATH).");
      return;
    }
    WaitForSender(sender.pid, commandLine);
    Trace("Orlenta.exe::ProcessEachDatabase - Command finished");
  }
  Trace("Orlenta.exe::ProcessEachDatabase finished");
}

void ServiceModule::WaitForSender(pid_t pid, const std::string& commandLine) {
  using Clock = std::chrono::steady_clock;
  const int32_t limit = SenderTimeoutSeconds();
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limit);
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return;  // the exit code is not used
    int waitMs = -1;
    if (limit > 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        // A hung sender would hold up every later database and every later pass.
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ErrorEvent("Orlenta.exe::ProcessEachDatabase - \"" + commandLine + "\" did not finish within " + Number(limit) +
                   " seconds and was stopped.");
        return;
      }
      waitMs = static_cast<int>(std::min<int64_t>(left, INT_MAX));
    }
    // Stop requests are answered (stop pending) while the sender runs; the loop ends after it.
    pollfd p{controls_, POLLIN, 0};
    int n = ::poll(&p, controls_ >= 0 ? 1 : 0, controls_ >= 0 ? waitMs : std::min(waitMs < 0 ? 100 : waitMs, 100));
    if (n > 0 && (p.revents & POLLIN)) DispatchControls();
  }
}

}  // namespace orlenta
