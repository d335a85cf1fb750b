// Three pages of the 100,000-issue site over loopback at 1, 8 and 64 clients at once: an issue
// (Issue.asp), the user's list (My Issues) and its download as CSV. Each client is a thread of its
// own with its own keep-alive connection, all signed in as the same member of two projects; each
// iteration every client sends the same number of requests one after another, and the iteration
// lasts until the last answer. Reported: requests a second over the whole run (wall-clock), and the
// median and 99th percentile of the single requests' times. Client and server share the machine.
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

// Requests per client per iteration: the download is some hundred times the size of the pages.
int RequestsPerClient(Page page) { return page == Page::Download ? 2 : 10; }

struct Clients {
  std::vector<std::unique_ptr<httplib::Client>> connections;
  httplib::Headers headers;
  Clients(const benchsite::LoopbackSite& site, int count) : headers{{"Cookie", site.Cookie()}} {
    for (int c = 0; c < count; ++c) {
      auto client = std::make_unique<httplib::Client>("127.0.0.1", site.Port());
      client->set_keep_alive(true);
      client->set_tcp_nodelay(true);
      // A request may wait behind the others' at 64 clients.
      client->set_read_timeout(std::chrono::seconds(120));
      connections.push_back(std::move(client));
    }
  }
};

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

// Every client sends `requests` requests in a thread of its own, all starting together; each
// request's time goes to its client's list. The wall-clock seconds from the start to the last answer.
double Round(Clients& clients, Page page, int requests, int& sent, std::vector<std::vector<double>>* times,
             Outcome& outcome) {
  const int count = static_cast<int>(clients.connections.size());
  std::latch start(count + 1);
  std::vector<std::thread> threads;
  threads.reserve(count);
  for (int c = 0; c < count; ++c) {
    threads.emplace_back([&, c] {
      httplib::Client& client = *clients.connections[c];
      start.arrive_and_wait();
      for (int n = 0; n < requests; ++n) {
        const auto t0 = Clock::now();
        auto r = client.Get(PathOf(page, c, sent + n), clients.headers);
        const auto t1 = Clock::now();
        if (!r || r->status != 200) {
          outcome.Fail(r ? "answered " + std::to_string(r->status) + ": " + r->body.substr(0, 200)
                         : "no answer: " + httplib::to_string(r.error()));
          return;
        }
        outcome.bytes = r->body.size();
        if (times) (*times)[c].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      }
    });
  }
  start.arrive_and_wait();
  const auto begin = Clock::now();
  for (auto& t : threads) t.join();
  sent += requests;
  return std::chrono::duration<double>(Clock::now() - begin).count();
}

double Percentile(std::vector<double>& sorted, double p) {
  const size_t rank = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

void BM_ConcurrentClients(benchmark::State& state, Page page) {
  static benchsite::LoopbackSite site(benchsite::TheSite().file, kUser);
  const int count = static_cast<int>(state.range(0));
  const int requests = RequestsPerClient(page);
  Clients clients(site, count);
  Outcome outcome;
  int sent = 0;
  // One untimed request each: the connections are open before the first iteration.
  Round(clients, page, 1, sent, nullptr, outcome);
  std::vector<std::vector<double>> times(count);
  double seconds = 0;
  for (auto _ : state) {
    const double s = Round(clients, page, requests, sent, &times, outcome);
    state.SetIterationTime(s);
    seconds += s;
  }
  if (outcome.failed) {
    state.SkipWithError(("a request failed: " + outcome.failure).c_str());
    return;
  }
  std::vector<double> all;
  for (auto& t : times) all.insert(all.end(), t.begin(), t.end());
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
