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
  for (const agent::RunRequest& r : store.RunRequests(true)) {
    Failed(store, r.jobId, r.requestedAt, kLeftBehind);
    store.EndRun(r.jobId);
  }
}

void QueueDue(agent::Store& store, std::time_t now) {
  for (const agent::ScheduleState& s : store.EnabledSchedules()) {
    auto next = NextOccurrence(s.schedule, s.lastDue);
    if (!next || *next > now) continue;
    // Occurrences missed while the agent was stopped run once, not once each.
    store.ScheduleCameDue(s.scheduleId, s.jobId, now);
  }
}

void StartQueued(agent::Store& store) {
  std::filesystem::path self = vdaemon::ProgramPath();
  for (const agent::RunRequest& r : store.RunRequests(false)) {
    vdaemon::Started s = vdaemon::Spawn({self}, {"vantrel-agent", kRunSwitch, std::to_string(r.jobId)}, {});
    std::time_t now = std::time(nullptr);
    if (s.pid < 0) {
      Failed(store, r.jobId, now, std::string("The job failed. The run could not start: ") + std::strerror(s.error));
      store.EndRun(r.jobId);
      continue;
    }
    store.MarkRunning(r.jobId, s.pid, now);
  }
}

void ReapChildren(agent::Store& store) {
  int status = 0;
  pid_t pid;
  while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
    auto run = store.RunOfChild(pid);
    if (!run) continue;
    bool reported = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
    // The outcome and the end of the request are seen together.
    store.Begin();
    if (!reported) Failed(store, run->jobId, run->requestedAt, kLeftBehind);
    store.EndRun(run->jobId);
    store.Commit();
  }
}

// The lock's descriptor, or -1 with `error` set (EWOULDBLOCK: another agent holds it).
int TakeLock(const std::filesystem::path& store, int& error) {
  int fd = ::open(agent::LockPath(store).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int RunAgent() {
  const std::filesystem::path storeFile = agent::StorePath();
  try {
    agent::MakeStoreFolder(storeFile);
  } catch (const automation::ComError& e) {
    eventlog::Error("vantrel-agent: " + e.description);
    std::fprintf(stderr, "vantrel-agent: %s\n", e.description.c_str());
    return 1;
  }
  int error = 0;
  int lock = TakeLock(storeFile, error);
  if (lock < 0) {
    if (error == EWOULDBLOCK)
      std::fprintf(stderr, "vantrel-agent: another agent holds %s\n", agent::LockPath(storeFile).c_str());
    else
      std::fprintf(stderr, "vantrel-agent: the lock %s cannot be opened: %s\n", agent::LockPath(storeFile).c_str(),
                   std::strerror(error));
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
    store.SetAgentProcess(::getpid());
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
