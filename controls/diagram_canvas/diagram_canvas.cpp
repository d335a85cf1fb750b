#include "diagram_canvas/diagram_canvas.h"

#include <algorithm>
#include <cmath>

namespace tamsolo::canvas {
namespace {

template <typename T>
bool Holds(const std::vector<std::weak_ptr<T>>& list, const T* item) {
  for (const auto& w : list)
    if (w.lock().get() == item) return true;
  return false;
}

template <typename T>
void Drop(std::vector<std::weak_ptr<T>>& list, const T* item) {
  std::erase_if(list, [&](const std::weak_ptr<T>& w) { return w.expired() || w.lock().get() == item; });
}

template <typename T>
std::vector<std::shared_ptr<T>> Alive(const std::vector<std::weak_ptr<T>>& list) {
  std::vector<std::shared_ptr<T>> out;
  for (const auto& w : list)
    if (auto p = w.lock()) out.push_back(p);
  return out;
}

// Squared distance from (px, py) to the segment (ax, ay)-(bx, by).
float SegmentDistance2(float px, float py, float ax, float ay, float bx, float by) {
  float dx = bx - ax, dy = by - ay;
  float len2 = dx * dx + dy * dy;
  float t = len2 == 0 ? 0 : std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0f, 1.0f);
  float cx = ax + t * dx - px, cy = ay + t * dy - py;
  return cx * cx + cy * cy;
}

}  // namespace

const automation::ClassInfo& Dispatch::Class() const {
  static automation::ClassInfo info;  // reached by DISPID only
  return info;
}

// Nodes.

bool Node::Selected() const { return canvas_ && Holds(canvas_->selectedNodes_, this); }

void Node::SetSelected(bool on) {
  if (!canvas_) return;
  Drop(canvas_->selectedNodes_, this);
  if (on) canvas_->selectedNodes_.push_back(std::static_pointer_cast<Node>(shared_from_this()));
}

int32_t Node::Index() const {
  if (!canvas_) return 0;
  const auto& nodes = canvas_->nodes_;
  for (size_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].get() == this) return static_cast<int32_t>(i + 1);
  return 0;
}

std::vector<std::shared_ptr<Link>> Node::Incoming() const {
  std::vector<std::shared_ptr<Link>> out;
  if (!canvas_) return out;
  for (const auto& n : canvas_->nodes_)
    for (const auto& l : n->outgoing_)
      if (l->Target().get() == this) out.push_back(l);
  return out;
}

std::shared_ptr<Link> Node::AddLink(const std::shared_ptr<Node>& target) {
  auto link = std::make_shared<Link>();
  link->source_ = std::static_pointer_cast<Node>(shared_from_this());
  link->target_ = target;
  link->points = {std::make_shared<CanvasPoint>(CenterX(), CenterY()),
                  std::make_shared<CanvasPoint>(target ? target->CenterX() : 0, target ? target->CenterY() : 0)};
  outgoing_.push_back(link);
  return link;
}

void Node::RemoveLink(int32_t index) {
  if (index < 1 || index > static_cast<int32_t>(outgoing_.size()))
    throw automation::ComError(kBadIndex, "DiagramCanvas", "Invalid index.");
  outgoing_.erase(outgoing_.begin() + (index - 1));
}

void Node::SetBounds(float l, float t, float w, float h) {
  left = l;
  top = t;
  width = w;
  height = h;
  for (const auto& link : outgoing_) link->FollowEnds();
  for (const auto& link : Incoming()) link->FollowEnds();
}

// Links.

bool Link::Selected() const {
  auto s = Source();
  return s && s->canvas_ && Holds(s->canvas_->selectedLinks_, this);
}

void Link::SetSelected(bool on) {
  auto s = Source();
  if (!s || !s->canvas_) return;
  Drop(s->canvas_->selectedLinks_, this);
  if (on) s->canvas_->selectedLinks_.push_back(std::static_pointer_cast<Link>(shared_from_this()));
}

int32_t Link::Index() const {
  auto s = Source();
  if (!s) return 0;
  for (size_t i = 0; i < s->outgoing_.size(); ++i)
    if (s->outgoing_[i].get() == this) return static_cast<int32_t>(i + 1);
  return 0;
}

void Link::AddPoint(float x, float y) {
  points.insert(points.end() - 1, std::make_shared<CanvasPoint>(x, y));
}

void Link::ClearPoints() {
  if (points.size() > 2) points.erase(points.begin() + 1, points.end() - 1);
}

void Link::FollowEnds() {
  auto s = Source(), t = Target();
  if (s) *points.front() = CanvasPoint(s->CenterX(), s->CenterY());
  if (t) *points.back() = CanvasPoint(t->CenterX(), t->CenterY());
}

// The canvas.


DiagramCanvas::DiagramCanvas() = default;
DiagramCanvas::~DiagramCanvas() = default;

std::shared_ptr<Node> DiagramCanvas::AddNode(float left, float top, float width, float height) {
  auto n = std::make_shared<Node>();
  n->canvas_ = this;
  n->left = left;
  n->top = top;
  n->width = width;
  n->height = height;
  nodes_.push_back(n);
  return n;
}

void DiagramCanvas::RemoveNode(int32_t index) {
  if (index < 1 || index > static_cast<int32_t>(nodes_.size()))
    throw automation::ComError(kBadIndex, "DiagramCanvas", "Invalid index.");
  std::shared_ptr<Node> gone = nodes_[index - 1];
  for (const auto& n : nodes_)
    std::erase_if(n->outgoing_, [&](const std::shared_ptr<Link>& l) { return l->Target() == gone; });
  for (const auto& l : gone->outgoing_) Drop(selectedLinks_, l.get());
  Drop(selectedNodes_, gone.get());
  gone->outgoing_.clear();
  gone->canvas_ = nullptr;
  nodes_.erase(nodes_.begin() + (index - 1));
}

