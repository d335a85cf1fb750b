// The trend chart's painting: the "Add" button, the graph with its axes and series, the legend.
#include <algorithm>

#include "automation/vbdate.h"
#include "chart/chart.h"
#include "gdi/image.h"

namespace tamsolo {

namespace {

constexpr unsigned kOneLine = gdi::dt::kSingleLine | gdi::dt::kVCenter;

}  // namespace

void Chart::DrawContent(gdi::Dc& dc, gdi::Size size) {
  dc.SetFont(Arial(14));
  int widest = dc.TextWidth("Legend:");
  for (const chart::GraphSeries& s : series_) widest = std::max(widest, dc.TextWidth(s.name));
  layout_ = chart::LayoutTrend(size.cx, size.cy, widest + 14);
  DrawButton(dc, layout_.add, "Add", true, hover_ == Button::Add);
  DrawGraph(dc);
  DrawLegend(dc);
}

void Chart::DrawButton(gdi::Dc& dc, const chart::Box& box, std::string_view caption, bool popup, bool hot) const {
  const gdi::Rect r = ToRect(box);
  dc.FrameRect(r, 0);
  dc.FillRect({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, Back());
  const gdi::COLORREF text = hot ? gdi::RGB(255, 255, 255) : Fore();
  dc.SetFont(Arial(14));
  dc.SetTextColor(text);
  if (!popup) {
    dc.DrawText(caption, r, gdi::dt::kCenter | kOneLine);
    return;
  }
  // The caption and the down arrow side by side, the pair centred.
  const int captionWidth = dc.TextWidth(caption);
  gdi::Font arrows;
  arrows.face = "Webdings";
  arrows.height = 18;
  arrows.cellHeight = true;
  dc.SetFont(arrows);
  const int arrowWidth = dc.TextWidth("6");
  const int left = r.left + (r.Width() - captionWidth - arrowWidth) / 2;
  dc.SetFont(Arial(14));
  dc.DrawText(caption, {left, r.top, left + captionWidth, r.bottom}, gdi::dt::kLeft | kOneLine);
  dc.SetFont(arrows);
  dc.DrawText("6", {left + captionWidth, r.top, left + captionWidth + arrowWidth, r.bottom}, gdi::dt::kLeft | kOneLine);
}

void Chart::DrawGraph(gdi::Dc& dc) {
  const chart::GraphBoxes b = chart::TrendBoxes(layout_.graph);
  const chart::Box& f = b.frame;
  if (f.Width() <= 0 || f.Height() <= 0) return;
  dc.FillRect(ToRect(b.valueStrip), Back());
  dc.FillRect(ToRect(b.dateStrip), Back());
  DrawTitle(dc, b.title, "");
  DrawFrame(dc, f);

  const chart::DateAxis dates = chart::MakeDateAxis(series_, automation::Now().value, f);
  dc.SetFont(Arial(13));
  dc.SetTextColor(0);
  for (const chart::DateTick& t : dates.ticks) {
    const int x = f.left + t.x;
    if (t.grid) {
      dc.SetPen(gdi::PenStyle::Dot, Grid());
      dc.MoveTo(f.left + t.gridX, f.bottom - 1);
      dc.LineTo(f.left + t.gridX, f.top);
    }
    dc.SetPen(gdi::PenStyle::Solid, 0);
    dc.MoveTo(x, f.bottom + 1);
    dc.LineTo(x, f.bottom + 3);
    dc.DrawText(t.label, {x - 28, f.bottom + 4, x + 28, f.bottom + 18}, gdi::dt::kCenter | gdi::dt::kSingleLine);
  }
  const chart::CountAxis counts = chart::MakeCountAxis(series_, f);
  DrawCountTicks(dc, f, counts.ticks);
  if (DrawSeries(dc, f, dates, counts)) return;
  if (!loading_) DrawMessage(dc, f, "No data...");
  else if (series_.empty()) DrawMessage(dc, f, "Loading...");
}

bool Chart::DrawSeries(gdi::Dc& dc, const chart::Box& f, const chart::DateAxis& dates,
                       const chart::CountAxis& counts) const {
  bool drawn = false;
  for (size_t i = 0; i < series_.size(); ++i) {
    const chart::GraphSeries& s = series_[i];
    if (!s.visible || s.points.size() < 2) continue;
    std::vector<gdi::Point> line;
    line.reserve(s.points.size());
    for (const chart::GraphPoint& p : s.points) line.push_back({f.left + dates.X(p.date), f.bottom - counts.Y(p.count)});
    dc.SetWidePen(gdi::PenStyle::Solid, chart::SeriesColor(i), 2);
    dc.Polyline(line);
    drawn = true;
  }
  return drawn;
}

void Chart::DrawLegend(gdi::Dc& dc) const {
  const chart::Box& list = layout_.legend;
  if (list.Width() <= 0 || list.Height() <= 0) return;
  const gdi::Rect clip = ToRect(list);
  int top = list.top;
  dc.SetFont(Arial(14));
  dc.SetTextColor(0);
  for (size_t i = 0; i < series_.size() && top < list.bottom; ++i, top += kLegendItemHeight) {
    const gdi::Rect item = gdi::Rect{list.left, top, list.right, top + kLegendItemHeight}.Intersect(clip);
    dc.FillRect(item, Back());
    const bool on = series_[i].visible;
    if (i > 0)
      if (const gdi::Image* check = gdi::LoadImage(on ? kCheckOnBitmap : kCheckOffBitmap))
        dc.DrawImage(*check, list.left, top, clip);
    const gdi::COLORREF swatch = i == 0 || on ? chart::SeriesColor(i) : Back();
    dc.FillRect(gdi::Rect{list.left + 16, top + 2, list.left + 24, top + 10}.Intersect(clip), swatch);
    dc.DrawText(series_[i].name, gdi::Rect{list.left + 28, top, list.right, top + kLegendItemHeight}.Intersect(clip),
                gdi::dt::kLeft | kOneLine);
  }
  if (top < list.bottom) dc.FillRect({list.left, top, list.right, list.bottom}, Back());
}

}  // namespace tamsolo
