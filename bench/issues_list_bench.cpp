// The issue-list renderers on the 100,000-issue site: one page of 50 rows with selection boxes
// (List), and the printer-friendly list and the download of 1,000 issues, with a layout of six
// columns and a comments sub-row. The recordsets are read once; only the renderers are timed.
// Then both renderers over every open issue, walked from the reader's paged list.
// Then the page MyAssignments.asp over loopback, beside the reader it starts with.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "ado/ado.h"
#include "core/database.h"
#include "issues/issue_list.h"
#include "hundred_thousand_site.h"
#include "loopback_site.h"
#include "pages/issues_list.h"
#include "support/site_db.h"

namespace {

using benchsite::TheSite;

void BenchLayout() {
  static bool made = false;
  if (made) return;
  made = true;
  sitedb::Db sql(TheSite().file);
  sql.Exec(
      "INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) VALUES ('admin', 'Bench', 2);"
      "INSERT INTO SummaryLayoutFields VALUES ('admin', 'Bench', 1, 1, 'IssueId'), ('admin', 'Bench', 1, 2, "
      "'ProjectCode'), ('admin', 'Bench', 1, 3, 'Summary'), ('admin', 'Bench', 1, 4, 'PriorityCode'), "
      "('admin', 'Bench', 1, 5, 'StatusCode'), ('admin', 'Bench', 1, 6, 'AssignedToUser'), "
      "('admin', 'Bench', 2, 1, 'Comments');");
}

std::shared_ptr<ado::Recordset> Thousand(brisquel::Database& db) {
  return db.Read(
      "select Projects.ProjectCode, Issues.* from Issues join Projects on Issues.ProjectId = Projects.ProjectId "
      "where IssueId between 7 and 1006 order by IssueId");
}

void BM_ListPageOf50WithSelection(benchmark::State& state) {
  BenchLayout();
  auto db = sitedb::Open(TheSite().file);
  auto rs = brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", "admin", "Issues.IssueId", 0);
  brisquel::IssuesList list;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.List(db, rs, "/Assignments/MyAssignments.asp", "/Issues/Issue.asp", "admin", -1,
                                       "MyAssignments", "", "Bench", "Issues.IssueId", 0, 2, 50, true, ""));
  }
}
BENCHMARK(BM_ListPageOf50WithSelection)->Unit(benchmark::kMillisecond);

void BM_PrinterFriendlyOf1000(benchmark::State& state) {
  BenchLayout();
  auto db = sitedb::Open(TheSite().file);
  auto rs = Thousand(*db);
  brisquel::IssuesList list;
  for (auto _ : state)
    benchmark::DoNotOptimize(list.PrinterFriendly(db, rs, "<b>Issues</b>", "admin", "Bench", "Issues.IssueId", 0));
}
BENCHMARK(BM_PrinterFriendlyOf1000)->Unit(benchmark::kMillisecond);

void BM_DataFileOf1000(benchmark::State& state) {
  BenchLayout();
  auto db = sitedb::Open(TheSite().file);
  auto rs = Thousand(*db);
  brisquel::IssuesList list;
  for (auto _ : state) {
    rs->MoveFirst();
    benchmark::DoNotOptimize(list.DataFile(db, rs, "admin", "Bench"));
  }
}
BENCHMARK(BM_DataFileOf1000)->Unit(benchmark::kMillisecond);

// The printer-friendly list and the download of every open issue for a site administrator
// (50,003), by priority, walked from the reader's own paged list as the printer pages and the
// downloads of MyAssignments and Search walk it: the reader, the rows read and the renderer.
void BM_AllOpenListWalked(benchmark::State& state, bool download) {
  BenchLayout();
  auto db = sitedb::Open(TheSite().file);
  brisquel::IssuesList list;
  const char* order = "PriorityCode_Priorities.SortOrder";
  for (auto _ : state) {
    auto rs = brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", "admin", order, 0);
    state.counters["rows"] = rs->RecordCount();
    if (download)
      benchmark::DoNotOptimize(list.DataFile(db, rs, "admin", "Bench"));
    else
      benchmark::DoNotOptimize(list.PrinterFriendly(db, rs, "<b>Issues</b>", "admin", "Bench", order, 0));
  }
}
BENCHMARK_CAPTURE(BM_AllOpenListWalked, PrinterFriendly, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AllOpenListWalked, DataFile, true)->Unit(benchmark::kMillisecond);

// The reader alone, as the page calls it: every open issue for a site administrator.
void BM_FilteredIssuesAllOpen(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state)
    benchmark::DoNotOptimize(brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", "admin", "Issues.IssueId", 0));
}
BENCHMARK(BM_FilteredIssuesAllOpen)->Unit(benchmark::kMillisecond);

// The same on a connection of its own, as every request of the site opens one.
void BM_FilteredIssuesAllOpenNewConnection(benchmark::State& state) {
  for (auto _ : state) {
    auto db = sitedb::Open(TheSite().file);
    benchmark::DoNotOptimize(brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", "admin", "Issues.IssueId", 0));
  }
}
BENCHMARK(BM_FilteredIssuesAllOpenNewConnection)->Unit(benchmark::kMillisecond);

// The whole page for admin: the reader, the boxes, a page of 50 issues and the reassign form; with
// the argument 0, a filter that lists nothing (what the page costs besides its list).
void BM_MyAssignmentsOverLoopback(benchmark::State& state) {
  const std::string filter = state.range(0) ? "s:allopen" : "s:nobody";
  BenchLayout();
  sitedb::Db(TheSite().file).Exec("UPDATE Users SET MyAssignmentNumIssues = 50 WHERE UserId = 'admin'");
  benchsite::LoopbackSite site(TheSite().file, "admin");
  for (auto _ : state) {
    auto r = site.Get("/APP/Assignments/MyAssignments.asp?Filter=" + filter + "&Layout=Bench&PageNum=2");
    if (!r || r->status != 200) state.SkipWithError("wrong answer");
  }
}
BENCHMARK(BM_MyAssignmentsOverLoopback)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
