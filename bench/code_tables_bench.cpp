// Code tables on a site with 100,000 issues, half of them of priority 'High', and 100 projects:
// renaming that priority (every holding issue rewritten, the old row removed last), and creating
// and deleting a per-project code table (one blank value per project). Each call is one committed
// transaction.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "configuration/code_table_writers.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "support/site_db.h"

namespace {

constexpr int kIssues = 100000;
constexpr int kProjects = 100;

struct Site {
  std::filesystem::path file;
  Site() : file(sitedb::FreshSite(true)) {
    sitedb::Db raw(file);
    raw.Exec("BEGIN");
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT 7 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kIssues + 6) +
             ") INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, "
             "Valid, Summary, PriorityCode, SeverityCode, ModuleCode) "
             "SELECT i, 1, 'alice', 'New', 'Open', 'carol', 1, 'Issue number ' || i, "
             "CASE i % 2 WHEN 0 THEN 'High' ELSE 'Normal' END, 'Minor', 'Core' FROM n;");
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kProjects) +
             ") INSERT INTO Projects (ProjectId, ProjectCode) SELECT i, 'Project ' || i FROM n;");
    raw.Exec("COMMIT");
  }
};

Site& TheSite() {
  static Site site;
  return site;
}

std::shared_ptr<brisquel::MultipartFormData> Form(const std::vector<std::pair<std::string, std::string>>& fields) {
  auto form = std::make_shared<brisquel::MultipartFormData>();
  for (const auto& [k, v] : fields) form->Fields()->Add(k, v);
  return form;
}

void BM_RenamePriorityOf50000Issues(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  // Google Benchmark runs the loop more than once on the same site: the names carry over.
  static std::string from = "High", to = "Highest";
  for (auto _ : state) {
    auto rs = brisquel::GetCodeRs(*db, "admin", "Priorities", 0, from);
    if (!brisquel::UpdateCodeTableValue(*db, "admin", rs,
                                        Form({{"CodeValue", to}, {"SortOrder", "3"}, {"TableName", "Priorities"}})))
      state.SkipWithError(db->LastErrorMessage().c_str());
    std::swap(from, to);
  }
}
BENCHMARK(BM_RenamePriorityOf50000Issues)->Unit(benchmark::kMillisecond);

const std::vector<std::pair<std::string, std::string>> kTable = {
    {"TableName", "Areas"},        {"VariesByProject", "on"},     {"TableFriendlyName", "Areas"},
    {"TableFriendlyNameSingular", "Area"}, {"TableDefaultSortOrder", "ASC"}, {"NaturalSort", "on"},
    {"TableFieldName", "AreaCode"}};

void BM_CreatePerProjectTable(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    if (!brisquel::CreateCodeTable(*db, "admin", Form(kTable))) state.SkipWithError(db->LastErrorMessage().c_str());
    state.PauseTiming();
    brisquel::DeleteCodeTable(*db, "admin", Form({{"chkTable", "Areas"}}));
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CreatePerProjectTable)->Unit(benchmark::kMillisecond);

void BM_DeletePerProjectTable(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    state.PauseTiming();
    brisquel::CreateCodeTable(*db, "admin", Form(kTable));
    state.ResumeTiming();
    if (!brisquel::DeleteCodeTable(*db, "admin", Form({{"chkTable", "Areas"}})))
      state.SkipWithError(db->LastErrorMessage().c_str());
  }
}
BENCHMARK(BM_DeletePerProjectTable)->Unit(benchmark::kMillisecond);

}  // namespace
