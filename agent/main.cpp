// vantrel-agent [-Service | -UnregServer | --run-job <id>]: without a switch the agent runs in the
// foreground (also under systemd, Type=notify). -Service writes and enables its unit, with the
// registry, event log and job store of this installation; -UnregServer removes it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent.h"
#include "jobstore/jobstore.h"
#include "automation/automation.h"
#include "daemon/spawn.h"
#include "daemon/unit.h"

namespace {

bool Is(const char* arg, const char* name) {
  return (arg[0] == '-' || arg[0] == '/') && strcasecmp(arg + 1, name) == 0;
}

int Install() {
  try {
    agent::SetStartsAtBoot(vdaemon::ProgramPath());
    return 0;
  } catch (const automation::ComError& e) {
    std::fprintf(stderr, "vantrel-agent: %s\n", e.description.c_str());
    return 1;
  }
}

int Uninstall() {
  if (!vdaemon::UnitInstalled(agent::kUnitName)) return 0;
  if (vdaemon::UnitDirIsSystemd()) vdaemon::Systemctl({"stop", "--no-block", std::string(agent::kUnitName)});
  if (!vdaemon::RemoveUnit(agent::kUnitName)) {
    std::fprintf(stderr, "vantrel-agent: the unit could not be removed\n");
    return 1;
  }
  if (vdaemon::UnitDirIsSystemd()) vdaemon::Systemctl({"daemon-reload"});
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], vagent::kRunSwitch) == 0) {
    char* end = nullptr;
    long long id = std::strtoll(argv[2], &end, 10);
    return end && *end == '\0' && id > 0 ? vagent::RunJob(id) : 2;
  }
  if (argc == 2 && Is(argv[1], "Service")) return Install();
  if (argc == 2 && Is(argv[1], "UnregServer")) return Uninstall();
  if (argc != 1) {
    std::fprintf(stderr, "usage: vantrel-agent [-Service | -UnregServer]\n");
    return 2;
  }
  return vagent::RunAgent();
}
