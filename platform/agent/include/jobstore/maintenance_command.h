// The backup step's command: the one text the backup settings writer stores in the job store and
// the agent reads back before it runs anything. Both sides go through here, so the shape is kept
// in one place: "EXECUTE master.dbo.xp_sqlmaint N'<switches>'" with the switches in a fixed order.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace agent {

struct MaintenancePlan {
  std::string server;                 // -S: the site's file
  std::optional<std::string> login;   // -U with -P: a SQL login (none with integrated security)
  bool passwordGiven = false;         // -P "***": the login has a password, never written itself
  std::string database;               // -D
  std::filesystem::path report;       // -Rpt: the report's name (its folder receives the stamped one)
  int deleteReportsWeeks = 0;         // -DelTxtRpt Nweeks (0: keep; 1 to 9)
  bool checkDatabase = false;         // -CkDB
  std::filesystem::path backupFolder; // -BkUpDB
  int deleteBackupsWeeks = 0;         // -DelBkUps Nweeks (0: keep; 1 to 9)
};

std::string WriteMaintenanceCommand(const MaintenancePlan& plan);
// The plan of a command of that shape; nullopt for any other text.
std::optional<MaintenancePlan> ParseMaintenanceCommand(std::string_view command);

}  // namespace agent
