// The workflow editor on a recording host: its events and tools through loads and saves, what it
// draws from a diagram text, what it posts, and its layout.
#include "workflow_diagram/workflow_diagram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/diagram_text_sample.h"
#include "hosted_control.h"

namespace tamsolo {
namespace {

using automation::Variant;
using diagramtest::CrLf;
using diagramtest::TextD;

constexpr const char* kData = "http://site/APP/Setup/WorkflowData.asp?Text=lists";
constexpr const char* kDown = "http://site/APP/Setup/WorkflowData.asp?Text=diagram";
constexpr const char* kUp = "http://site/APP/Setup/WorkflowSave.asp?_token=t";

std::string Lists() { return CrLf({"1", "New", "1", "Open", "2", "Developers", "Testers", "1", "Summary", "1", "Summary"}); }

class Editor : public ::testing::Test {
 protected:
  void SetUp() override {
    control.reset();
    host = RecordingHost();
    host.size = {900, 520};
    std::unique_ptr<Control> made = testing::Created(host, FindClassByName("WorkflowDiagram")->clsid);
    ASSERT_NE(made, nullptr);
    control.reset(static_cast<WorkflowDiagram*>(made.release()));
  }
  void Open(std::vector<std::pair<const char*, Variant>> params) {
    for (auto& [name, value] : params) control->Put(name, value);
    control->Activate();
  }
  // Both URLs with the transfers held; the test plays them.
  void OpenHeld(std::vector<std::pair<const char*, Variant>> more = {}) {
    host.holdTransfers = true;
    more.insert(more.begin(), {{"DataURL", Variant(kData)}, {"DownloadURL", Variant(kDown)}});
    Open(more);
  }
  // Both URLs, held, then the lists and text D played.
  void Loaded(std::vector<std::pair<const char*, Variant>> more = {}) {
    OpenHeld(std::move(more));
    host.Play(0, {Lists()});
    host.Play(1, {TextD()});
  }
  // The host's calls of one kind, without the kind.
  std::vector<std::string> Calls(std::string_view kind) const {
    std::vector<std::string> out;
    for (const std::string& c : host.calls)
      if (c.starts_with(kind)) out.push_back(c.substr(kind.size()));
    return out;
  }
  std::vector<std::string> Events() const { return Calls("Fire "); }
  std::vector<std::string> Boxes() const { return Calls("MessageBox "); }
  std::string Enabled() const {
    std::string s;
    for (const ToolButton& t : control->Tools()) s += t.enabled ? '1' : '0';
    return s;
  }
  int32_t Pointer() { return control->Canvas()->pointer; }
  size_t Links() {
    size_t n = 0;
    for (const auto& node : control->Canvas()->Nodes()) n += node->Outgoing().size();
    return n;
  }

