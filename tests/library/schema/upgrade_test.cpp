// The version steps on a 1.00 site database: the result equals a new site, the trace, the edge
// cases of the recorded version and the legacy tables, and failures that leave nothing behind.
#include <gtest/gtest.h>

#include <algorithm>

#include "ado/connection.h"
#include "automation/automation.h"
#include "core/database.h"
#include "eventlog/eventlog.h"
#include "issues/issue_list.h"
#include "registry/registry.h"
#include "schema/ddl.h"
#include "schema/upgrade.h"
#include "support/com_error.h"
#include "support/site_db.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"
#include "upgrade_fixture.h"

namespace {

using automation::Variant;
namespace fs = std::filesystem;

constexpr const char* kPrefix = "Brisquel.dll::DbUpgrader.";

class Upgrade : public ::testing::Test {
 protected:
  Upgrade() {
    registry::WriteValue(registry::kVantrelKey, "LogDetailLevel", "1");
    upgradefixture::Create(file);
    events = eventlog::CaptureInMemory();
  }
  ~Upgrade() override { eventlog::SetSink(nullptr); }

  // Database.UpgradeDatabase by name, on a Database of its own.
  void Run() { sitedb::Open(file)->Call("UpgradeDatabase"); }
  // The upgrader's trace lines, without the common prefix.
  std::vector<std::string> Trace() const {
    std::vector<std::string> out;
    for (const std::string& t : events->Texts())
      if (t.rfind(kPrefix, 0) == 0) out.push_back(t.substr(std::string(kPrefix).size()));
    return out;
  }
  std::string Sql(const std::string& query) { return sitedb::Db(file).Text(query); }
  long long Count(const std::string& query) { return sitedb::Db(file).Int(query); }
  bool HasTable(const std::string& table) {
    return Count("select count(*) from sqlite_schema where type = 'table' and name = '" + table + "'") == 1;
  }

