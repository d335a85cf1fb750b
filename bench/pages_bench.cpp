// HtmlEncode of a megabyte of text, and a page of the site host answered over loopback.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <filesystem>
#include <thread>

#include "automation/automation.h"
#include "site/host.h"
#include "support/site_db.h"
#include "support/temp_dir.h"

namespace {

using automation::Variant;

// Comment-like text: mostly letters, now and then a character to escape.
std::string Text(size_t bytes) {
  std::string s;
  const std::string_view piece = "The build <b>fails</b> when \"make\" runs & the cache is cold. ";
  while (s.size() < bytes) s += piece;
  s.resize(bytes);
  return s;
}

void BM_HtmlEncodeOneMegabyte(benchmark::State& state) {
  auto ui = automation::CreateObject("Brisquel.UIHelpers");
  const Variant text(Text(1 << 20));
  for (auto _ : state) benchmark::DoNotOptimize(ui->Call("HtmlEncode", {text}));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_HtmlEncodeOneMegabyte)->Unit(benchmark::kMillisecond);

void BM_NotAvailablePageOverLoopback(benchmark::State& state) {
  testsupport::TempDir dir;
  std::filesystem::copy_file(sitedb::FreshSite(true), dir / "site.db");
  testsupport::WriteFile(dir / "DbConnection.udl", "Data Source=" + (dir / "site.db").string());
  site::SiteOptions o;
  o.folder = dir.path();
  o.port = 0;
  site::Host host(o);
  const int port = host.Bind();
  std::thread server([&] { host.Serve(); });
  const std::string cookie = std::string(site::kCookieName) + "=" + host.Sessions().Start("alice").id;
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  for (auto _ : state) {
    auto r = client.Get("/APP/Reports/SummaryTrends.asp", {{"Cookie", cookie}});
    if (!r || r->status != 501) state.SkipWithError("wrong answer");
  }
  host.Stop();
  server.join();
}
BENCHMARK(BM_NotAvailablePageOverLoopback)->Unit(benchmark::kMicrosecond)->ComputeStatistics("p50", [](const std::vector<double>& v) {
  std::vector<double> s = v;
  std::sort(s.begin(), s.end());
  return s[s.size() / 2];
})->Repetitions(5);

}  // namespace
