#include <sys/stat.h>

#include <ctime>

#include "backup_site.h"

namespace brisquel::backuptest {
namespace {

using automation::Variant;

const std::string kUnchanged = "0|Day|02:00||0|2 Weeks";

class BackupSettingsTest : public BackupSite {};

TEST_F(BackupSettingsTest, ASaveWritesTheRowTheJobItsStepAndItsSchedule) {
  ASSERT_TRUE(Save(Settings())) << admin->GetLastErrorMessage();
  EXPECT_EQ(Row(), "1|Day|02:00|" + archive.string() + "|1|2 Weeks");
  auto job = Job();
  ASSERT_TRUE(job);
  EXPECT_EQ(job->server, file.string());
  EXPECT_EQ(job->description, "Vantrel Disk to Disk Backup");
  EXPECT_EQ(job->category, "Database Maintenance");
  EXPECT_TRUE(job->enabled);
  auto steps = Store()->Steps(job->id);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].id, 1);
  EXPECT_EQ(steps[0].name, "Backup");
  EXPECT_EQ(steps[0].subsystem, "TSQL");
  EXPECT_EQ(steps[0].database, "Site");
  EXPECT_EQ(steps[0].command, "EXECUTE master.dbo.xp_sqlmaint N'-S \"" + file.string() + "\" -U \"\" -P \"\" -D Site -Rpt " +
                                  archive.string() + "/BackupLog.txt  -DelTxtRpt 2weeks  -CkDB  -BkUpDB " +
                                  archive.string() + " -BkUpMedia DISK  -DelBkUps 2weeks '");
  auto schedules = Store()->Schedules(job->id);
  ASSERT_EQ(schedules.size(), 1u);
  EXPECT_EQ(schedules[0].name, "Day");
  EXPECT_EQ(schedules[0].frequencyType, 4);
  EXPECT_EQ(schedules[0].interval, 1);
  EXPECT_EQ(schedules[0].activeStartDate, agent::DateNumber(std::time(nullptr)));
  EXPECT_EQ(schedules[0].activeStartTime, 20000);
  EXPECT_EQ(schedules[0].activeEndDate, 99991231);
  EXPECT_EQ(schedules[0].activeEndTime, 235959);
}

TEST_F(BackupSettingsTest, ScheduleFollowsFrequencyTimeAndSwitch) {
  struct Case {
    Fields changes;
    size_t schedules;
    int32_t interval, startTime;
  };
  const std::vector<Case> cases = {
      {{{"BackupFrequency", "7 Days"}, {"BackupTime", "23:00"}}, 1, 7, 230000},
      {{{"BackupFrequency", "3 days"}, {"BackupTime", "00:00"}}, 1, 3, 0},
      // "24:00" stays as posted; the agent runs it at midnight at the end of the day.
      {{{"BackupTime", "24:00"}}, 1, 1, 240000},
      {{{"BackupDatabase", ""}}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Save(Settings(c.changes))) << admin->GetLastErrorMessage();
    auto schedules = Store()->Schedules(Job()->id);
    ASSERT_EQ(schedules.size(), c.schedules);
    if (c.schedules) {
      EXPECT_EQ(schedules[0].interval, c.interval);
      EXPECT_EQ(schedules[0].activeStartTime, c.startTime);
    }
  }
  // Saved again: still one job, one step.
  EXPECT_EQ(Store()->Rows("select count(*) from Jobs")[0][0], "1");
  EXPECT_EQ(Store()->Steps(Job()->id).size(), 1u);
}

TEST_F(BackupSettingsTest, ExpiryOffLeavesTheExpiryPartsOut) {
  ASSERT_TRUE(Save(Settings({{"ExpireBackups", ""}, {"BackupRetention", "nonsense"}})));
  std::string command = Store()->Steps(Job()->id)[0].command;
  EXPECT_NE(command.find("/BackupLog.txt  -CkDB  -BkUpDB " + archive.string() + " -BkUpMedia DISK '"),
            std::string::npos)
      << command;
  EXPECT_EQ(Row(), "1|Day|02:00|" + archive.string() + "|0|2 Weeks");
}