  testsupport::TempDir dir;
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  fs::path file = dir / "old.db";
  std::shared_ptr<eventlog::MemorySink> events;
};

// The kept issue counts, and the same counted from the issues.
constexpr const char* kKeptCounts =
    "select ProjectId || ':' || StatusCode || ':' || Issues from IssueCounts order by ProjectId, StatusCode";
constexpr const char* kCountedIssues =
    "select ProjectId || ':' || StatusCode || ':' || count(*) from Issues group by ProjectId, StatusCode "
    "order by ProjectId, StatusCode";

const std::vector<std::string> kFullTrace = {
    "Upgrade - Database version is 100",
    "Upgrade100To101 - Started",
    "UpdateVersion - Database version set to 1.01",
    "Upgrade100To101 - Finished",
    "Upgrade101To110 - Started",
    "UpdateVersion - Database version set to 1.10",
    "Upgrade101To110 - Finished",
    "Upgrade110To111 - Started",
    "UpdateVersion - Database version set to 1.11",
    "Upgrade110To111 - Finished",
    "CompleteIndexesAndCounts - Created 6 indexes",
    "CompleteIndexesAndCounts - Counted the issues into 1 row of IssueCounts",
    "CompleteTextSearch - Made the indexes of the word search",
    "Upgrade - Finished",
};

TEST_F(Upgrade, BringsTheOldDatabaseToTheSchemaOfANewSite) {
  Run();
  // ProjectUseCases is kept by the step (a new site has none); the rest must match line by line.
  auto upgraded = upgradefixture::Normalised(file, {"ProjectUseCases"});
  auto fresh = upgradefixture::Normalised(sitedb::FreshSite(false));
  EXPECT_GT(std::count_if(fresh.begin(), fresh.end(), [](const std::string& l) { return l.rfind("row EMail", 0) == 0; }),
            20);
  for (size_t i = 0; i < std::max(upgraded.size(), fresh.size()); ++i) {
    ASSERT_EQ(i < upgraded.size() ? upgraded[i] : "<end>", i < fresh.size() ? fresh[i] : "<end>") << "line " << i;
  }
  EXPECT_EQ(Count("select count(*) from pragma_foreign_key_check"), 0);
  EXPECT_EQ(sitedb::Db(file).Rows("select DatabaseVersion, WebSiteURL from VantrelSite"),
            std::vector<std::string>{"1.11|"});
  EXPECT_EQ(Trace(), kFullTrace);
}

TEST_F(Upgrade, KeepsRowsRowidsAndRowVersionsOfTheRebuiltHistory) {
  const char* kRows[] = {
      "select group_concat(HistoryId || ':' || IssueId || ':' || NewResolutionCode, ',') from IssueHistory",
      "select group_concat(IssueId || ':' || ResolutionCode || ':' || Summary, ',') from Issues",
      "select group_concat(CommentId || ':' || CommentText, ',') from IssueComments",
      "select group_concat(ProjectId || ':' || UseCase || ':' || SortOrder, ',') from ProjectUseCases",
      "select printf('%d', seq) from sqlite_sequence where name = 'IssueHistory'",
  };
  std::vector<std::string> before;
  for (const char* q : kRows) before.push_back(Sql(q));
  Run();
  for (size_t i = 0; i < std::size(kRows); ++i) EXPECT_EQ(Sql(kRows[i]), before[i]) << kRows[i];
  EXPECT_EQ(Count("select count(*) from ProjectUseCases where LastUpdated > 0"), 2);
  EXPECT_EQ(Count("select count(*) from Users where EMailEnabled = 1"), Count("select count(*) from Users"));
  EXPECT_FALSE(HasTable("IssueActivity"));
  EXPECT_FALSE(HasTable("UseCases"));
  // The keys added "with nocheck" hold for new rows.
  sitedb::Db db(file);
  EXPECT_EQ(db.Run("update Issues set ResolutionCode = 'NoSuchCode' where IssueId = 1").rc, SQLITE_CONSTRAINT_TRIGGER);
  EXPECT_EQ(db.Run("insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewStatusCode) "
                   "values (1, 1, 'olduser', 'NoSuchCode', 'Open')")
                .rc,
            SQLITE_CONSTRAINT_TRIGGER);
  EXPECT_EQ(db.Run("insert into IssueHistory (IssueId, ProjectId, UserId, NewStatusCode) "
                   "values (1, 1, 'olduser', 'Open')")
                .rc,
            SQLITE_CONSTRAINT_NOTNULL);
}

TEST_F(Upgrade, CountsTheIssuesOfAnOlderSiteIntoTheKeptCounts) {
  sitedb::Db(file).Exec("update Issues set StatusCode = 'Closed' where IssueId = 2");
  Run();
  const std::vector<std::string> counted = sitedb::Db(file).Rows(kCountedIssues);
  EXPECT_EQ(counted, (std::vector<std::string>{"1:Closed:1", "1:Open:2"}));
  EXPECT_EQ(sitedb::Db(file).Rows(kKeptCounts), counted);
}

TEST_F(Upgrade, AtTheCurrentVersionChangesNothing) {
  Run();
  auto before = upgradefixture::Normalised(file);
  std::string stamp = Sql("select LastUpdated from VantrelSite");
  const long long schema = Count("pragma schema_version");
  const std::vector<std::string> kept = sitedb::Db(file).Rows(kKeptCounts);
  events->Clear();
  Run();
  EXPECT_EQ(upgradefixture::Normalised(file), before);
  EXPECT_EQ(Sql("select LastUpdated from VantrelSite"), stamp);
  EXPECT_EQ(Count("pragma schema_version"), schema);
  EXPECT_EQ(sitedb::Db(file).Rows(kKeptCounts), kept);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"Upgrade - Database version is 111", "Upgrade - Finished"}));
}

struct LackingAtTheCurrentVersion {
  const char* what;
  std::string removal;  // statements on a new demo site
  std::vector<std::string> trace;
};

// The word search's indexes and their triggers, as the previous release had none.
const std::string kWithoutTextSearch =
    "DROP TRIGGER IssueCommentText_Insert; DROP TRIGGER IssueCommentText_Delete; DROP TRIGGER IssueCommentText_Update;"
    "DROP TABLE IssueCommentText; DROP TRIGGER IssueText_Summary_Index_Insert; DROP TRIGGER IssueText_Summary_Index_Delete;"
    "DROP TRIGGER IssueText_Summary_Index_Update; DROP TABLE IssueText_Summary_Index;";

