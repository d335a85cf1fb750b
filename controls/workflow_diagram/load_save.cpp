// Loading the choice lists and the diagram from the site, and saving the diagram back.
#include "workflow_diagram/canvas_calls.h"
#include "workflow_diagram/workflow_diagram.h"

namespace tamsolo {

using automation::Variant;
using namespace canvascalls;

namespace {

constexpr std::string_view kLists = "lists", kDiagram = "diagram", kReply = "save";

// The body without its closing line: the upload adds that itself.
std::string WithoutClosing(std::string body) {
  const std::string closing = std::string(diagram::kBoundary) + "--\r\n";
  if (body.ends_with(closing)) body.resize(body.size() - closing.size());
  return body;
}

}  // namespace

HRESULT WorkflowDiagram::Update() {
  busy_ = true;
  if (canvas_) ApplyLoading();
  // A newer Update takes the place of one under way: its loads are superseded and their ends dropped.
  listsPending_ = diagramPending_ = diagramParsed_ = false;
  StartListsLoad();
  StartDiagramLoad();
  // Without a diagram to load the load is skipped: complete at once.
  if (!diagramPending_) SetReadyState(kReadyStateComplete);
  return hr::kOk;
}

void WorkflowDiagram::StartListsLoad() {
  TransferRequest request = DownloadRequest(dataUrl_);
  if (request.url.empty()) return;
  listsPending_ = true;
  transfers_.Start(host_, kLists, std::move(request), [this](int, const char* bytes, int32_t) {
    if (!bytes) ListsArrived();
  });
}

void WorkflowDiagram::StartDiagramLoad() {
  TransferRequest request = DownloadRequest(downloadUrl_);
  if (downloadUrl_.empty()) return;
  if (opened_ && !inquiry_) {
    EnableTools(false, false);
    if (canvas_) {
      CPut(*canvas_, kPointerPicture, Nothing());
      CPut(*canvas_, kPointer, Variant(int32_t{11}));
    }
    Fire("NotReadyToSave");
  }
  diagramPending_ = true;
  transfers_.Start(host_, kDiagram, std::move(request), [this](int, const char* bytes, int32_t) {
    if (!bytes) DiagramArrived();
  });
}

void WorkflowDiagram::ListsArrived() {
  diagram::ReadChoiceLists(transfers_.Received(kLists), lists_);
  listsPending_ = false;
  if (diagramParsed_ && !diagramPending_) FinishLoad();
}

void WorkflowDiagram::DiagramArrived() {
  ParseDiagram(transfers_.Received(kDiagram));
  diagramPending_ = false;
  diagramParsed_ = true;
  // The tools and ReadyToSave wait for the lists too: a dialog opened before them had none.
  if (!listsPending_) FinishLoad();
}

void WorkflowDiagram::ParseDiagram(const std::string& text) {
  SetCursor("wait");
  states_.clear();
  actions_.clear();
  nodeIndex_.clear();
  if (!canvas_) return;
  Variant nodesVar = CGet(*canvas_, kNodes);
  Dispatch& nodes = Of(nodesVar);
  CCall(nodes, kClear);
  diagram::Diagram d = diagram::ReadDiagram(text);
  for (diagram::DiagramState& s : d.states) {
    Dispatch& node = Of(CCall(nodes, kAdd, {Variant(static_cast<double>(s.left)), Variant(static_cast<double>(s.top)),
                                           Variant(static_cast<double>(s.width)),
                                           Variant(static_cast<double>(s.height))}));
    CPut(node, kNodeFlags, Variant(int32_t{11}));
    CPut(node, kNodeTag, Variant(s.id));
    if (s.type == 1) {
      CPut(node, kNodeCaption, Variant("Issue Create"));
      CPut(node, kPlacement, Variant(int32_t{0}));
      CPut(node, kNodePicture, Variant(int32_t{canvas::kStarBitmap}));
    } else {
      CPut(node, kNodeCaption, Variant(s.name));
    }
    nodeIndex_[s.id] = CGet(node, kNodeIndex).ToLong();
    const int32_t id = s.id;
    states_[id] = std::move(s);
  }
  // The reader keeps apart the actions whose states it did not read: they are neither drawn nor kept.
  for (diagram::DiagramAction& a : d.actions) {
    Dispatch& from = Item(nodes, nodeIndex_.at(a.fromId));
    Variant to = CGet(nodes, kItem, {Variant(nodeIndex_.at(a.toId))});
    Variant outgoing = CGet(from, kOutgoing);
    Dispatch& link = Of(CCall(Of(outgoing), kAdd, {to}));
    CPut(link, kLinkTag, Variant(a.id));
    CPut(link, kLinkCaption, Variant(a.name));
    // The line type read goes to the link, so a save gives back what was loaded.
    CPut(link, kLineStyle, Variant(a.lineType));
    Variant points = CGet(link, kPoints);
    for (const diagram::Point& p : a.points)
      CCall(Of(points), kAddPoint, {Variant(static_cast<double>(p.first)), Variant(static_cast<double>(p.second))});
    const int32_t id = a.id;
    actions_[id] = std::move(a);
  }
  CCall(*canvas_, kRefresh);
}

void WorkflowDiagram::FinishLoad() {
  if (savedMessage_) {
    savedMessage_ = false;
    host_.MessageBox("Diagram Saved.", "Success", mb::kIconInfo, mb::kOk, nullptr);
  }
  if (inquiry_) {
    EnableTools(false, true);
    ChooseTool(wf::kSelect);
    Fire("NotReadyToSave");
  } else if (readOnly_) {
    EnableTools(false, true);
    Fire("NotReadyToSave");
    ChooseTool(activeTool_);
  } else {
    EnableTools(true, false);
    Fire("ReadyToSave");
    ChooseTool(activeTool_);
  }
  if (canvas_) {
    CPut(*canvas_, kPointerPicture, Nothing());
    CPut(*canvas_, kPointer, Variant(int32_t{0}));
  }
  busy_ = false;
  UpdateCursor(false);
  SetReadyState(kReadyStateComplete);
}

HRESULT WorkflowDiagram::Save() {
  if (inquiry_ || uploadUrl_.empty()) return hr::kFalse;
  StartSave();
  return hr::kOk;
}

void WorkflowDiagram::StartSave() {
  TransferRequest request = UploadRequest(uploadUrl_, WithoutClosing(SaveText()));
  // The whole loading row, not only the hourglass: a box moved while the save runs would be lost
  // by the reload that follows it.
  ApplyLoading();
  EnableTools(false, false);
  Fire("NotReadyToSave");
  transfers_.Start(host_, kReply, std::move(request), [this](int, const char* bytes, int32_t) {
    if (!bytes) ReplyArrived();
  });
}

void WorkflowDiagram::ReplyArrived() {
  diagram::SaveReply reply = diagram::ReadSaveReply(transfers_.Received(kReply));
  if (reply.saved) {
    savedMessage_ = true;
    Update();
    return;
  }
  host_.MessageBox(reply.message, "Error", mb::kIconError, mb::kOk, nullptr);
  EnableTools(true, false);
  // A refused save gives the canvas back to the active tool; it stayed on the hourglass before.
  ChooseTool(activeTool_);
  Fire("ReadyToSave");
}

std::vector<diagram::SaveNode> WorkflowDiagram::WalkCanvas() const {
  std::vector<diagram::SaveNode> out;
  if (!canvas_) return out;
  Variant nodesVar = CGet(*canvas_, kNodes);
  Dispatch& nodes = Of(nodesVar);
  for (int32_t i = 1, n = Count(nodes); i <= n; ++i) {
    Dispatch& node = Item(nodes, i);
    auto state = states_.find(CGet(node, kNodeTag).ToLong());
    if (state == states_.end()) continue;
    diagram::SaveNode s{&state->second, Real(node, kNodeTop), Real(node, kNodeLeft), Real(node, kNodeWidth),
                        Real(node, kNodeHeight), {}};
    Variant outgoing = CGet(node, kOutgoing);
    for (int32_t j = 1, m = Count(Of(outgoing)); j <= m; ++j) {
      Dispatch& link = Item(Of(outgoing), j);
      auto action = actions_.find(CGet(link, kLinkTag).ToLong());
      if (action == actions_.end()) continue;
      diagram::SaveLink l{&action->second, CGet(Of(CGet(link, kTarget)), kNodeTag).ToLong(), CGet(link, kLineStyle).ToLong(),
                          {}};
      Variant points = CGet(link, kPoints);
      for (int32_t k = 0, p = Count(Of(points)); k < p; ++k) {
        Dispatch& point = Item(Of(points), k);
        l.points.emplace_back(Real(point, kPointX), Real(point, kPointY));
      }
      s.links.push_back(std::move(l));
    }
    out.push_back(std::move(s));
  }
  return out;
}

std::string WorkflowDiagram::SaveText() const { return diagram::SaveBody(WalkCanvas()); }

}  // namespace tamsolo
