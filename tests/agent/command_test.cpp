#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobstore/maintenance_command.h"

namespace agent {
namespace {

const std::string kPrefix = "EXECUTE master.dbo.xp_sqlmaint N'";

TEST(MaintenanceCommand, TheSettingsWritersShapeIsParsed) {
  struct Case {
    std::string body;
    std::string server, database, report, folder;
    int reportWeeks, backupWeeks;
    bool check;
  };
  const std::vector<Case> cases = {
      {"-S \"/srv/a b/Site.db\" -U \"\" -P \"\" -D Site -Rpt /srv/it's here/BackupLog.txt  -DelTxtRpt 2weeks  "
       "-CkDB  -BkUpDB /srv/it's here -BkUpMedia DISK  -DelBkUps 2weeks ",
       "/srv/a b/Site.db", "Site", "/srv/it's here/BackupLog.txt", "/srv/it's here", 2, 2, true},
      {"-S \"/s.db\" -U \"sa\" -P \"***\" -D S -Rpt /b -D/BackupLog.txt  -CkDB  -BkUpDB /b -D -BkUpMedia DISK ",
       "/s.db", "S", "/b -D/BackupLog.txt", "/b -D", 0, 0, true},
      {"-S \"/s.db\" -D S -Rpt //BackupLog.txt  -DelTxtRpt 8weeks  -CkDB  -BkUpDB / -BkUpMedia DISK  -DelBkUps 1weeks ",
       "/s.db", "S", "//BackupLog.txt", "/", 8, 1, true},
  };
  for (const Case& c : cases) {
    auto plan = ParseMaintenanceCommand(kPrefix + c.body + "'");
    ASSERT_TRUE(plan) << c.body;
    EXPECT_EQ(plan->server, c.server);
    EXPECT_EQ(plan->database, c.database);
    EXPECT_EQ(plan->report, c.report);
    EXPECT_EQ(plan->backupFolder, c.folder);
    EXPECT_EQ(plan->deleteReportsWeeks, c.reportWeeks);
    EXPECT_EQ(plan->deleteBackupsWeeks, c.backupWeeks);
    EXPECT_EQ(plan->checkDatabase, c.check);
  }
}

TEST(MaintenanceCommand, WhatTheWriterWritesIsReadBack) {
  auto plan = [](std::optional<std::string> login, bool password, int weeks, bool check) {
    MaintenancePlan p;
    p.server = "/srv/a b/Site.db";
    p.login = std::move(login);
    p.passwordGiven = password;
    p.database = "Site";
    p.report = "/srv/it's here/BackupLog.txt";
    p.deleteReportsWeeks = p.deleteBackupsWeeks = weeks;
    p.checkDatabase = check;
    p.backupFolder = "/srv/it's here";
    return p;
  };
  const std::vector<MaintenancePlan> plans = {
      plan(std::string(), false, 2, true), plan(std::nullopt, false, 0, true), plan(std::string("sa"), true, 9, false)};
  EXPECT_EQ(WriteMaintenanceCommand(plans[0]),
            kPrefix + "-S \"/srv/a b/Site.db\" -U \"\" -P \"\" -D Site -Rpt /srv/it's here/BackupLog.txt  "
                      "-DelTxtRpt 2weeks  -CkDB  -BkUpDB /srv/it's here -BkUpMedia DISK  -DelBkUps 2weeks '");
  for (const MaintenancePlan& p : plans) {
    auto back = ParseMaintenanceCommand(WriteMaintenanceCommand(p));
    ASSERT_TRUE(back) << WriteMaintenanceCommand(p);
    EXPECT_EQ(back->server, p.server);
    EXPECT_EQ(back->login, p.login);
    EXPECT_EQ(back->passwordGiven, p.passwordGiven);
    EXPECT_EQ(back->database, p.database);
    EXPECT_EQ(back->report, p.report);
    EXPECT_EQ(back->deleteReportsWeeks, p.deleteReportsWeeks);
    EXPECT_EQ(back->checkDatabase, p.checkDatabase);
    EXPECT_EQ(back->backupFolder, p.backupFolder);
    EXPECT_EQ(back->deleteBackupsWeeks, p.deleteBackupsWeeks);
  }
}

TEST(MaintenanceCommand, AnyOtherTextIsRefused) {
  const std::string good = "-S \"/s.db\" -U \"\" -P \"\" -D S -Rpt /b/BackupLog.txt  -CkDB  -BkUpDB /b -BkUpMedia DISK ";
  const std::vector<std::string> commands = {
      "",
      "rm -rf /",
      "EXECUTE master.dbo.xp_cmdshell N'" + good + "'",
      kPrefix + good,                                     // no closing apostrophe
      kPrefix + good + "' ; drop table Users",            // text after the command
      kPrefix + "-D S -S \"/s.db\" -Rpt /b/x -BkUpDB /b -BkUpMedia DISK '",  // out of order
      kPrefix + "-S /s.db -D S -Rpt /b/x -BkUpDB /b -BkUpMedia DISK '",      // server not quoted
      kPrefix + "-S \"s.db\" -D S -Rpt /b/x -BkUpDB /b -BkUpMedia DISK '",   // relative server
      kPrefix + "-S \"/s.db\" -D S -Rpt b/x -BkUpDB /b -BkUpMedia DISK '",   // relative report
      kPrefix + "-S \"/s.db\" -D S -Rpt /b/x -BkUpDB b -BkUpMedia DISK '",   // relative folder
      kPrefix + "-S \"/s.db\" -D S -Rpt /b/x -BkUpDB /b -BkUpMedia TAPE '",
      kPrefix + "-S \"/s.db\" -D S -Rpt /b/x -BkUpDB /b -BkUpMedia DISK -DelBkUps 2days '",
      kPrefix + "-S \"/s.db\" -D S -Rpt /b/x -BkUpDB /b -BkUpMedia DISK -Shell x '",
      kPrefix + "-S \"/s.db\" -D ../S -Rpt /b/x -BkUpDB /b -BkUpMedia DISK '",
  };
  for (const std::string& c : commands) EXPECT_FALSE(ParseMaintenanceCommand(c)) << c;
}

}  // namespace
}  // namespace agent