// A site of this version made by the previous release, or missing a part of the structures, gets
// just what it lacks; its version row stays, and the lists count from the kept counts correctly
// then and after writes.
TEST_F(Upgrade, ASiteOfTheCurrentVersionGetsTheIndexesAndCountsItLacks) {
  const LackingAtTheCurrentVersion cases[] = {
      {"the previous release's site", upgradefixture::kWithoutListStructures,
       {"CompleteIndexesAndCounts - Created 6 indexes",
        "CompleteIndexesAndCounts - Counted the issues into 2 rows of IssueCounts"}},
      {"one index", "DROP INDEX IX_Issues_DateClosed", {"CompleteIndexesAndCounts - Created 1 index"}},
      {"a trigger of the counts", "DROP TRIGGER IssueCounts_Update; UPDATE IssueCounts SET Issues = 99",
       {"CompleteIndexesAndCounts - Counted the issues into 2 rows of IssueCounts"}},
      {"the word search's indexes", kWithoutTextSearch, {"CompleteTextSearch - Made the indexes of the word search"}},
      {"a trigger of the word search", "DROP TRIGGER IssueText_Summary_Index_Update",
       {"CompleteTextSearch - Made the indexes of the word search"}},
  };
  struct List {
    const char* filter;
    const char* where;
  };
  const List lists[] = {{"s:all", "1 = 1"}, {"s:allopen", "StatusCode = 'Open'"}};
  const char* writes[] = {
      "",
      "UPDATE Issues SET StatusCode = 'Closed' WHERE IssueId = 1",
      "INSERT INTO Issues (ProjectId, StatusCode, Valid, Summary) VALUES (1, 'Open', 1, 'Added')",
  };
  const auto fresh = upgradefixture::Normalised(sitedb::FreshSite(true));
  for (const LackingAtTheCurrentVersion& c : cases) {
    SCOPED_TRACE(c.what);
    file = sitedb::FreshSite(true);
    sitedb::Db(file).Exec(c.removal);
    const std::string site = Sql("select DatabaseVersion || '|' || LastUpdated from VantrelSite");
    events->Clear();
    Run();
    std::vector<std::string> trace = {"Upgrade - Database version is 111"};
    trace.insert(trace.end(), c.trace.begin(), c.trace.end());
    trace.push_back("Upgrade - Finished");
    EXPECT_EQ(Trace(), trace);
    EXPECT_EQ(upgradefixture::Normalised(file), fresh);
    EXPECT_EQ(Sql("select DatabaseVersion || '|' || LastUpdated from VantrelSite"), site);
    EXPECT_EQ(site.substr(0, 5), "1.11|");
    auto db = sitedb::Open(file);
    for (const char* write : writes) {
      if (*write) sitedb::Db(file).Exec(write);
      EXPECT_EQ(sitedb::Db(file).Rows(kKeptCounts), sitedb::Db(file).Rows(kCountedIssues)) << write;
      for (const List& l : lists)
        EXPECT_EQ(brisquel::GetFilteredIssuesRs(*db, -1, l.filter, "admin", "Issues.IssueId", 0)->RecordCount(),
                  Count(std::string("select count(*) from Issues where ") + l.where))
            << write << ": " << l.filter;
    }
  }
}

// A code table switched to natural sort has no SortOrder, nor the index a new site has on it: the
// site lacks nothing.
TEST_F(Upgrade, ACodeTableWithoutItsSortColumnLacksNoIndex) {
  file = sitedb::FreshSite(true);
  brisquel::schema::ddl::DropColumn(sitedb::Open(file)->Connection(), "Priorities", "SortOrder");
  events->Clear();
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"Upgrade - Database version is 111", "Upgrade - Finished"}));
}

// The indexes made by the upgrade hold the texts already there, and follow later writes.
TEST_F(Upgrade, TheWordSearchsIndexesHoldTheTextsAlreadyThere) {
  file = sitedb::FreshSite(true);
  sitedb::Db(file).Exec(kWithoutTextSearch);
  Run();
  const struct {
    const char* index;
    const char* word;
    const char* rowids;
  } cases[] = {
      {"IssueCommentText", "guide of build", "4"},
      {"IssueText_Summary_Index", "LOGIN", "1,2"},
  };
  sitedb::Db(file).Exec("UPDATE Issues SET Summary = 'Login fails' WHERE IssueId = 2");
  for (const auto& c : cases)
    EXPECT_EQ(Sql(std::string("select group_concat(rowid) from (select rowid from ") + c.index + " where " + c.index +
                  " match '\"" + c.word + "\"' order by rowid)"),
              c.rowids)
        << c.index;
}

TEST_F(Upgrade, AtOnePointOneRunsOnlyTheLastStep) {
  Run();
  {
    // Back to what the 1.10 step of the first release left: no site address columns.
    auto db = sitedb::Open(file);
    ado::Connection& c = db->Connection();
    brisquel::schema::ddl::DropConstraint(c, "EMailConfiguration", "DF_VantrelSite_WebSiteURL");
    brisquel::schema::ddl::DropColumn(c, "EMailConfiguration", "WebSiteURL");
    brisquel::schema::ddl::DropColumn(c, "VantrelSite", "WebSiteURL");
    c.ExecuteNonQuery("update VantrelSite set DatabaseVersion = 1.1");
  }
  events->Clear();
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"Upgrade - Database version is 110", "Upgrade110To111 - Started",
                                               "UpdateVersion - Database version set to 1.11",
                                               "Upgrade110To111 - Finished", "Upgrade - Finished"}));
  EXPECT_EQ(upgradefixture::Normalised(file, {"ProjectUseCases"}), upgradefixture::Normalised(sitedb::FreshSite(false)));
}

