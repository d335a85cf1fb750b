// A backup of the 100,000-issue site while two threads commit one issue history row each, as fast
// as they can: the copy with its header and fsync, then with the integrity check of the copy.
// Counters: the writers' failed commits (aim 0) and their median commit time during the backup
// against the same without one (aim: within twice).
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <thread>

#include "backup.h"
#include "busy_writers.h"
#include "hundred_thousand_site.h"
#include "support/temp_dir.h"

namespace {

using benchwriters::Writers;

double MedianWithoutBackup(const std::filesystem::path& site) {
  double median;
  {
    Writers w(site);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    w.stop = true;
    for (auto& th : w.threads) th.join();
    w.threads.clear();
    median = w.Median();
  }
  return median;
}

void BM_Backup(benchmark::State& state) {
  const bool check = state.range(0) != 0;
  const std::filesystem::path site = benchsite::TheSite().file;
  const double baseline = MedianWithoutBackup(site);
  testsupport::TempDir dir;
  vagent::MaintenancePlan plan;
  plan.server = site.string();
  plan.database = "Bench";
  plan.report = dir / "BackupLog.txt";
  plan.backupFolder = dir.path();
  plan.checkDatabase = check;
  std::time_t start = std::time(nullptr) - 86400 * 365;
  int failures = 0;
  double median = 0;
  for (auto _ : state) {
    std::string message;
    Writers w(site);
    bool ok = vagent::RunBackup(plan, start += 60, message);
    w.stop = true;
    for (auto& th : w.threads) th.join();
    w.threads.clear();
    if (!ok) state.SkipWithError(message.c_str());
    failures += w.failures;
    median = w.Median();
  }
  state.counters["writer_failures"] = failures;
  state.counters["commit_ms_median"] = median;
  state.counters["commit_ms_median_without_backup"] = baseline;
}
BENCHMARK(BM_Backup)->Arg(0)->Arg(1)->ArgNames({"check"})->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