void DiagramCanvas::ClearNodes() {
  while (!nodes_.empty()) RemoveNode(static_cast<int32_t>(nodes_.size()));
}

void DiagramCanvas::SetZOrder(Node& n, int32_t order) {
  auto it = std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& p) { return p.get() == &n; });
  if (it == nodes_.end()) return;
  std::shared_ptr<Node> keep = *it;
  nodes_.erase(it);
  if (order == 1) nodes_.insert(nodes_.begin(), keep);
  else nodes_.push_back(keep);
}

std::vector<std::shared_ptr<Node>> DiagramCanvas::SelectedNodes() const { return Alive(selectedNodes_); }
std::vector<std::shared_ptr<Link>> DiagramCanvas::SelectedLinks() const { return Alive(selectedLinks_); }

void DiagramCanvas::UnselectAll() {
  selectedNodes_.clear();
  selectedLinks_.clear();
}

std::shared_ptr<Node> DiagramCanvas::NodeAt(float x, float y) const {
  for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
    const Node& n = **it;
    if (x >= n.left && x < n.left + n.width && y >= n.top && y < n.top + n.height) return *it;
  }
  return nullptr;
}

// Within four pixels of the line through the link's points at the current zoom; a link from a
// node to itself without bends along its loop as drawn.
std::shared_ptr<Link> DiagramCanvas::LinkAt(float x, float y) const {
  const float reach = 4.0f * kTwipsPerPixel * 100.0f / static_cast<float>(std::max(1, zoomX));
  for (auto n = nodes_.rbegin(); n != nodes_.rend(); ++n)
    for (const auto& l : (*n)->outgoing_) {
      std::vector<std::pair<float, float>> path;
      if (l->Target() == *n && l->points.size() == 2) {
        for (const gdi::Point& p : SelfLoop(PixelRect(**n))) path.emplace_back(ToTwipsX(p.x), ToTwipsY(p.y));
      } else {
        for (const auto& p : l->points) path.emplace_back(p->x, p->y);
      }
      for (size_t i = 1; i < path.size(); ++i) {
        auto [ax, ay] = path[i - 1];
        auto [bx, by] = path[i];
        if (SegmentDistance2(x, y, ax, ay, bx, by) <= reach * reach) return l;
      }
    }
  return nullptr;
}

float DiagramCanvas::ToTwipsX(int px) const {
  return static_cast<float>(px) * kTwipsPerPixel * 100.0f / static_cast<float>(std::max(1, zoomX)) + scrollX_;
}
float DiagramCanvas::ToTwipsY(int py) const {
  return static_cast<float>(py) * kTwipsPerPixel * 100.0f / static_cast<float>(std::max(1, zoomY)) + scrollY_;
}
int DiagramCanvas::ToPixelsX(float twips) const {
  return static_cast<int>(std::lround((twips - scrollX_) * static_cast<float>(zoomX) / 100.0f / kTwipsPerPixel));
}
int DiagramCanvas::ToPixelsY(float twips) const {
  return static_cast<int>(std::lround((twips - scrollY_) * static_cast<float>(zoomY) / 100.0f / kTwipsPerPixel));
}

bool DiagramCanvas::Switch(int32_t dispid) const { return SwitchValue(dispid) != 0; }

int32_t DiagramCanvas::SwitchValue(int32_t dispid) const {
  auto it = switches_.find(dispid);
  return it == switches_.end() ? 0 : it->second;
}

void DiagramCanvas::SetSwitch(int32_t dispid, int32_t value) { switches_[dispid] = value; }

void DiagramCanvas::SetViewSize(int widthPx, int heightPx) {
  viewW_ = widthPx;
  viewH_ = heightPx;
  ScrollTo(scrollX_, scrollY_);
}

float DiagramCanvas::ScrollMaxX() const {
  float right = 0;
  for (const auto& n : nodes_) right = std::max(right, n->left + n->width);
  float view = static_cast<float>(viewW_) * kTwipsPerPixel * 100.0f / static_cast<float>(std::max(1, zoomX));
  return std::max(0.0f, right - view);
}

float DiagramCanvas::ScrollMaxY() const {
  float bottom = 0;
  for (const auto& n : nodes_) bottom = std::max(bottom, n->top + n->height);
  float view = static_cast<float>(viewH_) * kTwipsPerPixel * 100.0f / static_cast<float>(std::max(1, zoomY));
  return std::max(0.0f, bottom - view);
}

void DiagramCanvas::ScrollTo(float x, float y) {
  scrollX_ = std::clamp(x, 0.0f, ScrollMaxX());
  scrollY_ = std::clamp(y, 0.0f, ScrollMaxY());
}

std::string DiagramCanvas::Cursor() const {
  switch (pointer) {
    case 2: return "crosshair";
    case 5: return "move";
    case 6: return "nesw-resize";
    case 7: return "ns-resize";
    case 8: return "nwse-resize";
    case 9: return "ew-resize";
    case 11: return "wait";
    case 99: {
      const std::string url = PointerPictureUrl(pointerPicture);
      return url.empty() ? "default" : "url(" + url + ") 0 0, default";
    }
    default: return "default";
  }
}

void DiagramCanvas::SetPointer(int32_t code) {
  pointer = code;
  if (pointerChanged_) pointerChanged_();
}

void DiagramCanvas::Refresh() {
  if (repaint_) repaint_();
}

}  // namespace tamsolo::canvas
