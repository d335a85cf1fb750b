#include <ctime>
#include <random>

#include "backup_site.h"
#include "core/writer.h"

namespace brisquel::backuptest {
namespace {

using automation::Variant;

std::string Stamp(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M", &tm);
  return buf;
}

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

TEST_F(RestoreTest, WithoutAReportOnlyTheEventsAreWritten) {
  std::string name = Backup(file, "Site");
  Restore(name);
  EXPECT_EQ(Events().size(), 3u);
  for (const auto& e : fs::directory_iterator(archive))
    EXPECT_NE(e.path().extension(), ".txt");
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
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('Marker')");
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {other, "", "The backup holds the database Other, not Site."},
      {mine, "Another set", "The backup's media name is " + mine.substr(0, mine.size() - 4) + ", not Another set."},
      {"text.bak", "", "is not a backup of a Vantrel site."},
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
  }
  EXPECT_EQ(Events().size(), 3u);  // the start lines only
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

// A restore killed at any moment leaves the site wholly old or wholly new, and no final name
// holding a partial file.
TEST_F(RestoreTest, AKilledRestoreLeavesTheSiteWhollyOldOrWhollyNew) {
  std::string name = Backup(file, "Site");
  // How long a whole restore takes here: the kills fall anywhere within it.
  auto started = std::chrono::steady_clock::now();
  Restore(name);
  for (const auto& e : fs::directory_iterator(archive))
    if (e.path().filename().string().find("_prerestore_") != std::string::npos) fs::remove(e.path());
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  std::mt19937 random(20261209);
  int oldSeen = 0, newSeen = 0;
  for (int round = 0; round < 20; ++round) {
    // Back to the old state (marker present) for every round but those that found it restored.
    if (sitedb::Db(file).Int("select count(*) from Groups where GroupCode = 'Marker'") == 0)
      sitedb::Db(file).Exec("INSERT INTO Groups (GroupCode) VALUES ('Marker')");
    pid_t pid = ::fork();
    if (pid == 0) {
      DbAdmin child;
      child.SetConnectionString(sitedb::ConnectionString(file));
      DoRestore(child, archive.string(), name, "", "admin");
      ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() * 5 / 4 + 1)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    sitedb::Db check(file);
    ASSERT_EQ(check.Text("PRAGMA integrity_check"), "ok");
    long long marker = check.Int("select count(*) from Groups where GroupCode = 'Marker'");
    (marker ? oldSeen : newSeen)++;
    EXPECT_EQ(check.Int("select count(*) from sqlite_master where name = 'VantrelBackupHeader'"), 0);
    for (const auto& e : fs::directory_iterator(archive)) {
      std::string n = e.path().filename().string();
      if (n.find("_prerestore_") != std::string::npos && n[0] != '.') {
        EXPECT_EQ(agent::IntegrityCheck(e.path()), "ok") << n;
        // The next round's safety copy takes this second's name again.
        fs::remove(e.path());
      }
    }
  }
  EXPECT_EQ(oldSeen + newSeen, 20);
  RecordProperty("old", oldSeen);
  RecordProperty("new", newSeen);
  // The next restore clears what killed ones left beside the site.
  Restore(name);
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".restore-"), std::string::npos);
}

}  // namespace
}  // namespace brisquel::backuptest
