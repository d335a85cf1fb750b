#include "chart_bar/chart_bar.h"

#include <algorithm>

#include "frame/control_classes.h"

namespace tamsolo {

namespace {

constexpr int kMinimumHeight = 150;
constexpr int kItemHeight = 16;
constexpr unsigned kOneLine = gdi::dt::kSingleLine | gdi::dt::kVCenter;

}  // namespace

ChartBar::ChartBar(Host& host) : ChartBase(host, *FindClassByName("ChartBar"), false) {
  AddMethod("UpdateGraph", [this](std::vector<Variant>&) {
    UpdateGraph();
    return Variant();
  });
}

HRESULT ChartBar::FinalConstruct() {
  if (!host_.UserMode()) {
    legend_ = {"One", "Two", "Three"};
    items_ = {{"A", 5}, {"B", 10}, {"C", 15}};
  }
  return hr::kOk;
}

HRESULT ChartBar::SetExtent(gdi::Size himetric) {
  const int w = std::max(gdi::HimetricToPixels(himetric.cx), minWidth_);
  const int h = std::max(gdi::HimetricToPixels(himetric.cy), kMinimumHeight);
  SetExtentStored({gdi::PixelsToHimetric(w), gdi::PixelsToHimetric(h)});
  host_.Invalidate();
  return hr::kOk;
}

void ChartBar::UpdateGraph() {
  if (!CanRequest(GraphData())) return SetReadyState(kReadyStateComplete);
  items_.clear();
  heading_.clear();
  ShowTip(std::nullopt, {});
  Request(GraphData());
}

void ChartBar::OnReply(std::string_view text) {
  chart::BarReply reply = chart::ReadBarReply(text);
  loading_ = false;
  heading_ = std::move(reply.heading);
  items_ = std::move(reply.items);
  legend_.clear();
  for (const chart::BarItem& i : items_) legend_.push_back(i.label);
  ShowTip(std::nullopt, {});
  SetReadyState(kReadyStateComplete);
  if (std::unique_ptr<gdi::Dc> dc = host_.GetDc()) Layout(*dc, host_.ClientSize());
  KeepMinimumWidth(minWidth_);
}

chart::BarLayout ChartBar::Layout(gdi::Dc& dc, gdi::Size size) {
  dc.SetFont(Arial(14));
  int widest = dc.TextWidth("Legend:");
  for (const chart::BarItem& i : items_) widest = std::max(widest, dc.TextWidth(i.label));
  const chart::BarLayout layout = chart::LayoutBars(size.cx, size.cy, widest + 4);
  minWidth_ = layout.minWidth;
  return layout;
}

void ChartBar::DrawContent(gdi::Dc& dc, gdi::Size size) {
  const chart::BarLayout layout = Layout(dc, size);
  DrawLegend(dc, layout.legend);

  const chart::BarBoxes b = chart::BarGraphBoxes(layout.graph);
  const chart::Box& f = b.frame;
  bars_.clear();
  if (f.Width() <= 0 || f.Height() <= 0) return;
  dc.FillRect(ToRect(b.valueStrip), Back());
  DrawTitle(dc, b.title, heading_);
  DrawFrame(dc, f);
  dc.SetFont(Arial(14));
  dc.SetTextColor(Fore());
  dc.DrawText("Legend:", ToRect(b.caption), gdi::dt::kLeft | kOneLine);
  const chart::ValueAxis axis = chart::MakeValueAxis(items_, f);
  DrawCountTicks(dc, f, axis.ticks);
  if (items_.empty()) {
    DrawMessage(dc, f, loading_ ? "Loading..." : "No data...");
    return;
  }
  bars_ = chart::MakeBars(items_, axis, f);
  for (const chart::Bar& bar : bars_) {
    dc.FillRect(ToRect(bar.bar), bar.color);
    if (bar.shadow.Width() > 0 && bar.shadow.Height() > 0) dc.FillRect(ToRect(bar.shadow), Back());
  }
}

void ChartBar::DrawLegend(gdi::Dc& dc, const chart::Box& list) const {
  if (list.Width() <= 0 || list.Height() <= 0) return;
  const gdi::Rect clip = ToRect(list);
  int top = list.top;
  dc.SetFont(Arial(14));
  dc.SetTextColor(Fore());
  for (size_t i = 0; i < legend_.size() && top < list.bottom; ++i, top += kItemHeight) {
    dc.FillRect(gdi::Rect{list.left, top, list.right, top + kItemHeight}.Intersect(clip), Back());
    dc.FillRect(gdi::Rect{list.left + 2, top + 2, list.left + 10, top + 10}.Intersect(clip), chart::SeriesColor(i));
    dc.DrawText(legend_[i], gdi::Rect{list.left + 16, top, list.right, top + kItemHeight}.Intersect(clip),
                gdi::dt::kLeft | kOneLine);
  }
  if (top < list.bottom) dc.FillRect({list.left, top, list.right, list.bottom}, Back());
}

void ChartBar::OnMouse(const MouseInput& m) {
  std::optional<size_t> over;
  if (m.kind != MouseInput::Kind::Leave)
    for (size_t i = 0; i < bars_.size(); ++i)
      if (bars_[i].bar.Contains(m.x, m.y)) over = i;
  ShowTip(over, m);
}

// The tip of the bar under the mouse, below and right of it; none when the mouse is off the bars.
void ChartBar::ShowTip(std::optional<size_t> bar, const MouseInput& at) {
  if (bar == tipBar_) return;
  tip_.reset();
  tipBar_ = bar;
  if (!bar) return;
  tip_ = host_.CreateElement("div");
  tip_->SetAttribute("class", "tamsolo-tip");
  tip_->SetAttribute("role", "tooltip");
  tip_->SetAttribute("style", "position:fixed;left:" + std::to_string(at.originX + at.x) +
                                  "px;top:" + std::to_string(at.originY + at.y + 20) +
                                  "px;background:#FFFFFF;color:#000000;border:1px solid #000000;padding:1px 3px;"
                                  "font:11px \"Liberation Sans\",sans-serif;white-space:pre;z-index:10000;"
                                  "pointer-events:none");
  tip_->SetText(bars_[*bar].tip);
  host_.AddToPage(*tip_);
}

void RegisterChartBar() {
  RegisterControlClass("ChartBar", [](Host& host) { return std::make_unique<ChartBar>(host); });
}

}  // namespace tamsolo
