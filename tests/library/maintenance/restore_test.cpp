#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <random>
#include <set>

#include "backup_site.h"
#include "core/writer.h"
#include "issues/issue_writers.h"
#include "support/com_error.h"
#include "support/small_disk.h"
#include "upgrade_fixture.h"

namespace brisquel::backuptest {
namespace {

using automation::Variant;

class RestoreTest : public BackupSite {
 protected:
  void SetUp() override {
    BackupSite::SetUp();
    ASSERT_TRUE(Save(Settings()));
  }
  // A backup of `site` as the agent writes it, made an hour ago, with a history row and (when
  // asked) its report.
  std::string Backup(const fs::path& site, const std::string& database, bool report = false) {
    std::time_t start = std::time(nullptr) - 3600 - 120 * made++;
    std::string name = database + "_db_" + Stamp(start) + ".bak";
    agent::WriteBackupFile(site, archive / name, database, start);
    if (report) {
      testsupport::WriteFile(archive / ("BackupLog_" + Stamp(start) + ".txt"), "Backup finished.\n");
      Store()->AddHistory(Job()->id, {0, 0, "(Job outcome)", 1, agent::DateNumber(start), agent::TimeNumber(start), 1, "ok"});
    }
    return name;
  }
  std::string Restore(const std::string& name, const std::string& set = "") {
    return DoRestore(*admin, archive.string(), name, set, "admin");
  }
  long long Issues() { return sitedb::Db(file).Int("select count(*) from Issues"); }
  std::vector<std::string> Events() {
    std::vector<std::string> out;
    std::string text = fs::exists(dir / "events.log") ? testsupport::ReadFile(dir / "events.log") : "";
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
      std::string line = text.substr(at, nl - at);
      if (line.find("Restore of database") != std::string::npos || line.find("pages copied") != std::string::npos)
        out.push_back(line);
    }
    return out;
  }
  int made = 0;
};

TEST_F(RestoreTest, TheSiteHoldsTheBackupsRowsAfterwards) {
  const long long before = Issues();
  std::string name = Backup(file, "Site");
  raw.Exec("DELETE FROM IssueComments; DELETE FROM IssueHistory; DELETE FROM IssueAttachments; DELETE FROM Issues "
           "WHERE IssueId > 2");
  ASSERT_LT(Issues(), before);
  std::string result = Restore(name);
  EXPECT_EQ(admin->GetLastErrorMessage(), "");
  EXPECT_EQ(Issues(), before);
  EXPECT_EQ(sitedb::Db(file).Text("PRAGMA integrity_check"), "ok");
  EXPECT_FALSE(sitedb::Db(file).Int("select count(*) from sqlite_master where name = 'VantrelBackupHeader'"));
  std::vector<std::string> lines;
  for (size_t at = 0;;) {
    size_t crlf = result.find("\r\n", at);
    lines.push_back(result.substr(at, crlf == std::string::npos ? std::string::npos : crlf - at));
    if (crlf == std::string::npos) break;
    at = crlf + 2;
  }
  ASSERT_EQ(lines.size(), 3u) << result;
  EXPECT_EQ(lines[0].rfind("Backup header checked: " + name.substr(0, name.size() - 4) + " of database Site, schema 1.11", 0), 0u);
  EXPECT_EQ(lines[1].rfind("Safety copy of the site before the restore: Site_prerestore_", 0), 0u);
  EXPECT_NE(lines[2].find(" pages copied in "), std::string::npos);
  EXPECT_EQ(admin->RestoreMessages(), result);
  // The object is connected to the restored site again; no staging copy is left.
  EXPECT_EQ(GetBackupRs(*admin)->RecordCount(), 1);
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".restore-"), std::string::npos);
  // Without a report only the events are written.
  EXPECT_EQ(Events().size(), 3u);
  for (const auto& e : fs::directory_iterator(archive)) EXPECT_NE(e.path().extension(), ".txt");
}

