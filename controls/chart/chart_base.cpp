#include "chart/chart_base.h"

#include "common/chart_reply.h"
#include "gdi/colors.h"

namespace tamsolo {

using automation::Variant;

gdi::Rect ToRect(const chart::Box& b) { return {b.left, b.top, b.right, b.bottom}; }

gdi::Font Arial(int height, bool bold) {
  gdi::Font f;
  f.face = "Arial";
  f.height = height;
  f.cellHeight = true;
  f.bold = bold;
  return f;
}

ChartBase::ChartBase(Host& host, const ClassEntry& entry, bool withPeriod)
    : Control(host, entry), withPeriod_(withPeriod) {
  KeepReadyState();
  AddColor("ForeColor", dispid::kForeColor, fore_);
  AddColor("BackColor", dispid::kBackColor, back_);
  AddColor("BorderColor", dispid::kBorderColor, border_);
  AddProperty(
      "BorderVisible", dispid::kBorderVisible, [this] { return Variant(borderVisible_); },
      [this](const Variant& v) { SetStock(dispid::kBorderVisible, borderVisible_, v.ToBool()); });
  AddText("ServerURL", chart_dispid::kServerURL, serverUrl_);
  AddText("GraphData", chart_dispid::kGraphData, graphData_);
  AddColor("GraphColor", chart_dispid::kGraphColor, graph_);
  AddColor("GridColor", chart_dispid::kGridColor, grid_);
  AddText("ProjectId", chart_dispid::kProjectId, projectId_);
  AddText("UserId", chart_dispid::kUserId, userId_);
  if (withPeriod_) AddText("GraphPeriod", chart_dispid::kGraphPeriod, graphPeriod_);
}

void ChartBase::AddText(std::string name, int32_t id, std::string& field) {
  AddProperty(
      std::move(name), id, [&field] { return Variant(field); },
      [this, id, &field](const Variant& v) { SetStock(id, field, v.ToText()); });
}

void ChartBase::AddColor(std::string name, int32_t id, uint32_t& field) {
  AddProperty(
      std::move(name), id, [&field] { return Variant(static_cast<int32_t>(field)); },
      [this, id, &field](const Variant& v) { SetStock(id, field, static_cast<uint32_t>(v.ToLong())); });
}

std::string ChartBase::Query(std::string_view graphData) const {
  std::string q = "?UserId=" + chart::QueryValue(userId_) + "&ProjectId=" + chart::QueryValue(projectId_) +
                  "&GraphData=" + chart::QueryValue(graphData);
  if (withPeriod_) q += "&GraphPeriod=" + chart::QueryValue(graphPeriod_);
  return q;
}

bool ChartBase::CanRequest(std::string_view graphData) const {
  return !serverUrl_.empty() && !graphData.empty() && !userId_.empty() && !projectId_.empty();
}

void ChartBase::Request(std::string_view graphData) {
  loading_ = true;
  // A request that cannot start (its URL too long) leaves the control loading until the next one.
  transfers_.Start(host_, "Graph", DownloadRequest(serverUrl_ + Query(graphData)),
                   [this](int, const char*, int32_t count) {
                     if (count == 0) OnReply(transfers_.Received("Graph"));
                   });
  host_.Invalidate();
}

HRESULT ChartBase::Draw(gdi::Dc& dc, const gdi::Rect& bounds) {
  const gdi::Size size{bounds.Width(), bounds.Height()};
  if (size.cx <= 0 || size.cy <= 0) return hr::kOk;
  std::unique_ptr<gdi::Surface> surface = dc.CreateSurface(size);
  gdi::Dc& off = surface->Draw();
  off.FillRect({0, 0, size.cx, size.cy}, Back());
  if (borderVisible_) off.FrameRect({0, 0, size.cx, size.cy}, gdi::TranslateColor(border_));
  DrawContent(off, size);
  dc.Blit(*surface, bounds.left, bounds.top);
  return hr::kOk;
}

void ChartBase::KeepMinimumWidth(int minimum) {
  const gdi::Size size = host_.ClientSize();
  if (size.cx < minimum) host_.RequestSize({minimum, size.cy});
}

void ChartBase::DrawFrame(gdi::Dc& dc, const chart::Box& f) const {
  dc.FillRect(ToRect(f), Graph());
  dc.SetPen(gdi::PenStyle::Solid, 0);
  dc.MoveTo(f.left - 1, f.top);
  dc.LineTo(f.left - 1, f.bottom);
  dc.LineTo(f.right, f.bottom);
}

void ChartBase::DrawCountTicks(gdi::Dc& dc, const chart::Box& f, const std::vector<chart::CountTick>& ticks) const {
  dc.SetFont(Arial(13));
  dc.SetTextColor(0);
  for (size_t i = 0; i < ticks.size(); ++i) {
    const int y = ticks[i].y;
    if (i > 0) {
      dc.SetPen(gdi::PenStyle::Solid, Grid());
      dc.MoveTo(f.left, y);
      dc.LineTo(f.right, y);
    }
    dc.DrawText(ticks[i].label, {f.left - 28, y - 6, f.left - 3, y + 8}, gdi::dt::kRight | gdi::dt::kSingleLine);
  }
}

void ChartBase::DrawTitle(gdi::Dc& dc, const chart::Box& box, std::string_view title) const {
  dc.FillRect(ToRect(box), Back());
  if (title.empty()) return;
  dc.SetFont(Arial(14, true));
  dc.SetTextColor(Fore());
  dc.DrawText(title, ToRect(box), gdi::dt::kLeft | gdi::dt::kSingleLine | gdi::dt::kEndEllipsis);
}

void ChartBase::DrawMessage(gdi::Dc& dc, const chart::Box& f, std::string_view text) const {
  const int cx = f.left + f.Width() / 2, cy = f.top + f.Height() / 2;
  const gdi::Rect box{cx - 30, cy - 6, cx + 28, cy + 8};
  dc.FillRect(box, Graph());
  dc.FrameRect(box, 0);
  dc.SetFont(Arial(14));
  dc.SetTextColor(0);
  dc.DrawText(text, box, gdi::dt::kCenter | gdi::dt::kSingleLine);
}

}  // namespace tamsolo
