// The backup step: the one command shape the backup settings writer produces, parsed into its
// switches, and the run that copies the live site into a stamped backup file with its report.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vagent {

struct MaintenancePlan {
  std::string server;                 // -S: the site's file
  std::string database;               // -D
  std::filesystem::path report;       // -Rpt: the report's name (its folder receives the stamped one)
  int deleteReportsWeeks = 0;         // -DelTxtRpt Nweeks (0: keep)
  bool checkDatabase = false;         // -CkDB
  std::filesystem::path backupFolder; // -BkUpDB
  int deleteBackupsWeeks = 0;         // -DelBkUps Nweeks (0: keep)
};

// The plan of an "EXECUTE master.dbo.xp_sqlmaint N'...'" command; nullopt for any other text.
std::optional<MaintenancePlan> ParseMaintenanceCommand(std::string_view command);

// Runs the plan at `start`; true on success, with the report's lines (or the failure) in `message`.
bool RunBackup(const MaintenancePlan& plan, std::time_t start, std::string& message);

}  // namespace vagent