TEST_F(RestoreTest, StartAndEndLinesGoToTheReportAndThreeEvents) {
  std::string name = Backup(file, "Site", true);
  std::string result = Restore(name, name.substr(0, name.size() - 4));
  std::string report = testsupport::ReadFile(archive / ("BackupLog_" + name.substr(8, 12) + ".txt"));
  const std::string start = "Restore of database Site from " + archive.string() + "/" + name + " (" +
                            name.substr(0, name.size() - 4) + ") started at ";
  EXPECT_EQ(report.find("Backup finished.\n" + start), 0u) << report;
  EXPECT_NE(report.find("\nRestore of database Site completed successfully.\n" + result + "\n"), std::string::npos);
  auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_NE(events[0].find(start), std::string::npos);
  EXPECT_NE(events[1].find("Restore of database Site completed successfully."), std::string::npos);
  EXPECT_EQ(events[0].rfind("information 0x40000001 ", 0), 0u);
}

TEST_F(RestoreTest, RefusalsBeforeTheRestoreGiveTheirSentenceAndNothing) {
  std::string name = Backup(file, "Site");
  testsupport::WriteFile(dir / "elsewhere.bak", "x");
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
      {"admin", "", name, "Backup folder cannot be blank."},
      {"admin", archive.string(), "", "Backup file cannot be blank."},
      {"bob", archive.string(), name, "Permission denied."},
      {"", archive.string(), name, "Permission denied."},
      {"admin", dir.path().string(), "elsewhere.bak", "The backup to restore must be a file of the site's backup folder."},
      {"admin", archive.string(), "../elsewhere.bak", "The backup to restore must be a file of the site's backup folder."},
      {"admin", archive.string(), "missing.bak", "The backup to restore must be a file of the site's backup folder."},
  };
  for (const auto& [user, path, backup, sentence] : cases) {
    EXPECT_EQ(DoRestore(*admin, path, backup, "", user), "");
    EXPECT_EQ(admin->GetLastErrorMessage(), sentence);
  }
  EXPECT_TRUE(Events().empty());
}

TEST_F(RestoreTest, ABackupThatDoesNotFitIsRefusedAndTheSiteStays) {
  fs::copy_file(file, dir / "Other.db");
  std::string other = Backup(dir / "Other.db", "Other");
  std::string mine = Backup(file, "Site");
  testsupport::WriteFile(archive / "text.bak", "not a backup");
  fs::copy_file(archive / mine, archive / "Newer.bak");
  sitedb::Db(archive / "Newer.bak").Exec("PRAGMA journal_mode=DELETE; UPDATE VantrelBackupHeader SET DatabaseVersion = '1.12'");
  // A header that reads well over a damaged table page: the end of the Issues table's root page,
  // where its cells lie, overwritten.
  fs::copy_file(archive / mine, archive / "Damaged.bak");
  const long long pageEnd = [&] {
    sitedb::Db damaged(archive / "Damaged.bak");
    return damaged.Int("select rootpage from sqlite_master where name = 'Issues'") * damaged.Int("PRAGMA page_size");
  }();
  {
    std::fstream damage(archive / "Damaged.bak", std::ios::in | std::ios::out | std::ios::binary);
    damage.seekp(pageEnd - 100);
    damage << std::string(100, '\xff');
  }
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('Marker')");
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {other, "", "The backup holds the database Other, not Site."},
      {mine, "Another set", "The backup's media name is " + mine.substr(0, mine.size() - 4) + ", not Another set."},
      {"text.bak", "", "The file text.bak is not a backup of a Vantrel site."},
      {"Newer.bak", "", "The backup has schema version 1.12, newer than this site's 1.11."},
      {"Damaged.bak", "", "The backup failed its integrity check: "},
  };
  for (const auto& [name, set, why] : cases) {
    try {
      Restore(name, set);
      ADD_FAILURE() << name << " was restored";
    } catch (const automation::ComError& e) {
      EXPECT_NE(e.description.find(why), std::string::npos) << e.description;
      EXPECT_NE(e.source.find("DbAdmin.DoRestore"), std::string::npos) << e.source;
    }
    EXPECT_EQ(raw.Int("select count(*) from Groups where GroupCode = 'Marker'"), 1);
    EXPECT_EQ(GetBackupRs(*admin)->RecordCount(), 1);  // connected to the site again
    for (const auto& e : fs::directory_iterator(dir.path()))
      EXPECT_EQ(e.path().filename().string().find(".restore-"), std::string::npos) << name;
  }
  EXPECT_EQ(Events().size(), 5u);  // the start lines only
}

