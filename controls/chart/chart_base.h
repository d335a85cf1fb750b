// What the trend chart and the bar chart share: their colour and text properties (in the order
// of their property maps), the data request with its values encoded, the received reply, the
// off-screen drawing, and the pieces both graphs draw (frame and axes, count grid, message box).
#pragma once

#include <string>
#include <string_view>

#include "common/chart_axes.h"
#include "gdi/colors.h"
#include "frame/control.h"
#include "host/transfer.h"

namespace tamsolo {

namespace chart_dispid {
inline constexpr int32_t kServerURL = 12, kGraphData = 13, kGraphColor = 15, kGridColor = 16;
inline constexpr int32_t kProjectId = 17, kUserId = 18, kUpdateGraph = 19, kGraphPeriod = 20;
}  // namespace chart_dispid

gdi::Rect ToRect(const chart::Box& b);
gdi::Font Arial(int height, bool bold = false);

class ChartBase : public Control {
 public:
  ChartBase(Host& host, const ClassEntry& entry, bool withPeriod);

  HRESULT Draw(gdi::Dc& dc, const gdi::Rect& bounds) override;

  const std::string& ServerURL() const { return serverUrl_; }
  const std::string& GraphData() const { return graphData_; }
  const std::string& ProjectId() const { return projectId_; }
  const std::string& UserId() const { return userId_; }
  const std::string& GraphPeriod() const { return graphPeriod_; }
  bool Loading() const { return loading_; }
  // The query the control sends for a series: "?UserId=...&ProjectId=...&GraphData=..." (and
  // "&GraphPeriod=..." for the trend chart), each value encoded.
  std::string Query(std::string_view graphData) const;

 protected:
  // Paints the whole control into the off-screen surface.
  virtual void DrawContent(gdi::Dc& dc, gdi::Size size) = 0;
  // The reply, complete (or all that arrived before the transfer failed).
  virtual void OnReply(std::string_view text) = 0;

  // Whether a request for `graphData` may go: ServerURL, the series, UserId and ProjectId set.
  bool CanRequest(std::string_view graphData) const;
  // Starts the request for `graphData` (the received text emptied, the control loading).
  void Request(std::string_view graphData);
  // After a reply: a control narrower than `minimum` asks the page for that width.
  void KeepMinimumWidth(int minimum);

  gdi::COLORREF Fore() const { return gdi::TranslateColor(fore_); }
  gdi::COLORREF Back() const { return gdi::TranslateColor(back_); }
  gdi::COLORREF Graph() const { return gdi::TranslateColor(graph_); }
  gdi::COLORREF Grid() const { return gdi::TranslateColor(grid_); }

  // F filled with GraphColor, the black axis lines left and below it.
  void DrawFrame(gdi::Dc& dc, const chart::Box& frame) const;
  // Grid lines (not at the axis) and right-aligned labels left of the frame.
  void DrawCountTicks(gdi::Dc& dc, const chart::Box& frame, const std::vector<chart::CountTick>& ticks) const;
  // The title line: BackColor behind, ForeColor text ending in an ellipsis.
  void DrawTitle(gdi::Dc& dc, const chart::Box& box, std::string_view title) const;
  // "Loading..." or "No data..." centred on the frame.
  void DrawMessage(gdi::Dc& dc, const chart::Box& frame, std::string_view text) const;

  bool loading_ = false;
  Transfers transfers_;

 private:
  void AddText(std::string name, int32_t dispid, std::string& field);
  void AddColor(std::string name, int32_t dispid, uint32_t& field);

  uint32_t fore_ = 0x000000;
  uint32_t back_ = gdi::RGB(206, 207, 206);
  uint32_t border_ = gdi::RGB(99, 101, 99);
  bool borderVisible_ = true;
  uint32_t graph_ = gdi::RGB(255, 255, 255);
  uint32_t grid_ = gdi::RGB(156, 154, 156);
  std::string serverUrl_, graphData_, projectId_, userId_, graphPeriod_;
  bool withPeriod_;
};

}  // namespace tamsolo
