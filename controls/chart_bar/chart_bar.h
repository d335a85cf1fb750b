// The distribution bar chart: one bar per value of an issue field, fetched by URL from the site's
// distribution data page, with a legend list and a tip per bar (a white element beside the mouse,
// shown at once). In a page editor (user mode false) it shows three sample bars instead.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "chart/chart_base.h"

namespace tamsolo {

class ChartBar : public ChartBase {
 public:
  explicit ChartBar(Host& host);

  HRESULT FinalConstruct() override;
  HRESULT SetExtent(gdi::Size himetric) override;
  void OnMouse(const MouseInput& input) override;

  void UpdateGraph();
  const std::string& Heading() const { return heading_; }
  const std::vector<chart::BarItem>& Items() const { return items_; }
  const std::vector<std::string>& Legend() const { return legend_; }
  // The bars as last drawn, with their tips.
  const std::vector<chart::Bar>& Bars() const { return bars_; }
  int MinimumWidth() const { return minWidth_; }

 protected:
  void DrawContent(gdi::Dc& dc, gdi::Size size) override;
  void OnReply(std::string_view text) override;

 private:
  void DrawLegend(gdi::Dc& dc, const chart::Box& list) const;
  // The layout of the control's area, its minimum width kept.
  chart::BarLayout Layout(gdi::Dc& dc, gdi::Size size);
  void ShowTip(std::optional<size_t> bar, const MouseInput& at);

  std::string heading_;
  std::vector<chart::BarItem> items_;
  std::vector<std::string> legend_;
  std::vector<chart::Bar> bars_;
  int minWidth_ = 175;
  std::unique_ptr<DomElement> tip_;
  std::optional<size_t> tipBar_;
};

void RegisterChartBar();

}  // namespace tamsolo
