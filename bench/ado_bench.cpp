// The data layer's costs: a point lookup through the reader pattern, reading 1,000 and 100,000
// rows, a one-row batch update, and a recordset string of 1,000 rows there and back.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "ado/ado.h"
#include "core/database.h"
#include "core/recordset_persistence.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRows = 100000;

struct Site {
  testsupport::TempDir dir;
  std::string cs;
  Site() {
    cs = "Data Source=" + (dir / "bench.db").string();
    auto c = std::make_shared<ado::Connection>();
    c->Open(cs);
    c->ExecuteNonQuery(
        "CREATE TABLE Items (ItemId INTEGER PRIMARY KEY AUTOINCREMENT, GroupCode varchar(20) NOT NULL COLLATE NOCASE,"
        " Name varchar(50) NOT NULL COLLATE NOCASE, Quantity int NOT NULL DEFAULT 0, Price float NULL,"
        " Active bit NOT NULL DEFAULT 1, Created datetime NOT NULL DEFAULT (GetDate()), Notes text NULL,"
        " LastUpdated INTEGER)");
    ado::InstallRowVersion(c->Handle(), "Items");
    c->BeginTrans();
    for (int i = 1; i <= kRows; ++i)
      c->ExecuteNonQuery("INSERT INTO Items (GroupCode, Name, Quantity, Price, Notes) VALUES (?, ?, ?, ?, ?)",
                         {ado::Param::Text(i % 3 ? "Dev" : "QA", 20), ado::Param::Text("Item number " + std::to_string(i), 50),
                          ado::Param::Long(i % 97), ado::Param::Double(i * 0.25),
                          ado::Param::Text("Some notes about item " + std::to_string(i), 0)});
    c->CommitTrans();
  }
};

Site& TheSite() {
  static Site site;
  return site;
}

std::shared_ptr<brisquel::Database> Connect(const std::string& extra = {}) {
  auto db = std::make_shared<brisquel::Database>();
  db->SetConnectionString(TheSite().cs + extra);
  return db;
}

void BM_PointLookup(benchmark::State& state) {
  auto db = Connect();
  int32_t id = 1;
  for (auto _ : state) {
    auto rs = db->Read("select * from Items where ItemId = ?", {ado::Param::Long(id)});
    benchmark::DoNotOptimize(rs->Value(size_t{2}));
    id = id % kRows + 1;
  }
}
BENCHMARK(BM_PointLookup);

// The same through the by-name objects, as a page or the sender calls it.
void BM_PointLookupByName(benchmark::State& state) {
  auto db = Connect();
  auto conn = std::static_pointer_cast<automation::Object>(db->GetActiveConnection());
  using automation::Variant;
  int32_t id = 1;
  for (auto _ : state) {
    auto cmd = automation::CreateObject("ADODB.Command");
    cmd->PutRef("ActiveConnection", Variant(conn));
    cmd->Put("CommandType", Variant(1));
    cmd->Put("CommandText", Variant("select * from Items where ItemId = ?"));
    Variant p = cmd->Call("CreateParameter", {Variant(""), Variant(3), Variant(1), Variant(4), Variant(id)});
    cmd->Get("Parameters").ToObject()->Call("Append", {p});
    auto rs = automation::CreateObject("ADODB.Recordset");
    rs->Call("Open", {Variant(cmd), Variant::Missing(), Variant(-1), Variant(4), Variant(-1)});
    rs->Get("Properties", {Variant("Update Criteria")}).ToObject()->Put("Value", Variant(3));
    rs->PutRef("ActiveConnection", Variant(std::shared_ptr<automation::Object>()));
    benchmark::DoNotOptimize(rs->Get("Fields", {Variant("Name")}).ToObject()->Get("Value"));
    id = id % kRows + 1;
  }
}
BENCHMARK(BM_PointLookupByName);

void BM_ReadRows(benchmark::State& state) {
  auto db = Connect();
  auto n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    auto rs = db->Read("select * from Items where ItemId <= ?", {ado::Param::Long(n)});
    if (rs->RecordCount() != n) state.SkipWithError("wrong count");
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ReadRows)->Arg(1000)->Arg(kRows)->Unit(benchmark::kMillisecond);

// A writer's batch update of one row read earlier; synchronous=FULL (the default) and NORMAL.
void UpdateOneRow(benchmark::State& state, const std::string& extra) {
  auto db = Connect(extra);
  auto rs = db->Read("select * from Items where ItemId = ?", {ado::Param::Long(500)});
  int32_t q = 0;
  for (auto _ : state) {
    rs->SetValue("Quantity", automation::Variant(++q));
    db->WriteBack(*rs);
  }
}
void BM_UpdateBatchOneRow(benchmark::State& state) { UpdateOneRow(state, ""); }
void BM_UpdateBatchOneRowSyncNormal(benchmark::State& state) { UpdateOneRow(state, ";Synchronous=Normal"); }
BENCHMARK(BM_UpdateBatchOneRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateBatchOneRowSyncNormal)->Unit(benchmark::kMicrosecond);

void BM_RecordsetString1000(benchmark::State& state) {
  auto db = Connect();
  auto rs = db->Read("select * from Items where ItemId <= 1000");
  size_t bytes = 0;
  for (auto _ : state) {
    std::string s = brisquel::RsToString(*db, rs);
    auto back = brisquel::RsFromString(*db, s);
    bytes = s.size();
    benchmark::DoNotOptimize(back);
  }
  state.counters["image_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RecordsetString1000)->Unit(benchmark::kMicrosecond);

}  // namespace
