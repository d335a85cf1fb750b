// A soak of the 100,000-issue site: vantrel-site as a process of its own, 64 clients (threads of
// this program, each with its own keep-alive connection, all signed in as bob) over the issue
// page, the lists (his open issues, and every open issue of his projects a page at a time), the
// search and the download, for 20 minutes (VANTREL_SOAK_MINUTES, fractions allowed). The site's
// resident size is read from /proc/<pid>/status every few seconds. Reported, in MB: before the
// load (signed in, one page asked), at the end of each minute, the highest and at the end; the
// curve also goes to standard error as it is taken. Not a test: it runs only when started.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hundred_thousand_site.h"
#include "page_clients.h"
#include "support/site_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kClients = 64;

double SoakMinutes() {
  const char* asked = std::getenv("VANTREL_SOAK_MINUTES");
  const double minutes = asked ? std::atof(asked) : 0;
  return minutes > 0 ? minutes : 20;
}

// A "Name:  123 kB" line of /proc/<pid>/status, in kB (or as counted); -1 when it cannot be read.
long StatusValue(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with(name + ":")) return std::atol(line.c_str() + name.size() + 1);
  return -1;
}

// The CPU time the process has used so far (user and system), in seconds; -1 when unknown.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The fields after the command's name, which may hold spaces: state is the 3rd, utime the 14th.
  const size_t after = text.rfind(')');
  if (after == std::string::npos) return -1;
  std::istringstream fields(text.substr(after + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;
  double user = 0, system = 0;
  if (!(fields >> user >> system)) return -1;
  return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The n-th request of client c: mostly issues of bob's project P3 (IssueId % 5 == 2), a different
// one each time; his list; a page of every open issue of his projects; a search for an issue's
// summary; one in twenty the download of his list.
std::string SoakPath(int client, int n) {
  const int issue = 12 + 5 * ((client * 1000 + n) % 19998);
  switch (n % 20) {
    case 1:
    case 11:
      return "/APP/Assignments/MyAssignments.asp";
    case 3:
    case 13:
      return "/APP/Assignments/MyAssignments.asp?Filter=s%3Aallopen&PageNum=" + std::to_string(1 + (client + n) % 250);
    case 5:
    case 15:
      return "/APP/Search/Search.asp?Words=Issue+" + std::to_string(issue) + "&IncludeClosed=1";
    case 9:
      return "/APP/Assignments/MyAssignmentsDownload.asp";
    default:
      return "/APP/Issues/Issue.asp?IssueId=" + std::to_string(issue);
  }
}

// Signs bob in as the sign-in form does; his cookie ("name=id"), empty when refused.
std::string SignIn(const testsupport::SiteServer& site) {
  httplib::Client client("127.0.0.1", site.Port());
  auto r = client.Post("/APP/Default.asp", {{"Origin", site.Origin()}}, "UserId=bob&Password=demo",
                       "application/x-www-form-urlencoded");
  if (!r || r->status != 303 || !r->has_header("Set-Cookie")) return {};
  const std::string cookie = r->get_header_value("Set-Cookie");
  return cookie.substr(0, cookie.find(';'));
}

void BM_Soak(benchmark::State& state) {
  const auto length = std::chrono::duration<double, std::ratio<60>>(SoakMinutes());
  // Often enough for a curve of short trial runs too.
  const auto every = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(length / 120),
                                std::chrono::milliseconds(1000), std::chrono::milliseconds(5000));
  testsupport::SiteServer::Options options;
  options.database = benchsite::TheSite().file;
  testsupport::SiteServer site(options);
  const std::string cookie = SignIn(site);
  if (cookie.empty()) {
    state.SkipWithError("bob could not sign in");
    return;
  }
  const pid_t pid = site.Pid();
  const httplib::Headers headers{{"Cookie", cookie}};
  {
    httplib::Client one("127.0.0.1", site.Port());
    one.Get("/APP/Assignments/MyAssignments.asp", headers);
  }
  const double startMB = static_cast<double>(StatusValue(pid, "VmRSS")) / 1024;
  std::fprintf(stderr, "soak: %d clients for %.1f min, resident %.1f MB before the load\n", kClients,
               length.count(), startMB);
  for (auto _ : state) {
    benchsite::Load load(site.Port(), headers, kClients, SoakPath);
    const auto begin = Clock::now();
    const double cpuBefore = CpuSeconds(pid);
    const size_t answeredBefore = load.Answered();
    double maxMB = startMB, lastMB = startMB;
    int minute = 0;
    for (auto next = begin + every; Clock::now() - begin < length && !load.Result().failed; next += every) {
      std::this_thread::sleep_until(next);
      const long kB = StatusValue(pid, "VmRSS");
      if (kB < 0) {
        load.Result().Fail("the site's /proc status cannot be read (did it end?)");
        break;
      }
      lastMB = static_cast<double>(kB) / 1024;
      maxMB = std::max(maxMB, lastMB);
      const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
      std::fprintf(stderr, "soak: %7.1f s  %7.1f MB  %ld threads  %zu answered\n", seconds, lastMB,
                   StatusValue(pid, "Threads"), load.Answered());
      if (seconds >= 60.0 * (minute + 1) - 0.5) {
        ++minute;
        state.counters[(minute < 10 ? "MB_0" : "MB_") + std::to_string(minute) + "min"] = lastMB;
      }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const double cpu = CpuSeconds(pid) - cpuBefore;
    const auto answered = static_cast<double>(load.Answered() - answeredBefore);
    load.Stop();
    if (load.Result().failed) {
      state.SkipWithError(("a request failed: " + load.Result().failure).c_str());
      return;
    }
    state.counters["MB_start"] = startMB;
    state.counters["MB_max"] = maxMB;
    state.counters["MB_final"] = lastMB;
    state.counters["req/s"] = answered / seconds;
    // The site's own CPU time per request: less noisy than the rate on a shared machine.
    state.counters["site_cpu_ms/req"] = 1000 * cpu / answered;
  }
}
BENCHMARK(BM_Soak)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