TEST_F(RestoreTest, ABackupOfAnEarlierSchemaComesBackUpgraded) {
  upgradefixture::Create(dir / "Old.db");
  const std::time_t start = std::time(nullptr) - 600;
  const std::string name = "Site_db_" + Stamp(start) + ".bak";
  agent::WriteBackupFile(dir / "Old.db", archive / name, "Site", start);
  std::string result = Restore(name);
  EXPECT_NE(result.find(", schema 1.00, made "), std::string::npos) << result;
  EXPECT_NE(result.find("\r\nBackup upgraded from 1.00 to 1.11.\r\nSafety copy"), std::string::npos) << result;
  sitedb::Db check(file);
  EXPECT_EQ(check.Text("select DatabaseVersion from VantrelSite"), "1.11");
  EXPECT_EQ(check.Int("select count(*) from Users where UserId = 'olduser'"), 1);
  EXPECT_EQ(check.Int("select count(*) from EMailConfiguration"), 1);
  EXPECT_EQ(check.Text("PRAGMA integrity_check"), "ok");
}

// A backup of this schema from the previous release comes back with the indexes and kept counts
// a new site has, at the same version.
TEST_F(RestoreTest, ABackupWithoutTheListStructuresComesBackWithThem) {
  const std::vector<std::string> structures = {"IX_Issues_DateClosed", "IX_Issues_DateOpened", "IX_Issues_ProjectId",
                                               "IX_Issues_StatusCode", "IX_Priorities_SortOrder", "IssueCounts",
                                               "IssueCounts_Delete", "IssueCounts_Insert", "IssueCounts_Update"};
  std::string list = "select name from sqlite_schema where name in (''";
  for (const std::string& n : structures) list += ", '" + n + "'";
  list += ") order by name";
  raw.Exec("VACUUM INTO '" + (dir / "Previous.db").string() + "'");
  sitedb::Db(dir / "Previous.db").Exec(upgradefixture::kWithoutListStructures);
  const std::time_t start = std::time(nullptr) - 600;
  const std::string name = "Site_db_" + Stamp(start) + ".bak";
  agent::WriteBackupFile(dir / "Previous.db", archive / name, "Site", start);
  std::string result = Restore(name);
  EXPECT_NE(result.find(", schema 1.11, made "), std::string::npos) << result;
  EXPECT_EQ(result.find("Backup upgraded"), std::string::npos) << result;
  sitedb::Db check(file);
  EXPECT_EQ(check.Text("select DatabaseVersion from VantrelSite"), "1.11");
  EXPECT_EQ(check.Rows(list), structures);
  EXPECT_EQ(check.Text("select sql from sqlite_schema where name = 'IX_Issues_ProjectId'"),
            "CREATE INDEX IX_Issues_ProjectId ON Issues (ProjectId, StatusCode, PriorityCode)");
  const std::string counted = "select group_concat(n, ',') from (select ProjectId || ':' || StatusCode || ':' || "
                              "count(*) as n from Issues group by ProjectId, StatusCode order by 1)";
  EXPECT_EQ(check.Text(counted), "1:Closed:3,1:Open:3");
  EXPECT_EQ(check.Text("select group_concat(n, ',') from (select ProjectId || ':' || StatusCode || ':' || Issues "
                       "as n from IssueCounts order by 1)"),
            check.Text(counted));
}

TEST_F(RestoreTest, OtherConnectionsSeeTheRestoredSiteAndOldRecordsetsConflict) {
  std::string name = Backup(file, "Site");
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('Marker')");
  auto other = sitedb::Open(file);
  auto rs = other->Read("select * from SiteBackups");
  Restore(name);
  EXPECT_FALSE(other->One<int64_t>("select count(*) from Groups where GroupCode = 'Marker'").value_or(-1));
  rs->MoveFirst();
  rs->SetValue("BackupTime", Variant("05:00"));
  try {
    other->WriteBack(*rs);
    ADD_FAILURE() << "an old recordset overwrote the restored row";
  } catch (const automation::ComError& e) {
    EXPECT_EQ(e.number, static_cast<int32_t>(0x80040E38));
  }
  EXPECT_EQ(raw.Text("select BackupTime from SiteBackups"), "02:00");
}

TEST_F(RestoreTest, AWriterHoldingTheSitePastTheTimeoutLeavesItUnchanged) {
  std::string name = Backup(file, "Site");
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('Marker')");
  sitedb::Db holder(file);
  holder.Exec("BEGIN IMMEDIATE");  // held past the restore's own ten seconds
  auto e = testsupport::ErrorOf([&] { Restore(name); });
  holder.Exec("COMMIT");
  EXPECT_NE(e.description.find("The site is in use: the restore gave up waiting for it and changed nothing."),
            std::string::npos)
      << e.description;
  EXPECT_EQ(raw.Int("select count(*) from Groups where GroupCode = 'Marker'"), 1);
  EXPECT_EQ(GetBackupRs(*admin)->RecordCount(), 1);
}

