// A signed-in page of vantrel-site over loopback in headless Chromium: the time from
// DOMContentLoaded to 'tamsoloready' (module fetched and revalidated, compiled, controls live), as
// the loader writes it on <html data-tamsolo-ready-ms>.
#include <benchmark/benchmark.h>

#include "support/browser.h"
#include "support/site_server.h"

namespace {

void BM_SignedInPageToTamsoloReady(benchmark::State& state) {
  testsupport::SiteServer site;
  auto page = testsupport::Browser::Shared().NewPage();
  testsupport::SignIn(*page, site, "alice", "demo");
  for (auto _ : state) {
    page->Navigate(site.Url("/Assignments/MyAssignments.asp"));
    if (!page->WaitFor("document.documentElement.hasAttribute('data-tamsolo-ready-ms')")) {
      state.SkipWithError("the page never reached tamsoloready");
      break;
    }
    const double ms = std::stod(
        page->Evaluate("document.documentElement.getAttribute('data-tamsolo-ready-ms')").get<std::string>());
    state.SetIterationTime(ms / 1000.0);
  }
}
BENCHMARK(BM_SignedInPageToTamsoloReady)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
