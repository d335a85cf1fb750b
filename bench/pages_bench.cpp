// HtmlEncode of a megabyte of text, and a page of the site host answered over loopback; the
// control module's revalidation (a 304) beside a static file of the site.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "loopback_site.h"
#include "support/site_db.h"

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

// A short signed-in page: the shell, the menu and one small form.
void BM_MyInfoPageOverLoopback(benchmark::State& state) {
  benchsite::LoopbackSite site(sitedb::FreshSite(true), "alice");
  for (auto _ : state) {
    auto r = site.Get("/APP/User/MyInfo.asp");
    if (!r || r->status != 200) state.SkipWithError("wrong answer");
  }
}
BENCHMARK(BM_MyInfoPageOverLoopback)->Unit(benchmark::kMicrosecond)->ComputeStatistics("p50", [](const std::vector<double>& v) {
  std::vector<double> s = v;
  std::sort(s.begin(), s.end());
  return s[s.size() / 2];
})->Repetitions(5);

// The module as large as the built one (742 KB), asked again with its tag: the answer is a 304
// whose cost should be a static file's, not a read and hash of the module.
void BM_ControlModuleRevalidated(benchmark::State& state) {
  testsupport::TempDir controls;
  testsupport::WriteFile(controls / "tamsolo.wasm", std::string(742 * 1024, 'w'));
  benchsite::LoopbackSite site(sitedb::FreshSite(true), "alice", controls.path());
  const std::string tag = site.Get("/APP/controls/tamsolo.wasm")->get_header_value("ETag");
  for (auto _ : state) {
    auto r = site.Get("/APP/controls/tamsolo.wasm", {{"If-None-Match", tag}});
    if (!r || r->status != 304) state.SkipWithError("wrong answer");
  }
}
BENCHMARK(BM_ControlModuleRevalidated)->Unit(benchmark::kMicrosecond);

void BM_StaticFile(benchmark::State& state) {
  benchsite::LoopbackSite site(sitedb::FreshSite(true), "alice");
  for (auto _ : state) {
    auto r = site.Get("/APP/images/spacer.gif");
    if (!r || r->status != 200) state.SkipWithError("wrong answer");
  }
}
BENCHMARK(BM_StaticFile)->Unit(benchmark::kMicrosecond);

}  // namespace
