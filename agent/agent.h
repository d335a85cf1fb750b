// vantrel-agent: one per machine. It holds an exclusive lock on "<store>.lock" while it runs,
// starts each due or requested job as a child of its own (this program with "--run-job <id>"),
// one run per job at a time, and marks runs that a dead agent or child left behind as failed.
#pragma once

#include <cstdint>
#include <string>

namespace vagent {

inline constexpr const char* kRunSwitch = "--run-job";

// The agent's loop until SIGTERM or SIGINT; the exit code.
int RunAgent();
// One run of a job in this process: the step rows, then the outcome; the exit code (0 succeeded,
// 1 failed with its outcome written).
int RunJob(int64_t jobId);

}  // namespace vagent