TEST_F(BackupSettingsTest, RetentionGivesTheWeeksOfBothExpiryParts) {
  for (const auto& [retention, part] : std::vector<std::pair<std::string, std::string>>{
           {"1 Week", "1weeks"}, {"8 Weeks", "8weeks"}}) {
    ASSERT_TRUE(Save(Settings({{"BackupRetention", retention}})));
    std::string command = Store()->Steps(Job()->id)[0].command;
    EXPECT_NE(command.find(" -DelTxtRpt " + part + "  -CkDB"), std::string::npos) << command;
    EXPECT_NE(command.find(" -DelBkUps " + part + " '"), std::string::npos) << command;
  }
}

TEST_F(BackupSettingsTest, RefusalsSayWhyAndWriteNothing) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"BackupFrequency", "8 Days"}}, "Invalid backup frequency."},
      {{{"BackupTime", "02:30"}}, "Invalid backup time."},
      {{{"BackupTime", "25:00"}}, "Invalid backup time."},
      {{{"BackupRetention", "9 Weeks"}}, "Invalid expiry age."},
      {{{"BackupArchive", "backups"}},
       "Folder to store backups in does not exist (Folder name must begin with either '\\' or a drive "
       "specification.)."},
      {{{"BackupArchive", (dir / "missing").string()}},
       "Folder to store backups in does not exist (No such file or directory)."},
  };
  for (const auto& [changes, sentence] : cases) {
    EXPECT_FALSE(Save(Settings(changes)));
    EXPECT_EQ(admin->GetLastErrorMessage(), sentence);
    EXPECT_EQ(Row(), kUnchanged);
    EXPECT_FALSE(Job());
  }
}

TEST_F(BackupSettingsTest, OnlySiteAdministratorsSave) {
  for (const std::string user : {"bob", "", "nobody"}) {
    EXPECT_FALSE(Save(Settings(), user));
    EXPECT_EQ(admin->GetLastErrorMessage(), "Permission denied.");
  }
  EXPECT_EQ(Row(), kUnchanged);
  EXPECT_FALSE(Job());
}

TEST_F(BackupSettingsTest, BackupsOffKeepStoredFrequencyAndTimeWhateverWasPosted) {
  ASSERT_TRUE(Save(Settings({{"BackupDatabase", ""}, {"BackupFrequency", "often"}, {"BackupTime", "noon"}})));
  EXPECT_EQ(Row(), "0|Day|02:00|" + archive.string() + "|1|2 Weeks");
  EXPECT_TRUE(Store()->Schedules(Job()->id).empty());
}

TEST_F(BackupSettingsTest, TwoSavesOfOneReadConflict) {
  auto rs = GetBackupRs(*admin);
  auto again = GetBackupRs(*admin);
  ASSERT_TRUE(UpdateBackup(*admin, "admin", rs, Form(Settings())));
  EXPECT_FALSE(UpdateBackup(*admin, "admin", again, Form(Settings({{"BackupTime", "05:00"}}))));
  EXPECT_EQ(admin->GetLastErrorMessage(),
            "Another user has changed the backup configuration. You must cancel your changes.");
  EXPECT_EQ(Row(), "1|Day|02:00|" + archive.string() + "|1|2 Weeks");
  EXPECT_EQ(Store()->Schedules(Job()->id)[0].activeStartTime, 20000);
}

TEST_F(BackupSettingsTest, AJobStoreFailureRefusesTheSaveAndKeepsRowAndJob) {
  ASSERT_TRUE(Save(Settings()));
  Store()->Exec("CREATE TRIGGER refuse BEFORE INSERT ON JobSteps BEGIN SELECT RAISE(ABORT, 'store refused'); END");
  EXPECT_FALSE(Save(Settings({{"BackupTime", "04:00"}})));
  EXPECT_EQ(admin->GetLastErrorMessage().rfind("An unexpected error has occurred.\r\nError number: ", 0), 0u);
  EXPECT_NE(admin->GetLastErrorMessage().find("store refused"), std::string::npos);
  EXPECT_EQ(Row(), "1|Day|02:00|" + archive.string() + "|1|2 Weeks");
  EXPECT_EQ(Store()->Steps(Job()->id).size(), 1u);
  ASSERT_EQ(Store()->Schedules(Job()->id).size(), 1u);
  EXPECT_EQ(Store()->Schedules(Job()->id)[0].activeStartTime, 20000);
  // Nothing was left open: the next save goes through once the store takes it.
  Store()->Exec("DROP TRIGGER refuse");
  EXPECT_TRUE(Save(Settings({{"BackupTime", "04:00"}}))) << admin->GetLastErrorMessage();
}

