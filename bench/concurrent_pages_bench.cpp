// Three pages of the 100,000-issue site over loopback at 1, 8 and 64 clients at once: an issue
// (Issue.asp), the user's list (My Issues) and its download as CSV. Each client is a thread of its
// own with its own keep-alive connection, all signed in as the same member of two projects, sending
// its requests one after another for the whole run without waiting for the others (an iteration is
// a 50 ms slice of it). Reported: the requests answered a second over the run (wall-clock), and the
// median and 99th percentile of their times. Client and server share the machine.
#include <benchmark/benchmark.h>

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "hundred_thousand_site.h"
#include "loopback_site.h"
#include "page_clients.h"

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

void BM_ConcurrentClients(benchmark::State& state, Page page) {
  static benchsite::LoopbackSite site(benchsite::TheSite().file, kUser);
  const int count = static_cast<int>(state.range(0));
  benchsite::Load load(site.Port(), {{"Cookie", site.Cookie()}}, count,
                       [page](int client, int n) { return PathOf(page, client, n); });
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
  benchsite::Outcome& outcome = load.Result();
  if (outcome.failed) {
    state.SkipWithError(("a request failed: " + outcome.failure).c_str());
    return;
  }
  const std::vector<double> all = benchsite::AllTimes(load);
  if (all.empty()) return;
  state.counters["req/s"] = static_cast<double>(all.size()) / seconds;
  state.counters["p50_ms"] = benchsite::Percentile(all, 0.50);
  state.counters["p99_ms"] = benchsite::Percentile(all, 0.99);
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
