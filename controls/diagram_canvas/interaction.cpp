// What the mouse does on the canvas, by the switches the editor's tool has set. The canvas acts
// first, then tells the owner, which looks at what was made (LastGesture) after the fact.
#include <algorithm>
#include <array>
#include <cmath>

#include "diagram_canvas/diagram_canvas.h"

namespace tamsolo::canvas {
namespace {

constexpr float kMinSize = 4 * kTwipsPerPixel;  // a drawn node smaller than this is no node

}  // namespace

bool Inside(const gdi::Rect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

std::array<gdi::Rect, 8> HandleSquares(const gdi::Rect& r) {
  const int l = r.left, t = r.top, rt = r.right, b = r.bottom;
  const int mx = l + (rt - l) / 2, my = t + (b - t) / 2;
  return {{{l - 4, t - 4, l + 3, t + 3}, {mx - 3, t - 4, mx + 3, t + 2}, {rt - 3, t - 4, rt + 4, t + 3},
           {l - 4, my - 3, l + 3, my + 3}, {rt - 3, my - 3, rt + 4, my + 3}, {l - 4, b - 3, l + 3, b + 4},
           {mx - 3, b - 3, mx + 3, b + 4}, {rt - 2, b - 3, rt + 5, b + 4}}};
}

gdi::Rect DiagramCanvas::PixelRect(const Node& n) const {
  return {ToPixelsX(n.left), ToPixelsY(n.top), ToPixelsX(n.left + n.width), ToPixelsY(n.top + n.height)};
}

float DiagramCanvas::Snapped(float v, float step) const {
  return snap && step > 0 ? std::round(v / step) * step : v;
}

void DiagramCanvas::Select(Node& n, bool add) {
  if (!add) UnselectAll();
  n.SetSelected(true);
}

void DiagramCanvas::Select(Link& l, bool add) {
  if (!add) UnselectAll();
  l.SetSelected(true);
}

// One item is current, the one last clicked or drawn, so that Delete and the menu commands act on
// what the user sees chosen. A shift-click that adds to the selection keeps the current item of
// the other kind, so a node and a link chosen together are both current (double-click opens both).
void DiagramCanvas::MakeCurrent(const std::shared_ptr<Node>& node, bool add) {
  currentNode_ = node;
  if (!add) currentLink_.reset();
}

void DiagramCanvas::MakeCurrent(const std::shared_ptr<Link>& link, bool add) {
  currentLink_ = link;
  if (!add) currentNode_.reset();
}

void DiagramCanvas::BeginDrag(int x, int y, bool shift) {
  auto d = std::make_unique<Drag>();
  d->startX = ToTwipsX(x);
  d->startY = ToTwipsY(y);
  const bool add = shift && SwitchValue(sw::kMultiSelect) != 0;
  auto selected = SelectedNodes();
  if (Switch(sw::kSizeNodes) && selected.size() == 1 && SelectedLinks().empty()) {
    auto squares = HandleSquares(PixelRect(*selected[0]));
    for (size_t i = 0; i < squares.size(); ++i)
      if (Inside(squares[i], x, y)) {
        d->kind = Drag::Size, d->node = selected[0], d->handle = static_cast<int>(i);
        break;
      }
  }
  if (!d->node) d->node = NodeAt(d->startX, d->startY);
  if (d->node) {
    MakeCurrent(d->node, add);
    if (d->kind != Drag::Size) {
      if (Switch(sw::kSelectNodes)) Select(*d->node, add);
      d->kind = Switch(sw::kMoveNodes) ? Drag::Move : Switch(sw::kDrawLinks) ? Drag::Connect : Drag::Draw;
      if (d->kind == Drag::Draw) return;
    }
    d->left = d->node->left, d->top = d->node->top, d->width = d->node->width, d->height = d->node->height;
    drag_ = std::move(d);
    return;
  }
  if (auto link = LinkAt(d->startX, d->startY); link && Switch(sw::kEditLinks)) {
    MakeCurrent(link, add);
    Select(*link, add);
    const float reach2 = 4.0f * kTwipsPerPixel * 4.0f * kTwipsPerPixel;
    for (size_t i = 1; i + 1 < link->points.size(); ++i) {
      float dx = link->points[i]->x - d->startX, dy = link->points[i]->y - d->startY;
      if (dx * dx + dy * dy <= reach2) d->kind = Drag::Bend, d->link = link, d->point = i;
    }
    if (d->link) drag_ = std::move(d);
    return;
  }
  if (!add) UnselectAll();
  currentNode_.reset(), currentLink_.reset();
  if (Switch(sw::kDrawNodes)) drag_ = std::move(d);  // kind Draw
}

void DiagramCanvas::MouseDown(int32_t button, int32_t shift, int x, int y) {
  drag_.reset();
  if (enabled_ && button == 1 && ScrollBarDown(x, y)) return;
  if (enabled_ && Switch(sw::kInteract) && button == 1) {
    lastGesture_ = Gesture::Nothing;
    BeginDrag(x, y, (shift & 1) != 0);
  }
  // The right button makes the item under it the current one, for the owner's menu commands.
  if (enabled_ && Switch(sw::kInteract) && button == 2) {
    const float tx = ToTwipsX(x), ty = ToTwipsY(y);
    if (auto link = LinkAt(tx, ty)) MakeCurrent(link, false);
    else if (auto node = NodeAt(tx, ty)) MakeCurrent(node, false);
    else currentNode_.reset(), currentLink_.reset();
  }
  if (sink_.mouseDown && Switch(sw::kEvents)) sink_.mouseDown(button, shift, x, y);
}

void DiagramCanvas::MouseMove(int32_t button, int32_t shift, int x, int y) {
  if (drag_ && (drag_->kind == Drag::ScrollH || drag_->kind == Drag::ScrollV)) return ScrollBarDrag(x, y);
  if (drag_) {
    Drag& d = *drag_;
    const float dx = ToTwipsX(x) - d.startX, dy = ToTwipsY(y) - d.startY;
    if (d.kind == Drag::Move) {
      d.node->SetBounds(Snapped(d.left + dx, gridX), Snapped(d.top + dy, gridY), d.width, d.height);
    } else if (d.kind == Drag::Size) {
      float l = d.left, t = d.top, r = d.left + d.width, b = d.top + d.height;
      const int h = d.handle;
      if (h == 0 || h == 3 || h == 5) l = Snapped(l + dx, gridX);
      if (h == 2 || h == 4 || h == 7) r = Snapped(r + dx, gridX);
      if (h == 0 || h == 1 || h == 2) t = Snapped(t + dy, gridY);
      if (h == 5 || h == 6 || h == 7) b = Snapped(b + dy, gridY);
      d.node->SetBounds(std::min(l, r), std::min(t, b), std::abs(r - l), std::abs(b - t));
    } else if (d.kind == Drag::Connect) {
      if (NodeAt(ToTwipsX(x), ToTwipsY(y)) != d.node) d.leftSource = true;
    } else if (d.kind == Drag::Bend) {
      *d.link->points[d.point] = CanvasPoint(std::max(0.0f, d.startX + dx), std::max(0.0f, d.startY + dy));
    }
    if (d.kind != Drag::Draw && d.kind != Drag::Connect) Refresh();
  }
  if (sink_.mouseMove && Switch(sw::kEvents)) sink_.mouseMove(button, shift, x, y);
}

void DiagramCanvas::FinishDrag(int x, int y) {
  std::unique_ptr<Drag> d = std::move(drag_);
  const float ex = ToTwipsX(x), ey = ToTwipsY(y);
  if (d->kind == Drag::Draw) {
    float l = Snapped(std::min(d->startX, ex), gridX), t = Snapped(std::min(d->startY, ey), gridY);
    float r = Snapped(std::max(d->startX, ex), gridX), b = Snapped(std::max(d->startY, ey), gridY);
    if (r - l < kMinSize || b - t < kMinSize) return;
    auto n = AddNode(l, t, r - l, b - t);
    UnselectAll();
    n->SetSelected(true);
    MakeCurrent(n, false);
    lastGesture_ = Gesture::Node;
  } else if (d->kind == Drag::Connect) {
    auto target = NodeAt(ex, ey);
    // Back on its own node after leaving it, the drag draws a link to itself; a click draws none.
    if (!target || (target == d->node && !d->leftSource)) return;
    auto link = d->node->AddLink(target);
    link->lineStyle = SwitchValue(sw::kNewLineStyle);
    MakeCurrent(link, false);
    lastGesture_ = Gesture::Link;
  }
}

void DiagramCanvas::MouseUp(int32_t button, int32_t shift, int x, int y) {
  if (drag_ && (drag_->kind == Drag::ScrollH || drag_->kind == Drag::ScrollV)) return drag_.reset();
  if (drag_ && button == 1) {
    FinishDrag(x, y);
    Refresh();
  }
  drag_.reset();
  if (sink_.mouseUp && Switch(sw::kEvents)) sink_.mouseUp(button, shift, x, y);
}

void DiagramCanvas::DblClick() {
  if (sink_.dblClick && Switch(sw::kEvents)) sink_.dblClick();
}

void DiagramCanvas::KeyUp(int32_t key, int32_t shift) {
  if (sink_.keyUp && Switch(sw::kEvents)) sink_.keyUp(key, shift);
}

}  // namespace tamsolo::canvas
