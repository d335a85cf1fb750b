// The issue writers on a site with 100,000 issues (each with its creation history row) in the demo
// project, e-mail on with the assignment rule: creating an issue, updating one as a page does
// (read with GetIssueRs, post the form back) with a reassignment and with a field change only,
// and reassigning ten issues at once. Each call is one committed transaction.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "directory/directory.h"
#include "issues/issue_writers.h"
#include "support/site_db.h"

namespace {

constexpr int kIssues = 100000;
constexpr int kFirst = 7;  // after the demo's six

struct Site {
  std::filesystem::path file;
  Site() : file(sitedb::FreshSite(true)) {
    sitedb::Db raw(file);
    raw.Exec("BEGIN");
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT " + std::to_string(kFirst) + " UNION ALL SELECT i + 1 FROM n WHERE i < " +
             std::to_string(kFirst + kIssues - 1) +
             ") INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, "
             "Valid, Summary, PriorityCode, SeverityCode, ModuleCode) "
             "SELECT i, 1, CASE i % 2 WHEN 0 THEN 'alice' ELSE 'bob' END, 'New', 'Open', 'carol', 1, "
             "'Issue number ' || i, 'Normal', 'Minor', 'Core' FROM n;");
    raw.Exec("INSERT INTO IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewStatusCode, "
             "NewAssignedToUser) SELECT IssueId, 1, 'carol', 'New', 'Open', AssignedToUser FROM Issues "
             "WHERE IssueId >= " + std::to_string(kFirst));
    raw.Exec("UPDATE EMailConfiguration SET EMailEnabled = 1");
    raw.Exec("COMMIT");
  }
};

Site& TheSite() {
  static Site site;
  return site;
}

std::shared_ptr<brisquel::MultipartFormData> NewIssueForm() {
  auto form = std::make_shared<brisquel::MultipartFormData>();
  auto f = form->Fields();
  f->Add("ProjectCode", "1");
  f->Add("ModuleCode", "Core");
  f->Add("Summary", "The issue list sorts dates as text");
  f->Add("PriorityCode", "High");
  f->Add("SeverityCode", "Major");
  f->Add("DetectedInBuildCode", "1.1");
  f->Add("VerifiedInBuildCode", "");
  f->Add("Comments", "Open the list, sort by date opened.");
  f->Add("ResolutionCode", "New");
  f->Add("StatusCode", "Open");
  f->Add("AssignedToUser", "bob");
  return form;
}

void BM_CreateIssue(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  auto form = NewIssueForm();
  for (auto _ : state) {
    if (brisquel::CreateIssue(*db, "alice", form) <= 0) state.SkipWithError(db->LastErrorMessage().c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateIssue)->Unit(benchmark::kMillisecond);

// Issue ids spread over the whole table, so each update reads and writes a different row.
int32_t NextIssue(int64_t k) { return kFirst + static_cast<int32_t>((k * 7919) % kIssues); }

void BM_UpdateIssue(benchmark::State& state, bool reassign) {
  auto db = sitedb::Open(TheSite().file);
  int64_t k = 0;
  for (auto _ : state) {
    int32_t id = NextIssue(k++);
    auto rs = brisquel::GetIssueRs(*db, id);
    std::string assignee = rs->Value("AssignedToUser").ToString();
    if (reassign) assignee = assignee == "alice" ? "bob" : "alice";
    auto form = std::make_shared<brisquel::MultipartFormData>();
    auto f = form->Fields();
    f->Add("ProjectCode", "1");
    f->Add("ModuleCode", "Core");
    f->Add("Summary", "Issue number " + std::to_string(id) + (k % 2 ? " (checked)" : ""));
    f->Add("PriorityCode", "Normal");
    f->Add("SeverityCode", "Minor");
    f->Add("DetectedInBuildCode", "");
    f->Add("VerifiedInBuildCode", "");
    f->Add("Comments", reassign ? "Please take this one." : "");
    f->Add("ResolutionCode", "New");
    f->Add("StatusCode", "Open");
    f->Add("AssignedToUser", assignee);
    if (!brisquel::UpdateIssue(*db, "alice", rs, form)) state.SkipWithError(db->LastErrorMessage().c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_UpdateIssue, Reassign, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UpdateIssue, FieldsOnly, false)->Unit(benchmark::kMillisecond);

void BM_MassReassignTen(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  int64_t k = 0;
  for (auto _ : state) {
    auto form = std::make_shared<brisquel::MultipartFormData>();
    auto f = form->Fields();
    f->Add("cmbResolution", "New");
    f->Add("cmbStatus", "Open");
    f->Add("cmbAssignedTo", k % 2 ? "alice" : "bob");
    for (int i = 0; i < 10; ++i) f->Add("chkIssue", std::to_string(NextIssue(k * 10 + i)));
    ++k;
    if (!brisquel::MassReassign(*db, "admin", form)) state.SkipWithError(db->LastErrorMessage().c_str());
  }
  state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_MassReassignTen)->Unit(benchmark::kMillisecond);

// Deleting one user: one the issues name (refused after the check, nothing written), and one
// they do not (the check misses in every column, the user goes; put back untimed).
void BM_DeleteUser(benchmark::State& state) {
  const bool named = state.range(0) != 0;
  const std::string user = named ? "carol" : "zed";
  auto db = sitedb::Open(TheSite().file);
  auto form = std::make_shared<brisquel::MultipartFormData>();
  form->Fields()->Add("chkUser", user);
  for (auto _ : state) {
    if (!named) {
      state.PauseTiming();
      db->Exec("INSERT OR IGNORE INTO Users (UserId) VALUES ('zed')");
      state.ResumeTiming();
    }
    if (brisquel::DeleteUser(*db, "admin", form) == named) state.SkipWithError("wrong answer");
  }
}
BENCHMARK(BM_DeleteUser)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
