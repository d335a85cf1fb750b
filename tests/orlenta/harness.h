// Runs the real orlenta program as a child process against a registry file, an event log file,
// a unit folder and a fake sender, all in a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "eventlog/eventlog.h"
#include "support/temp_dir.h"

namespace orlentatest {

using namespace std::chrono_literals;

inline constexpr auto kWait = 10s;  // upper bound for anything the tests wait for

// One orlenta process. Killed and collected at the end if it is still running.
class Process {
 public:
  Process(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& env,
          const std::filesystem::path& stderrFile);
  ~Process();
  void Signal(int sig);
  // The exit code (128 + signal when killed), or nullopt if it is still running after timeout.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = kWait);
  bool Running();

 private:
  pid_t pid_ = -1;
  std::optional<int> exit_;
};

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path);
  ~NotifySocket();
  std::optional<std::string> Receive(std::chrono::milliseconds timeout = kWait);
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// A line the fake sender wrote: "start" with its argument count, first argument, working folder,
// time (ns since the epoch), blocked-signal mask, whether it leads its own session and when the
// kernel created its process (ms since boot: the moment of the fork, however late the script ran);
// or "end" with its argument and time.
struct SenderRecord {
  std::string kind;
  int argc = 0;
  std::string arg;
  std::string dir;
  int64_t ns = 0;
  std::string blockedSignals;
  bool ownSession = false;
  int64_t forkedMs = 0;
};

class OrlentaTest : public ::testing::Test {
 protected:
  OrlentaTest();

  // Registry content.
  void SetProductValue(const std::string& name, const std::string& value);
  void AddDatabase(const std::string& name, const std::string& data);
  void StandardSetup(const std::string& schedule = "5");  // tracing on, INSTALLDIR, schedule
  void RegisterAppId();                                   // what -RegServer writes

  // The fake sender in INSTALLDIR: records each start and end; an argument containing "hold"
  // waits for Release(), one containing "hang" sleeps for seconds.
  void WriteFakeSender(const std::filesystem::path& folder);
  void Release();

  std::unique_ptr<Process> Start(const std::vector<std::string>& args = {},
                                 const std::vector<std::pair<std::string, std::string>>& env = {});
  // Runs to the end (bounded); returns the exit code.
  int Run(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& env = {});
  std::string Stderr() const;

  std::vector<eventlog::Event> Events() const;
  std::vector<std::string> Texts() const;
  size_t Count(const std::string& text) const;
  // Waits until text has been logged at least times times.
  bool WaitForText(const std::string& text, size_t times = 1) const;
  void ClearEvents() const;

  std::vector<SenderRecord> Records() const;
  std::vector<SenderRecord> Starts() const;
  bool WaitFor(const std::function<bool()>& condition) const;

  testsupport::TempDir dir;
  std::filesystem::path installDir = dir / "install";
  std::filesystem::path unitDir = dir / "units";
  std::filesystem::path eventFile = dir / "events.log";
  std::filesystem::path recordFile = dir / "records";
  std::filesystem::path releaseFile = dir / "release";
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  testsupport::ScopedEnv eventEnv{"VANTREL_EVENTLOG", eventFile.string()};
  testsupport::ScopedEnv unitEnv{"VANTREL_UNIT_DIR", unitDir.string()};
  testsupport::ScopedEnv minuteEnv{"VANTREL_MINUTE_SECONDS", "0.01"};
  testsupport::ScopedEnv recordEnv{"FAKE_SENDER_RECORD", recordFile.string()};
  testsupport::ScopedEnv releaseEnv{"FAKE_SENDER_RELEASE", releaseFile.string()};
};

}  // namespace orlentatest