  RecordingHost host;
  std::unique_ptr<WorkflowDiagram> control;
};

const std::string kNot = "NotReadyToSave()", kReady = "ReadyToSave()";
const std::string kTaken = "Another state exists for this resolution and status.";
const std::string kNewActionTitle = "New Action";

TEST_F(Editor, PropertiesStartAsTheControlSetsThemAndPutsStartNothing) {
  for (auto [name, value] : {std::pair{"BackColor", 0xC8D0D4}, {"FillColor", 0xFFFFFF}, {"ForeColor", 0}})
    EXPECT_EQ(control->Get(name).ToLong(), value) << name;
  EXPECT_TRUE(control->Get("BorderVisible").ToBool());
  control->Put("DownloadURL", Variant(kDown));
  control->Put("InquiryMode", Variant("True"));
  EXPECT_EQ(host.calls, (std::vector<std::string>{"RequestEdit 3", "Changed 3", "Invalidate", "RequestEdit 7",
                                                 "Changed 7", "Invalidate"}));
  EXPECT_TRUE(control->Get("InquiryMode").ToBool());
  host.refused = {4};
  control->Put("UploadURL", Variant(kUp));
  EXPECT_EQ(control->Get("UploadURL").ToString(), "");
}

// The events, the tools and the pointer at the end of the first load, by mode and arrival order.
TEST_F(Editor, EventsAndToolsByModeAndArrival) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, Variant>> params;  // besides both URLs, when there are plays
    std::vector<size_t> plays;  // the held requests in the order they end
    std::vector<std::string> events;
    std::string enabled;
    int32_t pointer;
  };
  const std::vector<Case> cases = {
      {"lists first", {}, {0, 1}, {kNot, kNot, kNot, kReady}, "11110", 0},
      {"diagram first", {}, {1, 0}, {kNot, kNot, kNot, kReady}, "11110", 0},
      {"inquiry", {{"InquiryMode", Variant("True")}}, {0, 1}, {kNot, kNot, kNot}, "10000", 0},
      {"read-only", {{"ReadOnly", Variant("True")}}, {1, 0}, {kNot, kNot, kNot, kNot}, "10000", 0},
      {"no URL", {}, {}, {kNot, kNot}, "00000", 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    host.holdTransfers = true;
    c.plays.empty() ? Open({}) : OpenHeld(c.params);
    for (size_t i = 0; i < c.plays.size(); ++i) {
      if (i + 1 == c.plays.size()) {  // not before the last
        EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Fire " + kReady), 0);
        EXPECT_EQ(control->ReadyState(), 0);
      }
      host.Play(c.plays[i], {c.plays[i] == 0 ? Lists() : TextD()});
    }
    EXPECT_EQ(Events(), c.events);
    EXPECT_EQ(Enabled(), c.enabled);
    EXPECT_EQ(Pointer(), c.pointer);
    EXPECT_EQ(control->Busy(), !c.plays.size());
    // Complete once both loads have ended, or at once when there is no diagram to load.
    EXPECT_EQ(control->ReadyState(), kReadyStateComplete);
    // Beside the canvas: the hourglass while busy, else the arrow.
    control->OnMouse({MouseInput::Kind::Move, 2, 2, 0, 0, 0, 0});
    const std::vector<std::string> cursors = Calls("SetCursor ");
    ASSERT_FALSE(cursors.empty());
    EXPECT_EQ(cursors.back(), c.plays.empty() ? "wait" : "default");
  }
}

TEST_F(Editor, SaveAnswersByModeAndUploadUrl) {
  struct Case {
    std::vector<std::pair<const char*, Variant>> params;
    bool loaded;
    int32_t answer;
  };
  const std::vector<Case> cases = {
      {{{"InquiryMode", Variant("True")}, {"UploadURL", Variant(kUp)}}, false, hr::kFalse},
      {{}, false, hr::kFalse},
      {{{"ReadOnly", Variant("True")}, {"UploadURL", Variant(kUp)}}, true, hr::kOk},
  };
  for (const Case& c : cases) {
    SetUp();
    c.loaded ? Loaded(c.params) : OpenHeld(c.params);
    EXPECT_EQ(control->Call("Save", {}).ToLong(), c.answer);
  }
  ASSERT_EQ(host.requests.back().method, "POST");
  EXPECT_EQ(host.requests.back().url, kUp);
  EXPECT_EQ(host.requests.back().body, control->SaveText());
}

TEST_F(Editor, SwitchingReadOnlyOffWaitsForTheNextUpdate) {
  Loaded({{"ReadOnly", Variant("True")}});
  control->Put("ReadOnly", Variant(false));
  EXPECT_EQ(Enabled(), "10000");
  control->Call("Update", {});
  host.Play(2, {Lists()});
  host.Play(3, {TextD()});
  EXPECT_EQ(Enabled(), "11110");
  EXPECT_EQ(Events().back(), kReady);
}

TEST_F(Editor, TextDDrawsThreeBoxesAndTwoLinksTheSameEveryTime) {
  host.transfers = {{kData, Lists()}, {kDown, TextD()}};
  Open({{"DataURL", Variant(kData)}, {"DownloadURL", Variant(kDown)}});
  auto drawn = [&] {
    std::vector<std::string> out;
    for (const auto& n : control->Canvas()->Nodes()) {
      out.push_back(n->caption + (n->image ? "*" : "") + " " + std::to_string(n->left) + "," + std::to_string(n->top));
      for (const auto& l : n->Outgoing())
        out.push_back("-> " + l->Target()->caption + " " + l->caption + " " + std::to_string(l->lineStyle) + " " +
                      std::to_string(l->points.size()));
    }
    return out;
  };
  const std::vector<std::string> once = drawn();
  EXPECT_EQ(once, (std::vector<std::string>{"Issue Create* 300.000000,300.000000", "-> New Submit 0 2",
                                            "New 2900.000000,300.000000", "-> Fixed - Closed Fix 1 4",
                                            "Fixed - Closed 2900.000000,2100.000000"}));
  EXPECT_EQ(control->Lists().groups, (diagram::Texts{"Developers", "Testers"}));
  control->Call("Update", {});
  EXPECT_EQ(drawn(), once);
  EXPECT_EQ(control->States().size(), 3u);
  EXPECT_EQ(control->Actions().size(), 2u);
  // Mend: each link takes the line type the text gives (the curved Fix above loads curved, so a
  // save keeps it curved); swapped in the text, the two links swap.
  std::string swapped = TextD();
  swapped.replace(swapped.find("\r\n0\r\nSubmit\r\n"), 5, "\r\n1\r\n");
  swapped.replace(swapped.find("\r\n1\r\nFix\r\n"), 5, "\r\n0\r\n");
  host.transfers = {{kData, Lists()}, {kDown, swapped}};
  control->Call("Update", {});
  std::vector<std::string> links;
  for (const std::string& line : drawn())
    if (line.starts_with("-> ")) links.push_back(line);
  EXPECT_EQ(links, (std::vector<std::string>{"-> New Submit 1 2", "-> Fixed - Closed Fix 0 4"}));
}

// The reader's unplaceable actions (to state 99 here) are neither drawn nor kept.
TEST_F(Editor, AnActionToAMissingStateDrawsNothing) {
  std::string text = TextD();
  text.replace(text.find("\r\n3\r\n10\r\n"), 9, "\r\n4\r\n12\r\n2\r\n5\r\n99\r\n0\r\nLost\r\nFalse\r\n\r\n0\r\n0\r\n10\r\n");
  host.transfers = {{kDown, text}};
  Open({{"DownloadURL", Variant(kDown)}});
  EXPECT_EQ(Links(), 2u);
  EXPECT_EQ(control->Actions().count(12), 0u);
  EXPECT_EQ(control->SaveText().find("Lost"), std::string::npos);
}

TEST_F(Editor, SaveRepliesAndWhatFollows) {
  struct Case {
    std::string reply;
    std::vector<std::string> boxes;
    bool reloads;
  };
  const std::vector<Case> cases = {
      {"ok\r\n", {"Success: Diagram Saved. 64"}, true},
      {"error\r\n0\r\nNo.\r\n", {"Error: No.\r\n 16"}, false},
      {"", {"Error: An unexpected error occurred. 16"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    SetUp();
    Loaded({{"UploadURL", Variant(kUp)}});
    ASSERT_EQ(control->Call("Save", {}).ToLong(), hr::kOk);
    // While the save runs the canvas allows nothing.
    EXPECT_FALSE(control->Canvas()->Switch(canvas::sw::kInteract));
    EXPECT_EQ(Enabled(), "00000");
    host.calls.clear();
    host.Play(2, {c.reply});
    if (c.reloads) {
      EXPECT_TRUE(Boxes().empty());  // not before the reload has been read
      ASSERT_EQ(host.held.size(), 5u);
      host.Play(4, {TextD()});
      EXPECT_TRUE(Boxes().empty());
      host.Play(3, {Lists()});
    }
    EXPECT_EQ(Boxes(), c.boxes);
    EXPECT_EQ(Events().back(), kReady);
    EXPECT_EQ(Enabled(), "11110");
    // A refused save gives the canvas back to the tool.
    EXPECT_TRUE(control->Canvas()->Switch(canvas::sw::kInteract));
  }
}

TEST_F(Editor, CommandsSaveDiscardAndTools) {
  Loaded({{"UploadURL", Variant(kUp)}});
  control->Call("SendCommand", {Variant(wf::kNewAction)});
  EXPECT_EQ(control->ActiveTool(), wf::kNewAction);
  EXPECT_TRUE(control->Canvas()->Switch(canvas::sw::kDrawLinks));
  EXPECT_FALSE(control->Canvas()->Switch(canvas::sw::kMoveNodes));
  EXPECT_EQ(Pointer(), 2);
  std::string pressed;
  for (const ToolButton& t : control->Tools()) pressed += t.pressed ? '1' : '0';
  EXPECT_EQ(pressed, "00010");

  host.messageBoxAnswer = mb::kIdNo;
  host.calls.clear();
  control->Call("SendCommand", {Variant(wf::kDiscardCommand)});
  EXPECT_EQ(host.calls, (std::vector<std::string>{"MessageBox Confirm: Discard changes? 36"}));
  host.messageBoxAnswer = mb::kIdYes;
  control->Call("SendCommand", {Variant(wf::kDiscardCommand)});
  EXPECT_EQ(host.requests.size(), 4u);  // the reload's two GETs
  control->Call("SendCommand", {Variant(wf::kSaveCommand)});
  EXPECT_EQ(host.requests.back().method, "POST");
}

// An Update called while one runs takes its place: the older texts are dropped when they end.
TEST_F(Editor, ANewerUpdateSupersedesTheOneUnderWay) {
  OpenHeld();
  control->Call("Update", {});
  host.Play(1, {CrLf({"1", "1", "0", "0"})});
  host.Play(0, {Lists()});
  EXPECT_EQ(Events().back(), kNot);
  host.Play(3, {TextD()});
  host.Play(2, {Lists()});
  EXPECT_EQ(Events().back(), kReady);
  EXPECT_EQ(control->Canvas()->Nodes().size(), 3u);
}

TEST_F(Editor, TheCanvasKeepsItsMarginsWhenTheControlIsResized) {
  Open({});
  for (gdi::Size size : {gdi::Size{900, 520}, gdi::Size{400, 300}, gdi::Size{1200, 700}}) {
    host.size = size;
    control->Resized(size);
    EXPECT_EQ(control->CanvasRect(), (gdi::Rect{6, 40, size.cx - 6, size.cy - 5}));
    host.drawing.TakeCalls();
    control->Paint();
    std::string surface, blit;
    for (const std::string& c : host.drawing.Calls()) {
      if (c.starts_with("CreateSurface ")) surface = c.substr(c.rfind(' ') + 1);
      if (c.starts_with("Blit ")) blit = c.substr(c.rfind(' ') + 1);
    }
    EXPECT_EQ(surface, std::to_string(size.cx - 12) + "x" + std::to_string(size.cy - 45));
    EXPECT_EQ(blit, "6,40");
    // The brush made at the first paint stays, whatever BackColor becomes.
    EXPECT_EQ(host.drawing.Calls().front(), "FillRect 0,0," + std::to_string(size.cx) + "," + std::to_string(size.cy) +
                                                " D4D0C8");
    control->Put("BackColor", Variant(0xFF));
  }
}

// A dialog's check as "message focus", or "ok".
template <class Result>
std::string Checked(const Result& r) {
  return r ? r->message + " " + std::to_string(r->focus) : "ok";
}

// The dialogs' logic on forms, as the views fill them in.
TEST(Dialogs, ChecksTheirMessagesAndFocus) {
  diagram::ChoiceLists lists{{"New", "Fixed"}, {"Open", "Closed"}, {"b", "A", "c"}, {"Summary"}, {"Summary"}};
  std::map<int32_t, diagram::DiagramState> states;
  states[5].resolutionCode = "New", states[5].statusCode = "Open", states[5].id = 5;
  states[7].resolutionCode = "Fixed", states[7].statusCode = "Closed", states[7].id = 7;
  auto state = [&](int32_t id, int resolution, int status) {
    diagram::DiagramState s = id ? states[id] : diagram::DiagramState{};
    dialogs::StateForm f = dialogs::OpenState(s, id == 0, lists);
    f.resolution = resolution, f.status = status;  // rows: Fixed, New / Closed, Open
    return Checked(dialogs::CheckState(f, id ? id : -1, states));
  };
  EXPECT_EQ(state(0, -1, 1), "Resolution cannot be blank. 251");
  EXPECT_EQ(state(0, 0, -1), "Status cannot be blank. 252");
  EXPECT_EQ(state(0, 1, 1), kTaken + " 251");
  EXPECT_EQ(state(5, 0, 0), kTaken + " 251");  // a modify too
  EXPECT_EQ(state(5, 1, 1), "ok");
  EXPECT_EQ(state(0, 0, 1), "ok");

  diagram::DiagramAction a;
  a.type = 0;
  dialogs::ActionForm f = dialogs::OpenAction(a, true, 1, lists);
  EXPECT_TRUE(f.fromIssueCreate);
  EXPECT_EQ(f.choice, dialogs::kToMembers);
  EXPECT_EQ(f.title, kNewActionTitle);
  EXPECT_EQ(Checked(dialogs::CheckAction(f)), "At least one group must be selected. 245");
  std::vector<std::string> rows;
  for (const auto& g : f.groups) rows.push_back(g.text);
  EXPECT_EQ(rows, (std::vector<std::string>{"A", "b", "c"}));
  f.groups[1].ticked = f.automatic = true;
  dialogs::Refresh(f);
  f.assignee = 0;  // "b"
  f.groups[0].ticked = true;
  dialogs::Refresh(f);
  EXPECT_EQ(f.assignees[static_cast<size_t>(f.assignee)].text, "b");  // kept through the refill
  f.groups[1].ticked = false;  // the automatic group unticked, none other chosen
  dialogs::Refresh(f);
  EXPECT_EQ(Checked(dialogs::CheckAction(f)), "Automatic assigns to is required. 247");
  f.automatic = false;
  f.name = "  Mark duplicate ";
  dialogs::Refresh(f);
  ASSERT_EQ(Checked(dialogs::CheckAction(f)), "ok");
  dialogs::WriteAction(f, a);
  EXPECT_EQ(a.type, 2);
  EXPECT_EQ(a.name, "Mark duplicate");
  EXPECT_EQ(a.canBeAssignedTo, (diagram::Texts{"A"}));
  EXPECT_FALSE(a.allowAutoAssign);

  diagram::DiagramState created;
  dialogs::IssueCreateForm c = dialogs::OpenIssueCreate(created, lists);
  EXPECT_EQ(Checked(dialogs::CheckIssueCreate(c)), "At least one group must be allowed to create an issue. 237");
}

TEST(Dialogs, StateNamesAndRequiredFieldsOnWriteBack) {
  diagram::ChoiceLists lists{{"Fixed"}, {"Open", "Closed"}, {}, {"Summary", "Priority"}, {"Summary", "PriorityCode"}};
  diagram::DiagramState s;
  s.validations = {"Gone", "PriorityCode"};
  dialogs::StateForm f = dialogs::OpenState(s, false, lists);
  EXPECT_EQ(f.required.front().text, "Priority");  // the state's own first, ticked
  EXPECT_TRUE(f.required.front().ticked);
  f.resolution = 0;
  for (auto [status, name] : {std::pair{0, "Fixed - Closed"}, std::pair{1, "Fixed"}}) {
    f.status = status;  // rows: Closed, Open
    dialogs::WriteState(f, lists, s);
    EXPECT_EQ(s.name, name);
  }
  EXPECT_EQ(s.validations, (diagram::Texts{"PriorityCode"}));  // the key the lists lost is dropped
}

// A view that keeps the dialog open until the test answers it.
struct FakeView : DialogView {
  std::string shown;
  dialogs::StateForm* state = nullptr;
  dialogs::ActionForm* action = nullptr;
  dialogs::IssueCreateForm* create = nullptr;
  Answer answer;
  std::vector<int> focus;
  void ShowState(dialogs::StateForm& f, Answer a) override { shown = f.title, state = &f, answer = std::move(a); }
  void ShowAction(dialogs::ActionForm& f, Answer a) override { shown = f.title, action = &f, answer = std::move(a); }
  void ShowIssueCreate(dialogs::IssueCreateForm& f, Answer a) override {
    shown = f.title, create = &f, answer = std::move(a);
  }
  void Focus(int control) override { focus.push_back(control); }
  bool Answer(bool ok) {
    shown.clear();
    return answer(ok);
  }
};

class Editing : public Editor {
 protected:
  void SetUp() override {
    Editor::SetUp();
    auto v = std::make_unique<FakeView>();
    view = v.get();
    control->SetDialogView(std::move(v));
    host.transfers = {{kData, CrLf({"3", "New", "Fixed", "Duplicate", "2", "Open", "Closed", "2", "Developers",
                                    "Testers", "1", "Summary", "1", "Summary"})},
                      {kDown, TextD()}};
    Open({{"DataURL", Variant(kData)}, {"DownloadURL", Variant(kDown)}});
  }
  // The mouse in pixels of the canvas.
  void Mouse(int kind, int32_t button, int x, int y, int32_t shift = 0) {
    control->OnMouse({static_cast<MouseInput::Kind>(kind), x + wf::kCanvasLeft, y + wf::kCanvasTop, button, 0, 0, shift});
  }
  void Drag(int x0, int y0, int x1, int y1) {
    Mouse(0, 1, x0, y0);
    Mouse(1, 1, x1, y1);
    Mouse(2, 1, x1, y1);
  }
  void Click(int x, int y, int32_t button = 1, int32_t shift = 0) {
    Mouse(0, button, x, y, shift);
    Mouse(2, button, x, y, shift);
  }
  // A new state of the given resolution row and status row, through its dialog.
  void NewState(int x, int y, int resolution, int status, bool ok = true) {
    control->Command(wf::kNewState);
    Drag(x, y, x + 100, y + 40);
    ASSERT_EQ(view->shown, "New State");
    view->state->resolution = resolution, view->state->status = status;
    view->Answer(ok);
  }
  std::string Captions() {
    std::string s;
    for (const auto& n : control->Canvas()->Nodes()) {
      s += n->caption + "[" + std::to_string(n->Outgoing().size()) + "]";
      for (const auto& l : n->Outgoing()) s += ">" + l->Target()->caption;
      s += ";";
    }
    return s;
  }
  FakeView* view = nullptr;
};

// Boxes of text D in pixels: Issue Create (20, 20, 100 x 40), New (193, 20, 120 x 40), Fixed - Closed
// (193, 140, 120 x 40).
TEST_F(Editing, NewIdsCountDownAcrossStatesAndActionsAndCancelsRemoveWhatWasDrawn) {
  NewState(400, 250, 0, 1);  // Duplicate, Open
  NewState(400, 350, 1, 0);  // Fixed - Closed exists: refused, then Fixed, Open
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Error: " + kTaken + " 16"}));
  EXPECT_EQ(view->focus, (std::vector<int>{251}));
  view->state->status = 1;
  ASSERT_TRUE(view->Answer(true));
  control->Command(wf::kNewAction);
  Drag(250, 40, 450, 270);  // New to Duplicate
  ASSERT_EQ(view->shown, kNewActionTitle);
  view->action->groups[0].ticked = true;
  view->Answer(true);
  std::vector<int32_t> ids;
  for (const auto& [id, s] : control->States()) ids.push_back(id);
  for (const auto& [id, a] : control->Actions()) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<int32_t>{-2, -1, 1, 5, 7, -3, 10, 11}));
  EXPECT_EQ(control->States().at(-1).name, "Duplicate");
  EXPECT_EQ(Captions(), "Issue Create[1]>New;New[2]>Fixed - Closed>Duplicate;Fixed - Closed[0];Duplicate[0];Fixed[0];");
  control->Call("Update", {});
  EXPECT_EQ(control->NextId(), -4);
  NewState(400, 250, 0, 1, false);
  EXPECT_EQ(control->NextId(), -5);
  EXPECT_EQ(control->Canvas()->Nodes().size(), 3u);
}

TEST_F(Editing, LinksRefusedAndAccepted) {
  control->Command(wf::kNewAction);
  Drag(70, 40, 250, 40);  // Issue Create to New again
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "Error: Only a single action is permitted between the same two states. 16"}));
  EXPECT_EQ(view->shown, "");
  Drag(250, 160, 250, 40);  // the first link from Fixed - Closed: its dialog
  EXPECT_EQ(view->shown, kNewActionTitle);
  EXPECT_FALSE(view->action->fromIssueCreate);
  view->Answer(false);  // cancelled: removed
  Drag(250, 40, 70, 40);  // New back to Issue Create is another direction
  ASSERT_EQ(view->shown, kNewActionTitle);
  view->action->groups[0].ticked = true;
  view->Answer(true);
  // Reversing it would make a second Issue Create to New.
  Click(160, 40, 2);
  ASSERT_EQ(control->OpenMenu(), Menu::kLink);
  control->Command(32789);
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Captions(), "Issue Create[1]>New;New[2]>Fixed - Closed>Issue Create;Fixed - Closed[0];");
  // Two issue-create boxes joined: a beep, no message, no link.
  control->Command(wf::kNewIssueCreate);
  Drag(400, 250, 500, 290);
  ASSERT_EQ(view->shown, "New Issue Properties");
  view->create->creators[0].ticked = true;
  view->Answer(true);
  control->Command(wf::kNewAction);
  Drag(70, 40, 450, 270);
  EXPECT_EQ(host.Count("Beep"), 1);
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(control->Canvas()->Nodes()[3]->Incoming().size(), 0u);
  // A link from a box back to itself: the issue-create box's and an ordinary state's (which the
  // site would read as the state's reassignment rule) each beep and are removed, without a message.
  for (auto [x, y, beeps] : {std::tuple{70, 40, 2}, std::tuple{250, 40, 3}}) {
    Mouse(0, 1, x, y);
    Mouse(1, 1, x, y + 100);
    Mouse(1, 1, x, y);
    Mouse(2, 1, x, y);
    EXPECT_EQ(control->Canvas()->LastGesture(), canvas::Gesture::Link) << x;
    EXPECT_EQ(host.Count("Beep"), beeps) << x;
  }
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(view->shown, "");
  EXPECT_EQ(Captions(), "Issue Create[1]>New;New[2]>Fixed - Closed>Issue Create;Fixed - Closed[0];Issue Create[0];");
}

