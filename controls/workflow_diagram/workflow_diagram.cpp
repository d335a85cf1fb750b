#include "workflow_diagram/workflow_diagram.h"

#include "frame/control_classes.h"
#include "gdi/colors.h"
#include "workflow_diagram/canvas_calls.h"
#include "workflow_diagram/tool_pictures.h"

namespace tamsolo {

using automation::Variant;
using namespace canvascalls;

namespace {

// The interaction switches of each tool and of loading (-1: left as it is), in the order
// 28, 65, 13, 26, 23, 1, 24, 25, 2, 55, then the pointer.
struct SwitchRow {
  int32_t values[10];
  int32_t pointer;
};
constexpr int32_t kSwitchIds[10] = {canvas::sw::kInteract,  canvas::sw::kMultiSelect, canvas::sw::kEvents,
                                    canvas::sw::kSizeNodes, canvas::sw::kDrawLinks,   canvas::sw::kDrawNodes,
                                    canvas::sw::kSelectNodes, canvas::sw::kEditLinks, canvas::sw::kMoveNodes,
                                    canvas::sw::kNewLineStyle};
constexpr SwitchRow kSelectRow{{1, 1, 1, 1, 1, 0, 1, 1, 1, -1}, 0};
constexpr SwitchRow kNewStateRow{{1, 0, 1, 1, 0, 1, 1, 0, 1, -1}, 2};
constexpr SwitchRow kNewIssueCreateRow{{1, 0, 1, 0, 0, 1, 0, 0, 1, -1}, 2};
constexpr SwitchRow kNewActionRow{{1, 0, 1, 0, 1, 0, 0, 1, 0, 0}, 2};
constexpr SwitchRow kLoadingRow{{0, 0, 0, 0, 0, 0, 0, 0, 0, -1}, 11};

const SwitchRow& RowOf(int32_t tool) {
  switch (tool) {
    case wf::kNewState: return kNewStateRow;
    case wf::kNewIssueCreate: return kNewIssueCreateRow;
    case wf::kNewAction: return kNewActionRow;
    default: return kSelectRow;
  }
}

void ApplyRow(canvas::Dispatch& c, const SwitchRow& row, bool select) {
  for (size_t i = 0; i < 10; ++i)
    if (row.values[i] >= 0) CPut(c, kSwitchIds[i], Variant(row.values[i]));
  CPut(c, kPointerPicture, Nothing());
  if (select) CPut(c, kPointer, Variant(int32_t{1}));  // the arrow, then the default
  CPut(c, kPointer, Variant(row.pointer));
}

bool IsTool(int32_t id) { return id >= wf::kSelect && id <= wf::kNewAction; }

}  // namespace

WorkflowDiagram::WorkflowDiagram(Host& host) : Control(host, *FindClassByName("WorkflowDiagram")) {
  KeepReadyState();
  InitStock(dispid::kBackColor, gdi::SysColor(gdi::SysColorIndex::BtnFace));
  InitStock(dispid::kFillColor, 0xFFFFFF);
  InitStock(dispid::kForeColor, 0);
  InitStock(dispid::kBorderVisible, 1);
  tools_ = {{wf::kSelect, true, false},     {wf::kNewState, true, false}, {wf::kNewIssueCreate, true, false},
            {wf::kNewAction, true, false},  {wf::kSpareButton, false, false}};
  AddProperties();
}

WorkflowDiagram::~WorkflowDiagram() {
  if (canvas_) canvas_->SetSink({});
}

void WorkflowDiagram::AddProperties() {
  AddBackColor();
  AddBorderColor();
  AddFillColor();
  AddForeColor();
  AddBorderVisible();
  auto text = [this](const char* name, int32_t id, std::string& field) {
    AddProperty(
        name, id, [&field] { return Variant(field); },
        [this, id, &field](const Variant& v) { SetStock(id, field, v.ToString()); });
  };
  auto flag = [this](const char* name, int32_t id, bool& field) {
    AddProperty(
        name, id, [&field] { return Variant(field); },
        [this, id, &field](const Variant& v) { SetStock(id, field, v.ToBool()); });
  };
  text("DownloadURL", wf::kDownloadUrl, downloadUrl_);
  text("UploadURL", wf::kUploadUrl, uploadUrl_);
  text("DataURL", wf::kDataUrl, dataUrl_);
  flag("ReadOnly", wf::kReadOnly, readOnly_);
  flag("InquiryMode", wf::kInquiryMode, inquiry_);
  AddMethod("Update", [this](std::vector<Variant>&) { return Variant(Update()); });
  AddMethod("Save", [this](std::vector<Variant>&) { return Variant(Save()); });
  AddMethod("SendCommand", [this](std::vector<Variant>& a) {
    if (!a.empty()) Command(a[0].ToLong());
    return Variant();
  });
}

gdi::Rect WorkflowDiagram::CanvasRect() const {
  const gdi::Size size = host_.ClientSize();
  return {wf::kCanvasLeft, wf::kCanvasTop, size.cx - wf::kCanvasRightGap, size.cy - wf::kCanvasBottomGap};
}

void WorkflowDiagram::Activate() {
  if (opened_) return;
  opened_ = true;
  // 1, 2: the canvas in its place with its first settings.
  canvas_ = std::make_shared<canvas::DiagramCanvas>();
  canvas::RegisterCanvasImages();
  const gdi::Rect r = CanvasRect();
  canvas_->SetViewSize(r.Width(), r.Height());
  canvas_->SetRepaint([this] { host_.Invalidate(); });
  canvas_->SetPointerChanged([this] { UpdateCursor(true); });
  canvas::Dispatch& c = *canvas_;
  CPut(c, kBackground, Variant(static_cast<int32_t>(0x8000000F)));
  CPut(c, kZoomX, Variant(int32_t{100}));
  CPut(c, kZoomY, Variant(int32_t{100}));
  CPut(c, kGridX, Variant(static_cast<double>(wf::kGridTwips)));
  CPut(c, kGridY, Variant(static_cast<double>(wf::kGridTwips)));
  CPut(c, kGridShown, Variant(true));
  CPut(c, kSnap, Variant(true));
  CPut(c, kPointerPicture, Nothing());
  CPut(c, kPointer, Variant(int32_t{11}));
  CCall(c, kRefresh);
  // 3: the tool bar, its four tools disabled.
  OpenToolBar();
  EnableTools(false, false);
  // 4.
  Fire("NotReadyToSave");
  ChooseTool(wf::kSelect);
  EnableTools(false, false);
  Fire("NotReadyToSave");
  ConnectCanvasSink();
  Update();
}

void WorkflowDiagram::Resized(gdi::Size) {
  if (!canvas_) return;
  const gdi::Rect r = CanvasRect();
  canvas_->SetViewSize(r.Width(), r.Height());
  host_.Invalidate();
}

HRESULT WorkflowDiagram::Draw(gdi::Dc& dc, const gdi::Rect& bounds) {
  if (!brush_) brush_ = gdi::TranslateColor(BackColor());
  const int w = bounds.Width(), h = bounds.Height();
  dc.FillRect({0, 0, w, h}, *brush_);
  if (canvas_) {
    const gdi::Rect r = CanvasRect();
    canvas_->SetViewSize(r.Width(), r.Height());
    if (r.Width() > 0 && r.Height() > 0) {
      std::unique_ptr<gdi::Surface> surface = dc.CreateSurface({r.Width(), r.Height()});
      canvas_->Draw(surface->Draw());
      dc.Blit(*surface, r.left, r.top);
    }
    dc.SetPen(gdi::PenStyle::Solid, 0);
    dc.MoveTo(r.left - 1, r.top - 1);
    dc.LineTo(r.right, r.top - 1);
    dc.MoveTo(r.left - 1, r.top - 1);
    dc.LineTo(r.left - 1, r.bottom);
  }
  dc.DrawEdge({3, 3, 6, 30}, gdi::Edge::Raised);
  dc.DrawEdge({0, 32, w, 34}, gdi::Edge::Sunken);
  return hr::kOk;
}

// ---- the tool bar

void WorkflowDiagram::OpenToolBar() {
  auto bar = host_.CreateElement("div");
  bar->SetAttribute("class", "tamsolo-toolbar");
  bar->SetAttribute("role", "toolbar");
  bar->SetAttribute("style", "position:absolute;left:" + std::to_string(wf::kToolBarLeft) +
                                 "px;top:" + std::to_string(wf::kToolBarTop) + "px;display:flex;gap:1px");
  host_.AddToControl(*bar);
  toolElements_.push_back(std::move(bar));
  for (const ToolButton& t : tools_) {
    auto button = host_.CreateElement("button");
    button->SetAttribute("type", "button");
    button->SetAttribute("id", "tool" + std::to_string(t.id));
    button->SetAttribute("data-command", std::to_string(t.id));
    button->SetAttribute("title", ToolTitle(t.id));
    if (std::string picture = ToolPicture(t.id); !picture.empty()) {
      auto img = host_.CreateElement("img");
      img->SetAttribute("src", picture);
      img->SetAttribute("width", "21");
      img->SetAttribute("height", "21");
      img->SetAttribute("alt", "");
      button->Append(*img);
      toolElements_.push_back(std::move(img));
    }
    const int32_t id = t.id;
    button->Listen("click", [this, id] { Command(id); });
    toolElements_[0]->Append(*button);
    buttons_.push_back(button.get());
    toolElements_.push_back(std::move(button));
  }
}

// The buttons' elements as the model says.
void WorkflowDiagram::ShowTools() {
  for (size_t i = 0; i < buttons_.size() && i < tools_.size(); ++i) {
    const ToolButton& t = tools_[i];
    DomElement& b = *buttons_[i];
    if (t.enabled) b.RemoveAttribute("disabled");
    else b.SetAttribute("disabled", "");
    b.SetAttribute("aria-pressed", t.pressed ? "true" : "false");
    b.SetAttribute("class", t.pressed ? "tamsolo-tool pressed" : "tamsolo-tool");
    // Flat buttons: a pressed one sunken on a lighter face, a disabled one's picture faded.
    const std::string size = std::to_string(wf::kButtonSize) + "px";
    b.SetAttribute("style", "width:" + size + ";height:" + size + ";padding:0;margin:0;line-height:0;" +
                                (t.pressed ? "background:#E9E7E3;border:1px inset #FFFFFF;"
                                           : "background:#D4D0C8;border:1px solid transparent;") +
                                (t.enabled ? "" : "opacity:0.45;"));
  }
}

// all: the four tools enabled; selectOnly: only Select; neither: the four disabled.
void WorkflowDiagram::EnableTools(bool all, bool selectOnly) {
  for (ToolButton& t : tools_)
    if (IsTool(t.id)) t.enabled = all || (selectOnly && t.id == wf::kSelect);
  ShowTools();
}

void WorkflowDiagram::ChooseTool(int32_t id) {
  for (ToolButton& t : tools_)
    if (IsTool(t.id)) t.pressed = false;
  ApplySwitches(id);
  for (ToolButton& t : tools_)
    if (t.id == id) t.pressed = true;
  activeTool_ = id;
  ShowTools();
}

void WorkflowDiagram::ApplySwitches(int32_t tool) {
  if (canvas_) ApplyRow(*canvas_, RowOf(tool), tool == wf::kSelect);
}

void WorkflowDiagram::ApplyLoading() {
  if (canvas_) ApplyRow(*canvas_, kLoadingRow, false);
}

void WorkflowDiagram::Command(int32_t id) {
  if (IsTool(id)) {
    for (const ToolButton& t : tools_)
      if (t.id == id && t.enabled) ChooseTool(id);
    return;
  }
  if (id == wf::kSaveCommand) {
    Save();
  } else if (id == wf::kDiscardCommand) {
    host_.MessageBox("Discard changes?", "Confirm", mb::kIconQuestion, mb::kYesNo, [this](int answer) {
      if (answer == mb::kIdYes) Update();
    });
  } else {
    MenuCommand(id);
  }
}

void WorkflowDiagram::Fire(const char* event) { host_.Fire(event, {}); }

// ---- the pointer

void WorkflowDiagram::SetCursor(const std::string& cursor) {
  if (cursor == cursor_) return;
  cursor_ = cursor;
  host_.SetCursor(cursor);
}

void WorkflowDiagram::UpdateCursor(bool overCanvas) {
  if (overCanvas && canvas_) return SetCursor(canvas_->Cursor());
  const bool enabled = canvas_ && CGet(*canvas_, kEnabled).ToBool();
  SetCursor(busy_ || !enabled ? "wait" : "default");
}

void WorkflowDiagram::OnMouse(const MouseInput& m) {
  if (m.kind == MouseInput::Kind::Leave) return;
  const int x = m.x, y = m.y;
  const int32_t button = m.button, shift = m.shift;
  const gdi::Rect r = CanvasRect();
  const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
  if (!canvas_) return;
  const int cx = x - r.left, cy = y - r.top;
  // A drag that began on the canvas stays the canvas's until the button comes up.
  if (inside || dragging_) {
    switch (m.kind) {
      case MouseInput::Kind::Down: dragging_ = true, canvas_->MouseDown(button, shift, cx, cy); break;
      case MouseInput::Kind::Move: canvas_->MouseMove(button, shift, cx, cy); break;
      case MouseInput::Kind::Up: dragging_ = false, canvas_->MouseUp(button, shift, cx, cy); break;
      default: canvas_->DblClick(); break;
    }
  }
  UpdateCursor(inside);
}

void WorkflowDiagram::OnKeyUp(int32_t key, int32_t shift) { KeyReleased(key, shift); }

void RegisterWorkflowDiagram() {
  RegisterControlClass("WorkflowDiagram", [](Host& host) { return std::make_unique<WorkflowDiagram>(host); });
}

}  // namespace tamsolo
