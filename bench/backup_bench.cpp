// A backup of the 100,000-issue site while two threads commit one issue history row each, as fast
// as they can: the copy with its header and fsync, then with the integrity check of the copy.
// Counters: the writers' failed commits (aim 0) and their median commit time during the backup
// against the same without one (aim: within twice).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "backup.h"
#include "hundred_thousand_site.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Writers {
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::mutex m;
  std::vector<double> commitMs;
  std::vector<std::thread> threads;

  explicit Writers(const std::filesystem::path& site) {
    for (int t = 0; t < 2; ++t) threads.emplace_back([this, site, t] { Run(site, t); });
  }
  ~Writers() {
    stop = true;
    for (auto& th : threads) th.join();
  }
  void Run(const std::filesystem::path& site, int t) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(site.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    std::vector<double> mine;
    for (int i = 0; !stop; ++i) {
      auto start = Clock::now();
      std::string sql = "BEGIN IMMEDIATE; UPDATE Issues SET Summary = 'Issue written " + std::to_string(i) +
                        "' WHERE IssueId = " + std::to_string(7 + t * 1000 + i % 1000) + "; COMMIT;";
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        ++failures;
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      }
      mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    sqlite3_close(db);
    std::lock_guard<std::mutex> lock(m);
    commitMs.insert(commitMs.end(), mine.begin(), mine.end());
  }
  double Median() {
    std::lock_guard<std::mutex> lock(m);
    if (commitMs.empty()) return 0;
    std::nth_element(commitMs.begin(), commitMs.begin() + commitMs.size() / 2, commitMs.end());
    return commitMs[commitMs.size() / 2];
  }
};

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
