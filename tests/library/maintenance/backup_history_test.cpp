#include <ctime>
#include <set>

#include "automation/vbdate.h"
#include "backup_site.h"

namespace brisquel::backuptest {
namespace {

using automation::Variant;

class BackupHistoryTest : public BackupSite {
 protected:
  void SetUp() override {
    BackupSite::SetUp();
    ASSERT_TRUE(Save(Settings()));
  }
  // An outcome row of the job for a run that started at `start`.
  void Run(std::time_t start, int32_t status, const std::string& message) {
    Store()->AddHistory(Job()->id, {0, 0, "(Job outcome)", status, agent::DateNumber(start), agent::TimeNumber(start),
                                    125, message});
  }
  void Touch(const std::string& name, const std::string& text = "x") { testsupport::WriteFile(archive / name, text); }
  std::vector<std::string> Rows(const RecordsetPtr& rs) {
    std::vector<std::string> out;
    for (; !rs->IsEOF(); rs->MoveNext()) {
      std::string row;
      for (size_t i = 0; i < rs->FieldCount(); ++i) {
        Variant v = rs->Value(i);
        row += (i ? "|" : "") + (v.IsNull() ? std::string("NULL") : v.ToString());
      }
      out.push_back(row);
    }
    return out;
  }
  std::time_t t0 = std::time(nullptr) - 3 * 86400;
};

TEST_F(BackupHistoryTest, RunsArePairedWithTheirFilesByMinute) {
  const std::time_t good = t0, late = t0 + 3600, expired = t0 + 7200, failed = t0 + 10800, odd = t0 + 14400;
  Touch("Site_db_" + Stamp(good) + ".bak");
  Touch("BackupLog_" + Stamp(good) + ".txt");
  Touch("Site_db_" + Stamp(late + 60) + ".bak");  // finished in the next minute, without a report
  Touch("Site_db_" + Stamp(odd) + ".bak");
  Run(good, 1, "good");
  Run(late, 1, "late");
  Run(expired, 1, "expired");
  Run(failed, 0, "failed");
  Run(odd, 2, "odd");
  auto rows = Rows(GetBackupHistoryRs(*admin));
  ASSERT_EQ(rows.size(), 4u);
  auto tail = [](const std::string& row) { return row.substr(row.find('|') + 1); };
  EXPECT_EQ(tail(rows[0]).substr(0, 15), "good|Succeeded|");
  EXPECT_EQ(rows[0].substr(rows[0].find("|00:01:25|")),
            "|00:01:25|Site_db_" + Stamp(good) + ".bak|BackupLog_" + Stamp(good) + ".txt");
  auto rs = GetBackupHistoryRs(*admin);
  EXPECT_EQ(automation::FormatDbDate(rs->Value("RunDateTime").ToDate()).substr(0, 16),
            automation::FormatDbDate(*automation::ParseDate(Stamp(good).substr(0, 4) + "-" + Stamp(good).substr(4, 2) +
                                                            "-" + Stamp(good).substr(6, 2) + " " +
                                                            Stamp(good).substr(8, 2) + ":" + Stamp(good).substr(10, 2)))
                .substr(0, 16));
  EXPECT_NE(rows[1].find("late|Succeeded|"), std::string::npos);
  EXPECT_NE(rows[1].find("|Site_db_" + Stamp(late + 60) + ".bak|Not Available"), std::string::npos);
  EXPECT_NE(rows[2].find("failed|Failed|"), std::string::npos);
  EXPECT_NE(rows[2].find("|00:01:25||Not Available"), std::string::npos) << rows[2];
  EXPECT_NE(rows[3].find("odd|Unknown (2)|"), std::string::npos);
  admin->ConnectToDMO();
  EXPECT_EQ(GetBackupLogFile(*admin, "site_db_" + Stamp(good) + ".BAK"),
            (fs::canonical(archive) / ("BackupLog_" + Stamp(good) + ".txt")).string());
  EXPECT_EQ(GetBackupLogFile(*admin, "Site_db_" + Stamp(late + 60) + ".bak"), "");
}

TEST_F(BackupHistoryTest, AnUnreachableFolderKeepsEveryRunWithoutFiles) {
  Run(t0, 1, "good");
  fs::remove_all(archive);
  auto rows = Rows(GetBackupHistoryRs(*admin));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].substr(rows[0].find("|00:01:25|")), "|00:01:25||Not available");
}

