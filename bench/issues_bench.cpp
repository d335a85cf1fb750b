// The issue lists and charts on a site of 100,000 issues over one year in five projects, each with
// one comment: the first page of every open issue sorted by priority (a code-table column), side
// by side with the floor of the same statements run raw through the sqlite3 API (the count, then
// the page by LIMIT), the 500th page of 50, a word search over summaries and comments (through
// the trigram indexes and, beside it, scanned as before them), and the "Total Open Issues" trend
// over the year. At 1,000,000 issues (VANTREL_BENCH_MILLION): the first page, with the bytes it
// allocates, and a member's pages in issue order beside a walk of the Issues table's key written
// by hand.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/database.h"
#include "issues/issue_list.h"
#include "issues/statistics.h"
#include "issues/word_search.h"
#include "hundred_thousand_site.h"
#include "support/site_db.h"

// Bytes allocated with operator new, for the bytes a call allocates.
std::atomic<size_t> allocated{0};

// Out of line, so that the compiler does not pair a new it inlined with a delete it did not.
[[gnu::noinline]] void* operator new(size_t size) {
  allocated.fetch_add(size, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using benchsite::TheSite;

// Resident memory in MB (/proc/self/statm).
double ResidentMb() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void AllOpenFirstPage(benchmark::State& state, const std::string& user, const benchsite::Site& site = TheSite()) {
  auto db = sitedb::Open(site.file);
  for (auto _ : state) {
    const double before = ResidentMb();
    const size_t bytes = allocated.load();
    auto rs = brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", user, "PriorityCode_Priorities.SortOrder", 0);
    rs->SetAbsolutePage(1);
    for (int i = 0; i < rs->PageSize() && !rs->IsEOF(); ++i, rs->MoveNext())
      benchmark::DoNotOptimize(rs->Value("Summary"));
    state.counters["rows"] = rs->RecordCount();
    state.counters["held_mb"] = ResidentMb() - before;
    state.counters["alloc_kb"] = static_cast<double>(allocated.load() - bytes) / 1024.0;
  }
}

// A page of 50 of every open issue of a member of three projects, in issue order, as the list
// page asks for it.
void MemberPageByIssueId(benchmark::State& state, int page, const benchsite::Site& site) {
  auto db = sitedb::Open(site.file);
  for (auto _ : state) {
    auto rs = brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", "alice", "Issues.IssueId", 0);
    rs->SetPageSize(50);
    rs->SetAbsolutePage(page);
    state.counters["first_id"] = rs->Value("IssueId").ToDouble();
    for (int i = 0; i < rs->PageSize() && !rs->IsEOF(); ++i, rs->MoveNext())
      benchmark::DoNotOptimize(rs->Value("Summary"));
  }
}

// The same page found by hand: the member's projects read, then the Issues table walked in the
// order of its key (the issue id), each issue's project and status tested here, the issues before
// the page stepped over; then the page's rows read by id.
void MemberPageByIssueIdHandWalk(benchmark::State& state, int page, const benchsite::Site& site) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(site.file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  auto prepare = [&](const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw, sql, -1, &st, nullptr);
    return st;
  };
  for (auto _ : state) {
    sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
    std::set<int64_t> projects;
    sqlite3_stmt* mine = prepare("SELECT ProjectId FROM ProjectUsers WHERE UserId = 'alice'");
    while (sqlite3_step(mine) == SQLITE_ROW) projects.insert(sqlite3_column_int64(mine, 0));
    sqlite3_finalize(mine);
    const int64_t skip = static_cast<int64_t>(page - 1) * 50;
    int64_t seen = 0;
    std::vector<int64_t> ids;
    sqlite3_stmt* walk = prepare("SELECT IssueId, ProjectId, StatusCode FROM Issues ORDER BY IssueId");
    while (ids.size() < 50 && sqlite3_step(walk) == SQLITE_ROW) {
      if (!projects.count(sqlite3_column_int64(walk, 1))) continue;
      if (sqlite3_strnicmp(reinterpret_cast<const char*>(sqlite3_column_text(walk, 2)), "Open", 5) != 0) continue;
      if (seen++ >= skip) ids.push_back(sqlite3_column_int64(walk, 0));
    }
    sqlite3_finalize(walk);
    sqlite3_stmt* row = prepare(
        "SELECT Projects.ProjectCode, Issues.* FROM Issues INNER JOIN Projects ON Issues.ProjectId = "
        "Projects.ProjectId WHERE Issues.IssueId = ?");
    for (int64_t id : ids) {
      sqlite3_bind_int64(row, 1, id);
      if (sqlite3_step(row) == SQLITE_ROW)
        for (int c = 0; c < sqlite3_column_count(row); ++c) benchmark::DoNotOptimize(sqlite3_column_text(row, c));
      sqlite3_reset(row);
    }
    sqlite3_finalize(row);
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    state.counters["first_id"] = ids.empty() ? 0.0 : static_cast<double>(ids.front());
  }
  sqlite3_close(raw);
}

// At 1,000,000 issues, when VANTREL_BENCH_MILLION is set (making the site takes a minute or two).
const bool kMillion = [] {
  if (!std::getenv("VANTREL_BENCH_MILLION")) return false;
  for (const char* user : {"admin", "alice"})
    benchmark::RegisterBenchmark((std::string("BM_MillionAllOpenFirstPageByPriority/") + user).c_str(),
                                 [user](benchmark::State& state) {
                                   AllOpenFirstPage(state, user, benchsite::MillionSite());
                                 })
        ->Unit(benchmark::kMillisecond);
  for (int page : {1, 500}) {
    const std::string name = "BM_MillionMemberPageOf50ByIssueId/" + std::to_string(page);
    benchmark::RegisterBenchmark(name.c_str(), [page](benchmark::State& state) {
      MemberPageByIssueId(state, page, benchsite::MillionSite());
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/HandWalk").c_str(), [page](benchmark::State& state) {
      MemberPageByIssueIdHandWalk(state, page, benchsite::MillionSite());
    })->Unit(benchmark::kMillisecond);
  }
  return true;
}();

// The list's statement and its count, as the list runs them, stepped raw: the floor.
void RawFloor(benchmark::State& state, const std::string& user) {
  auto db = sitedb::Open(TheSite().file);
  const std::string select =
      brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", user, "PriorityCode_Priorities.SortOrder", 0)->Source();
  const size_t from = select.find(" FROM "), order = select.find(" order by ");
  const std::string count = "SELECT count(*)" + select.substr(from, order - from);
  const std::string page = select + " limit ? offset ?";
  sqlite3* raw = nullptr;
  sqlite3_open_v2(TheSite().file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  auto run = [&](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr);
    // The user id where the statement has one, then the page's LIMIT and OFFSET.
    int slot = 1;
    if (select.find('?') != std::string::npos) sqlite3_bind_text(st, slot++, user.c_str(), -1, SQLITE_STATIC);
    if (slot <= sqlite3_bind_parameter_count(st)) sqlite3_bind_int(st, slot++, 10);
    if (slot <= sqlite3_bind_parameter_count(st)) sqlite3_bind_int(st, slot++, 0);
    int64_t rows = 0, first = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      if (rows++ == 0) first = sqlite3_column_int64(st, 0);
      for (int c = 0; c < sqlite3_column_count(st); ++c) benchmark::DoNotOptimize(sqlite3_column_text(st, c));
    }
    sqlite3_finalize(st);
    return first;
  };
  for (auto _ : state) {
    state.counters["rows"] = static_cast<double>(run(count));
    run(page);
  }
  sqlite3_close(raw);
}

