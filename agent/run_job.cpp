// One run of a job: each step in order, its history row, then the run's outcome (step 0).
#include <chrono>
#include <ctime>

#include "agent.h"
#include "jobstore/jobstore.h"
#include "automation/automation.h"
#include "backup.h"
#include "test_mail.h"

namespace vagent {

namespace {

int32_t Duration(std::time_t from, std::time_t to) {
  long s = static_cast<long>(to - from);
  if (s < 0) s = 0;
  return static_cast<int32_t>(s / 3600 * 10000 + s / 60 % 60 * 100 + s % 60);
}

// Only steps of the shapes the library's writers produce are run; any other text runs nothing.
bool RunStep(const agent::Step& step, std::time_t start, std::string& message) {
  if (step.subsystem == agent::kTestMailSubsystem) return RunTestMailStep(step, message);
  if (step.subsystem != "TSQL") {
    message = "The step's subsystem " + step.subsystem + " is not one this agent runs; nothing was run.";
    return false;
  }
  auto plan = agent::ParseMaintenanceCommand(step.command);
  if (!plan) {
    message = "The step's command is not a backup command this agent runs; nothing was run.";
    return false;
  }
  return RunBackup(*plan, start, message);
}

}  // namespace

int RunJob(int64_t jobId) {
  try {
    agent::Store store;
    auto job = store.JobById(jobId);
    if (!job) return 2;
    const std::time_t start = std::time(nullptr);
    bool ok = true;
    int32_t last = 0;
    std::string lastName;
    for (const agent::Step& step : store.Steps(jobId)) {
      std::time_t stepStart = std::time(nullptr);
      std::string message;
      bool stepOk = RunStep(step, start, message);
      store.AddHistory(jobId, {0, step.id, step.name, stepOk ? agent::kSucceeded : agent::kFailed,
                               agent::DateNumber(stepStart), agent::TimeNumber(stepStart),
                               Duration(stepStart, std::time(nullptr)), message});
      last = step.id;
      lastName = step.name;
      if (!stepOk) {
        ok = false;
        break;
      }
    }
    std::string outcome = ok ? "The job succeeded." : "The job failed.";
    if (last) outcome += " The last step to run was step " + std::to_string(last) + " (" + lastName + ").";
    store.AddHistory(jobId, {0, 0, "(Job outcome)", ok ? agent::kSucceeded : agent::kFailed, agent::DateNumber(start),
                             agent::TimeNumber(start), Duration(start, std::time(nullptr)), outcome});
    return ok ? 0 : 1;
  } catch (const automation::ComError&) {
    return 2;  // no outcome written: the agent records the failure
  }
}

}  // namespace vagent
