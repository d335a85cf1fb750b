// WorkflowDiagram: the workflow editor in the page. A tool bar of four drawing tools above the
// diagram canvas; the states are the canvas's boxes and the actions its arrows. Update fetches the
// choice lists (DataURL) and the diagram (DownloadURL), Save posts the edited diagram (UploadURL);
// ReadyToSave and NotReadyToSave tell the page when saving makes sense.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/diagram_text.h"
#include "diagram_canvas/diagram_canvas.h"
#include "frame/control.h"
#include "host/transfer.h"
#include "workflow_diagram/dialogs.h"
#include "workflow_diagram/popup_menu.h"

namespace tamsolo {

namespace wf {
inline constexpr int32_t kDownloadUrl = 3, kUploadUrl = 4, kDataUrl = 5, kReadOnly = 6, kInquiryMode = 7;
// Tool-bar commands, the four tools first.
inline constexpr int32_t kSelect = 28673, kNewState = 28674, kNewIssueCreate = 28675, kNewAction = 28676,
                         kSpareButton = 28677;
// Window commands a host may send.
inline constexpr int32_t kSaveCommand = 230, kDiscardCommand = 231;
// Where the canvas sits in the control: x 6, y 40, 12 narrower and 45 lower than the control.
inline constexpr int kCanvasLeft = 6, kCanvasTop = 40, kCanvasRightGap = 6, kCanvasBottomGap = 5;
inline constexpr int kToolBarLeft = 10, kToolBarTop = 2, kButtonSize = 23;
inline constexpr float kGridTwips = 135;  // 9 pixels
}  // namespace wf

// Shows the three dialogs over the control: a DOM dialog in the page, a fake in the tests. The view
// calls `answer` when OK (true) or Cancel (false) is pressed; false back keeps the dialog open.
class DialogView {
 public:
  using Answer = std::function<bool(bool ok)>;
  virtual ~DialogView() = default;
  virtual void ShowState(dialogs::StateForm& form, Answer answer) = 0;
  virtual void ShowAction(dialogs::ActionForm& form, Answer answer) = 0;
  virtual void ShowIssueCreate(dialogs::IssueCreateForm& form, Answer answer) = 0;
  virtual void Focus(int control) = 0;
};
std::unique_ptr<DialogView> MakeDomDialogView(Host& host);

struct ToolButton {
  int32_t id;
  bool enabled;
  bool pressed;
};

class WorkflowDiagram : public Control {
 public:
  explicit WorkflowDiagram(Host& host);
  ~WorkflowDiagram() override;

  // Opening the control's window once the page's PARAMs are in: canvas, tool bar, events, Update.
  void Activate() override;
  HRESULT Draw(gdi::Dc& dc, const gdi::Rect& bounds) override;

  HRESULT Update();
  HRESULT Save();
  // A tool-bar or window command (the page reaches it as SendCommand(id)).
  void Command(int32_t id);
  // The control's new size in pixels: the canvas follows.
  void Resized(gdi::Size pixels) override;

  // The mouse over the control, in its pixels; what falls on the canvas goes to it.
  void OnMouse(const MouseInput& input) override;
  void OnKeyUp(int32_t key, int32_t shift) override;

  // What the tests look at.
  canvas::DiagramCanvas* Canvas() { return canvas_.get(); }
  gdi::Rect CanvasRect() const;
  const std::vector<ToolButton>& Tools() const { return tools_; }
  int32_t ActiveTool() const { return activeTool_; }
  bool Busy() const { return busy_; }
  const diagram::ChoiceLists& Lists() const { return lists_; }
  const std::map<int32_t, diagram::DiagramState>& States() const { return states_; }
  const std::map<int32_t, diagram::DiagramAction>& Actions() const { return actions_; }
  std::string SaveText() const;  // the body a save would post now, closing line included
  const Menu& PopupMenu() const { return menu_; }
  std::optional<Menu::Kind> OpenMenu() const { return openMenu_; }
  int32_t NextId() const { return nextId_; }
  void SetDialogView(std::unique_ptr<DialogView> view) { view_ = std::move(view); }

 private:
  void AddProperties();
  void OpenToolBar();
  void ShowTools();
  void EnableTools(bool all, bool selectOnly);
  void ChooseTool(int32_t id);
  void ApplySwitches(int32_t tool);
  void ApplyLoading();
  void Fire(const char* event);
  void SetCursor(const std::string& cursor);
  void UpdateCursor(bool overCanvas);

  void ConnectCanvasSink();
  void KeyReleased(int32_t key, int32_t shift);
  void MenuCommand(int32_t id);
  std::pair<float, float> DiagramPoint(int32_t x, int32_t y) const;
  void UnselectAll();
  void ButtonReleased(int32_t button, int32_t shift, int32_t x, int32_t y);
  void RightButton(int32_t x, int32_t y);
  void LinkDrawn();
  void NodeDrawn();
  void DoubleClicked();
  void NodeProperties(std::function<void()> then);
  void LinkProperties();
  void DeleteCurrent();
  void ReverseLink();
  void PointerFeedback(int32_t button, int32_t x, int32_t y);
  void ShowMenu(Menu::Kind kind, int left, int top);
  void CloseMenu();
  void EditState(diagram::DiagramState& s, bool isNew, std::function<void(bool)> done);
  void EditAction(diagram::DiagramAction& a, bool isNew, int32_t sourceType, std::function<void(bool)> done);
  void EditIssueCreate(diagram::DiagramState& s, std::function<void(bool)> done);
  void Refuse(const dialogs::Refusal& refusal);

  void StartListsLoad();
  void StartDiagramLoad();
  void ListsArrived();
  void DiagramArrived();
  void FinishLoad();
  void ParseDiagram(const std::string& text);
  void StartSave();
  void ReplyArrived();
  std::vector<diagram::SaveNode> WalkCanvas() const;

  std::shared_ptr<canvas::DiagramCanvas> canvas_;
  bool opened_ = false;
  std::string downloadUrl_, uploadUrl_, dataUrl_;
  bool readOnly_ = false, inquiry_ = false;
  std::vector<ToolButton> tools_;
  std::vector<std::unique_ptr<DomElement>> toolElements_;  // the bar first; owns them all
  std::vector<DomElement*> buttons_;                       // as tools_
  bool dragging_ = false;  // a button went down on the canvas
  bool mouseDown_ = false;  // the canvas reported a press not yet released
  int32_t nextId_ = -1;     // for new states and actions alike; never reset
  Menu menu_;
  std::optional<Menu::Kind> openMenu_;
  tamsolo::PopupMenu menuView_;  // the open menu in the page
  std::unique_ptr<DialogView> view_;
  int32_t activeTool_ = wf::kSelect;
  std::optional<gdi::COLORREF> brush_;  // made at the first paint and kept
  std::string cursor_;
  bool busy_ = false;
  bool savedMessage_ = false;
  // One Update's two loads: the end of the load waits for both.
  bool listsPending_ = false, diagramPending_ = false, diagramParsed_ = false;
  Transfers transfers_;
  diagram::ChoiceLists lists_;
  std::map<int32_t, diagram::DiagramState> states_;
  std::map<int32_t, diagram::DiagramAction> actions_;
  std::map<int32_t, int32_t> nodeIndex_;  // StateId -> the node's index on the canvas
};

void RegisterWorkflowDiagram();

}  // namespace tamsolo
