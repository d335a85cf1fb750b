// The trend chart: issue counts over time as lines, fetched by URL from the site's trend data page,
// drawn against a date axis and a count axis, with a legend list in which series are switched on
// and off, an "Add" button whose popup fetches more series, and the File, Period and zoom
// commands (laid out and answering "Not Implemented", not painted).
#pragma once

#include <optional>
#include <vector>

#include "chart/chart_base.h"
#include "frame/popup_menu.h"

namespace tamsolo {

inline constexpr int kCheckOffBitmap = 218;
inline constexpr int kCheckOnBitmap = 217;
inline constexpr int kLegendItemHeight = 16;

class Chart : public ChartBase {
 public:
  explicit Chart(Host& host);

  HRESULT SetExtent(gdi::Size himetric) override;
  void OnMouse(const MouseInput& input) override;

  void UpdateGraph();
  // A menu or button command (100 to 404).
  void Command(int command);
  const std::vector<chart::GraphSeries>& Series() const { return series_; }
  const chart::TrendLayout& Layout() const { return layout_; }

 protected:
  void DrawContent(gdi::Dc& dc, gdi::Size size) override;
  void OnReply(std::string_view text) override;

 private:
  enum class Button { None, Add, ZoomIn, ZoomOut, File, Period };
  Button ButtonAt(int x, int y) const;
  std::optional<size_t> LegendItemAt(int x, int y) const;
  void OpenMenu(Button button, const MouseInput& at);
  void AddSeries(std::string_view key);
  void DrawButton(gdi::Dc& dc, const chart::Box& box, std::string_view caption, bool popup, bool hot) const;
  void DrawGraph(gdi::Dc& dc);
  bool DrawSeries(gdi::Dc& dc, const chart::Box& frame, const chart::DateAxis& dates,
                  const chart::CountAxis& counts) const;
  void DrawLegend(gdi::Dc& dc) const;

  std::vector<chart::GraphSeries> series_;
  chart::TrendLayout layout_;
  Button hover_ = Button::None;
  PopupMenu menu_;
};

void RegisterChart();  // the class factory's creator and the check-box pictures

}  // namespace tamsolo
