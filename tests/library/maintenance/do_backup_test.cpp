#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <regex>

#include "backup_site.h"
#include "daemon/spawn.h"

namespace brisquel::backuptest {
namespace {

class DoBackupTest : public BackupSite {
 protected:
  void SetUp() override {
    BackupSite::SetUp();
    admin->SetPause([this](int s) { pauses.push_back(s); });
    ASSERT_TRUE(Save(Settings()));
  }
  // Runs a backup as `user`; the message it leaves.
  std::string Backup(const std::string& user = "admin") {
    DoBackup(*admin, user);
    return admin->GetLastErrorMessage();
  }
  // Waits for the job's outcome row; its run_status, or -1.
  int Outcome(int64_t jobId) {
    for (int i = 0; i < 1000; ++i) {
      for (const auto& h : Store()->History(jobId))
        if (h.stepId == 0) return h.runStatus;
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  std::vector<fs::path> Files(const std::string& pattern) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(archive))
      if (std::regex_match(e.path().filename().string(), std::regex(pattern))) out.push_back(e.path());
    return out;
  }
  std::vector<int> pauses;
};

const char* kRequested = "Site_db_[0-9]{12}\\.bak";

TEST_F(DoBackupTest, AStoppedAgentIsStartedAndTheBackupRuns) {
  ASSERT_EQ(agent::Status(dir / "agent.db"), agent::kStopped);
  EXPECT_EQ(Backup(), "");
  EXPECT_EQ(agent::Status(dir / "agent.db"), agent::kRunning);
  EXPECT_EQ(pauses, std::vector<int>{1});
  EXPECT_TRUE(agent::StartsAtBoot());
  EXPECT_TRUE(fs::exists(units / "multi-user.target.wants" / "vantrel-agent.service"));

  ASSERT_EQ(Outcome(Job()->id), agent::kSucceeded);
  auto history = Store()->History(Job()->id);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].stepId, 1);
  EXPECT_EQ(history[0].runStatus, agent::kSucceeded);
  EXPECT_EQ(history[1].message, "The job succeeded. The last step to run was step 1 (Backup).");
  auto backups = Files(kRequested);
  ASSERT_EQ(backups.size(), 1u);
  std::string stamp = backups[0].stem().string().substr(8);
  EXPECT_TRUE(fs::exists(archive / ("BackupLog_" + stamp + ".txt")));
  EXPECT_EQ(fs::status(backups[0]).permissions() & fs::perms::all, fs::perms(0640));

  sitedb::Db copy(backups[0]);
  EXPECT_EQ(copy.Text("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(copy.Text("PRAGMA journal_mode"), "delete");
  EXPECT_EQ(copy.Int("select count(*) from Issues"), raw.Int("select count(*) from Issues"));
  EXPECT_EQ(copy.Rows("select BackupName, DatabaseName, DatabaseVersion from VantrelBackupHeader")[0],
            backups[0].stem().string() + "|Site|" + raw.Text("select DatabaseVersion from VantrelSite"));
  agent::BackupHeader h = agent::ReadBackupHeader(backups[0]);
  EXPECT_GT(h.backupSize, 0);
  EXPECT_EQ(h.backupStartDate.substr(0, 4), stamp.substr(0, 4));
  EXPECT_THROW(agent::ReadBackupHeader(file), automation::ComError);
}

TEST_F(DoBackupTest, ARunningAgentIsNotWaitedFor) {
  agent::Start(dir / "agent.db");
  EXPECT_EQ(Backup(), "");
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(Outcome(Job()->id), agent::kSucceeded);
}

class DoBackupWithoutJobTest : public BackupSite {};

TEST_F(DoBackupWithoutJobTest, TheLookupsErrorIsReported) {
  DoBackup(*admin, "admin");
  EXPECT_EQ(admin->GetLastErrorMessage(),
            "An unexpected error has occurred.\r\nError number: " + std::to_string(agent::kNotFound) +
                "\r\nError message: The job 'Site Backup' does not exist on this server.");
}

TEST_F(DoBackupTest, OnlySiteAdministratorsRunABackup) {
  for (const std::string user : {"", "bob"}) {
    EXPECT_EQ(Backup(user), "Permission denied.");
  }
  EXPECT_EQ(agent::Status(dir / "agent.db"), agent::kStopped);
  EXPECT_EQ(Store()->Rows("select count(*) from RunRequests")[0][0], "0");
}

TEST_F(DoBackupTest, AUnitFolderThatCannotBeChangedIsOnlyMentioned) {
  // Root writes any folder: there the unit folder is a file instead.
  const bool root = ::geteuid() == 0;
  if (root) testsupport::WriteFile(dir / "units-file", "");
  testsupport::ScopedEnv unitDir("VANTREL_UNIT_DIR", root ? (dir / "units-file").string() : units.string());
  ::chmod(units.c_str(), 0500);
  const std::string message = Backup();
  ::chmod(units.c_str(), 0700);
  EXPECT_EQ(message,
            "The SQL Agent could not be configured to automatically start at boot time (fyi only).\r\n");
  EXPECT_EQ(Outcome(Job()->id), agent::kSucceeded);
}

TEST_F(DoBackupTest, NoAgentProgramIsReportedWithItsReason) {
  fs::create_directories(dir / "empty");
  testsupport::WriteFile(dir / "registry",
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel]\nINSTALLDIR=" + (dir / "empty").string() + "\n");
  testsupport::ScopedEnv path("PATH", (dir / "empty").string());
  // Without the program its unit cannot be written either: both messages stand, in this order.
  // The start names where the program was looked for.
  const std::string looked = (vdaemon::ProgramPath().parent_path() / "vantrel-agent").string() + ", " +
                             (dir / "empty" / "vantrel-agent").string() + ", " +
                             (dir / "empty" / "vantrel-agent").string();
  EXPECT_EQ(Backup(),
            "The SQL Agent could not be configured to automatically start at boot time (fyi only).\r\n"
            "The SQL Agent could not be started due to an error (vantrel-agent cannot be started: No such file or "
            "directory; it was looked for as " + looked + " (beside this program, in the registry's INSTALLDIR, then "
            "on PATH)).<li>This is typically caused by an incorrect user/password configuration for the SQL Agent "
            "service startup account.");
  EXPECT_EQ(Store()->Rows("select count(*) from RunRequests")[0][0], "0");
}

TEST_F(DoBackupTest, TheWaitEndsAtTheFirstPassThatSeesTheAgentRunning) {
  // The agent the call starts is stopped during the first pause and started again during the
  // third: the call sees it running on pass 3.
  admin->SetPause([this](int s) {
    pauses.push_back(s);
    if (s == 1) StopAgent();
    if (s == 3) agent::Start(dir / "agent.db");
  });
  EXPECT_EQ(Backup(), "");
  EXPECT_EQ(pauses, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Outcome(Job()->id), agent::kSucceeded);
}

TEST_F(DoBackupTest, ASecondStartWhileTheFirstIsQueuedIsRefused) {
  // Queued once the agent is up, just before the call's own start: a run queued earlier could be
  // taken and finished by the freshly started agent before the call asks.
  const int64_t jobId = Job()->id;
  admin->SetPause([&](int s) {
    pauses.push_back(s);
    if (s == 1) Store()->QueueRun(jobId);
  });
  EXPECT_NE(Backup().find("Error number: " + std::to_string(agent::kCannotStart)),
            std::string::npos);
  EXPECT_EQ(Outcome(Job()->id), agent::kSucceeded);
}

}  // namespace
}  // namespace brisquel::backuptest
