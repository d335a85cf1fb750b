// Painting the canvas through gdi: background, grid dots, arrows, boxes, handles.
#include <algorithm>
#include <cmath>

#include "diagram_canvas/diagram_canvas.h"
#include "gdi/colors.h"
#include "gdi/image.h"

namespace tamsolo::canvas {
namespace {

using gdi::SysColor;
using gdi::SysColorIndex;

// Where the line from the centre of `box` toward (px, py) leaves the box.
gdi::Point Edge(const gdi::Rect& box, gdi::Point toward) {
  const double cx = (box.left + box.right) / 2.0, cy = (box.top + box.bottom) / 2.0;
  const double dx = toward.x - cx, dy = toward.y - cy;
  const double hw = box.Width() / 2.0, hh = box.Height() / 2.0;
  double t = 1;
  if (dx != 0) t = std::min(t, hw / std::abs(dx));
  if (dy != 0) t = std::min(t, hh / std::abs(dy));
  return {static_cast<int>(std::lround(cx + t * dx)), static_cast<int>(std::lround(cy + t * dy))};
}

// A smooth curve through the points (Catmull-Rom), as short straight pieces.
std::vector<gdi::Point> Smooth(const std::vector<gdi::Point>& p) {
  if (p.size() < 3) return p;
  std::vector<gdi::Point> out{p.front()};
  for (size_t i = 0; i + 1 < p.size(); ++i) {
    const gdi::Point& p0 = p[i == 0 ? 0 : i - 1];
    const gdi::Point &p1 = p[i], &p2 = p[i + 1];
    const gdi::Point& p3 = p[std::min(i + 2, p.size() - 1)];
    for (int s = 1; s <= 8; ++s) {
      double t = s / 8.0, t2 = t * t, t3 = t2 * t;
      auto f = [&](int a, int b, int c, int d) {
        return 0.5 * (2 * b + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (-a + 3 * b - 3 * c + d) * t3);
      };
      out.push_back({static_cast<int>(std::lround(f(p0.x, p1.x, p2.x, p3.x))),
                     static_cast<int>(std::lround(f(p0.y, p1.y, p2.y, p3.y)))});
    }
  }
  return out;
}

void ArrowHead(gdi::Dc& dc, gdi::Point from, gdi::Point to) {
  const double angle = std::atan2(to.y - from.y, to.x - from.x);
  for (double side : {0.45, -0.45}) {
    dc.MoveTo(to.x, to.y);
    dc.LineTo(static_cast<int>(std::lround(to.x - 10 * std::cos(angle + side))),
              static_cast<int>(std::lround(to.y - 10 * std::sin(angle + side))));
  }
}

}  // namespace

// Over the box's top right corner, from its top edge round to its right edge.
std::vector<gdi::Point> SelfLoop(const gdi::Rect& box) {
  constexpr int k = 12;
  return {{box.right - k, box.top}, {box.right - k, box.top - k}, {box.right + k, box.top - k},
          {box.right + k, box.top + k}, {box.right, box.top + k}};
}

void RegisterCanvasImages() { gdi::RegisterImage(kStarBitmap, MakeStarImage); }

void DiagramCanvas::DrawLink(gdi::Dc& dc, const Link& l) const {
  auto source = l.Source(), target = l.Target();
  if (!source || !target || l.points.size() < 2) return;
  std::vector<gdi::Point> pts;
  if (source == target && l.points.size() == 2) {
    pts = SelfLoop(PixelRect(*source));
  } else {
    for (const auto& p : l.points) pts.push_back({ToPixelsX(p->x), ToPixelsY(p->y)});
    pts.front() = Edge(PixelRect(*source), pts[1]);
    pts.back() = Edge(PixelRect(*target), pts[pts.size() - 2]);
  }
  std::vector<gdi::Point> line = l.lineStyle == 1 ? Smooth(pts) : pts;
  const gdi::COLORREF ink = SysColor(SysColorIndex::WindowText);
  dc.SetPen(gdi::PenStyle::Solid, ink);
  dc.Polyline(line);
  if (l.reverse) ArrowHead(dc, line[1], line[0]);
  else ArrowHead(dc, line[line.size() - 2], line.back());
  if (!l.caption.empty()) {
    const gdi::Point& a = pts[(pts.size() - 1) / 2];
    const gdi::Point& b = pts[pts.size() / 2];
    const int mx = (a.x + b.x) / 2, my = (a.y + b.y) / 2;
    const int w = dc.TextWidth(l.caption), h = dc.TextHeight();
    dc.SetTextColor(ink);
    dc.DrawText(l.caption, {mx - w / 2, my - h / 2, mx - w / 2 + w, my - h / 2 + h},
                gdi::dt::kSingleLine | gdi::dt::kNoClip);
  }
}

void DiagramCanvas::DrawNode(gdi::Dc& dc, const Node& n) const {
  const gdi::Rect r = PixelRect(n);
  dc.FillRect(r, SysColor(SysColorIndex::Window));
  dc.FrameRect(r, SysColor(SysColorIndex::WindowFrame));
  int top = r.top + 1;
  if (const gdi::Image* img = n.image ? gdi::LoadImage(n.image) : nullptr) {
    dc.DrawImage(*img, r.left + (r.Width() - img->width) / 2, r.top + 2, r);
    top += img->height + 2;
  }
  dc.SetTextColor(SysColor(SysColorIndex::WindowText));
  dc.DrawText(n.caption, {r.left + 2, top, r.right - 2, r.bottom - 1},
              gdi::dt::kCenter | gdi::dt::kVCenter | gdi::dt::kSingleLine | gdi::dt::kEndEllipsis);
}

void DiagramCanvas::DrawHandles(gdi::Dc& dc, const gdi::Rect& r) const {
  const int mx = r.left + (r.right - r.left) / 2, my = r.top + (r.bottom - r.top) / 2;
  const gdi::Point at[] = {{r.left, r.top},    {mx, r.top},    {r.right, r.top},    {r.left, my},
                           {r.right, my},      {r.left, r.bottom}, {mx, r.bottom}, {r.right, r.bottom}};
  for (const gdi::Point& p : at) dc.FillRect({p.x - 3, p.y - 3, p.x + 3, p.y + 3}, SysColor(SysColorIndex::Highlight));
}

void DiagramCanvas::Draw(gdi::Dc& dc) const {
  dc.FillRect({0, 0, viewW_, viewH_}, gdi::TranslateColor(background));
  const bool dotsApart = ToPixelsX(scrollX_ + gridX) >= 2 && ToPixelsY(scrollY_ + gridY) >= 2;
  if (gridShown && dotsApart) {
    const gdi::COLORREF dot = SysColor(SysColorIndex::BtnShadow);
    for (float gy = std::ceil(scrollY_ / gridY) * gridY; ToPixelsY(gy) < viewH_; gy += gridY)
      for (float gx = std::ceil(scrollX_ / gridX) * gridX; ToPixelsX(gx) < viewW_; gx += gridX)
        dc.FillRect({ToPixelsX(gx), ToPixelsY(gy), ToPixelsX(gx) + 1, ToPixelsY(gy) + 1}, dot);
  }
  dc.SetFont(gdi::Font{"Arial", 13, false, false, false});
  for (const auto& n : nodes_)
    for (const auto& l : n->Outgoing()) DrawLink(dc, *l);
  for (const auto& n : nodes_) DrawNode(dc, *n);
  for (const auto& n : SelectedNodes()) DrawHandles(dc, PixelRect(*n));
  for (const auto& l : SelectedLinks())
    for (const auto& p : l->points) {
      const int x = ToPixelsX(p->x), y = ToPixelsY(p->y);
      dc.FillRect({x - 3, y - 3, x + 3, y + 3}, SysColor(SysColorIndex::Highlight));
    }
  DrawScrollBars(dc);
}

}  // namespace tamsolo::canvas
