// The chart controls' replies from outside: the first byte chooses the trend or the bar reply, the
// rest is the text. Reading and laying out the axes and bars never crash or hang; every tick and
// bar stays a bounded list, and each point came from a line of the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/chart_axes.h"

namespace chart = tamsolo::chart;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const chart::Box frame{35, 23, 35 + 1 + data[0] % 400, 23 + 1 + (data[0] * 7) % 300};
  if (data[0] & 1) {
    chart::GraphSeries s = chart::ReadTrendReply(text);
    if (s.points.size() * 4 > text.size()) std::abort();  // each point takes a line and its CR LF
    chart::DateAxis dates = chart::MakeDateAxis({s}, 45292.5, frame);
    chart::CountAxis counts = chart::MakeCountAxis({s}, frame);
    if (dates.ticks.size() > 101 || counts.ticks.size() > static_cast<size_t>(frame.Height()) + 1) std::abort();
    for (const chart::GraphPoint& p : s.points) (void)(dates.X(p.date) + counts.Y(p.count));
  } else {
    chart::BarReply r = chart::ReadBarReply(text);
    chart::ValueAxis axis = chart::MakeValueAxis(r.items, frame);
    if (axis.ticks.size() > static_cast<size_t>(frame.Height()) + 1) std::abort();
    std::vector<chart::Bar> bars = chart::MakeBars(r.items, axis, frame);
    if (bars.size() != r.items.size()) std::abort();
  }
  return 0;
}
