// The query wizard's dialog on a fake view: the catalogue and criteria texts, the entry row, the
// list's buttons, CanSave and the layout.
#include <gtest/gtest.h>

#include "hosted_control.h"
#include "query_wizard/query_wizard.h"

namespace tamsolo {
namespace {

// Keeps what the wizard shows and where it puts the focus.
class FakeView : public WizardView {
 public:
  int renders = 0;
  int focus = 0;
  void Render(const WizardState&) override { ++renders; }
  void Focus(int id) override { focus = id; }
};

std::string Lines(std::initializer_list<const char*> lines) {
  std::string out;
  for (const char* l : lines) out += std::string(l) + "\r\n";
  return out;
}

const std::string kFields =
    Lines({"Summary", "Issues.Summary", "Summary", "0", "PriorityCode", "Issues.PriorityCode", "Priority", "4", "x",
           "Urgent", "x", "High", "x", "", "x", "Low", "", "DateOpened", "Issues.DateOpened", "Date opened", "3"});

// Projects, a per-project code, a number, a check box and a date-time besides.
const std::string kMoreFields =
    kFields + Lines({"ProjectCode", "Issues.ProjectCode", "Project", "4", "1", "Alpha", "2", "Beta", "",
                     "ModuleCode", "Issues.ModuleCode", "Module", "6", "Alpha", "UI", "Beta", "Core", "alpha", "Low",
                     "Alpha", "DB", "", "Hours", "Issues.Hours", "Hours", "2", "Closed", "Issues.Closed", "Closed",
                     "1", "DueAt", "Issues.DueAt", "Due", "7"});

class QueryWizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wizard.SetAvailableFields(kFields));
    auto v = std::make_unique<FakeView>();
    view = v.get();
    wizard.Open(std::move(v));
  }
  const Widget& W(int id) const { return wizard.State()[id]; }
  static int Index(const Widget& w, const std::string& text) {
    for (size_t i = 0; i < w.items.size(); ++i)
      if (w.items[i] == text) return static_cast<int>(i);
    return -1;
  }
  void Field(const std::string& caption) { wizard.OnChooseField(Index(W(qw::kFields), caption)); }
  void Condition(const std::string& op) { wizard.OnChooseCondition(Index(W(qw::kConditions), op)); }
  // One criterion through the entry row, with a typed value when there is one.
  void Add(const std::string& caption, const std::string& op, const std::string& typed = "") {
    Field(caption);
    Condition(op);
    if (!typed.empty()) wizard.OnType(typed);
    wizard.OnClick(qw::kAdd);
  }
  void AddThreeRows() {
    Add("Summary", "contains", "login");
    Field("Priority");
    wizard.OnClick(qw::kOr);
    wizard.OnChooseItem(qw::kCodeValues, Index(W(qw::kCodeValues), "High"));
    wizard.OnClick(qw::kAdd);
    Field("Date opened");
    Condition("between");
    wizard.OnPicker(qw::kDate1, "1/1/2024");
    wizard.OnPicker(qw::kDate2, "1/31/2024");
    wizard.OnClick(qw::kAdd);
  }
  std::vector<std::string> Rows() const { return W(qw::kCriteria).items; }

  RecordingHost host;
  QueryWizard wizard{host};
  FakeView* view = nullptr;
};

// AddThreeRows() as listed, as written and (the first two) in SQL.
const std::vector<std::string> kThreeRows = {"Summary contains 'login'", "or Priority is (exactly) 'High'",
                                             "and Date opened between 1/1/2024 and 1/31/2024"};
const char* kThreeRowsExpression =
    "contains Summary \"login\"\r\nor is_(exactly) PriorityCode \"High\"\r\n"
    "and between DateOpened \"1/1/2024\" \"1/31/2024\"\r\n";
const std::string kTwoRowsSql = "Issues.Summary like '%login%'\r\nor Issues.PriorityCode = 'High'\r\n";
const std::string kAddToList = "Add to List";

TEST_F(QueryWizardTest, BuildsTheCriteriaTextsAndReadsThemBack) {
  Field("Priority");
  EXPECT_EQ(W(qw::kCodeValues).items, (std::vector<std::string>{"High", "Low", "Urgent"}));
  wizard.OnClick(qw::kClear);
  AddThreeRows();
  EXPECT_EQ(Rows(), kThreeRows);
  EXPECT_EQ(wizard.FilterExpression(), kThreeRowsExpression);
  EXPECT_EQ(wizard.FqFilterExpression(),
            kTwoRowsSql + "and Issues.DateOpened between '2024-01-01 00:00:00.000' and '2024-01-31 00:00:00.000'\r\n");
  // The text as stored (trimmed, so without its last CR LF) reads back whole.
  std::string trimmed = kThreeRowsExpression;
  trimmed.resize(trimmed.size() - 2);
  wizard.SetFilterExpression(trimmed);
  EXPECT_EQ(Rows(), kThreeRows);
  EXPECT_EQ(wizard.FilterExpression(), kThreeRowsExpression);
  // By name, as the page reads it.
  EXPECT_EQ(wizard.Get("filterexpression").ToString(), kThreeRowsExpression);
  EXPECT_EQ(wizard.Get("AvailableFields").ToString(), kFields);
}

