// Two threads committing one issue update each, as fast as they can, on their own connections to
// a site file; their failed commits and their commit times.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace benchwriters {

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

}  // namespace benchwriters
