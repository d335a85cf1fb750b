// DiagramCanvas: the drawing surface of the workflow diagram editor. Nodes (boxes) and links
// (arrows from node to node through bend points) held in twips, 15 to a pixel at zoom 100. The
// editor drives it by DISPID through Invoke; the typed members below are what Invoke calls and
// what the canvas's own code and tests use.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "gdi/dc.h"

namespace tamsolo::canvas {

using automation::Variant;

enum class InvokeKind { Get, Put, PutRef, Method };

// The by-DISPID face of every canvas object. A call the object does not know raises a ComError
// carrying the HRESULT (DISP_E_MEMBERNOTFOUND), as a failed IDispatch::Invoke does.
class Dispatch : public automation::Object {
 public:
  const automation::ClassInfo& Class() const override;
  virtual Variant Invoke(int32_t dispid, InvokeKind kind, std::vector<Variant> args = {}) = 0;
};

inline constexpr int32_t kMemberNotFound = static_cast<int32_t>(0x80020003);
inline constexpr int32_t kBadIndex = static_cast<int32_t>(0x8002000B);
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kStarBitmap = 229;  // the issue-create state's picture

// Bitmap 229, made in code; registered with gdi by RegisterCanvasImages.
gdi::Image MakeStarImage();
void RegisterCanvasImages();

// Cursor 227, the pointer picture the editor shows over a node (pointer 99): the PNG file, and
// the data: URL of a pointer picture the canvas knows ("" for any other picture).
inline constexpr int32_t kNodePointer = 227;
std::string PointerPng();
std::string PointerPictureUrl(const Variant& picture);

class DiagramCanvas;
class Link;

// How a link from a box to itself with no bends is drawn: a small loop, in pixels of the window.
std::vector<gdi::Point> SelfLoop(const gdi::Rect& box);

// The eight handle squares around a selected node's pixel rectangle (left, top, right, bottom;
// right and bottom excluded), row by row from the top left, in the order they are tried.
std::array<gdi::Rect, 8> HandleSquares(const gdi::Rect& r);
// Whether the pixel (x, y) lies in r, its right and bottom edges excluded.
bool Inside(const gdi::Rect& r, int x, int y);

struct CanvasPoint : Dispatch {
  float x = 0, y = 0;
  CanvasPoint(float px, float py) : x(px), y(py) {}
  Variant Invoke(int32_t dispid, InvokeKind kind, std::vector<Variant> args = {}) override;
};

class Node : public Dispatch {
 public:
  Variant tag;
  std::string caption;
  Variant picture;              // as the editor set it
  int32_t image = 0;            // the gdi picture drawn above the caption, 0 none
  int32_t pictureFlags = 0;     // set by the editor; kept
  int32_t picturePlacement = 0;
  float left = 0, top = 0, width = 0, height = 0;

  bool Selected() const;
  void SetSelected(bool on);
  int32_t Index() const;  // from 1 in the canvas's nodes
  const std::vector<std::shared_ptr<Link>>& Outgoing() const { return outgoing_; }
  std::vector<std::shared_ptr<Link>> Incoming() const;
  std::shared_ptr<Link> AddLink(const std::shared_ptr<Node>& target);
  void RemoveLink(int32_t index);  // from 1
  void SetBounds(float l, float t, float w, float h);
  float CenterX() const { return left + width / 2; }
  float CenterY() const { return top + height / 2; }
  Variant Invoke(int32_t dispid, InvokeKind kind, std::vector<Variant> args = {}) override;

 private:
  friend class DiagramCanvas;
  friend class Link;
  DiagramCanvas* canvas_ = nullptr;
  std::vector<std::shared_ptr<Link>> outgoing_;
};

class Link : public Dispatch {
 public:
  Variant tag;
  std::string caption;
  int32_t lineStyle = 0;  // 0 straight, 1 curved
  bool reverse = false;
  // Both ends included: point 0 at the source, the last at the target.
  std::vector<std::shared_ptr<CanvasPoint>> points;

  std::shared_ptr<Node> Source() const { return source_.lock(); }
  std::shared_ptr<Node> Target() const { return target_.lock(); }
  bool Selected() const;
  void SetSelected(bool on);
  int32_t Index() const;  // from 1 among its source's links
  void AddPoint(float x, float y);  // a bend, before the target end
  void ClearPoints();               // the bends; the ends stay
  void FollowEnds();                // the ends back on the nodes' centres
  Variant Invoke(int32_t dispid, InvokeKind kind, std::vector<Variant> args = {}) override;

 private:
  friend class Node;
  friend class DiagramCanvas;
  std::weak_ptr<Node> source_, target_;
};

// What the owner hears: the mouse in pixels of the canvas window, buttons 1 left and 2 right.
struct CanvasSink {
  std::function<void(int32_t button, int32_t shift, int32_t x, int32_t y)> mouseDown, mouseMove, mouseUp;
  std::function<void()> dblClick;
  std::function<void(int32_t key, int32_t shift)> keyUp;
};

// The interaction switches, by their DISPIDs; each tool of the editor sets a row of them.
namespace sw {
inline constexpr int32_t kDrawNodes = 1, kMoveNodes = 2, kDrawLinks = 23, kSelectNodes = 24, kEditLinks = 25,
                         kSizeNodes = 26, kInteract = 28;
inline constexpr int32_t kEvents = 13, kNewLineStyle = 55, kMultiSelect = 65;
}  // namespace sw

enum class Gesture : int32_t { Nothing = 0, Node = 1, Link = 2 };

class DiagramCanvas : public Dispatch {
 public:
  DiagramCanvas();
  ~DiagramCanvas() override;