TEST_F(QueryWizardTest, EntryRowNeedsAFieldAndAValueAndPressesAndOnceRowsExist) {
  EXPECT_FALSE(W(qw::kAdd).enabled);
  wizard.OnClick(qw::kAdd);
  EXPECT_TRUE(Rows().empty());
  Field("Summary");
  Condition("contains");
  EXPECT_FALSE(W(qw::kAnd).pressed);
  EXPECT_FALSE(W(qw::kAnd).enabled);
  wizard.OnType("   ");
  wizard.OnClick(qw::kAdd);
  EXPECT_EQ(host.calls.back(), "MessageBox Error: Value cannot be blank. 48");
  EXPECT_EQ(view->focus, qw::kValue);
  EXPECT_TRUE(Rows().empty());
  wizard.OnType("  login ");
  wizard.OnClick(qw::kAdd);
  EXPECT_EQ(Rows(), std::vector<std::string>{kThreeRows[0]});
  EXPECT_EQ(W(qw::kFields).selected, -1);
  Field("Priority");
  EXPECT_TRUE(W(qw::kAnd).pressed);
  EXPECT_TRUE(W(qw::kAnd).enabled);
  wizard.OnClick(qw::kAdd);  // no code value chosen
  EXPECT_EQ(view->focus, qw::kCodeValues);
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(QueryWizardTest, MovingAndRemovingRowsRepairTheirConjunctions) {
  AddThreeRows();
  wizard.OnSelectRow(1);
  wizard.OnClick(qw::kMoveUp);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"Priority is (exactly) 'High'", "and " + kThreeRows[0], kThreeRows[2]}));
  EXPECT_EQ(W(qw::kCriteria).selected, 0);
  EXPECT_FALSE(W(qw::kMoveUp).enabled);
  EXPECT_TRUE(W(qw::kMoveDown).enabled);
  wizard.OnClick(qw::kRemove);
  EXPECT_EQ(Rows(), (std::vector<std::string>{kThreeRows[0], kThreeRows[2]}));
  EXPECT_EQ(W(qw::kCriteria).selected, 0);
  EXPECT_EQ(wizard.Criteria()[0].conjunction, criteria::kNone);
}

TEST_F(QueryWizardTest, CanSaveWalksTheParenthesesAndAsksAboutAPendingChange) {
  Add("Summary", "contains", "a");
  Field("Summary");
  wizard.OnClick(qw::kOpen);
  Add("Summary", "contains", "b");
  EXPECT_FALSE(wizard.Get("CanSave").ToBool());
  EXPECT_EQ(host.calls.back(), "MessageBox Error: Mismatched parenthesis. 48");
  Field("Summary");
  Condition("contains");
  wizard.OnClick(qw::kClose);
  wizard.OnType("c");
  wizard.OnClick(qw::kAdd);
  EXPECT_EQ(Rows()[1], "and (Summary contains 'b'");
  EXPECT_EQ(Rows()[2], "and Summary contains 'c')");
  EXPECT_TRUE(wizard.CanSave());
  // While a row is being modified the question comes first; No keeps the modification.
  wizard.OnDoubleClickRow(0);
  EXPECT_EQ(W(qw::kAdd).text, "Update");
  EXPECT_EQ(W(qw::kValue).text, "a");
  host.confirmAnswer = false;
  EXPECT_FALSE(wizard.CanSave());
  EXPECT_EQ(host.calls.back(), "Confirm Discard changes to criteria currently being modified?");
  EXPECT_EQ(W(qw::kAdd).text, "Update");
  host.confirmAnswer = true;
  EXPECT_TRUE(wizard.CanSave());
  EXPECT_EQ(W(qw::kAdd).text, kAddToList);
}