TEST_F(RestoreTest, TheSafetyCopyBringsBackTheStateBeforeTheRestore) {
  std::string name = Backup(file, "Site");
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('Marker')");
  Restore(name);
  ASSERT_EQ(raw.Int("select count(*) from Groups where GroupCode = 'Marker'"), 0);
  std::string safety;
  for (const auto& e : fs::directory_iterator(archive))
    if (e.path().filename().string().find("_prerestore_") != std::string::npos) safety = e.path().filename().string();
  ASSERT_FALSE(safety.empty());
  Restore(safety);
  EXPECT_EQ(sitedb::Db(file).Int("select count(*) from Groups where GroupCode = 'Marker'"), 1);
}

TEST_F(RestoreTest, CallableByName) {
  std::string name = Backup(file, "Site");
  auto obj = automation::CreateObject("Brisquel.DbAdmin");
  obj->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
  EXPECT_EQ(obj->Call("DoRestore", {Variant(archive.string()), Variant(name), Variant("")}).ToString(), "");
  EXPECT_EQ(obj->Get("LastErrorMessage").ToString(), "Permission denied.");
  EXPECT_NE(obj->Call("DoRestore", {Variant(archive.string()), Variant(name), Variant(""), Variant("admin")})
                .ToString()
                .find("pages copied"),
            std::string::npos);
}

}  // namespace
}  // namespace brisquel::backuptest

