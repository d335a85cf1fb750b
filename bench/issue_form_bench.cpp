// The issue entry form and the printer-friendly details on the demo site: Body of the default
// layout in modify mode for an issue with 20 comments, the validation script, and the details.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "automation/automation.h"
#include "core/database.h"
#include "support/site_db.h"

namespace {

using automation::Variant;

struct Site {
  std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<brisquel::Database> db;
  Site() {
    sitedb::Db raw(file);
    for (int i = 0; i < 20; ++i)
      raw.Exec("INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText, CommentCreatedOn) "
               "VALUES (1, 'Comments', 'bob', 'A comment of two lines' || char(13, 10) || 'and \"quotes\" <b>', "
               "'2026-01-01 10:00:00.000')");
    db = sitedb::Open(file);
  }
  Variant Db() const { return Variant(std::static_pointer_cast<automation::Object>(db)); }
  Variant Issue() const {
    return Variant(std::static_pointer_cast<automation::Object>(db->Read("select * from Issues where IssueId = 1")));
  }
};

void BM_EntryFormBodyModify(benchmark::State& state) {
  Site site;
  for (auto _ : state) {
    auto form = automation::CreateObject("Brisquel.DataEntryForm");
    benchmark::DoNotOptimize(form->Call(
        "Body", {site.Db(), site.Issue(), Variant("modify"), Variant(), Variant(""), Variant("alice")}));
  }
}
BENCHMARK(BM_EntryFormBodyModify)->Unit(benchmark::kMicrosecond);

void BM_EntryFormHeader(benchmark::State& state) {
  Site site;
  for (auto _ : state) {
    auto form = automation::CreateObject("Brisquel.DataEntryForm");
    benchmark::DoNotOptimize(
        form->Call("Header", {Variant("alice"), site.Db(), Variant(1), Variant("Fixed"), Variant("Open")}));
  }
}
BENCHMARK(BM_EntryFormHeader)->Unit(benchmark::kMicrosecond);

void BM_DetailsPrinterFriendlyBody(benchmark::State& state) {
  Site site;
  for (auto _ : state) {
    auto details = automation::CreateObject("Brisquel.DetailsPrinterFriendly");
    benchmark::DoNotOptimize(details->Call("Body", {site.Db(), site.Issue(), Variant("alice")}));
  }
}
BENCHMARK(BM_DetailsPrinterFriendlyBody)->Unit(benchmark::kMicrosecond);

}  // namespace
