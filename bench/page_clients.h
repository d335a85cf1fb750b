// Clients of a site over loopback, as the benchmarks of whole pages under load run them: each a
// thread of its own with its own keep-alive connection, all sending the same headers (the signed-in
// user's cookie), sending their requests one after another from the start until told to stop,
// never waiting for the others. The times of the requests answered while measuring is on go to
// each client's own list; the first failure ends its client and is kept.
#pragma once

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace benchsite {

struct Outcome {
  std::atomic<bool> failed{false};
  std::atomic<size_t> bytes{0};  // of the last answer
  std::mutex mutex;
  std::string failure;  // the first
  void Fail(std::string what) {
    std::lock_guard lock(mutex);
    if (!failed.exchange(true)) failure = std::move(what);
  }
};

class Load {
 public:
  using Clock = std::chrono::steady_clock;
  // The path of the n-th request of client c.
  using PathOf = std::function<std::string(int client, int n)>;

  Load(int port, httplib::Headers headers, int count, PathOf path)
      : path_(std::move(path)), headers_(std::move(headers)), times_(count), ready_(count + 1) {
    threads_.reserve(count);
    for (int c = 0; c < count; ++c) threads_.emplace_back([this, port, c] { Client(port, c); });
    // Every connection is open and has had one answer before anything is measured.
    ready_.arrive_and_wait();
  }
  ~Load() { Stop(); }
  Load(const Load&) = delete;
  Load& operator=(const Load&) = delete;

  void Measure(bool on) { measuring_ = on; }
  void Stop() {
    stop_ = true;
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  }
  // Answered so far, measured or not.
  size_t Answered() const { return answered_; }
  const std::vector<std::vector<double>>& Times() const { return times_; }
  Outcome& Result() { return outcome_; }

 private:
  void Client(int port, int c) {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    // A request may wait behind the others' at 64 clients.
    client.set_read_timeout(std::chrono::seconds(120));
    bool arrived = false;
    for (int n = 0; !stop_; ++n) {
      const std::string path = path_(c, n);
      const auto t0 = Clock::now();
      auto r = client.Get(path, headers_);
      const auto t1 = Clock::now();
      if (!r || r->status != 200) {
        outcome_.Fail(path + (r ? " answered " + std::to_string(r->status) + ": " + r->body.substr(0, 200)
                                : " had no answer: " + httplib::to_string(r.error())));
        if (!arrived) ready_.count_down();
        return;
      }
      outcome_.bytes = r->body.size();
      ++answered_;
      if (!arrived) {
        arrived = true;
        ready_.arrive_and_wait();
      } else if (measuring_) {
        times_[c].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      }
    }
  }

  const PathOf path_;
  const httplib::Headers headers_;
  std::vector<std::vector<double>> times_;
  std::latch ready_;
  std::atomic<bool> measuring_{false};
  std::atomic<bool> stop_{false};
  std::atomic<size_t> answered_{0};
  Outcome outcome_;
  std::vector<std::thread> threads_;
};

// Every client's times, sorted.
inline std::vector<double> AllTimes(const Load& load) {
  std::vector<double> all;
  for (const auto& t : load.Times()) all.insert(all.end(), t.begin(), t.end());
  std::sort(all.begin(), all.end());
  return all;
}

inline double Percentile(const std::vector<double>& sorted, double p) {
  const size_t rank = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

}  // namespace benchsite