namespace brisquel::backuptest {
namespace {

// Restores killed with SIGKILL: at each pause point, and at random moments of the replacement.
class KilledRestoreTest : public RestoreTest {
 protected:
  void SetUp() override {
    RestoreTest::SetUp();
    name = Backup(file, "Site");  // without the marker: the marker tells the old site from the new
  }
  // A staging copy of the backup beside the site, and a safety copy in the backup folder while it
  // is written (".Site_prerestore_<stamp>.bak.part-XXXXXX"): what a killed restore leaves.
  bool IsStaging(const fs::path& f) const {
    const std::string prefix = "." + file.filename().string() + ".restore-";
    const std::string n = f.filename().string();
    return f.parent_path() == dir.path() && n.size() == prefix.size() + 6 && n.starts_with(prefix);
  }
  static bool IsPartialSafetyCopy(const fs::path& f) {
    const std::string n = f.filename().string();
    return n.starts_with(".Site_prerestore_") && n.size() == n.find(".bak.part-") + 16;
  }
  // Run in the restore's process before it begins.
  virtual bool InChild() { return true; }
  // A restore in a child process, paused (stopped) at `point`.
  pid_t Paused(const std::string& point) {
    pid_t pid = Started(point);
    int status = 0;
    ::waitpid(pid, &status, WUNTRACED);
    EXPECT_TRUE(WIFSTOPPED(status)) << point;
    return pid;
  }
  // A restore in a child process that stops itself at `point`; the description of its failure,
  // if it fails, goes to `report`.
  pid_t Started(const std::string& point, int report = -1) {
    Mark();
    pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("VANTREL_RESTORE_TEST_PAUSE", point.c_str(), 1);
      if (!InChild()) ::_exit(2);
      DbAdmin child;
      child.SetConnectionString(sitedb::ConnectionString(file));
      try {
        DoRestore(child, archive.string(), name, "", "admin");
      } catch (const automation::ComError& e) {
        if (report < 0 || ::write(report, e.description.data(), e.description.size()) < 0) ::_exit(1);
      }
      ::_exit(0);
    }
    return pid;
  }
  void Kill(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  // The marker that tells the old site from the restored one.
  void Mark() {
    if (sitedb::Db(file).Int("select count(*) from Groups where GroupCode = 'Marker'") == 0)
      sitedb::Db(file).Exec("INSERT INTO Groups (GroupCode) VALUES ('Marker')");
  }
  // A restore let go on from its pause, to its end.
  void Finish(pid_t pid) {
    ::kill(pid, SIGCONT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  // The site is whole, old (true) or new; no final name holds a partial safety copy. The safety
  // copies are removed once checked (the next round's may take this second's name again); a
  // partial one is left for the next restore to remove.
  bool Old(const std::string& when) {
    sitedb::Db check(file);
    EXPECT_EQ(check.Text("PRAGMA integrity_check"), "ok") << when;
    EXPECT_EQ(check.Int("select count(*) from sqlite_master where name = 'VantrelBackupHeader'"), 0) << when;
    for (const auto& e : fs::directory_iterator(archive))
      if (e.path().filename().string().starts_with("Site_prerestore_")) {
        EXPECT_EQ(agent::IntegrityCheck(e.path()), "ok") << when;
        fs::remove(e.path());
      }
    return check.Int("select count(*) from Groups where GroupCode = 'Marker'") == 1;
  }
  // The next restore clears what the killed ones left beside the site and in the backup folder.
  void TearDown() override {
    Restore(name);
    for (const fs::path& folder : {dir.path(), archive})
      for (const auto& e : fs::directory_iterator(folder)) {
        EXPECT_FALSE(IsStaging(e.path())) << e.path();
        EXPECT_EQ(e.path().filename().string().find(".restore-"), std::string::npos) << e.path();
        EXPECT_FALSE(IsPartialSafetyCopy(e.path())) << e.path();
      }
    RestoreTest::TearDown();
  }
  std::string name;
};

TEST_F(KilledRestoreTest, AtEachPauseThePointDecidesOldOrNew) {
  const std::vector<std::pair<std::string, bool>> points = {
      {"staged", true}, {"safety", true}, {"versioned", true}, {"replaced", false}, {"checkpointed", false}};
  for (const auto& [point, old] : points) {
    pid_t pid = Paused(point);
    // The staging copy (until its removal at the end) is shared with the group whatever the
    // backup's own mode.
    const std::string staging = "." + file.filename().string() + ".restore-XXXXXX";
    std::vector<fs::perms> modes;
    for (const auto& e : fs::directory_iterator(dir.path())) {
      const std::string n = e.path().filename().string();
      if (n.size() == staging.size() && n.rfind(staging.substr(0, staging.size() - 6), 0) == 0)
        modes.push_back(e.status().permissions());
    }
    EXPECT_EQ(modes, std::vector<fs::perms>{static_cast<fs::perms>(0660)}) << point;
    Kill(pid);
    EXPECT_EQ(Old(point), old) << point;
  }
}

TEST_F(KilledRestoreTest, AtRandomMomentsOfTheReplacementTheSiteIsWhollyOldOrWhollyNew) {
  // How long the way from the safety copy to the end takes here: the kills fall within it.
  pid_t pid = Paused("safety");
  const auto started = std::chrono::steady_clock::now();
  ::kill(pid, SIGCONT);
  ::waitpid(pid, nullptr, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  ASSERT_FALSE(Old("the whole replacement"));
  std::mt19937 random(20261209);
  int oldSeen = 0;
  for (int round = 0; round < 20; ++round) {
    pid = Paused("safety");
    ::kill(pid, SIGCONT);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() * 5 / 4 + 1)));
    Kill(pid);
    oldSeen += Old("round " + std::to_string(round));
  }
  // Where a random kill falls is up to the machine: the rounds may all end old, or all new, so the
  // counts are recorded, not asserted. The pause points above hold both outcomes for certain.
  RecordProperty("old", oldSeen);
  RecordProperty("new", 20 - oldSeen);
}

}  // namespace
}  // namespace brisquel::backuptest