// The first page read through a Database made for the call, as the site makes one per request.
void BM_AllOpenFirstPageByPriorityNewDatabase(benchmark::State& state) {
  const std::filesystem::path file = TheSite().file;
  for (auto _ : state) {
    auto db = sitedb::Open(file);
    auto rs = brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", "admin", "PriorityCode_Priorities.SortOrder", 0);
    for (int i = 0; i < rs->PageSize() && !rs->IsEOF(); ++i, rs->MoveNext())
      benchmark::DoNotOptimize(rs->Value("Summary"));
  }
}
BENCHMARK(BM_AllOpenFirstPageByPriorityNewDatabase)->Unit(benchmark::kMillisecond);

// The 500th page of 50, as the list page asks for it.
void Page500(benchmark::State& state, const std::string& user) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    auto rs = brisquel::GetFilteredIssuesRs(*db, -1, "s:allopen", user, "PriorityCode_Priorities.SortOrder", 0);
    rs->SetPageSize(50);
    rs->SetAbsolutePage(500);
    for (int i = 0; i < rs->PageSize() && !rs->IsEOF(); ++i, rs->MoveNext())
      benchmark::DoNotOptimize(rs->Value("Summary"));
  }
}

void BM_AllOpenFirstPageByPriority(benchmark::State& state) { AllOpenFirstPage(state, "admin"); }
BENCHMARK(BM_AllOpenFirstPageByPriority)->Unit(benchmark::kMillisecond);

