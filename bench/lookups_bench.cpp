// Login and the issue-modification question on a large site: 10,000 users in 20 projects and
// 100,000 issues. A login pays for one Argon2id verification whether or not the user exists; the
// question is up to three indexed look-ups. The filter list of a site administrator reads every user.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/database.h"
#include "core/lookups.h"
#include "core/password.h"
#include "support/site_db.h"

namespace {

constexpr int kUsers = 10000;
constexpr int kProjects = 20;
constexpr int kIssues = 100000;
constexpr const char* kPassword = "bench password";

struct Site {
  std::filesystem::path file;
  Site() : file(sitedb::FreshSite(false)) {
    sitedb::Db raw(file);
    // One hash for every user: seeding must not run 10,000 Argon2 hashes.
    const std::string hash = brisquel::HashSecret(kPassword);
    raw.Exec("BEGIN");
    raw.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kProjects) +
        ") INSERT INTO Projects (ProjectId, ProjectCode) SELECT i + 100, 'Project ' || i FROM n;"
        "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) SELECT ProjectId, '', 1 FROM Projects "
        "  WHERE ProjectId > 100;"
        "INSERT INTO ProjectModules (ProjectId, ModuleCode) SELECT ProjectId, '' FROM Projects "
        "  WHERE ProjectId > 100;");
    // user<i> belongs to project i mod 20; every 500th user administers it.
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kUsers) +
             ") INSERT INTO Users (UserId, UserName, UserEMail, Password, DefaultFilter) "
             "SELECT 'user' || i, 'User ' || i, 'user' || i || '@example.com', '" + hash +
             "', 's:user' || i FROM n;"
             "INSERT INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator) "
             "SELECT 101 + CAST(substr(UserId, 5) AS INTEGER) % " + std::to_string(kProjects) +
             ", UserId, CAST(substr(UserId, 5) AS INTEGER) % 500 = 0 FROM Users WHERE UserId LIKE 'user%';");
    // Issue i is in project 101 + i mod 20, assigned to a member of it.
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kIssues) +
             ") INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, "
             "CreatedByUserId, Summary) "
             "SELECT i, 101 + i % " + std::to_string(kProjects) + ", 'user' || (((i * 7) % " +
             std::to_string(kUsers / kProjects - 1) + " + 1) * " + std::to_string(kProjects) + " + i % " +
             std::to_string(kProjects) + "), 'New', 'Open', 'user1', 'Issue ' || i FROM n;");
    raw.Exec("COMMIT");
  }
};

Site& TheSite() {
  static Site site;
  return site;
}

std::shared_ptr<brisquel::Database> Connect() { return sitedb::Open(TheSite().file); }

void BM_Login(benchmark::State& state, const char* user, const char* password, bool expected) {
  auto db = Connect();
  for (auto _ : state) {
    bool ok = brisquel::Login(*db, user, password);
    if (ok != expected) state.SkipWithError("unexpected login answer");
  }
}
BENCHMARK_CAPTURE(BM_Login, RightPassword, "user4711", kPassword, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Login, WrongPassword, "user4711", "bench passwore", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Login, UnknownUser, "user47110", kPassword, false)->Unit(benchmark::kMillisecond);

// user500 administers project 101 + 500 mod 20 = 101; issue 4 is in project 105 and assigned to
// user(28 mod 499 + 1) * 20 + 4 = user584.
void BM_UserCanModifyIssue(benchmark::State& state, const char* user, int32_t issue, bool expected) {
  auto db = Connect();
  for (auto _ : state) {
    bool ok = brisquel::UserCanModifyIssue(*db, user, issue);
    if (ok != expected) state.SkipWithError("unexpected answer");
  }
}
BENCHMARK_CAPTURE(BM_UserCanModifyIssue, SiteAdministrator, "admin", 4, true);
BENCHMARK_CAPTURE(BM_UserCanModifyIssue, ProjectAdministrator, "user500", 20, true);
BENCHMARK_CAPTURE(BM_UserCanModifyIssue, Assignee, "user584", 4, true);
BENCHMARK_CAPTURE(BM_UserCanModifyIssue, NoRight, "user585", 4, false);

void BM_GetUserFiltersRsSiteAdministrator(benchmark::State& state) {
  auto db = Connect();
  for (auto _ : state) {
    auto rs = brisquel::GetUserFiltersRs(*db, -1, "admin");
    if (rs->RecordCount() != kUsers + 3) state.SkipWithError("unexpected row count");
  }
}
BENCHMARK(BM_GetUserFiltersRsSiteAdministrator)->Unit(benchmark::kMillisecond);

void BM_GetUserFiltersRsMember(benchmark::State& state) {
  auto db = Connect();
  for (auto _ : state) {
    auto rs = brisquel::GetUserFiltersRs(*db, 101, "user20");
    benchmark::DoNotOptimize(rs->RecordCount());
  }
}
BENCHMARK(BM_GetUserFiltersRsMember)->Unit(benchmark::kMillisecond);

// The issue page's library calls for one issue, as each request makes them: on a Database of its
// own (0: one held across calls, the floor; 1: a new object per call, which takes this thread's
// kept connection; 2: a new object on a connection string no kept connection has, so a new
// connection that parses the schema again, as every request paid before connections were kept).
void BM_IssuePageCalls(benchmark::State& state) {
  const int64_t mode = state.range(0);
  auto held = Connect();
  int64_t n = 0;
  for (auto _ : state) {
    std::shared_ptr<brisquel::Database> db = held;
    if (mode == 1) db = Connect();
    if (mode == 2) {
      db = std::make_shared<brisquel::Database>();
      db->SetConnectionString(sitedb::ConnectionString(TheSite().file) + ";Application Name=" + std::to_string(n++));
    }
    const int32_t issue = 1 + static_cast<int32_t>(n % kIssues);
    benchmark::DoNotOptimize(brisquel::GetIssueRs(*db, issue));
    benchmark::DoNotOptimize(brisquel::UserCanModifyIssue(*db, "user584", issue));
    benchmark::DoNotOptimize(brisquel::GetCommentsRs(*db, issue, "Comments"));
    benchmark::DoNotOptimize(brisquel::GetAttachmentsRs(*db, issue));
    benchmark::DoNotOptimize(brisquel::GetIssueHistoryRs(*db, issue));
    benchmark::DoNotOptimize(brisquel::GetIssueFieldsRs(*db, "user584"));
    benchmark::DoNotOptimize(brisquel::GetIssueCodeTablesRs(*db));
    ++n;
  }
}
BENCHMARK(BM_IssuePageCalls)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