TEST_F(Upgrade, WithoutASiteTableCreatesItFirst) {
  sitedb::Db(file).Exec("drop table VantrelSite");
  Run();
  EXPECT_EQ(Trace().front(), "Upgrade - Database version is 0");
  EXPECT_EQ(Count("select count(*) from VantrelSite where DatabaseVersion = 1.11"), 1);
  EXPECT_EQ(upgradefixture::Normalised(file, {"ProjectUseCases"}), upgradefixture::Normalised(sitedb::FreshSite(false)));
}

TEST_F(Upgrade, AnotherFailureOfTheVersionReadRunsNoStep) {
  sitedb::Db(file).Exec("drop table VantrelSite; create table VantrelSite (LastUpdated DATETIME)");
  auto e = testsupport::ErrorOf([&] { Run(); });
  EXPECT_NE(e.description.find("no such column: DatabaseVersion"), std::string::npos) << e.description;
  EXPECT_FALSE(HasTable("EMailConfiguration"));
  EXPECT_TRUE(HasTable("IssueActivity"));
  EXPECT_TRUE(Trace().empty());
}

struct MissingLegacy {
  const char* table;
  const char* trace;
};

TEST_F(Upgrade, AMissingLegacyTableIsTracedAndTheStepGoesOn) {
  const MissingLegacy cases[] = {
      {"ProjectUseCases", "Upgrade101To110 - Error updating ProjectUseCases: The table 'ProjectUseCases' does not exist."},
      {"IssueActivity", "Upgrade101To110 - Error dropping table IssueActivity: The table 'IssueActivity' does not exist."},
      {"UseCases", "Upgrade101To110 - Error dropping table UserCases: The table 'UseCases' does not exist."},
  };
  for (const MissingLegacy& m : cases) {
    SCOPED_TRACE(m.table);
    fs::remove(file);
    upgradefixture::Create(file);
    sitedb::Db(file).Exec(std::string("drop table ") + m.table);
    events->Clear();
    Run();
    auto trace = Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), m.trace), trace.end());
    EXPECT_EQ(trace.back(), "Upgrade - Finished");
    EXPECT_EQ(Count("select count(*) from VantrelSite where DatabaseVersion = 1.11"), 1);
  }
}

TEST_F(Upgrade, ARegisteredUseCasesTableStays) {
  sitedb::Db(file).Exec(
      "insert into IssueCodeTables (TableName, TableFriendlyName, TableFriendlyNameSingular, TableFieldName, "
      "TableSortByFieldName, TableDefaultSortOrder) values ('UseCases', 'Use cases', 'Use case', 'UseCase', "
      "'UseCases.SortOrder', 'ASC')");
  Run();
  EXPECT_EQ(Count("select count(*) from UseCases"), 3);
  EXPECT_FALSE(HasTable("IssueActivity"));
}

TEST_F(Upgrade, AFailureInTheMiddleLeavesNothingAndTheConnectionWorks) {
  sitedb::Db(file).Exec("create table EMailTestResults (TestResultId INTEGER PRIMARY KEY)");
  auto before = upgradefixture::Normalised(file);
  auto db = sitedb::Open(file);
  auto e = testsupport::ErrorOf([&] { db->Call("UpgradeDatabase"); });
  // Each procedure on the way out adds its line, outermost first.
  size_t outer = e.source.find("Database.UpgradeDatabase\r\n");
  size_t upgrade = e.source.find("DbUpgrader.Upgrade\r\n");
  size_t step = e.source.find("DbUpgrader.Upgrade101to110");
  EXPECT_TRUE(outer < upgrade && upgrade < step && step != std::string::npos) << e.source;
  ado::Connection& c = db->Connection();
  ASSERT_NE(c.ErrorList().First(), nullptr);
  EXPECT_EQ(c.ErrorList().First()->nativeError, 2714);
  EXPECT_FALSE(c.InTransaction());
  EXPECT_EQ(upgradefixture::Normalised(file), before);
  EXPECT_EQ(Count("select count(*) from VantrelSite"), 0);
  // The same connection goes on working.
  c.ExecuteNonQuery("update Projects set ProjectDescription = 'still here' where ProjectCode = 'Legacy'");
  EXPECT_EQ(Sql("select ProjectDescription from Projects where ProjectCode = 'Legacy'"), "still here");
}