TEST_F(Editing, LinkMenuRulesZoomEscapeAndDoubleClick) {
  auto link = [&](const char* caption) {
    for (const auto& n : control->Canvas()->Nodes())
      for (const auto& l : n->Outgoing())
        if (l->caption == caption) return l;
    return std::shared_ptr<canvas::Link>();
  };
  struct Case {
    const char* caption;
    int style, bends;
    bool direct, straight, curved;
  };
  for (const Case& c : std::vector<Case>{{"Submit", 0, 1, true, false, false},
                                         {"Submit", 0, 2, true, false, true},
                                         {"Submit", 1, 2, true, true, false},
                                         {"Submit", 0, 0, false, false, false}}) {
    auto l = link(c.caption);
    l->ClearPoints();
    for (int i = 0; i < c.bends; ++i) l->AddPoint(1500 + 500.0f * i, 600);
    l->lineStyle = c.style;
    Click(95, 40, 2);
    ASSERT_EQ(control->OpenMenu(), Menu::kLink);
    const Menu& m = control->PopupMenu();
    EXPECT_EQ(m.Find(226)->enabled, c.direct) << c.bends;
    EXPECT_EQ(m.Find(32790)->enabled, c.straight);
    EXPECT_EQ(m.Find(32791)->enabled, c.curved) << c.bends << c.style;
    control->Command(226);
  }
  // The recorded box of "New", 120 x 40 pixels at 100%.
  auto box = [&] {
    host.drawing.TakeCalls();
    control->Paint();
    for (const std::string& c : host.drawing.Calls())
      if (c.find("] FrameRect ") != std::string::npos && c.find(" 000000") != std::string::npos) {
        gdi::Rect r;
        std::sscanf(c.substr(c.find("FrameRect ") + 10).c_str(), "%d,%d,%d,%d", &r.left, &r.top, &r.right, &r.bottom);
        if (r.left > 150) return std::to_string(r.Width()) + "x" + std::to_string(r.Height());
      }
    return std::string();
  };
  EXPECT_EQ(box(), "120x40");
  control->Command(218);
  for (int32_t z = 217; z <= 223; ++z) EXPECT_EQ(control->PopupMenu().Find(z)->checked, z == 218);
  EXPECT_EQ(box(), "240x80");
  control->Command(220);
  for (auto [command, on] : {std::pair{215, false}, std::pair{216, false}, std::pair{215, true}}) {
    control->Command(command);
    EXPECT_EQ(control->PopupMenu().Find(command)->checked, on);
    EXPECT_EQ(command == 215 ? control->Canvas()->gridShown : control->Canvas()->snap, on);
  }

  control->Command(wf::kNewState);
  control->OnKeyUp(27, 0);
  EXPECT_EQ(control->ActiveTool(), wf::kNewState);
  Mouse(0, 1, 600, 300);
  control->OnKeyUp(27, 0);
  EXPECT_EQ(control->ActiveTool(), wf::kSelect);
  Mouse(2, 1, 600, 300);

  control->Canvas()->DblClick();
  EXPECT_EQ(view->shown, "");
  Click(150, 40);         // the Submit link
  Click(250, 40, 1, 1);   // and, with shift, New
  control->Canvas()->DblClick();
  EXPECT_EQ(view->shown, "Modify State - New");
  view->Answer(false);
  EXPECT_EQ(view->shown, "Modify Action - Submit");
}