TEST_F(QueryWizardTest, ModifyUpdatesInPlaceAndAnotherRowAbandonsIt) {
  AddThreeRows();
  wizard.OnSelectRow(1);
  wizard.OnClick(qw::kModify);
  EXPECT_EQ(W(qw::kFields).items[W(qw::kFields).selected], "Priority");
  EXPECT_EQ(W(qw::kCodeValues).items[W(qw::kCodeValues).selected], "High");
  EXPECT_TRUE(W(qw::kOr).pressed);
  EXPECT_EQ(view->focus, qw::kFields);
  wizard.OnChooseItem(qw::kCodeValues, Index(W(qw::kCodeValues), "Low"));
  wizard.OnClick(qw::kAnd);
  wizard.OnClick(qw::kAdd);
  EXPECT_EQ(Rows()[1], "and Priority is (exactly) 'Low'");
  EXPECT_EQ(Rows().size(), 3u);
  wizard.OnDoubleClickRow(2);
  EXPECT_EQ(W(qw::kDate2).text, "1/31/2024");
  wizard.OnSelectRow(0);
  EXPECT_EQ(W(qw::kAdd).text, kAddToList);
  EXPECT_EQ(W(qw::kCriteria).selected, 0);
  EXPECT_EQ(W(qw::kFields).selected, -1);
}

// Which value control the entry row shows, by field and condition.
TEST_F(QueryWizardTest, ValueControlsFollowTheTypeAndCondition) {
  ASSERT_TRUE(wizard.SetAvailableFields(kMoreFields));
  struct Case {
    const char* caption;
    const char* op;
    std::vector<int> shown;
    const char* label;
    bool editEnabled;
  };
  const Case cases[] = {
      {"Summary", "contains", {qw::kValue}, "Value:", true},
      {"Summary", "is empty", {qw::kValue}, "Value:", false},
      {"Closed", "is checked", {qw::kValue}, "Value:", false},
      {"Hours", "is less than", {qw::kValue}, "Value:", true},
      {"Date opened", "today", {qw::kValue}, "Value:", false},
      {"Date opened", "on", {qw::kDate1}, "Value:", false},
      {"Date opened", "between", {qw::kDate1, qw::kDate2}, "From and to dates:", false},
      {"Due", "on or after", {qw::kDateTime1}, "Value:", false},
      {"Due", "between", {qw::kDateTime1, qw::kDateTime2}, "From and to date/times:", false},
      {"Priority", "contains", {qw::kValue}, "Value:", true},
      {"Priority", "is (exactly)", {qw::kCodeValues}, "Value:", false},
      {"Module", "is (exactly)", {qw::kProjects, qw::kProjectValues}, "Project and value:", false},
      {"Module", "doesn't contain", {qw::kValue}, "Value:", true},
  };
  const int valueControls[] = {qw::kValue, qw::kCodeValues, qw::kProjects, qw::kProjectValues,
                               qw::kDate1, qw::kDate2, qw::kDateTime1, qw::kDateTime2};
  for (const Case& c : cases) {
    Field(c.caption);
    Condition(c.op);
    std::vector<int> shown;
    for (int id : valueControls)
      if (W(id).visible) shown.push_back(id);
    EXPECT_EQ(shown, c.shown) << c.caption << " " << c.op;
    EXPECT_EQ(W(qw::kValueLabel).text, c.label) << c.caption << " " << c.op;
    EXPECT_EQ(W(qw::kValue).enabled, c.editEnabled) << c.caption << " " << c.op;
  }
  Field("Hours");
  wizard.OnType("1a2");
  EXPECT_EQ(W(qw::kValue).text, "12");
  Field("Summary");
  wizard.OnType("1a2");
  EXPECT_EQ(W(qw::kValue).text, "1a2");
  wizard.OnClick(qw::kClear);
  EXPECT_FALSE(W(qw::kConditions).enabled);
  EXPECT_FALSE(W(qw::kValue).enabled);
}

TEST_F(QueryWizardTest, ProjectsDateTimesAndTheProjectField) {
  ASSERT_TRUE(wizard.SetAvailableFields(kMoreFields));
  Field("Project");
  EXPECT_EQ(W(qw::kConditions).items, std::vector<std::string>{"is (exactly)"});
  Field("Module");
  EXPECT_EQ(W(qw::kProjects).items, (std::vector<std::string>{"Alpha", "Beta"}));
  wizard.OnChooseProject(0);
  EXPECT_EQ(W(qw::kProjectValues).items, (std::vector<std::string>{"UI", "DB"}));  // not "alpha"'s
  wizard.OnChooseItem(qw::kProjectValues, 1);
  wizard.OnClick(qw::kAdd);
  Field("Due");
  Condition("on");
  wizard.OnPicker(qw::kDateTime1, "1/31/2024 14:05");
  wizard.OnClick(qw::kAdd);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"Module is (exactly) 'DB'", "and Due on 1/31/2024 14:05"}));
  EXPECT_EQ(wizard.FilterExpression(),
            "is_(exactly) ModuleCode \"DB\" \"Alpha\"\r\nand on DueAt \"1/31/2024 14:05\"\r\n");
  // Without a "ProjectCode" field a per-project code offers no projects.
  ASSERT_TRUE(wizard.SetAvailableFields(Lines({"ModuleCode", "Issues.ModuleCode", "Module", "6", "Alpha", "UI", ""})));
  Field("Module");
  EXPECT_TRUE(W(qw::kProjects).items.empty());
}

