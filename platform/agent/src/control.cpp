// The agent as the management objects see it: its unit's start-at-boot link, its running state
// (an agent holds an exclusive lock on "<store>.lock" while it runs) and its start.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <thread>

#include "jobstore/jobstore.h"
#include "automation/automation.h"
#include "daemon/spawn.h"
#include "daemon/unit.h"
#include "registry/registry.h"

namespace agent {

namespace {

[[noreturn]] void Fail(int32_t number, std::string description) {
  throw automation::ComError(number, std::string(kSource), std::move(description));
}

std::vector<std::filesystem::path> ProgramCandidates() {
  std::filesystem::path installDir;
  if (auto v = registry::ReadValue(registry::kVantrelKey, "INSTALLDIR")) installDir = *v;
  return vdaemon::ProgramCandidates(kProgramFile, installDir);
}

std::filesystem::path FindProgram() {
  for (const auto& c : ProgramCandidates()) {
    if (::access(c.c_str(), X_OK) == 0) return c;
  }
  return {};
}

}  // namespace

bool StartsAtBoot() { return vdaemon::StartsAtBoot(kUnitName); }

void SetStartsAtBoot(const std::filesystem::path& program) {
  if (!vdaemon::UnitFolderUsable())
    Fail(kStoreFailed, "The unit folder " + vdaemon::UnitDir().string() + " cannot be changed.");
  if (!vdaemon::UnitInstalled(kUnitName)) {
    vdaemon::UnitSpec unit;
    unit.header = "# Installed by \"vantrel-agent -Service\"; removed by \"vantrel-agent -UnregServer\".";
    unit.description = "Vantrel Job Agent";
    unit.program = program.empty() ? FindProgram() : program;
    unit.environment = {"VANTREL_REGISTRY", "VANTREL_EVENTLOG", "VANTREL_AGENT_STORE"};
    // A stop reaches the agent only; a running backup finishes on its own.
    unit.extra = {"KillMode=mixed"};
    std::string text;
    if (!vdaemon::UnitText(unit, text)) Fail(kStoreFailed, "The agent's unit file cannot be written.");
    if (!vdaemon::WriteUnit(kUnitName, text)) Fail(kStoreFailed, "The agent's unit file cannot be written.");
    if (vdaemon::UnitDirIsSystemd()) vdaemon::Systemctl({"daemon-reload"});
    return;
  }
  if (!vdaemon::EnableUnit(kUnitName)) Fail(kStoreFailed, "The agent's start-at-boot link cannot be made.");
}

int32_t Status(const std::filesystem::path& store) {
  int fd = ::open(LockPath(store).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kStopped;
  bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // also lets go of the lock taken just now
  return held ? kRunning : kStopped;
}

void Start(const std::filesystem::path& store) {
  using namespace std::chrono;
  if (Status(store) == kRunning) return;
  pid_t pid = -1;
  if (vdaemon::UnitDirIsSystemd() && vdaemon::UnitInstalled(kUnitName)) {
    if (int rc = vdaemon::Systemctl({"start", "--no-block", std::string(kUnitName)}); rc != 0)
      Fail(kStartFailed, "systemctl start " + std::string(kUnitName) + " failed (status " + std::to_string(rc) + ")");
  } else {
    vdaemon::SpawnOptions options;
    options.detach = true;
    const std::vector<std::filesystem::path> candidates = ProgramCandidates();
    vdaemon::Started s = vdaemon::Spawn(candidates, {std::string(kProgramFile)}, options);
    if (s.pid < 0)
      Fail(kStartFailed, std::string(kProgramFile) + " cannot be started: " + std::strerror(s.error) +
                             "; it was looked for as " + vdaemon::JoinPaths(candidates) +
                             " (beside this program, in the registry's INSTALLDIR, then on PATH)");
    pid = s.pid;
  }
  auto deadline = steady_clock::now() + seconds(10);
  while (steady_clock::now() < deadline) {
    if (Status(store) == kRunning) return;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
      std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                          : "signal " + std::to_string(WTERMSIG(status));
      Fail(kStartFailed, std::string(kProgramFile) + " ended before it was running (" + how + ")");
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  Fail(kStartFailed, std::string(kProgramFile) + " was not running within 10 seconds");
}

std::vector<BackupHeader> ReadBackupHeaders(const std::filesystem::path& backup) {
  sqlite3* db = nullptr;
  std::vector<BackupHeader> out;
  bool read = false;
  // immutable: no lock, no journal, no -wal or -shm; defensive and no trusted schema: the file's
  // own schema cannot reach functions or corrupt it.
  std::string uri = "file:";
  for (char c : backup.string()) {
    if (c == '?' || c == '#' || c == '%') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      uri += buf;
    } else {
      uri += c;
    }
  }
  uri += "?immutable=1";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db,
                           "select BackupName, BackupStartDate, BackupSize, DatabaseName, DatabaseVersion "
                           "from VantrelBackupHeader",
                           -1, &st, nullptr) == SQLITE_OK) {
      auto text = [&](int i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        return std::string(t ? reinterpret_cast<const char*>(t) : "");
      };
      int rc;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        out.push_back({text(0), text(1), text(3), text(4), sqlite3_column_int64(st, 2)});
      read = rc == SQLITE_DONE;
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  if (!read || out.empty()) Fail(kNotABackup, "The file " + backup.string() + " is not a backup of a Vantrel site.");
  return out;
}

BackupHeader ReadBackupHeader(const std::filesystem::path& backup) { return ReadBackupHeaders(backup).front(); }

}  // namespace agent