// Zoomed and scrolled, a right-click finds what is drawn under it: the menus use the pointer
// feedback's position (pixels scaled by the zoom, then the scroll added).
TEST_F(Editing, ARightClickHitsWhatIsDrawnWhenZoomedAndScrolled) {
  host.size = {300, 200};  // small enough to scroll
  control->Resized(host.size);
  control->Command(218);  // 200%
  control->Canvas()->ScrollTo(1500, 0);
  ASSERT_EQ(control->Canvas()->ScrollX(), 1500);
  EXPECT_EQ(control->Canvas()->ToPixelsX(2900), 187);  // "New" from here
  Click(200, 60, 2);
  EXPECT_EQ(control->OpenMenu(), Menu::kNode);
  EXPECT_EQ(control->Canvas()->SelectedNodes().at(0)->caption, "New");
}

TEST_F(Editing, DeletingANodeTakesItsStateAndLinksOutOfTheSave) {
  Click(250, 160);  // Fixed - Closed
  control->OnKeyUp(46, 0);
  const std::string body = control->SaveText();
  EXPECT_EQ(body.find("Fixed - Closed"), std::string::npos);
  EXPECT_EQ(body.find("\r\nFix\r\n"), std::string::npos);
  EXPECT_NE(body.find("\r\nSubmit\r\n"), std::string::npos);
  EXPECT_EQ(control->States().count(7), 0u);
}