TEST_F(BackupHistoryTest, ToDateAndToTime) {
  EXPECT_EQ(ToDate(20030419), "19-Apr-2003");
  EXPECT_EQ(ToDate(20261209), "09-Dec-2026");
  EXPECT_EQ(ToTime(20000), "02:00:00");
  EXPECT_EQ(ToTime(0), "00:00:00");
  EXPECT_EQ(ToTime(235959), "23:59:59");
}

TEST_F(BackupHistoryTest, AReportsLinesAreRowsInPlace) {
  Touch("BackupLog_" + Stamp(t0) + ".txt", "first\r\n\r\nthird\n" + std::string(1100, 'x') + "\n");
  auto rows = Rows(GetBackupLogRs(*admin, (archive / ("BackupLog_" + Stamp(t0) + ".txt")).string()));
  EXPECT_EQ(rows, (std::vector<std::string>{"first", "", "third", std::string(1024, 'x')}));
}

TEST_F(BackupHistoryTest, OnlyTheBackupFoldersFilesAreRead) {
  testsupport::WriteFile(dir / "secret.txt", "secret");
  Touch("Site_db_" + Stamp(t0) + ".bak");
  Touch("notes.txt");
  fs::create_symlink(dir / "secret.txt", archive / ("BackupLog_" + Stamp(t0) + ".txt"));  // a report's name, elsewhere
  for (const std::string& path : std::vector<std::string>{(dir / "secret.txt").string(), (archive / ".." / "secret.txt").string(), "/etc/passwd",
                                                          (archive / ("Site_db_" + Stamp(t0) + ".bak")).string(), (archive / "notes.txt").string(),
                                                          (archive / ("BackupLog_" + Stamp(t0) + ".txt")).string()}) {
    EXPECT_TRUE(Rows(GetBackupLogRs(*admin, path)).empty()) << path;
    EXPECT_EQ(admin->GetLastErrorMessage(), "Only the report files of the backup folder can be shown.");
  }
  EXPECT_FALSE(GetAvailableBackupsRs(*admin, dir.path().string()));
  EXPECT_EQ(admin->GetLastErrorMessage(), "Only the backup folder of the site's backup settings can be listed.");
}

TEST_F(BackupHistoryTest, AvailableBackupsListEveryBackupSetOfTheFolder) {
  ASSERT_EQ(agent::Status(dir / "agent.db"), agent::kStopped);
  DoBackup(*admin, "admin");
  ASSERT_EQ(admin->GetLastErrorMessage(), "");
  for (int i = 0; i < 1000 && Store()->History(Job()->id).size() < 2; ++i) std::this_thread::sleep_for(10ms);
  std::string made;
  for (const auto& e : fs::directory_iterator(archive))
    if (e.path().extension() == ".bak") made = e.path().filename().string();
  ASSERT_FALSE(made.empty());
  // A second set in a copy, a text file and a damaged backup beside it.
  fs::copy_file(archive / made, archive / "Two.bak");
  sitedb::Db(archive / "Two.bak").Exec("PRAGMA journal_mode=DELETE; INSERT INTO VantrelBackupHeader SELECT 'Second', "
                                      "'2026-01-02 03:04:05.000', 42, DatabaseName, DatabaseVersion FROM VantrelBackupHeader");
  Touch("notes.txt");
  Touch("Damaged.bak", "SQLite format 3\0garbage");
  auto rows = Rows(GetAvailableBackupsRs(*admin, archive.string() + "/"));
  ASSERT_EQ(rows.size(), 3u) << admin->GetLastErrorMessage();
  EXPECT_EQ(rows[0].substr(0, made.size() + 1 + made.size() - 4), made + "|" + made.substr(0, made.size() - 4));
  EXPECT_EQ(rows[1].substr(0, 8), "Two.bak|");
  EXPECT_EQ(rows[2], "Two.bak|Second|1/2/2026 3:04:05 AM|42");
  for (const auto& e : fs::directory_iterator(archive)) {
    EXPECT_EQ(e.path().string().find("-wal"), std::string::npos);
    EXPECT_EQ(e.path().string().find("-shm"), std::string::npos);
  }
  // The history pairs the agent's run with its files.
  auto history = Rows(GetBackupHistoryRs(*admin));
  ASSERT_EQ(history.size(), 1u);
  EXPECT_NE(history[0].find("|" + made + "|BackupLog_"), std::string::npos) << history[0];
  admin->ConnectToDMO();
  auto log = Rows(GetBackupLogRs(*admin, GetBackupLogFile(*admin, made)));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Backup finished.");
}

