// The issue lists and charts on a site of 100,000 issues over one year in five projects, each with
// one comment: the first page of every open issue sorted by priority (a code-table column), a
// text search over summaries and comments, and the "Total Open Issues" trend over the year.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/database.h"
#include "issues/issue_list.h"
#include "issues/statistics.h"
#include "issues_site.h"
#include "support/site_db.h"

namespace {

void AllOpenFirstPage(benchmark::State& state, const std::string& user) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    auto rs = brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", user, "PriorityCode_Priorities.SortOrder", 0);
    rs->SetAbsolutePage(1);
    for (int i = 0; i < rs->PageSize() && !rs->IsEOF(); ++i, rs->MoveNext())
      benchmark::DoNotOptimize(rs->Value("Summary"));
    state.counters["rows"] = rs->RecordCount();
  }
}

void BM_AllOpenFirstPageByPriority(benchmark::State& state) { AllOpenFirstPage(state, "admin"); }
BENCHMARK(BM_AllOpenFirstPageByPriority)->Unit(benchmark::kMillisecond);

void BM_AllOpenFirstPageByPriorityMember(benchmark::State& state) { AllOpenFirstPage(state, "alice"); }
BENCHMARK(BM_AllOpenFirstPageByPriorityMember)->Unit(benchmark::kMillisecond);

void BM_TextSearch(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    auto rs = brisquel::FindIssueByTextRs(*db, "admin", -1, true, "Issues.IssueId", 0, "needle");
    state.counters["rows"] = rs->RecordCount();
  }
}
BENCHMARK(BM_TextSearch)->Unit(benchmark::kMillisecond);

void BM_TrendTotalOpenIssuesOverAYear(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    auto rs = brisquel::GetTrendData(*db, "admin", -1, "Total Open Issues", "All dates");
    state.counters["points"] = rs->RecordCount();
  }
}
BENCHMARK(BM_TrendTotalOpenIssuesOverAYear)->Unit(benchmark::kMillisecond);

}  // namespace
