// Starting programs without a shell: fork, then exec with an argument vector. Shared by the
// notification service and the job agent.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vdaemon {

struct Started {
  pid_t pid = -1;
  int error = 0;  // errno of the failed fork, chdir or exec; 0 when the program runs
};

struct SpawnOptions {
  std::optional<std::filesystem::path> workingDir;  // none: inherit
  bool detach = false;                              // own session and process group, no terminal, stdin /dev/null
};

// Tries the candidate program files in order (the next one only when a file is missing, as a
// PATH search does) with the argument vector argv (argv[0] included). Returns once the program
// has been exec'd or has failed to start; the caller reaps it.
Started Spawn(const std::vector<std::filesystem::path>& candidates, const std::vector<std::string>& argv,
              const SpawnOptions& options);

// Where a companion program `file` is looked for, in order: the folder of this program, then
// `installDir` (the registry's INSTALLDIR), then the absolute folders of PATH.
std::vector<std::filesystem::path> ProgramCandidates(std::string_view file, const std::filesystem::path& installDir);

// The candidates as a text for a message that says where a program was looked for: "a, b, c"
// ("nowhere" for none).
std::string JoinPaths(const std::vector<std::filesystem::path>& candidates);

// The full path of the running program file ("" when it cannot be read).
std::filesystem::path ProgramPath();

// Runs a helper program to its end; its exit status, or -1 when it could not run.
int RunToEnd(const std::vector<std::filesystem::path>& candidates, const std::vector<std::string>& argv);

}  // namespace vdaemon
