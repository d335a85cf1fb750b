// A trend reply of ten years of days (3,650 points), read and laid out as the chart does at the
// end of a load: the series, both axes and every point's place.
#include <benchmark/benchmark.h>

#include "automation/vbdate.h"
#include "common/chart_axes.h"

namespace {

namespace chart = tamsolo::chart;

std::string TenYearsReply() {
  std::string text = "<!-- trend -->\r\nTotal Open Issues\r\n";
  const double first = automation::MakeDate({2015, 1, 1})->value;
  for (int day = 0; day < 3650; ++day)
    text += automation::ShortDateText({first + day}) + "\r\n" + std::to_string(day % 97 + day / 10) + "\r\n";
  return text;
}

void BM_TrendReplyReadAndLaidOut(benchmark::State& state) {
  const std::string text = TenYearsReply();
  const chart::Box frame{35, 23, 570, 380};
  for (auto _ : state) {
    std::vector<chart::GraphSeries> series{chart::ReadTrendReply(text)};
    chart::DateAxis dates = chart::MakeDateAxis(series, 0, frame);
    chart::CountAxis counts = chart::MakeCountAxis(series, frame);
    int sum = 0;
    for (const chart::GraphPoint& p : series[0].points) sum += dates.X(p.date) + counts.Y(p.count);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_TrendReplyReadAndLaidOut)->Unit(benchmark::kMillisecond);

}  // namespace