TEST_F(BackupSettingsTest, APasswordInTheConnectionStringNeverReachesTheStep) {
  admin->SetConnectionString(sitedb::ConnectionString(file) + ";User ID=sa;Password=hunter2");
  ASSERT_TRUE(Save(Settings()));
  std::string command = Store()->Steps(Job()->id)[0].command;
  EXPECT_NE(command.find("-U \"sa\" -P \"***\" -D Site"), std::string::npos) << command;
  EXPECT_EQ(command.find("hunter2"), std::string::npos);
}

TEST_F(BackupSettingsTest, SitesWhoseFilesShareAStemHaveJobsOfTheirOwn) {
  ASSERT_TRUE(Save(Settings()));
  fs::create_directories(dir / "other");
  fs::copy_file(file, dir / "other" / "Site.db");
  auto second = std::make_shared<DbAdmin>();
  second->SetConnectionString(sitedb::ConnectionString(dir / "other" / "Site.db"));
  ASSERT_TRUE(UpdateBackup(*second, "admin", GetBackupRs(*second), Form(Settings({{"BackupTime", "05:00"}}))));
  EXPECT_EQ(Store()->Rows("select count(*) from Jobs where Name = 'Site Backup'")[0][0], "2");
  EXPECT_EQ(Store()->Schedules(Job()->id)[0].activeStartTime, 20000);
}

TEST_F(BackupSettingsTest, InitializeJobScheduleSavesDefaultsIntoTheSitesBackupFolder) {
  fs::create_directories(dir / "web" / "Backups");
  EXPECT_TRUE(InitializeJobSchedule(*admin, (dir / "web").string())) << admin->GetLastErrorMessage();
  EXPECT_EQ(Row(), "1|Day|02:00|" + (dir / "web" / "Backups").string() + "|1|2 Weeks");
  EXPECT_EQ(Store()->Schedules(Job()->id).size(), 1u);
}

TEST_F(BackupSettingsTest, InitializeJobScheduleWithoutTheFolderSavesBackupsOff) {
  EXPECT_FALSE(InitializeJobSchedule(*admin, (dir / "web").string()));
  EXPECT_EQ(admin->GetLastErrorMessage(), "Missing backup folder: " + (dir / "web" / "Backups").string());
  EXPECT_EQ(Row(), "0|Day|02:00|/|0|2 Weeks");
  EXPECT_NE(Store()->Steps(Job()->id)[0].command.find("-Rpt //BackupLog.txt  -CkDB  -BkUpDB / -BkUpMedia DISK '"),
            std::string::npos);
  EXPECT_TRUE(Store()->Schedules(Job()->id).empty());
}

TEST_F(BackupSettingsTest, FolderExistsTakesAbsoluteFoldersItCanEnter) {
  fs::create_directories(dir / "closed");
  ::chmod((dir / "closed").c_str(), 0);
  const bool root = ::geteuid() == 0;
  const std::vector<std::tuple<std::string, bool, std::string>> cases = {
      {archive.string(), true, ""},
      {"relative/folder", false, "Folder name must begin with either '\\' or a drive specification."},
      {"", false, "Folder name must begin with either '\\' or a drive specification."},
      {(dir / "missing").string(), false, "No such file or directory"},
      {file.string(), false, "Not a directory"},
      {(dir / "closed").string(), root, root ? "" : "Permission denied"},
  };
  for (const auto& [name, exists, message] : cases) {
    EXPECT_EQ(FolderExists(*admin, name), exists) << name;
    EXPECT_EQ(admin->GetLastErrorMessage(), message) << name;
    admin->Site().SetLastErrorMessage("");
  }
  ::chmod((dir / "closed").c_str(), 0700);
}

