// The agent's loop: the lock, recovery of runs left behind, then every quarter second the due
// schedules, the run requests and the children that ended.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "agent.h"
#include "jobstore/jobstore.h"
#include "automation/automation.h"
#include "daemon/notify.h"
#include "daemon/spawn.h"
#include "eventlog/eventlog.h"
#include "schedule.h"

namespace vagent {

namespace {

constexpr const char* kLeftBehind =
    "The job failed. The run ended without reporting its outcome (the agent or the run was stopped).";

void Failed(agent::Store& store, int64_t jobId, std::time_t when, const std::string& message) {
  store.AddHistory(jobId, {0, 0, "(Job outcome)", agent::kFailed, agent::DateNumber(when), agent::TimeNumber(when), 0,
                           message});
}

// Runs marked running belong to an agent or child that is gone: they failed.
void RecoverLeftBehind(agent::Store& store) {
  for (const auto& r : store.Rows("select JobId, RequestedAt from RunRequests where State = 'Running'")) {
    int64_t jobId = std::stoll(r[0]);
    Failed(store, jobId, static_cast<std::time_t>(std::stoll(r[1])), kLeftBehind);
    store.Exec("delete from RunRequests where JobId = ?", {r[0]});
  }
}

void QueueDue(agent::Store& store, std::time_t now) {
  for (const auto& r : store.Rows(
           "select s.ScheduleId, s.JobId, s.FrequencyType, s.FrequencyInterval, s.ActiveStartDate, s.ActiveStartTime, "
           "s.ActiveEndDate, s.ActiveEndTime, s.LastDue from JobSchedules s join Jobs j on j.JobId = s.JobId "
           "where j.Enabled = 1")) {
    agent::Schedule s{"", std::stoi(r[2]), std::stoi(r[3]), std::stoi(r[4]), std::stoi(r[5]), std::stoi(r[6]),
                      std::stoi(r[7])};
    auto next = NextOccurrence(s, static_cast<std::time_t>(std::stoll(r[8])));
    if (!next || *next > now) continue;
    // Occurrences missed while the agent was stopped run once, not once each.
    store.Exec("update JobSchedules set LastDue = ? where ScheduleId = ?", {std::to_string(now), r[0]});
    store.Exec("insert or ignore into RunRequests (JobId) values (?)", {r[1]});
  }
}

void StartQueued(agent::Store& store) {
  std::filesystem::path self = vdaemon::ProgramPath();
  for (const auto& r : store.Rows("select JobId from RunRequests where State = 'Queued' order by RequestedAt")) {
    vdaemon::Started s = vdaemon::Spawn({self}, {"vantrel-agent", kRunSwitch, r[0]}, {});
    std::time_t now = std::time(nullptr);
    if (s.pid < 0) {
      Failed(store, std::stoll(r[0]), now, std::string("The job failed. The run could not start: ") + std::strerror(s.error));
      store.Exec("delete from RunRequests where JobId = ?", {r[0]});
      continue;
    }
    store.Exec("update RunRequests set State = 'Running', Pid = ?, RequestedAt = ? where JobId = ?",
               {std::to_string(s.pid), std::to_string(now), r[0]});
  }
}

void ReapChildren(agent::Store& store) {
  int status = 0;
  pid_t pid;
  while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
    auto rows = store.Rows("select JobId, RequestedAt from RunRequests where Pid = ?", {std::to_string(pid)});
    if (rows.empty()) continue;
    bool reported = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
    // The outcome and the end of the request are seen together.
    store.Begin();
    if (!reported) Failed(store, std::stoll(rows[0][0]), static_cast<std::time_t>(std::stoll(rows[0][1])), kLeftBehind);
    store.Exec("delete from RunRequests where JobId = ?", {rows[0][0]});
    store.Commit();
  }
}

int TakeLock(const std::filesystem::path& store) {
  int fd = ::open(agent::LockPath(store).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int RunAgent() {
  const std::filesystem::path storeFile = agent::StorePath();
  int lock = TakeLock(storeFile);
  if (lock < 0) {
    std::fprintf(stderr, "vantrel-agent: another agent holds %s\n", agent::LockPath(storeFile).c_str());
    return 1;
  }
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT, SIGCHLD}) sigaddset(&set, sig);
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
  int signals = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  vdaemon::ServiceManager manager;
  manager.Connect();
  int code = 0;
  try {
    agent::Store store(storeFile);
    store.Begin();
    RecoverLeftBehind(store);
    store.Commit();
    store.Exec("insert or replace into AgentState (Id, Pid, StartedAt) values (1, ?, unixepoch())",
               {std::to_string(::getpid())});
    manager.Send("READY=1");
    eventlog::Information("vantrel-agent started");
    for (bool quit = false; !quit;) {
      ReapChildren(store);
      QueueDue(store, std::time(nullptr));
      StartQueued(store);
      pollfd p{signals, POLLIN, 0};
      if (::poll(&p, 1, 250) > 0) {
        signalfd_siginfo info;
        while (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
          if (info.ssi_signo != SIGCHLD) quit = true;
      }
    }
    manager.Send("STOPPING=1");
  } catch (const automation::ComError& e) {
    eventlog::Error("vantrel-agent: " + e.description);
    std::fprintf(stderr, "vantrel-agent: %s\n", e.description.c_str());
    code = 1;
  }
  ::close(signals);
  ::close(lock);
  return code;
}

}  // namespace vagent