// The disk fills up while the 1.10 step rewrites ProjectUseCases, one of its tolerated statements:
// the engine has rolled the transaction back, so the upgrade stops there with the disk's sentence
// and the database stays whole at 1.00. Once there is room again, the upgrade completes. On a
// tmpfs, and where the room is a file size limit (as where no tmpfs can be mounted).
TEST_F(Upgrade, AFullDiskInAToleratedStatementLeavesTheOldVersionWhole) {
  for (const auto kind : {testsupport::SmallDisk::DefaultKind(), testsupport::SmallDisk::Kind::kFileSizeLimit}) {
    testsupport::SmallDisk disk(16 << 20, kind);
    SCOPED_TRACE(disk.Mounted() ? "on a tmpfs" : "under a file size limit");
    const fs::path small = disk / "old.db";
    upgradefixture::Create(small);
    const uintmax_t empty = fs::file_size(small);
    sitedb::Db(small).Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) INSERT INTO ProjectUseCases "
        "SELECT ProjectId, 'Use case ' || i, i FROM Projects, n WHERE ProjectCode = 'Legacy'");
    const uintmax_t useCases = fs::file_size(small) - empty;  // the table and its key
    const auto before = upgradefixture::Normalised(small);
    // Room for every statement before the rewrite of the use cases, not for the rewrite.
    disk.Fill(useCases / 4);
    events->Clear();
    // In a process of its own, which the limit is for: the error, where it arose, whether the
    // transaction is still open, the trace.
    const std::string out = disk.Run([&] {
      auto db = sitedb::Open(small);
      // A small page cache: the rewrite writes its pages to the log as it goes, not at the commit.
      db->Connection().ExecuteNonQuery("PRAGMA cache_size = 20");
      auto e = testsupport::ErrorOf([&] { db->Call("UpgradeDatabase"); });
      std::string text = e.description + "\f" + e.source + "\f" + (db->Connection().InTransaction() ? "open" : "closed");
      for (const std::string& line : Trace()) text += "\f" + line;
      return text;
    });
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
      const size_t end = out.find('\f', at);
      parts.push_back(out.substr(at, end - at));
      if (end == std::string::npos) break;
      at = end + 1;
    }
    ASSERT_GE(parts.size(), 3u) << out;
    EXPECT_EQ(parts[0], "The database cannot be written: the disk is full.");
    EXPECT_NE(parts[1].find("DbUpgrader.Upgrade101to110"), std::string::npos) << parts[1];
    EXPECT_EQ(parts[2], "closed");
    const std::vector<std::string> trace(parts.begin() + 3, parts.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "Upgrade101To110 - Started"), trace.end());
    for (const std::string& line : trace) EXPECT_EQ(line.find("Upgrade101To110 - Error"), std::string::npos) << line;
    EXPECT_EQ(std::find(trace.begin(), trace.end(), "Upgrade101To110 - Finished"), trace.end());
    disk.Free();
    EXPECT_EQ(upgradefixture::Normalised(small), before);
    EXPECT_EQ(sitedb::Db(small).Text("PRAGMA integrity_check"), "ok");
    sitedb::Open(small)->Call("UpgradeDatabase");
    EXPECT_EQ(sitedb::Db(small).Text("select DatabaseVersion from VantrelSite"), "1.11");
    EXPECT_EQ(sitedb::Db(small).Int("select count(*) from ProjectUseCases where LastUpdated > 0"), 20002);
  }
}

TEST_F(Upgrade, ANullResolutionInTheHistoryIsRefused) {
  sitedb::Db(file).Exec("update IssueHistory set NewResolutionCode = NULL where HistoryId = 2");
  auto before = upgradefixture::Normalised(file);
  auto db = sitedb::Open(file);
  testsupport::ErrorOf([&] { db->Call("UpgradeDatabase"); });
  ASSERT_NE(db->Connection().ErrorList().First(), nullptr);
  EXPECT_EQ(db->Connection().ErrorList().First()->nativeError, 515);
  EXPECT_EQ(upgradefixture::Normalised(file), before);
  EXPECT_EQ(Count("select count(*) from IssueHistory where NewResolutionCode is null"), 1);
}

TEST_F(Upgrade, TheUpgraderIsCreatableByName) {
  auto db = sitedb::Open(file);
  auto upgrader = automation::CreateObject("Brisquel.DbUpgrader");
  upgrader->Call("Upgrade", {db->Get("ActiveConnection")});
  EXPECT_EQ(Trace(), kFullTrace);
}

}  // namespace
