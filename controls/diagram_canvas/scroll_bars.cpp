// The canvas's scroll bars: a track with a thumb sized by the share of the diagram in view.
// A press beside the thumb pages by the view's extent; dragging the thumb scrolls with it.
#include <algorithm>

#include "diagram_canvas/diagram_canvas.h"
#include "gdi/colors.h"

namespace tamsolo::canvas {
namespace {

// The thumb's start and length along a track of `track` pixels.
std::pair<int, int> Thumb(int track, float view, float max, float pos) {
  int length = std::max(8, static_cast<int>(static_cast<float>(track) * view / (view + max)));
  length = std::min(length, track);
  int start = max > 0 ? static_cast<int>(static_cast<float>(track - length) * pos / max) : 0;
  return {start, length};
}

}  // namespace

gdi::Rect DiagramCanvas::HorizontalBar() const {
  if (ScrollMaxX() <= 0) return {};
  return {0, viewH_ - kBarSize, viewW_ - (ScrollMaxY() > 0 ? kBarSize : 0), viewH_};
}

gdi::Rect DiagramCanvas::VerticalBar() const {
  if (ScrollMaxY() <= 0) return {};
  return {viewW_ - kBarSize, 0, viewW_, viewH_ - (ScrollMaxX() > 0 ? kBarSize : 0)};
}

gdi::Rect DiagramCanvas::HorizontalThumb() const {
  gdi::Rect bar = HorizontalBar();
  if (bar.Empty()) return {};
  auto [start, length] = Thumb(bar.Width(), ToTwipsX(viewW_) - scrollX_, ScrollMaxX(), scrollX_);
  return {bar.left + start, bar.top, bar.left + start + length, bar.bottom};
}

gdi::Rect DiagramCanvas::VerticalThumb() const {
  gdi::Rect bar = VerticalBar();
  if (bar.Empty()) return {};
  auto [start, length] = Thumb(bar.Height(), ToTwipsY(viewH_) - scrollY_, ScrollMaxY(), scrollY_);
  return {bar.left, bar.top + start, bar.right, bar.top + start + length};
}

void DiagramCanvas::DrawScrollBars(gdi::Dc& dc) const {
  for (auto [bar, thumb] : {std::pair{HorizontalBar(), HorizontalThumb()}, std::pair{VerticalBar(), VerticalThumb()}}) {
    if (bar.Empty()) continue;
    dc.FillRect(bar, gdi::SysColor(gdi::SysColorIndex::ScrollBar));
    dc.FillRect(thumb, gdi::SysColor(gdi::SysColorIndex::BtnFace));
    dc.DrawEdge(thumb, gdi::Edge::Raised);
  }
}

// True when the press fell on a bar (and so is no gesture on the diagram).
bool DiagramCanvas::ScrollBarDown(int x, int y) {
  const float pageX = ToTwipsX(viewW_) - scrollX_, pageY = ToTwipsY(viewH_) - scrollY_;
  for (bool horizontal : {true, false}) {
    gdi::Rect bar = horizontal ? HorizontalBar() : VerticalBar();
    if (bar.Empty() || !Inside(bar, x, y)) continue;
    gdi::Rect thumb = horizontal ? HorizontalThumb() : VerticalThumb();
    if (Inside(thumb, x, y)) {
      drag_ = std::make_unique<Drag>();
      drag_->kind = horizontal ? Drag::ScrollH : Drag::ScrollV;
      drag_->startX = static_cast<float>(x), drag_->startY = static_cast<float>(y);
      drag_->scroll = horizontal ? scrollX_ : scrollY_;
    } else if (horizontal) {
      ScrollTo(scrollX_ + (x < thumb.left ? -pageX : pageX), scrollY_);
    } else {
      ScrollTo(scrollX_, scrollY_ + (y < thumb.top ? -pageY : pageY));
    }
    Refresh();
    return true;
  }
  return false;
}

void DiagramCanvas::ScrollBarDrag(int x, int y) {
  const bool horizontal = drag_->kind == Drag::ScrollH;
  gdi::Rect bar = horizontal ? HorizontalBar() : VerticalBar();
  gdi::Rect thumb = horizontal ? HorizontalThumb() : VerticalThumb();
  const int free = horizontal ? bar.Width() - thumb.Width() : bar.Height() - thumb.Height();
  if (free <= 0) return;
  const float moved = horizontal ? static_cast<float>(x) - drag_->startX : static_cast<float>(y) - drag_->startY;
  const float pos = drag_->scroll + moved * (horizontal ? ScrollMaxX() : ScrollMaxY()) / static_cast<float>(free);
  if (horizontal) ScrollTo(pos, scrollY_);
  else ScrollTo(scrollX_, pos);
  Refresh();
}

}  // namespace tamsolo::canvas