namespace brisquel::backuptest {
namespace {

// The sanitizers make every process several times slower: their runs take fewer rounds.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 3;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif
#else
constexpr int kSlowdown = 1;
#endif

// The pause points in their order, and whether the site is still the old one there.
const std::vector<std::pair<std::string, bool>> kPoints = {
    {"staged", true}, {"locked", true},   {"safety-durable", true}, {"safety", true},
    {"versioned", true}, {"replaced", false}, {"checkpointed", false}};

// Restores killed (SIGKILL) at each of their pause points, or let go on from it, while another
// process creates issues: every issue CreateIssue returned as saved is afterwards in the site or in
// a safety copy, and what a killed restore left is gone once the next one has begun.
class RestoreUnderWritesTest : public KilledRestoreTest {
 protected:
  // The trials run on a tmpfs of their own where one can be mounted (no disk to wait for), else in
  // the usual temporary folder. Where the small disk's room is a file size limit, the folder is
  // still a tmpfs where one can be mounted.
  static void SetUpTestSuite() { Mount(64 << 20); }
  static void TearDownTestSuite() {
    delete tmpdir;
    delete folder;
    delete disk;
    tmpdir = nullptr;
    folder = nullptr;
    disk = nullptr;
  }
  static void Mount(uint64_t bytes, testsupport::SmallDisk::Kind kind = testsupport::SmallDisk::DefaultKind()) {
    sitedb::FreshSite(true);  // the store the test sites are copied from stays where it is
    disk = new testsupport::SmallDisk(bytes, kind);
    if (!disk->Mounted()) folder = new testsupport::SmallDisk(64 << 20);
    const testsupport::SmallDisk* on = disk->Mounted() ? disk : folder;
    if (on->Mounted()) tmpdir = new testsupport::ScopedEnv("TMPDIR", on->path().string());
  }
  static inline testsupport::SmallDisk* disk = nullptr;
  static inline testsupport::SmallDisk* folder = nullptr;
  static inline testsupport::ScopedEnv* tmpdir = nullptr;

