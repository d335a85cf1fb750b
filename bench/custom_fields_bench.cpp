// Custom fields on a site with 100,000 issues: creating a text and a list field (the column added
// with its default, the list's trigger key), growing and shrinking a text field (a rebuild of
// Issues) and deleting a field (its default dropped by a rebuild, then the column). Each call is one
// committed transaction. Each rebuild rewrites every row, so the iterations are few and fixed.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "configuration/issue_form.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "support/site_db.h"

namespace {

using FormFields = std::vector<std::pair<std::string, std::string>>;

struct Site {
  std::filesystem::path file;
  Site() : file(sitedb::FreshSite(true)) {
    sitedb::Db raw(file);
    raw.Exec("BEGIN");
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT 7 UNION ALL SELECT i + 1 FROM n WHERE i < 100006) "
             "INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, "
             "Valid, Summary, PriorityCode, SeverityCode, ModuleCode) "
             "SELECT i, 1, 'alice', 'New', 'Open', 'carol', 1, 'Issue number ' || i, 'Normal', 'Minor', 'Core' FROM n;");
    raw.Exec("COMMIT");
  }
};

Site& TheSite() {
  static Site site;
  return site;
}

std::shared_ptr<brisquel::MultipartFormData> Form(const FormFields& fields) {
  auto form = std::make_shared<brisquel::MultipartFormData>();
  for (const auto& [k, v] : fields) form->Fields()->Add(k, v);
  return form;
}

FormFields TextField(const std::string& name, int size) {
  return {{"FieldName", name}, {"FieldFriendlyName", name}, {"FieldType", "1"}, {"NumLines", "1"},
          {"TextMaxLength", std::to_string(size)}};
}

FormFields ListField(const std::string& name) {
  return {{"FieldName", name}, {"FieldFriendlyName", name}, {"FieldType", "2"}, {"CustomTable", "Priorities"}};
}

void Drop(brisquel::Database& db, const std::string& name) {
  brisquel::DeleteCustomField(db, "admin", Form({{"chkField", name}}));
}

void BM_CreateField(benchmark::State& state, bool list) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    if (!brisquel::CreateCustomField(*db, "admin", Form(list ? ListField("Urgency") : TextField("Notes", 100))))
      state.SkipWithError(db->LastErrorMessage().c_str());
    state.PauseTiming();
    Drop(*db, list ? "Urgency" : "Notes");
    state.ResumeTiming();
  }
}
BENCHMARK_CAPTURE(BM_CreateField, Text, false)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_CreateField, List, true)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_GrowAndShrink(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  brisquel::CreateCustomField(*db, "admin", Form(TextField("Sized", 100)));
  int size = 100;
  for (auto _ : state) {
    size = size == 100 ? 200 : 100;
    FormFields f = TextField("Sized", size);
    if (!brisquel::UpdateCustomField(*db, "admin", brisquel::GetIssueFieldRs(*db, "Sized"), Form(f)))
      state.SkipWithError(db->LastErrorMessage().c_str());
  }
  Drop(*db, "Sized");
}
BENCHMARK(BM_GrowAndShrink)->Unit(benchmark::kMillisecond)->Iterations(6);

void BM_DeleteField(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  for (auto _ : state) {
    state.PauseTiming();
    brisquel::CreateCustomField(*db, "admin", Form(TextField("Gone", 50)));
    state.ResumeTiming();
    if (!brisquel::DeleteCustomField(*db, "admin", Form({{"chkField", "Gone"}})))
      state.SkipWithError(db->LastErrorMessage().c_str());
  }
}
BENCHMARK(BM_DeleteField)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
