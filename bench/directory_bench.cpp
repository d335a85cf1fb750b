// The user and project writers on large sites. Users: 10,000 users and 20,000 issues with a history
// row each; CreateUser against one Argon2id hash, DeleteUser of a user with 20 layouts and 20
// filters. Projects: 100,000 issues; CreateProject with 50 members, DeleteProject of a project with
// 20,000 issues (history, a comment and a notification each).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/database.h"
#include "core/multipart.h"
#include "core/password.h"
#include "directory/directory.h"
#include "support/site_db.h"

namespace {

using brisquel::MultipartFormData;

std::string Seq(int n) {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(n) + ") ";
}

// 20 projects (101-120) with their blank build and module; `users` users, members of project
// 101 + i mod 20; `issues` issues in project 101 + i mod 20, each with a history row.
std::filesystem::path MakeSite(int users, int issues) {
  std::filesystem::path file = sitedb::FreshSite(false);
  sitedb::Db raw(file);
  raw.Exec("BEGIN");
  raw.Exec(Seq(20) +
           "INSERT INTO Projects (ProjectId, ProjectCode) SELECT i + 100, 'Project ' || i FROM n;"
           "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) SELECT ProjectId, '', 1 FROM Projects;"
           "INSERT INTO ProjectModules (ProjectId, ModuleCode) SELECT ProjectId, '' FROM Projects;");
  raw.Exec(Seq(users) +
           "INSERT INTO Users (UserId, UserName, DefaultFilter) SELECT 'user' || i, 'User ' || i, 's:user' || i "
           "FROM n;"
           "INSERT INTO ProjectUsers (ProjectId, UserId) SELECT 101 + CAST(substr(UserId, 5) AS INTEGER) % 20, "
           "UserId FROM Users WHERE UserId LIKE 'user%';");
  raw.Exec(Seq(issues) +
           "INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, CreatedByUserId, Summary) "
           "SELECT i, 101 + i % 20, 'user' || (i % 5000 + 1), 'user1', 'Issue ' || i FROM n;"
           "INSERT INTO IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewStatusCode, "
           "NewAssignedToUser) SELECT IssueId, ProjectId, CreatedByUserId, '', 'Open', AssignedToUser FROM Issues;");
  raw.Exec("COMMIT");
  return file;
}

std::shared_ptr<MultipartFormData> Form(std::initializer_list<std::pair<std::string, std::string>> fields) {
  auto form = std::make_shared<MultipartFormData>();
  for (const auto& [name, value] : fields) form->Fields()->Add(name, value);
  return form;
}

const std::filesystem::path& UsersSite() {
  static const std::filesystem::path file = MakeSite(10000, 20000);
  return file;
}

void BM_HashSecret(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(brisquel::HashSecret("bench password"));
}
BENCHMARK(BM_HashSecret)->Unit(benchmark::kMillisecond);

void BM_CreateUser(benchmark::State& state) {
  auto db = sitedb::Open(UsersSite());
  static int n = 0;  // repetitions share the site
  for (auto _ : state) {
    const std::string id = "new" + std::to_string(++n);
    if (!brisquel::CreateUser(*db, "admin",
                              Form({{"UserId", id}, {"UserName", "New"}, {"Password1", "bench password"},
                                    {"Password2", "bench password"}, {"GroupCode", "Developers"}})))
      state.SkipWithError(db->LastErrorMessage().c_str());
  }
}
BENCHMARK(BM_CreateUser)->Unit(benchmark::kMillisecond);

void BM_DeleteUser(benchmark::State& state) {
  auto db = sitedb::Open(UsersSite());
  sitedb::Db raw(UsersSite());
  static int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string id = "gone" + std::to_string(++n);
    raw.Exec("INSERT INTO Users (UserId, UserName) VALUES ('" + id + "', 'Gone');"
             "INSERT INTO UserGroups (UserId, GroupCode) VALUES ('" + id + "', 'Developers');"
             "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (101, '" + id + "');" +
             Seq(20) + "INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) SELECT '" + id +
             "', 'Layout ' || i, 2 FROM n;" + Seq(20) +
             "INSERT INTO SummaryFilters (UserId, FilterName) SELECT '" + id + "', 'Filter ' || i FROM n;"
             "INSERT INTO SummaryLayoutFields (UserId, LayoutName, RowNumber, DisplayOrder, FieldName) "
             "SELECT UserId, LayoutName, 1, f.i, 'IssueId' FROM SummaryLayouts, (" + Seq(9) +
             "SELECT i FROM n) AS f WHERE UserId = '" + id + "'");
    state.ResumeTiming();
    if (!brisquel::DeleteUser(*db, "admin", Form({{"chkUser", id}})))
      state.SkipWithError(db->LastErrorMessage().c_str());
  }
}
BENCHMARK(BM_DeleteUser)->Unit(benchmark::kMillisecond);

const std::filesystem::path& ProjectsSite() {
  static const std::filesystem::path file = MakeSite(1000, 100000);
  return file;
}

void BM_CreateProject(benchmark::State& state) {
  auto db = sitedb::Open(ProjectsSite());
  static int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto form = Form({{"ProjectCode", "New " + std::to_string(++n)}, {"ProjectDescription", "New project"}});
    for (int i = 1; i <= 50; ++i) form->Fields()->Add("TeamMember", "user" + std::to_string(i));
    for (int i = 1; i <= 5; ++i) form->Fields()->Add("ProjectAdmin", "user" + std::to_string(i));
    form->Fields()->Add("GroupLead", "user7");
    form->Fields()->Add("GroupCode", "Developers");
    state.ResumeTiming();
    if (!brisquel::CreateProject(*db, "admin", form)) state.SkipWithError(db->LastErrorMessage().c_str());
  }
}
BENCHMARK(BM_CreateProject)->Unit(benchmark::kMillisecond);

// A project of 20,000 issues (ids from 1,000,001), each with history, a comment and a pending
// notification, is made before each deletion.
void BM_DeleteProject(benchmark::State& state) {
  auto db = sitedb::Open(ProjectsSite());
  sitedb::Db raw(ProjectsSite());
  for (auto _ : state) {
    state.PauseTiming();
    raw.Exec("BEGIN;"
             "INSERT INTO Projects (ProjectId, ProjectCode) VALUES (900000, 'Doomed');"
             "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (900000, '', 1);"
             "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (900000, '');"
             "INSERT INTO ProjectUsers (ProjectId, UserId) SELECT 900000, UserId FROM Users LIMIT 50;" +
             Seq(20000) +
             "INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, Summary) SELECT 1000000 + i, 900000, 'user1', "
             "'Doomed ' || i FROM n;"
             "INSERT INTO IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewStatusCode) "
             "SELECT IssueId, 900000, 'user1', '', 'Open' FROM Issues WHERE ProjectId = 900000;"
             "INSERT INTO IssueComments (IssueId, FieldName, CommentText) SELECT IssueId, 'Comments', 'c' "
             "FROM Issues WHERE ProjectId = 900000;"
             "INSERT INTO EMailNotifications (EMailAddress, IssueId, TemplateName) SELECT 'a@example.com', IssueId, "
             "'Assignment Notice' FROM Issues WHERE ProjectId = 900000;"
             "COMMIT");
    state.ResumeTiming();
    if (!brisquel::DeleteProject(*db, "admin", Form({{"chkProject", "900000"}})))
      state.SkipWithError(db->LastErrorMessage().c_str());
  }
}
BENCHMARK(BM_DeleteProject)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