  // Nodes, in drawing order (the last in front).
  const std::vector<std::shared_ptr<Node>>& Nodes() const { return nodes_; }
  std::shared_ptr<Node> AddNode(float left, float top, float width, float height);
  void RemoveNode(int32_t index);  // from 1; its links go from both ends
  void ClearNodes();
  void SetZOrder(Node& n, int32_t order);  // 0 to the front, 1 to the back

  std::vector<std::shared_ptr<Node>> SelectedNodes() const;
  std::vector<std::shared_ptr<Link>> SelectedLinks() const;
  void UnselectAll();
  std::shared_ptr<Node> CurrentNode() const { return currentNode_.lock(); }
  std::shared_ptr<Link> CurrentLink() const { return currentLink_.lock(); }
  Gesture LastGesture() const { return lastGesture_; }

  // Hit tests in twips of the diagram, and from pixels of the window (zoom and scroll applied).
  std::shared_ptr<Node> NodeAt(float x, float y) const;
  std::shared_ptr<Link> LinkAt(float x, float y) const;
  float ToTwipsX(int px) const;
  float ToTwipsY(int py) const;
  int ToPixelsX(float twips) const;
  int ToPixelsY(float twips) const;

  bool Switch(int32_t dispid) const;
  int32_t SwitchValue(int32_t dispid) const;
  void SetSwitch(int32_t dispid, int32_t value);

  bool gridShown = false, snap = false;
  uint32_t background = 0x8000000F;  // OLE colour: button face
  float gridX = 135, gridY = 135;
  int32_t pointer = 0;
  Variant pointerPicture;
  int32_t zoomX = 100, zoomY = 100;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on) { enabled_ = on; }

  // The window and the scroll bars: the range reaches every node and the view's own size.
  void SetViewSize(int widthPx, int heightPx);
  float ScrollX() const { return scrollX_; }
  float ScrollY() const { return scrollY_; }
  void ScrollTo(float x, float y);  // kept inside the range
  float ScrollMaxX() const;
  float ScrollMaxY() const;
  std::string Cursor() const;  // the CSS cursor of the pointer code (and picture, for 99)
  // The bars along the bottom and the right edge, each empty while there is nothing to scroll.
  static constexpr int kBarSize = 16;
  gdi::Rect HorizontalBar() const;
  gdi::Rect VerticalBar() const;
  gdi::Rect HorizontalThumb() const;
  gdi::Rect VerticalThumb() const;

  void Draw(gdi::Dc& dc) const;
  void Refresh();
  void SetRepaint(std::function<void()> repaint) { repaint_ = std::move(repaint); }
  void SetSink(CanvasSink sink) { sink_ = std::move(sink); }
  // Called whenever the pointer code is set.
  void SetPointerChanged(std::function<void()> changed) { pointerChanged_ = std::move(changed); }
  void SetPointer(int32_t code);

  // The window's input, in pixels of the canvas window.
  void MouseDown(int32_t button, int32_t shift, int x, int y);
  void MouseMove(int32_t button, int32_t shift, int x, int y);
  void MouseUp(int32_t button, int32_t shift, int x, int y);
  void DblClick();
  void KeyUp(int32_t key, int32_t shift);

  Variant Invoke(int32_t dispid, InvokeKind kind, std::vector<Variant> args = {}) override;

 private:
  friend class Node;
  friend class Link;
  struct Drag {  // the gesture under way between MouseDown and MouseUp
    enum Kind { Draw, Connect, Move, Size, Bend, ScrollH, ScrollV } kind = Draw;
    std::shared_ptr<Node> node;
    std::shared_ptr<Link> link;
    size_t point = 0;
    int handle = 0;
    float startX = 0, startY = 0;
    float left = 0, top = 0, width = 0, height = 0;
    float scroll = 0;  // the position a thumb drag started from
    bool leftSource = false;  // a link drag has been off its source node: it may end on it
  };
  float Snapped(float v, float step) const;
  void Select(Node& n, bool add);
  void Select(Link& l, bool add);
  void MakeCurrent(const std::shared_ptr<Node>& node, bool add);
  void MakeCurrent(const std::shared_ptr<Link>& link, bool add);
  void BeginDrag(int x, int y, bool shift);
  void FinishDrag(int x, int y);
  void DrawNode(gdi::Dc& dc, const Node& n) const;
  void DrawLink(gdi::Dc& dc, const Link& l) const;
  void DrawHandles(gdi::Dc& dc, const gdi::Rect& r) const;
  void DrawScrollBars(gdi::Dc& dc) const;
  bool ScrollBarDown(int x, int y);
  void ScrollBarDrag(int x, int y);
  gdi::Rect PixelRect(const Node& n) const;

  std::vector<std::shared_ptr<Node>> nodes_;
  std::vector<std::weak_ptr<Node>> selectedNodes_;
  std::vector<std::weak_ptr<Link>> selectedLinks_;
  std::weak_ptr<Node> currentNode_;
  std::weak_ptr<Link> currentLink_;
  Gesture lastGesture_ = Gesture::Nothing;
  std::map<int32_t, int32_t> switches_;
  bool enabled_ = true;
  int viewW_ = 0, viewH_ = 0;
  float scrollX_ = 0, scrollY_ = 0;
  std::function<void()> repaint_;
  std::function<void()> pointerChanged_;
  CanvasSink sink_;
  std::unique_ptr<Drag> drag_;
};

}  // namespace tamsolo::canvas
