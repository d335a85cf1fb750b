// The popup menu (shown over the control) and its commands, the pointer over a selected item, and
// the three dialogs' runs: open the form, check on OK, write back only when every check passes.
#include <array>

#include "workflow_diagram/canvas_calls.h"
#include "workflow_diagram/workflow_diagram.h"

namespace tamsolo {

using automation::Variant;
using namespace canvascalls;

namespace {

constexpr std::array<int32_t, 7> kZooms = {500, 200, 150, 100, 75, 50, 25};
constexpr int32_t kFirstZoom = 217;

}  // namespace

// ---- the menu

void WorkflowDiagram::ShowMenu(Menu::Kind kind, int left, int top) {
  CloseMenu();
  openMenu_ = kind;
  menuView_.OnClosed([this] {
    const Menu::Kind closed = *openMenu_;
    openMenu_.reset();
    if (closed != Menu::kCanvas) ApplySwitches(activeTool_);
  });
  menuView_.Open(host_, menu_.Items(kind), left, top, tamsolo::PopupMenu::Origin::kControl,
                 [this](int32_t command) { Command(command); });
}

void WorkflowDiagram::CloseMenu() { menuView_.Close(); }

void WorkflowDiagram::MenuCommand(int32_t id) {
  if (!canvas_) return;
  canvas::Dispatch& c = *canvas_;
  Variant node = CGet(c, kCurrentNode), link = CGet(c, kCurrentLink);
  const bool hasNode = !IsNothing(node), hasLink = !IsNothing(link);
  if (id >= kFirstZoom && id < kFirstZoom + static_cast<int32_t>(kZooms.size())) {
    for (size_t i = 0; i < kZooms.size(); ++i) menu_.Check(kFirstZoom + static_cast<int32_t>(i), false);
    menu_.Check(id, true);
    CPut(c, kZoomX, Variant(kZooms[static_cast<size_t>(id - kFirstZoom)]));
    CPut(c, kZoomY, Variant(kZooms[static_cast<size_t>(id - kFirstZoom)]));
  }
  switch (id) {
    case 32787: case 32788: if (hasNode) CPut(Of(node), kZOrder, Variant(id == 32787 ? 0 : 1)); break;
    case 32789: if (hasLink) ReverseLink(); break;
    case 226: if (hasLink) CCall(Of(CGet(Of(link), kPoints)), kClear); break;
    case 32790: case 32791: if (hasLink) CPut(Of(link), kLineStyle, Variant(id == 32791 ? 1 : 0)); break;
    case 224: case 228: DeleteCurrent(); break;
    case 225: NodeProperties(nullptr); break;
    case 227: LinkProperties(); break;
    case 215: case 216: {
      const int32_t which = id == 215 ? kGridShown : kSnap;
      const bool on = !CGet(c, which).ToBool();
      CPut(c, which, Variant(on));
      menu_.Check(id, on);
      break;
    }
    default: break;
  }
  CCall(c, kRefresh);
}

// Source and target swap: the link is drawn again from its target, with its record, caption,
// line and bends. A second link in that direction between the two states is refused as drawing
// one would be.
void WorkflowDiagram::ReverseLink() {
  Variant linkVar = CGet(*canvas_, kCurrentLink);
  Dispatch& link = Of(linkVar);
  Variant source = CGet(link, kSource), target = CGet(link, kTarget);
  Variant back = CGet(Of(target), kOutgoing);
  for (int32_t i = 1, n = Count(Of(back)); i <= n; ++i)
    if (CGet(Item(Of(back), i), kTarget).ToObject() == source.ToObject()) {
      host_.MessageBox("Only a single action is permitted between the same two states.", "Error", mb::kIconError,
                       mb::kOk, nullptr);
      return;
    }
  std::vector<std::pair<double, double>> bends;
  Variant points = CGet(link, kPoints);
  for (int32_t i = Count(Of(points)) - 2; i >= 1; --i)
    bends.emplace_back(CGet(Item(Of(points), i), kPointX).ToDouble(), CGet(Item(Of(points), i), kPointY).ToDouble());
  Variant tag = CGet(link, kLinkTag), caption = CGet(link, kLinkCaption), style = CGet(link, kLineStyle);
  CCall(Of(CGet(Of(source), kOutgoing)), kRemove, {CGet(link, kLinkIndex)});
  Dispatch& made = Of(CCall(Of(back), kAdd, {source}));
  CPut(made, kLinkTag, tag);
  CPut(made, kLinkCaption, caption);
  CPut(made, kLineStyle, style);
  Variant madePoints = CGet(made, kPoints);
  for (auto [x, y] : bends) CCall(Of(madePoints), kAddPoint, {Variant(x), Variant(y)});
}

// ---- the pointer over the canvas

void WorkflowDiagram::PointerFeedback(int32_t button, int32_t x, int32_t y) {
  canvas::Dispatch& c = *canvas_;
  auto show = [&](int32_t code, bool picture) {
    CPut(c, kPointerPicture, picture ? Variant(int32_t{227}) : Nothing());
    CPut(c, kPointer, Variant(code));
  };
  if (busy_) return show(11, false);
  if (button != 0 && CGet(c, kLastGesture).ToLong() == 0) return;
  if (activeTool_ == wf::kNewAction && !inquiry_) return;
  const bool plain = inquiry_ || activeTool_ == wf::kSelect;
  const bool selectTool = activeTool_ == wf::kSelect || activeTool_ == wf::kNewState;
  Variant nodes = CGet(c, kSelectedNodes), links = CGet(c, kSelectedLinks);
  const int32_t nodeCount = Count(Of(nodes)), linkCount = Count(Of(links));
  auto pixels = [&](float twips, int32_t scroll, int32_t zoom) {
    return static_cast<int>((twips - Real(c, scroll)) * static_cast<float>(CGet(c, zoom).ToLong()) / 100 /
                            canvas::kTwipsPerPixel);
  };
  if (selectTool && nodeCount == 1 && linkCount == 0) {
    Dispatch& n = Item(Of(nodes), 1);
    const float l = Real(n, kNodeLeft), t = Real(n, kNodeTop);
    const int L = pixels(l, kScrollX, kZoomX), T = pixels(t, kScrollY, kZoomY);
    const int R = pixels(l + Real(n, kNodeWidth), kScrollX, kZoomX), B = pixels(t + Real(n, kNodeHeight), kScrollY, kZoomY);
    if (x >= L - 3 && x < R + 3 && y >= T - 3 && y < B + 3) {
      // The pointer over each handle square, in HandleSquares' order: the diagonals and the sides.
      constexpr std::array<int, 8> kHandlePointers = {8, 7, 6, 9, 9, 6, 7, 8};
      const std::array<gdi::Rect, 8> squares = canvas::HandleSquares({L, T, R, B});
      for (size_t i = 0; i < squares.size(); ++i) {
        const gdi::Rect& h = squares[i];
        if (x >= h.left && x < h.right && y >= h.top && y < h.bottom) return show(kHandlePointers[i], false);
      }
      if (x >= L && x < R && y >= T && y < B) return show(99, true);
      return show(plain ? 0 : 2, false);
    }
  } else if (selectTool && linkCount == 1 && nodeCount == 0) {
    Dispatch& l = Item(Of(links), 1);
    Variant points = CGet(l, kPoints);
    for (int32_t i = 0, n = Count(Of(points)); i < n; ++i) {
      Dispatch& p = Item(Of(points), i);
      const int px = pixels(Real(p, kPointX), kScrollX, kZoomX), py = pixels(Real(p, kPointY), kScrollY, kZoomY);
      if (x >= px - 3 && x < px + 3 && y >= py - 3 && y < py + 3) return show(5, false);
    }
  }
  auto [dx, dy] = DiagramPoint(x, y);
  const bool overNode = !IsNothing(CGet(c, kNodeAt, {Variant(static_cast<double>(dx)), Variant(static_cast<double>(dy))}));
  if (overNode) return show(99, true);
  show(plain ? 0 : 2, false);
}

// ---- the dialogs' runs

// The message first; the focus goes to the control once the box is closed.
void WorkflowDiagram::Refuse(const dialogs::Refusal& refusal) {
  const int focus = refusal.focus;
  host_.MessageBox(refusal.message, "Error", mb::kIconError, mb::kOk, [this, focus](int) {
    if (view_) view_->Focus(focus);
  });
}

void WorkflowDiagram::EditState(diagram::DiagramState& s, bool isNew, std::function<void(bool)> done) {
  if (!view_) view_ = MakeDomDialogView(host_);
  auto form = std::make_shared<dialogs::StateForm>(dialogs::OpenState(s, isNew, lists_));
  view_->ShowState(*form, [this, form, &s, done](bool ok) {
    if (ok) {
      if (auto refusal = dialogs::CheckState(*form, s.id, states_)) {
        Refuse(*refusal);
        return false;
      }
      dialogs::WriteState(*form, lists_, s);
    }
    done(ok);
    return true;
  });
}

void WorkflowDiagram::EditAction(diagram::DiagramAction& a, bool isNew, int32_t sourceType,
                                 std::function<void(bool)> done) {
  if (!view_) view_ = MakeDomDialogView(host_);
  auto form = std::make_shared<dialogs::ActionForm>(dialogs::OpenAction(a, isNew, sourceType, lists_));
  view_->ShowAction(*form, [this, form, &a, done](bool ok) {
    if (ok) {
      if (auto refusal = dialogs::CheckAction(*form)) {
        Refuse(*refusal);
        return false;
      }
      dialogs::WriteAction(*form, a);
    }
    done(ok);
    return true;
  });
}

void WorkflowDiagram::EditIssueCreate(diagram::DiagramState& s, std::function<void(bool)> done) {
  if (!view_) view_ = MakeDomDialogView(host_);
  auto form = std::make_shared<dialogs::IssueCreateForm>(dialogs::OpenIssueCreate(s, lists_));
  view_->ShowIssueCreate(*form, [this, form, &s, done](bool ok) {
    if (ok) {
      if (auto refusal = dialogs::CheckIssueCreate(*form)) {
        Refuse(*refusal);
        return false;
      }
      dialogs::WriteIssueCreate(*form, s);
    }
    done(ok);
    return true;
  });
}

}  // namespace tamsolo
