// What the editor does after the canvas has acted on the mouse and the keys: drawn nodes and
// links become states and actions through their dialogs, the popup menus and their commands,
// double-click, Delete and Escape, and the pointer over a selected item.
#include <cmath>

#include "workflow_diagram/canvas_calls.h"
#include "workflow_diagram/workflow_diagram.h"

namespace tamsolo {

using automation::Variant;
using namespace canvascalls;

namespace {

constexpr const char* kSingleAction = "Only a single action is permitted between the same two states.";

bool HasPicture(Dispatch& node) {
  Variant p = CGet(node, kNodePicture);
  return !p.IsEmpty() && !p.IsNothing() && !(p.IsNumeric() && p.ToLong() == 0);
}

}  // namespace

void WorkflowDiagram::ConnectCanvasSink() {
  canvas::CanvasSink sink;
  sink.mouseDown = [this](int32_t, int32_t, int32_t, int32_t) { mouseDown_ = true; };
  sink.mouseMove = [this](int32_t b, int32_t, int32_t x, int32_t y) { PointerFeedback(b, x, y); };
  sink.mouseUp = [this](int32_t b, int32_t s, int32_t x, int32_t y) { ButtonReleased(b, s, x, y); };
  sink.dblClick = [this] { DoubleClicked(); };
  sink.keyUp = [this](int32_t key, int32_t shift) { KeyReleased(key, shift); };
  canvas_->SetSink(std::move(sink));
}

// The diagram position of a point of the canvas window, in twips; the menus' hit tests and the
// pointer feedback use this one formula (the pixels scaled by the zoom, then the scroll added).
std::pair<float, float> WorkflowDiagram::DiagramPoint(int32_t x, int32_t y) const {
  canvas::Dispatch& c = *canvas_;
  const float zx = static_cast<float>(CGet(c, kZoomX).ToLong()), zy = static_cast<float>(CGet(c, kZoomY).ToLong());
  return {static_cast<float>(x) * canvas::kTwipsPerPixel / (zx / 100) + Real(c, kScrollX),
          static_cast<float>(y) * canvas::kTwipsPerPixel / (zy / 100) + Real(c, kScrollY)};
}

void WorkflowDiagram::UnselectAll() {
  CCall(Of(CGet(*canvas_, kSelectedLinks)), kUnselectAll);
  CCall(Of(CGet(*canvas_, kSelectedNodes)), kUnselectAll);
}

void WorkflowDiagram::ButtonReleased(int32_t button, int32_t, int32_t x, int32_t y) {
  canvas::Dispatch& c = *canvas_;
  CCall(c, kRefresh);
  mouseDown_ = false;
  if (button == 2) return RightButton(x, y);
  const int32_t gesture = CGet(c, kLastGesture).ToLong();
  if ((gesture == 0 && button == 1) || inquiry_) return;
  if (gesture == 2) LinkDrawn();
  else if (gesture == 1) NodeDrawn();
}

void WorkflowDiagram::RightButton(int32_t x, int32_t y) {
  canvas::Dispatch& c = *canvas_;
  UnselectAll();
  auto [px, py] = DiagramPoint(x, y);
  const int left = x + wf::kCanvasLeft, top = y + wf::kCanvasTop;
  Variant link = CGet(c, kLinkAt, {Variant(static_cast<double>(px)), Variant(static_cast<double>(py))});
  if (!IsNothing(link)) {
    Dispatch& l = Of(link);
    const int32_t points = Count(Of(CGet(l, kPoints)));
    const bool curved = CGet(l, kLineStyle).ToLong() == 1;
    menu_.Enable(226, points > 2);
    menu_.Enable(32790, curved);
    menu_.Enable(32791, !curved && points > 3);
    CPut(l, kLinkSelected, Variant(true));
    ApplySwitches(wf::kSelect);
    return ShowMenu(Menu::kLink, left, top);
  }
  Variant node = CGet(c, kNodeAt, {Variant(static_cast<double>(px)), Variant(static_cast<double>(py))});
  if (!IsNothing(node)) {
    CPut(Of(node), kNodeSelected, Variant(true));
    ApplySwitches(wf::kSelect);
    return ShowMenu(Menu::kNode, left, top);
  }
  ShowMenu(Menu::kCanvas, left, top);
}

void WorkflowDiagram::LinkDrawn() {
  Variant linkVar = CGet(*canvas_, kCurrentLink);
  if (IsNothing(linkVar)) return;
  Dispatch& link = Of(linkVar);
  Variant source = CGet(link, kSource), target = CGet(link, kTarget);
  Variant outgoing = CGet(Of(source), kOutgoing);
  const int32_t count = Count(Of(outgoing));
  auto remove = [this, source, outgoing, count] { CCall(Of(outgoing), kRemove, {Variant(count)}); CCall(*canvas_, kRefresh); };
  for (int32_t i = 1; i < count; ++i)
    if (CGet(Item(Of(outgoing), i), kTarget).ToObject() == target.ToObject()) {
      host_.MessageBox(kSingleAction, "Error", mb::kIconError, mb::kOk, nullptr);
      return remove();
    }
  if (HasPicture(Of(source)) && HasPicture(Of(target))) {
    host_.Beep();
    return remove();
  }
  // The site reads an action from a state to itself as that state's reassignment rule, so a drawn
  // one would come back as the rule (its name and assignment lost, the rule's groups replaced).
  if (source.ToObject() == target.ToObject()) {
    host_.Beep();
    return remove();
  }
  auto action = std::make_shared<diagram::DiagramAction>();
  action->id = nextId_--;
  action->type = 2;
  auto from = states_.find(CGet(Of(source), kNodeTag).ToLong());
  const int32_t sourceType = from == states_.end() ? 0 : from->second.type;
  EditAction(*action, true, sourceType, [this, action, linkVar, remove](bool ok) {
    if (!ok) return remove();
    CPut(Of(linkVar), kLinkCaption, Variant(action->name));
    CPut(Of(linkVar), kLinkTag, Variant(action->id));
    actions_[action->id] = *action;
    CCall(*canvas_, kRefresh);
  });
}

void WorkflowDiagram::NodeDrawn() {
  Variant selected = CGet(*canvas_, kSelectedNodes);
  if (Count(Of(selected)) < 1) return;
  Variant nodeVar = CGet(Of(selected), kItem, {Variant(int32_t{1})});
  Dispatch& node = Of(nodeVar);
  auto state = std::make_shared<diagram::DiagramState>();
  state->id = nextId_--;
  state->valid = true;
  auto remove = [this, nodeVar] {
    CCall(Of(CGet(*canvas_, kNodes)), kRemove, {CGet(Of(nodeVar), kNodeIndex)});
    CCall(*canvas_, kRefresh);
  };
  auto keep = [this, state, nodeVar, remove](bool ok) {
    if (!ok) return remove();
    CPut(Of(nodeVar), kNodeTag, Variant(state->id));
    if (state->type == 0) CPut(Of(nodeVar), kNodeCaption, Variant(state->name));
    states_[state->id] = *state;
    CCall(*canvas_, kRefresh);
  };
  if (activeTool_ == wf::kNewIssueCreate) {
    CPut(node, kNodeCaption, Variant("Issue Create"));
    CPut(node, kPlacement, Variant(int32_t{0}));
    CPut(node, kNodePicture, Variant(int32_t{canvas::kStarBitmap}));
    state->type = 1;
    state->valid = false;
    return EditIssueCreate(*state, keep);
  }
  EditState(*state, true, keep);
}

void WorkflowDiagram::DoubleClicked() {
  const bool node = Count(Of(CGet(*canvas_, kSelectedNodes))) == 1;
  auto link = [this] {
    if (Count(Of(CGet(*canvas_, kSelectedLinks))) == 1) LinkProperties();
  };
  if (node) NodeProperties(link);
  else link();
}

void WorkflowDiagram::NodeProperties(std::function<void()> then) {
  Variant selected = CGet(*canvas_, kSelectedNodes);
  auto finish = [then] {
    if (then) then();
  };
  if (Count(Of(selected)) < 1) return finish();
  Variant node = CGet(Of(selected), kItem, {Variant(int32_t{1})});
  auto it = states_.find(CGet(Of(node), kNodeTag).ToLong());
  if (it == states_.end()) return finish();
  // The dialog edits a copy, written back on OK if the state is still there (a reload may have
  // come in between).
  auto copy = std::make_shared<diagram::DiagramState>(it->second);
  auto keep = [this, copy] {
    auto at = states_.find(copy->id);
    if (at != states_.end()) at->second = *copy;
    return at != states_.end();
  };
  if (copy->type != 0) return EditIssueCreate(*copy, [keep, finish](bool ok) {
    if (ok) keep();
    finish();
  });
  EditState(*copy, false, [this, node, copy, keep, finish](bool ok) {
    if (ok && keep()) CPut(Of(node), kNodeCaption, Variant(copy->name)), CCall(*canvas_, kRefresh);
    finish();
  });
}

void WorkflowDiagram::LinkProperties() {
  Variant link = CGet(*canvas_, kCurrentLink);
  if (IsNothing(link)) return;
  auto it = actions_.find(CGet(Of(link), kLinkTag).ToLong());
  if (it == actions_.end()) return;
  auto from = states_.find(CGet(Of(CGet(Of(link), kSource)), kNodeTag).ToLong());
  auto copy = std::make_shared<diagram::DiagramAction>(it->second);
  EditAction(*copy, false, from == states_.end() ? 0 : from->second.type, [this, link, copy](bool ok) {
    auto at = actions_.find(copy->id);
    if (!ok || at == actions_.end()) return;
    at->second = *copy;
    CPut(Of(link), kLinkCaption, Variant(copy->name));
    CCall(*canvas_, kRefresh);
  });
}

void WorkflowDiagram::KeyReleased(int32_t key, int32_t) {
  if (!canvas_) return;
  if (key == 46) return DeleteCurrent();
  if (key == 27 && mouseDown_) {
    UnselectAll();
    ChooseTool(wf::kSelect);
    CCall(*canvas_, kRefresh);
  }
}

void WorkflowDiagram::DeleteCurrent() {
  Variant link = CGet(*canvas_, kCurrentLink);
  if (!IsNothing(link)) {
    Variant source = CGet(Of(link), kSource);
    CCall(Of(CGet(Of(source), kOutgoing)), kRemove, {CGet(Of(link), kLinkIndex)});
  }
  Variant node = CGet(*canvas_, kCurrentNode);
  if (!IsNothing(node)) {
    states_.erase(CGet(Of(node), kNodeTag).ToLong());
    CCall(Of(CGet(*canvas_, kNodes)), kRemove, {CGet(Of(node), kNodeIndex)});
  }
  CCall(*canvas_, kRefresh);
}

}  // namespace tamsolo