  struct Writer {
    std::string prefix;
    pid_t pid = -1;
    int fd = -1;
    std::vector<int> saved;  // the n of every "<prefix> <n>" CreateIssue returned as saved
  };
  // A process creating issues "<prefix> <n>" one after another on a Database of its own, `pace`
  // apart.
  Writer StartWriter(const std::string& prefix, std::chrono::milliseconds pace) {
    int p[2];
    EXPECT_EQ(::pipe(p), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(p[0]);
      auto db = sitedb::Open(file);
      // Its log is checkpointed often and so reused: on a small disk the writer takes little room.
      db->Connection().ExecuteNonQuery("PRAGMA wal_autocheckpoint = 16");
      for (int n = 0;; ++n) {
        std::this_thread::sleep_for(pace);
        auto form = Form({{"ProjectCode", "1"}, {"ModuleCode", "Core"}, {"Summary", prefix + " " + std::to_string(n)},
                          {"PriorityCode", "High"}, {"SeverityCode", "Major"}, {"DetectedInBuildCode", "1.1"},
                          {"VerifiedInBuildCode", ""}, {"Comments", ""}, {"ResolutionCode", "New"},
                          {"StatusCode", "Open"}, {"AssignedToUser", "admin"}});
        int32_t id = 0;
        try {
          id = CreateIssue(*db, "admin", form);
        } catch (const automation::ComError&) {
        }
        if (id > 0 && ::write(p[1], &n, sizeof n) != sizeof n) ::_exit(1);
      }
    }
    ::close(p[1]);
    return {prefix, pid, p[0], {}};
  }
  // Takes the writer's news until it has saved `count` issues in all; false after 10 s without.
  bool WaitSaved(Writer& w, size_t count) {
    while (w.saved.size() < count) {
      pollfd f{w.fd, POLLIN, 0};
      int n = 0;
      if (::poll(&f, 1, 10000) <= 0 || ::read(w.fd, &n, sizeof n) != sizeof n) return false;
      w.saved.push_back(n);
    }
    return true;
  }
  void Stop(Writer& w) {
    Kill(w.pid);
    int n = 0;
    while (::read(w.fd, &n, sizeof n) == sizeof n) w.saved.push_back(n);
    ::close(w.fd);
  }
  // The summaries of the site's issues and of every safety copy's.
  std::set<std::string> Kept() {
    std::set<std::string> out;
    auto add = [&](const fs::path& f) {
      for (std::string& s : sitedb::Db(f).Rows("select Summary from Issues")) out.insert(std::move(s));
    };
    add(file);
    for (const auto& e : fs::directory_iterator(archive))
      if (e.path().filename().string().starts_with("Site_prerestore_")) add(e.path());
    return out;
  }
  // Hidden files beside the site and in the backup folder: only a restore's work files are hidden.
  std::set<std::string> Hidden() {
    std::set<std::string> out;
    for (const fs::path& folder : {dir.path(), archive})
      for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string()[0] == '.') out.insert(e.path().string());
    return out;
  }
  struct Outcome {
    bool old = false;     // the site is still the old one
    bool killed = false;  // the restore reached its pause and was killed there
    std::string failure;  // why the restore failed, when it did
  };
  // One trial: the writer saves, a restore stops at `point` (unless it fails before), is killed or
  // let go on, the writer saves on. On the small disk, `room` bytes are left for the restore.
  // Checks every saved issue, and what the restore left: a killed one its staging copy (and, killed
  // while it wrote the safety copy, the partial copy), for the next trial's restore to remove.
  Outcome Trial(const std::string& point, bool kill, const std::string& when, std::optional<uint64_t> room = {}) {
    Writer w = StartWriter("Trial " + std::to_string(++trials), room && disk->Mounted() ? 10ms : 2ms);
    EXPECT_TRUE(WaitSaved(w, 2)) << when;
    Mark();
    if (room) {
      // Under a file size limit the safety copy alone is stopped only where it is larger than the
      // staging copy: the site has grown since the backup, by comments of 64 KB (the same ones
      // when the last restore left the site as it was).
      if (!disk->Mounted())
        sitedb::Db(file).Exec("DELETE FROM IssueComments WHERE CommentAuthor = 'Growth'; WITH RECURSIVE n(i) AS "
                              "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 8) INSERT INTO IssueComments (IssueId, "
                              "FieldName, CommentAuthor, CommentText) SELECT 1, 'Comments', 'Growth', "
                              "hex(randomblob(3950)) FROM n");
      disk->Fill(*room);
    }
    int report[2];
    EXPECT_EQ(::pipe(report), 0);
    pid_t pid = Started(point, report[1]);
    ::close(report[1]);
    int status = 0;
    ::waitpid(pid, &status, WUNTRACED);
    const bool stopped = WIFSTOPPED(status);
    std::this_thread::sleep_for(2ms);  // the writer meets the restore where it stopped
    if (stopped && kill)
      Kill(pid);
    else if (stopped)
      Finish(pid);
    else
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << when << ": " << status;
    Outcome out;
    out.killed = stopped && kill;
    char buf[512];
    for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) out.failure.append(buf, static_cast<size_t>(n));
    ::close(report[0]);
    if (room) disk->Free();
    EXPECT_TRUE(WaitSaved(w, w.saved.size() + 2)) << when;
    Stop(w);
    const std::set<std::string> kept = Kept();
    for (int n : w.saved) EXPECT_TRUE(kept.contains(w.prefix + " " + std::to_string(n))) << when << ": " << n;
    // What the last trial left is gone: this trial's restore removed it before its own work.
    const std::set<std::string> hidden = Hidden();
    for (const std::string& f : hidden) EXPECT_FALSE(left.contains(f)) << when << ": " << f;
    std::set<std::string> staging, partial;
    for (const std::string& f : hidden) {
      if (IsStaging(f)) staging.insert(f);
      if (IsPartialSafetyCopy(f)) partial.insert(f);
    }
    EXPECT_EQ(staging.size(), out.killed ? 1u : 0u) << when << ": " << testing::PrintToString(hidden);
    EXPECT_EQ(partial.size(), out.killed && point == "safety-durable" ? 1u : 0u) << when << ": " << testing::PrintToString(hidden);
    // Besides them only their journal files (the safety copy's while it was still open).
    const auto journalOf = [](const std::set<std::string>& files, const std::string& name) {
      return std::ranges::any_of(files, [&](const std::string& d) { return name == d + "-wal" || name == d + "-shm"; });
    };
    for (const std::string& f : hidden)
      if (!staging.contains(f) && !partial.contains(f)) {
        EXPECT_TRUE(journalOf(staging, f) || journalOf(partial, f)) << when << ": " << f;
      }
    left = hidden;
    out.old = Old(when);
    if (!out.failure.empty()) {
      EXPECT_TRUE(out.old) << when << ": " << out.failure;
    }
    return out;
  }
  int trials = 0;
  std::set<std::string> left;  // what the last trial left
};

TEST_F(RestoreUnderWritesTest, EverySavedIssueIsInTheSiteOrTheSafetyCopy) {
  // Killed at every point in each round, let go on from every point in every third round.
  const int rounds = 15 / kSlowdown;
  int killed = 0;
  for (int round = 0; round < rounds; ++round)
    for (const auto& [point, old] : kPoints)
      for (const bool kill : {true, false}) {
        if (!kill && round % 3) continue;
        const std::string when = point + (kill ? " killed" : " let go on") + " in round " + std::to_string(round);
        const Outcome out = Trial(point, kill, when);
        EXPECT_EQ(out.failure, "") << when;
        EXPECT_EQ(out.killed, kill) << when;
        EXPECT_EQ(out.old, kill && old) << when;
        killed += out.killed;
      }
  RecordProperty("trials", trials);
  RecordProperty("killed", killed);
}

