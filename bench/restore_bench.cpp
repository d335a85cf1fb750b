// A restore of the 100,000-issue site from its backup while two threads commit one issue update
// each, as fast as they can: the staging copy and its checks, the safety copy, the replacement in
// one write transaction and the checkpoint. Counters: the writers' failed commits (aim 0) and
// their longest commit, which waits for the replacement.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "jobstore/jobstore.h"
#include "busy_writers.h"
#include "hundred_thousand_site.h"
#include "maintenance/db_admin.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

void BM_Restore(benchmark::State& state) {
  testsupport::TempDir dir;
  const fs::path site = dir / "Site.db";
  const fs::path archive = dir / "backups";
  fs::copy_file(benchsite::TheSite().file, site);
  fs::create_directories(archive);
  ::setenv("VANTREL_AGENT_STORE", (dir / "agent.db").c_str(), 1);
  ::setenv("VANTREL_EVENTLOG", (dir / "events.log").c_str(), 1);
  sitedb::Db(site).Exec("update SiteBackups set BackupArchive = '" + archive.string() + "'");
  const std::time_t start = std::time(nullptr) - 3600;
  const std::string name = "Site_db_bench.bak";
  agent::WriteBackupFile(site, archive / name, "Site", start);
  int failures = 0;
  double longest = 0;
  for (auto _ : state) {
    brisquel::DbAdmin admin;
    admin.SetConnectionString(sitedb::ConnectionString(site));
    benchwriters::Writers w(site);
    const std::string messages = brisquel::DoRestore(admin, archive.string(), name, "", "admin");
    w.stop = true;
    for (auto& th : w.threads) th.join();
    w.threads.clear();
    if (messages.empty()) state.SkipWithError(admin.GetLastErrorMessage().c_str());
    failures += w.failures;
    for (double ms : w.commitMs) longest = std::max(longest, ms);
    state.PauseTiming();
    for (const auto& e : fs::directory_iterator(archive))
      if (e.path().filename().string().find("_prerestore_") != std::string::npos) fs::remove(e.path());
    state.ResumeTiming();
  }
  state.counters["writer_failures"] = failures;
  state.counters["commit_ms_longest"] = longest;
}
BENCHMARK(BM_Restore)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