TEST_F(BackupSettingsTest, ConnectionParmsTakeTheFirstOfEachItem) {
  struct Case {
    std::string text;
    std::string server, database;
    bool integrated;
    std::string login, password;
  };
  const std::vector<Case> cases = {
      {"Data Source=(LOCAL);Initial Catalog=Issues;User ID=sa;Password=\"\"", ".", "Issues", false, "sa", ""},
      {"data source=.;initial catalog=A;Initial Catalog=B;integrated security=sspi", ".", "A", true, "", ""},
      {"Data Source=.;Integrated Security = SSPI; User ID=x;Password=p;Password=q", ".", "", false, "", "p"},
      {"Data Source=\"/srv/Pat's; sites/Site.db\";Initial Catalog=Site", "/srv/Pat's; sites/Site.db", "Site", false, "", ""},
      {"Data Source=\"/srv/\"\"Q\"\"; sites/Site.db\";Initial Catalog=Site", "/srv/\"Q\"; sites/Site.db", "Site", false, "", ""},
  };
  for (const Case& c : cases) {
    ConnectionParms p = GetConnectionParms(c.text);
    EXPECT_EQ(p.serverName, c.server) << c.text;
    EXPECT_EQ(p.databaseName, c.database) << c.text;
    EXPECT_EQ(p.integratedSecurity, c.integrated) << c.text;
    EXPECT_EQ(p.loginName, c.login) << c.text;
    EXPECT_EQ(p.loginPassword, c.password) << c.text;
  }
  // A relative file is its absolute path: the job store keys jobs by it.
  EXPECT_EQ(GetConnectionParms("Data Source=" + file.string()).serverName, file.string());
}

TEST_F(BackupSettingsTest, TheMasterConnectionStringReplacesOnlyTheCatalogue) {
  EXPECT_EQ(GetConnectionStringForMasterDb(*admin),
            "Data Source=" + file.string() + ";Initial Catalog=Master");
  auto plain = std::make_shared<DbAdmin>();
  EXPECT_EQ(GetConnectionStringForMasterDb(*plain), "");
}

TEST_F(BackupSettingsTest, CallableByName) {
  auto obj = automation::CreateObject("Brisquel.DbAdmin");
  obj->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
  EXPECT_EQ(obj->Get("LastErrorMessage").ToString(), "");
  auto rs = obj->Call("GetBackupRs").ToObject();
  EXPECT_EQ(rs->Get("Fields", {Variant("BackupTime")}).ToObject()->Get("Value").ToString(), "02:00");
  auto frequencies = obj->Call("GetBackupFrequencyRs").ToObject();
  EXPECT_EQ(frequencies->Get("RecordCount").ToLong(), 7);
  EXPECT_EQ(obj->Call("GetBackupTimesRs").ToObject()->Get("RecordCount").ToLong(), 25);
  EXPECT_EQ(obj->Call("GetBackupRetentionRs").ToObject()->Get("RecordCount").ToLong(), 8);
  EXPECT_TRUE(obj->Call("FolderExists", {Variant(archive.string())}).ToBool());
  EXPECT_TRUE(obj->Call("UpdateBackup", {Variant("admin"), Variant(rs), Variant(Form(Settings()))}).ToBool());
  EXPECT_TRUE(Job());
  obj->Call("DoBackup");
  EXPECT_EQ(obj->Get("LastErrorMessage").ToString(), "Permission denied.");
}

TEST_F(BackupSettingsTest, AConnectionStringThatCannotBeOpenedIsAnExpectedFailure) {
  auto obj = std::make_shared<DbAdmin>();
  obj->SetConnectionString("Data Source=" + (dir / "nowhere" / "x.db").string());
  EXPECT_EQ(obj->GetLastErrorMessage().rfind("An unexpected error has occurred.\r\nError number: ", 0), 0u);
  EXPECT_EQ(obj->GetConnectionString(), "");
}

}  // namespace
}  // namespace brisquel::backuptest