// The same with the site's folder on a small disk, filled before each restore so that the staging
// copy, the safety copy or the replacement finds it full, or none of them. What a killed restore
// left is there when the disk is filled: the next restore has that room too, once it has removed
// it. Where no tmpfs can be mounted, the room is the restore's file size limit.
class RestoreOnAFullDiskTest : public RestoreUnderWritesTest {
 protected:
  static void SetUpTestSuite() { Mount(16 << 20); }
  void SetUp() override {
    RestoreUnderWritesTest::SetUp();
    // Held open, the job store keeps its shared-memory file: the restore's management connection
    // finds it there and needs no room of its own.
    store = Store();
  }
  bool InChild() override { return disk->Limit(); }
  // For each room, killed at every point in `rounds` rounds and let go on from every point in the
  // first; a room where no restore reaches a pause is tried once. Returns the kills.
  int Trials(int rounds) {
    // The room on the tmpfs is for all the restore's files together, a file size limit for each
    // file: rooms where the staging copy does not fit, where the safety copy does not (see Trial),
    // where all fit.
    const uint64_t size = fs::file_size(file);
    const uint64_t backup = fs::file_size(archive / name);
    const std::vector<uint64_t> rooms =
        disk->Mounted() ? std::vector<uint64_t>{size / 2, size * 3 / 2, size * 5 / 2, size * 6}
                        : std::vector<uint64_t>{backup / 2, backup + (32 << 10), backup * 2, backup * 6};
    std::set<std::string> stoppedBy;  // what the full disk stopped
    int finished = 0, killed = 0;
    for (const uint64_t room : rooms)
      for (int round = 0, killedHere = 1; round < rounds && killedHere; ++round) {
        killedHere = 0;
        for (const auto& [point, old] : kPoints)
          for (const bool kill : {true, false}) {
            if (!kill && round) continue;
            const std::string when = point + (kill ? " killed" : " let go on") + " with " + std::to_string(room) +
                                     " bytes free in round " + std::to_string(round);
            const Outcome out = Trial(point, kill, when, room);
            killedHere += out.killed;
            if (out.failure.empty()) {
              finished += !out.old;
              continue;
            }
            stoppedBy.insert(out.failure.substr(0, out.failure.find(':')));
            EXPECT_NE(out.failure.find(": the disk is full. The restore changed nothing."), std::string::npos) << when << ": " << out.failure;
            EXPECT_EQ(out.failure.find('/'), std::string::npos) << when << ": " << out.failure;
          }
        killed += killedHere;
      }
    EXPECT_TRUE(stoppedBy.contains("The staging copy of the backup cannot be written")) << testing::PrintToString(stoppedBy);
    EXPECT_TRUE(stoppedBy.contains("The safety copy of the site cannot be written")) << testing::PrintToString(stoppedBy);
    EXPECT_GT(finished, 0);
    RecordProperty("stopped by", testing::PrintToString(stoppedBy));
    RecordProperty("trials", trials);
    RecordProperty("killed", killed);
    return killed;
  }
  std::unique_ptr<agent::Store> store;
};

TEST_F(RestoreOnAFullDiskTest, EverySavedIssueIsKeptAndAFullDiskIsSaidSo) {
  const int rounds = 7 / kSlowdown;
  const int killed = Trials(rounds);
  EXPECT_GE(killed, kSlowdown == 1 ? 100 : 7 * rounds);  // with the most room every restore reaches every pause
}

// The same where the room is the file size limit of the restore's process, as it is where no
// tmpfs can be mounted.
class RestoreUnderAFileSizeLimitTest : public RestoreOnAFullDiskTest {
 protected:
  static void SetUpTestSuite() { Mount(16 << 20, testsupport::SmallDisk::Kind::kFileSizeLimit); }
};

TEST_F(RestoreUnderAFileSizeLimitTest, EverySavedIssueIsKeptAndAFullDiskIsSaidSo) {
  ASSERT_FALSE(disk->Mounted());
  EXPECT_GE(Trials(1), 7);
}

}  // namespace
}  // namespace brisquel::backuptest