// Real runs of the agent: one forced to fail (its step is not a backup command), one good, and one
// good whose file is then deleted.
TEST_F(BackupHistoryTest, RealRunsAFailedOneStaysAndADeletedOneGoes) {
  auto outcomes = [&] {
    size_t n = 0;
    for (const auto& h : Store()->History(Job()->id)) n += h.stepId == 0;
    return n;
  };
  // Each run ends with its outcome and then its run request, so the next start is taken.
  auto run = [&](size_t n) {
    DoBackup(*admin, "admin");
    ASSERT_EQ(admin->GetLastErrorMessage(), "");
    for (int i = 0; i < 1000 && (outcomes() < n || !Store()->Rows("select * from RunRequests").empty()); ++i)
      std::this_thread::sleep_for(10ms);
  };
  auto backups = [&] {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(archive))
      if (e.path().extension() == ".bak") names.insert(e.path().filename().string());
    return names;
  };
  Store()->Exec("update JobSteps set Command = 'DROP TABLE Issues'");
  run(1);
  ASSERT_TRUE(Save(Settings()));
  run(2);
  ASSERT_EQ(backups().size(), 1u);
  const std::string good = *backups().begin();
  // A run is paired with the files of its minute and the next: the deleted one starts in a later
  // minute than the good one, so it never takes the good one's file.
  const std::string goodMinute = Stamp(std::time(nullptr));
  while (Stamp(std::time(nullptr)) == goodMinute) std::this_thread::sleep_for(100ms);
  run(3);
  auto names = backups();
  ASSERT_EQ(names.size(), 2u);
  names.erase(good);
  const std::string deleted = *names.begin();
  auto rows = Rows(GetBackupHistoryRs(*admin));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_NE(rows[2].find("|Succeeded|"), std::string::npos) << rows[2];
  EXPECT_NE(rows[2].find("|" + deleted + "|BackupLog_" + deleted.substr(8, 12) + ".txt"), std::string::npos) << rows[2];
  fs::remove(archive / deleted);
  rows = Rows(GetBackupHistoryRs(*admin));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[0].find("|Failed|"), std::string::npos) << rows[0];
  EXPECT_NE(rows[0].find("||"), std::string::npos) << rows[0];  // no backup file
  EXPECT_NE(rows[1].find("|Succeeded|"), std::string::npos) << rows[1];
  EXPECT_NE(rows[1].find("|" + good + "|BackupLog_" + good.substr(8, 12) + ".txt"), std::string::npos) << rows[1];
}

TEST_F(BackupHistoryTest, CallableByName) {
  auto obj = automation::CreateObject("Brisquel.DbAdmin");
  obj->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
  Run(t0, 0, "failed");
  auto rs = obj->Call("GetBackupHistoryRs").ToObject();
  EXPECT_EQ(rs->Get("Fields", {Variant("RunStatus")}).ToObject()->Get("Value").ToString(), "Failed");
  EXPECT_EQ(obj->Call("GetAvailableBackupsRs", {Variant(archive.string())}).ToObject()->Get("RecordCount").ToLong(), 0);
  EXPECT_EQ(obj->Call("GetBackupLogRs", {Variant("/etc/passwd")}).ToObject()->Get("RecordCount").ToLong(), 0);
}

}  // namespace
}  // namespace brisquel::backuptest