void BM_AllOpenFirstPageByPriorityRawFloor(benchmark::State& state) { RawFloor(state, "admin"); }
BENCHMARK(BM_AllOpenFirstPageByPriorityRawFloor)->Unit(benchmark::kMillisecond);

void BM_AllOpenFirstPageByPriorityMember(benchmark::State& state) { AllOpenFirstPage(state, "alice"); }
BENCHMARK(BM_AllOpenFirstPageByPriorityMember)->Unit(benchmark::kMillisecond);

void BM_AllOpenFirstPageByPriorityMemberRawFloor(benchmark::State& state) { RawFloor(state, "alice"); }
BENCHMARK(BM_AllOpenFirstPageByPriorityMemberRawFloor)->Unit(benchmark::kMillisecond);

void BM_AllOpenPage500Of50ByPriority(benchmark::State& state) { Page500(state, "admin"); }
BENCHMARK(BM_AllOpenPage500Of50ByPriority)->Unit(benchmark::kMillisecond);

void BM_AllOpenPage500Of50ByPriorityMember(benchmark::State& state) { Page500(state, "alice"); }
BENCHMARK(BM_AllOpenPage500Of50ByPriorityMember)->Unit(benchmark::kMillisecond);

// The same site without the word search's indexes, as the previous release had it: the search
// scans every summary and comment with LIKE.
const std::filesystem::path& SiteWithoutIndexes() {
  static const std::filesystem::path file = [] {
    std::filesystem::path copy = TheSite().file;
    copy.replace_filename("without-indexes.db");
    std::filesystem::copy_file(TheSite().file, copy, std::filesystem::copy_options::overwrite_existing);
    sitedb::Db(copy).Exec(
        "DROP TRIGGER IssueCommentText_Insert; DROP TRIGGER IssueCommentText_Delete;"
        "DROP TRIGGER IssueCommentText_Update; DROP TABLE IssueCommentText;"
        "DROP TRIGGER IssueText_Summary_Index_Insert; DROP TRIGGER IssueText_Summary_Index_Delete;"
        "DROP TRIGGER IssueText_Summary_Index_Update; DROP TABLE IssueText_Summary_Index; VACUUM;");
    return copy;
  }();
  return file;
}

// A word search of the site administrator over every issue, counted, and its first page read:
// "needle" (20 issues), "ne" (too short for the indexes: the scan), "wait 1" (11,112 comments,
// just under the share of texts past which the search scans) and "button" (every comment).
void TextSearch(benchmark::State& state, const std::string& word, bool indexes) {
  auto db = sitedb::Open(indexes ? TheSite().file : SiteWithoutIndexes());
  for (auto _ : state) {
    auto rs = brisquel::FindIssueByTextRs(*db, "admin", -1, true, "Issues.IssueId", 0, word);
    if (!rs) {
      state.SkipWithError(db->GetLastErrorMessage().c_str());
      break;
    }
    for (int i = 0; i < rs->PageSize() && !rs->IsEOF(); ++i, rs->MoveNext())
      benchmark::DoNotOptimize(rs->Value("Summary"));
    state.counters["rows"] = rs->RecordCount();
  }
  state.counters["indexed"] = brisquel::WordSearchCondition(*db, word, true).indexed;
}
BENCHMARK_CAPTURE(TextSearch, Needle, "needle", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextSearch, NeedleScanned, "needle", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextSearch, ShortWord, "ne", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextSearch, OneCommentInNine, "wait 1", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextSearch, OneCommentInNineScanned, "wait 1", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextSearch, EveryComment, "button", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TextSearch, EveryCommentScanned, "button", false)->Unit(benchmark::kMillisecond);

void BM_TrendTotalOpenIssuesOverAYear(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    auto rs = brisquel::GetTrendData(*db, "admin", -1, "Total Open Issues", "All dates");
    state.counters["points"] = rs->RecordCount();
  }
}
BENCHMARK(BM_TrendTotalOpenIssuesOverAYear)->Unit(benchmark::kMillisecond);

}  // namespace
