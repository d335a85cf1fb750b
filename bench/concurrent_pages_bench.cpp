// Three pages of the 100,000-issue site over loopback at 1, 8 and 64 clients at once: an issue
// (Issue.asp), the user's list (My Issues) and its download as CSV. Each client is a thread of its
// own with its own keep-alive connection, all signed in as the same member of two projects, sending
// its requests one after another for the whole run without waiting for the others (an iteration is
// a 50 ms slice of it). Reported: the requests answered a second over the run (wall-clock), and the
// median and 99th percentile of their times. Client and server share the machine.
#include <benchmark/benchmark.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hundred_thousand_site.h"
#include "loopback_site.h"

namespace {

using Clock = std::chrono::steady_clock;

// bob works in P1 and P3; his list is his open issues there (his default filter), as the menu's
// "My Issues" opens it, and the download is the address the menu gives beside that list.
constexpr const char* kUser = "bob";

enum class Page { Issue, MyIssues, Download };

// The n-th request of client c: issues of P3 (IssueId % 5 == 2), a different one each time.
std::string PathOf(Page page, int client, int n) {
  switch (page) {
    case Page::Issue:
      return "/APP/Issues/Issue.asp?IssueId=" + std::to_string(12 + 5 * ((client * 1000 + n) % 19998));
    case Page::MyIssues:
      return "/APP/Assignments/MyAssignments.asp";
    case Page::Download:
      return "/APP/Assignments/MyAssignmentsDownload.asp";
  }
  return "";
}

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

// The clients of one run: each a thread of its own with its own keep-alive connection, sending its
// requests one after another from the start until told to stop, never waiting for the others. The
// times of the requests answered while `measuring` is set go to the client's own list.
class Load {
 public:
  Load(const benchsite::LoopbackSite& site, Page page, int count)
      : page_(page), headers_{{"Cookie", site.Cookie()}}, times_(count), ready_(count + 1) {
    threads_.reserve(count);
    for (int c = 0; c < count; ++c) threads_.emplace_back([this, &site, c] { Client(site, c); });
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
  const std::vector<std::vector<double>>& Times() const { return times_; }
  Outcome& Result() { return outcome_; }

 private:
  void Client(const benchsite::LoopbackSite& site, int c) {
    httplib::Client client("127.0.0.1", site.Port());
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    // A request may wait behind the others' at 64 clients.
    client.set_read_timeout(std::chrono::seconds(120));
    bool arrived = false;
    for (int n = 0; !stop_; ++n) {
      const auto t0 = Clock::now();
      auto r = client.Get(PathOf(page_, c, n), headers_);
      const auto t1 = Clock::now();
      if (!r || r->status != 200) {
        outcome_.Fail(r ? "answered " + std::to_string(r->status) + ": " + r->body.substr(0, 200)
                        : "no answer: " + httplib::to_string(r.error()));
        if (!arrived) ready_.count_down();
        return;
      }
      outcome_.bytes = r->body.size();
      if (!arrived) {
        arrived = true;
        ready_.arrive_and_wait();
      } else if (measuring_) {
        times_[c].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      }
    }
  }

  const Page page_;
  const httplib::Headers headers_;
  std::vector<std::vector<double>> times_;
  std::latch ready_;
  std::atomic<bool> measuring_{false};
  std::atomic<bool> stop_{false};
  Outcome outcome_;
  std::vector<std::thread> threads_;
};

double Percentile(std::vector<double>& sorted, double p) {
  const size_t rank = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

void BM_ConcurrentClients(benchmark::State& state, Page page) {
  static benchsite::LoopbackSite site(benchsite::TheSite().file, kUser);
  const int count = static_cast<int>(state.range(0));
  Load load(site, page, count);
  // The clients go on all the time; an iteration is a slice of the run.
  load.Measure(true);
  const auto begin = Clock::now();
  for (auto _ : state) {
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  load.Measure(false);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  load.Stop();
  Outcome& outcome = load.Result();
  if (outcome.failed) {
    state.SkipWithError(("a request failed: " + outcome.failure).c_str());
    return;
  }
  std::vector<double> all;
  for (const auto& t : load.Times()) all.insert(all.end(), t.begin(), t.end());
  std::sort(all.begin(), all.end());
  if (all.empty()) return;
  state.counters["req/s"] = static_cast<double>(all.size()) / seconds;
  state.counters["p50_ms"] = Percentile(all, 0.50);
  state.counters["p99_ms"] = Percentile(all, 0.99);
  state.counters["requests"] = static_cast<double>(all.size());
  state.counters["kB"] = static_cast<double>(outcome.bytes) / 1000.0;
}

void Clients1To64(benchmark::internal::Benchmark* b) {
  b->ArgName("clients")->Arg(1)->Arg(8)->Arg(64)->UseManualTime()->MinTime(2.0)->Unit(benchmark::kMillisecond);
}
BENCHMARK_CAPTURE(BM_ConcurrentClients, Issue, Page::Issue)->Apply(Clients1To64);
BENCHMARK_CAPTURE(BM_ConcurrentClients, MyIssues, Page::MyIssues)->Apply(Clients1To64);
BENCHMARK_CAPTURE(BM_ConcurrentClients, Download, Page::Download)->Apply(Clients1To64);

}  // namespace
