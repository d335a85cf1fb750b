// The backup step: the run that copies the live site into a stamped backup file with its report,
// carrying out the plan of the step's command (jobstore/maintenance_command.h reads it).
#pragma once

#include <ctime>
#include <string>

#include "jobstore/maintenance_command.h"

namespace vagent {

using agent::MaintenancePlan;

// Runs the plan at `start`; true on success, with the report's lines (or the failure) in `message`.
bool RunBackup(const MaintenancePlan& plan, std::time_t start, std::string& message);

}  // namespace vagent