// Delete takes the canvas's one current item: the box or link last clicked or drawn, nothing after
// a click on an empty spot; a node and a link chosen together with shift both go.
TEST_F(Editing, DeleteTakesTheCurrentItemOnly) {
  const std::string loaded = "Issue Create[1]>New;New[1]>Fixed - Closed;Fixed - Closed[0];";
  struct Case {
    std::function<void()> choose;
    std::string left;
  };
  for (const Case& k : std::vector<Case>{
           {[&] { Click(250, 160); }, "Issue Create[1]>New;New[0];"},
           {[&] { Click(250, 160), Click(600, 300); }, loaded},
           {[&] { Click(250, 160), Click(150, 40, 2), control->Command(228); },  // the Link menu's "&Delete"
            "Issue Create[0];New[1]>Fixed - Closed;Fixed - Closed[0];"},
           {[&] { Click(150, 40), Click(250, 160, 1, 1); }, "Issue Create[0];New[0];"},
           {[&] {
              control->Command(wf::kNewAction);
              Drag(250, 160, 70, 40);  // Fixed - Closed to Issue Create, through its dialog
              view->action->groups[0].ticked = true;
              view->Answer(true);
              ASSERT_EQ(Captions(), "Issue Create[1]>New;New[1]>Fixed - Closed;Fixed - Closed[1]>Issue Create;");
            },
            loaded}}) {
    control->Command(wf::kSelect);
    control->Call("Update", {});
    ASSERT_EQ(Captions(), loaded);
    k.choose();
    control->OnKeyUp(46, 0);
    EXPECT_EQ(Captions(), k.left);
  }
}

// A selected box at pixels (100, 100)-(220, 150): the pointer over its handles, inside and around.
TEST_F(Editing, PointerFeedbackOverASelectedNode) {
  auto& nodes = control->Canvas()->Nodes();
  nodes[0]->SetBounds(1500, 1500, 1800, 750);
  Click(150, 130);
  struct Case {
    int x, y;
    int32_t tool, pointer;
  };
  for (const Case& c : std::vector<Case>{{98, 98, wf::kSelect, 8}, {160, 98, wf::kSelect, 7}, {220, 125, wf::kSelect, 9},
                                         {221, 150, wf::kSelect, 8}, {150, 130, wf::kSelect, 99},
                                         {98, 130, wf::kSelect, 0}, {98, 130, wf::kNewState, 2},
                                         {96, 96, wf::kSelect, 0}}) {
    control->Command(c.tool);
    Mouse(1, 0, c.x, c.y);
    EXPECT_EQ(Pointer(), c.pointer) << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace tamsolo