TEST_F(QueryWizardTest, SettingTheTextsAgainReplacesWhatTheDialogShows) {
  AddThreeRows();
  wizard.SetFilterExpression("is_empty Summary \r\n\r\nand contains Nowhere \"x\"\r\n");
  EXPECT_EQ(Rows(), std::vector<std::string>{"Summary is empty"});
  wizard.SetFilterExpression(kThreeRowsExpression);
  // A new catalogue without the date field: its criterion goes, the list of fields is refilled.
  ASSERT_TRUE(wizard.SetAvailableFields(Lines({"Summary", "Issues.Summary", "Summary", "0", "PriorityCode",
                                               "Issues.PriorityCode", "Priority", "4", "x", "High", ""})));
  EXPECT_EQ(Rows(), (std::vector<std::string>{kThreeRows[0], kThreeRows[1]}));
  EXPECT_EQ(W(qw::kFields).items, (std::vector<std::string>{"Priority", "Summary"}));
  EXPECT_EQ(wizard.FqFilterExpression(), kTwoRowsSql);
  // A refused change keeps everything.
  host.refused.insert(1);
  EXPECT_FALSE(wizard.SetAvailableFields(kMoreFields));
  EXPECT_EQ(W(qw::kFields).items.size(), 2u);
}

TEST_F(QueryWizardTest, DialogIsLaidOutInPixels) {
  host.size = {620, 245};
  ASSERT_TRUE(wizard.SetAvailableFields(kMoreFields));
  auto rect = [&](int id) {
    const gdi::Rect& r = W(id).rect;
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.Width()) + "x" +
           std::to_string(r.Height());
  };
  const int field = wizard.WidestCaption() + 16, edit = 3 + field + 8 + 130 + 8;
  EXPECT_GT(wizard.WidestCaption(), 0);
  EXPECT_EQ(rect(qw::kTitle), "2,0 313x13");
  EXPECT_EQ(rect(qw::kCriteria), "2,16 490x117");
  EXPECT_EQ(rect(qw::kFields), "3,184 " + std::to_string(field) + "x24");
  EXPECT_EQ(rect(qw::kConditions), std::to_string(3 + field + 8) + ",184 130x24");
  EXPECT_EQ(rect(qw::kValue), std::to_string(edit) + ",184 " + std::to_string(618 - edit) + "x24");
  EXPECT_EQ(rect(qw::kDateTime2), std::to_string(edit + 138) + ",184 130x24");
  EXPECT_EQ(rect(qw::kProjects), std::to_string(edit) + ",184 " + std::to_string(wizard.WidestPairText() + 19) + "x24");
  EXPECT_EQ(W(qw::kMoveUp).text, "\u25B2");
  EXPECT_EQ(W(qw::kTitle).font, (gdi::Font{"Verdana", 11, true}));
  EXPECT_EQ(W(qw::kFields).font, (gdi::Font{"Microsoft Sans Serif", 13}));
  EXPECT_GT(view->renders, 0);
}

TEST(QueryWizardClass, PropertiesAreInTheirLoadOrderAndTheModuleMakesIt) {
  RecordingHost host;
  QueryWizard wizard(host);
  std::vector<std::string> names;
  for (const auto& p : wizard.Properties())
    if (p.persisted) names.push_back(p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"_cx", "_cy", "AvailableFields", "FilterExpression"}));
  EXPECT_EQ(wizard.Load([](std::string_view name) -> std::optional<std::string> {
    if (name == "AvailableFields") return kFields;
    if (name == "FilterExpression") return "is_empty Summary ";
    return std::nullopt;
  }), hr::kOk);
  EXPECT_EQ(wizard.FilterExpression(), "is_empty Summary \r\n");
  EXPECT_TRUE(wizard.Dirty());
  EXPECT_EQ(host.Count("Changed 1"), 1);
  std::unique_ptr<Control> made = testing::Created(host, "clsid:C096CE94-CD42-4BE7-81D6-CB89E21A19F0");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Entry().name, "QueryWizard");
}

}  // namespace
}  // namespace tamsolo
