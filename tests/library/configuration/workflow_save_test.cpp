#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/error_protocol.h"
#include "support/com_error.h"
#include "workflow_editor.h"

namespace brisquel::workflowtest {
namespace {

using automation::Variant;

constexpr const char* kConflict = "Another user has changed the workflow information. You must cancel your changes.";

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// The body with the first value posted under `field` replaced.
std::string Replaced(std::string body, const std::string& field, const std::string& value) {
  const std::string part = "name=\"" + field + "\"\r\n\r\n";
  size_t at = body.find(part);
  if (at == std::string::npos) {
    ADD_FAILURE() << field << " is not posted";
    return body;
  }
  at += part.size();
  return body.replace(at, body.find("\r\n", at) - at, value);
}

EditorState State(long id, const std::string& resolution, const std::string& status) {
  EditorState s;
  s.id = id;
  s.name = resolution + (status == "Open" ? "" : " - " + status);
  s.resolutionCode = resolution;
  s.statusCode = status;
  s.valid = true;
  s.top = 10;
  s.left = 20;
  s.width = 120;
  s.height = 50;
  return s;
}

EditorAction Action(long from, long to, const std::string& name) {
  EditorAction a;
  a.id = -1;
  a.type = 2;
  a.fromId = from;
  a.toId = to;
  a.name = name;
  a.canBeAssignedTo = {"Developers"};
  return a;
}

class WorkflowSave : public WorkflowSite {
 protected:
  void SetUp() override {
    WorkflowSite::SetUp();
    LoadWorkflow(*db, 1, seededStates, seededActions);
  }
  // The stored states by name: id, codes and flags.
  std::string StoredState(const std::string& name) {
    return sql->Text("select StateType || '|' || ResolutionCode || '|' || StatusCode || '|' || IssueValid || '|' || "
                     "IssueFixed from WorkflowStates where StateName = '" + name + "'");
  }
  std::vector<std::string> StoredPoints() {
    return sql->Rows("select x, y from WorkflowActionPts order by rowid");
  }
  std::vector<std::string> Snapshot() {
    std::vector<std::string> rows = Definition();
    for (const char* q : {"select Version from Workflows", "select NotificationRuleId, ActionId from EMailNotificationRules",
                          "select IssueId, Valid, Fixed from Issues", "select count(*) from WorkflowStates"})
      for (const std::string& r : sql->Rows(q)) rows.push_back(r);
    return rows;
  }
  long long RuleAction(long long id) {
    return sql->Int("select coalesce(ActionId, -99) from EMailNotificationRules where NotificationRuleId = " +
                    std::to_string(id) + " union all select -100 limit 1");
  }
  long long Rule(const std::string& from, const std::string& to, int event = 4, int action = -1) {
    std::string actionSql = action != -1 ? std::to_string(action)
                                         : "(select a.ActionId from WorkflowActions a join WorkflowStates f on "
                                           "f.StateId = a.FromStateId join WorkflowStates t on t.StateId = "
                                           "a.ToStateId where f.StateName = '" + from + "' and t.StateName = '" +
                                               to + "')";
    sql->Exec("insert into EMailNotificationRules (NotificationRuleName, NotificationEventType, WorkflowId, ActionId, "
              "RecipientType, TemplateName) values ('r" + from + to + std::to_string(event) + "', " +
              std::to_string(event) + ", 1, " + actionSql + ", 1, 'Assignment Notice')");
    return sql->Int("select max(NotificationRuleId) from EMailNotificationRules");
  }

  std::vector<EditorState> seededStates;
  std::vector<EditorAction> seededActions;
};

TEST_F(WorkflowSave, TheSeededWorkflowPostedBackIsStoredUnderNewIds) {
  std::vector<std::string> expected;
  for (std::string row : Definition()) {
    // The issue-create state comes back with the editor's "na" texts.
    if (row.rfind("Issue Create|1|||", 0) == 0) row = "na|1|na|na|" + row.substr(17);
    for (size_t at; (at = row.find("|Issue Create|")) != std::string::npos;) row.replace(at, 14, "|na|");
    expected.push_back(row);
  }
  const long long maxState = sql->Int("select max(StateId) from WorkflowStates");
  auto rs = GetSiteWorkflowRs(*db);

  ASSERT_TRUE(UpdateWorkflow(*db, "admin", rs, Decoded(SaveBody(seededStates, seededActions))))
      << db->LastErrorMessage();
  EXPECT_EQ(db->LastErrorMessage(), "");
  EXPECT_EQ(Sorted(Definition()), Sorted(expected));
  EXPECT_EQ(sql->Int("select min(StateId) from WorkflowStates"), maxState + 1);
  EXPECT_EQ(sql->Int("select Version from Workflows where WorkflowId = 1"), 2);
  EXPECT_EQ(rs->Value("Version").ToLong(), 2);
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
}

TEST_F(WorkflowSave, PostedStateIdsJoinTheirActionsToTheNewIds) {
  EditorAction toFixed = Action(-1, -2, "Fix");
  EditorAction fromNowhere = Action(99, -1, "Lost");
  ASSERT_TRUE(Save({State(-1, "New", "Open"), State(-2, "Fixed", "Open")}, {toFixed, fromNowhere}))
      << db->LastErrorMessage();
  EXPECT_EQ(sql->Rows("select f.StateName, t.StateName from WorkflowActions a join WorkflowStates f on f.StateId = "
                      "a.FromStateId join WorkflowStates t on t.StateId = a.ToStateId"),
            std::vector<std::string>{"New|Fixed"});
  EXPECT_EQ(sql->Int("select FromStateId from WorkflowActions where ActionName = 'Lost'"), -1);
}

TEST_F(WorkflowSave, PointsAreStoredInPairsLeavingOutMinusOnePairs) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"5,5,-1,-1,7,8", {"5.0|5.0", "7.0|8.0"}},
      {"10,-1", {"10.0|-1.0"}},
      {"-1,-1", {}},
      {"1.5,2.25", {"1.5|2.25"}},
  };
  for (const auto& [points, stored] : cases) {
    const std::string body = SaveBody({State(1, "New", "Open")}, {Action(1, 1, "")});
    ASSERT_TRUE(UpdateWorkflow(*db, "admin", GetSiteWorkflowRs(*db), Decoded(Replaced(body, "Points", points))))
        << db->LastErrorMessage();
    EXPECT_EQ(StoredPoints(), stored) << points;
  }
}

TEST_F(WorkflowSave, PostedGroupAndFieldListsAreTakenApart) {
  EditorState create = State(1, "", "");
  create.type = 1;
  create.createByGroups = {"Developers", "Testers"};
  create.createByTeamLeads = {};
  EditorState open = State(2, "New", "Open");
  open.validations = {"Summary", "Description"};
  EditorState fixed = State(3, "Fixed", "Open");
  EditorAction quoted = Action(2, 3, "Fix");
  quoted.canBeAssignedTo = {"a\"b", "Testers"};
  EditorAction none = Action(3, 2, "Reject");
  none.canBeAssignedTo = {};
  std::string body = SaveBody({create, open, fixed}, {quoted, none});
  const std::string summary = "name=\"Validations\"\r\n\r\n*none*";
  body.replace(body.find(summary), summary.size(), "name=\"Validations\"\r\n\r\n*NONE*");
  ASSERT_TRUE(UpdateWorkflow(*db, "admin", GetSiteWorkflowRs(*db), Decoded(body))) << db->LastErrorMessage();

  EXPECT_EQ(Sorted(sql->Rows("select s.StateName, v.FieldName from WorkflowStateValidations v join WorkflowStates s "
                             "on s.StateId = v.StateId")),
            (std::vector<std::string>{"New|Description", "New|Summary"}));
  EXPECT_EQ(Sorted(sql->Rows("select s.StateName, g.GroupCode from WorkflowStateGroups g join WorkflowStates s on "
                             "s.StateId = g.StateId")),
            (std::vector<std::string>{"na|Developers", "na|Testers"}));
  EXPECT_EQ(sql->Int("select count(*) from WorkflowStateTeamLeads"), 0);
  EXPECT_EQ(Sorted(sql->Rows("select a.ActionName, g.GroupCode from WorkflowActionAssignments g join "
                             "WorkflowActions a on a.ActionId = g.ActionId")),
            (std::vector<std::string>{"Fix|Testers", "Fix|a\"b"}));
}

TEST_F(WorkflowSave, AnOrdinaryStateHasNoCreatingGroups) {
  std::string body = SaveBody({State(-1, "New", "Open")}, {});
  body = Replaced(Replaced(body, "CreateByGroups", "Testers"), "CreateByTeamLeads", "Developers");
  ASSERT_TRUE(UpdateWorkflow(*db, "admin", GetSiteWorkflowRs(*db), Decoded(body))) << db->LastErrorMessage();
  EXPECT_EQ(sql->Int("select count(*) from WorkflowStateGroups") + sql->Int("select count(*) from WorkflowStateTeamLeads"),
            0);
}

TEST_F(WorkflowSave, ListsLongerThan32767EntriesAreTakenWhole) {
  EditorAction a = Action(-1, -1, "Loop");
  for (int i = 0; i < 17000; ++i) a.points.emplace_back(i, 1);
  ASSERT_TRUE(Save({State(-1, "New", "Open")}, {a})) << db->LastErrorMessage();
  EXPECT_EQ(sql->Int("select count(*) from WorkflowActionPts"), 17000);
  EXPECT_EQ(sql->Int("select max(x) from WorkflowActionPts"), 16999);
}

TEST_F(WorkflowSave, StateTextsAreUrlDecodedAndActionNamesAreNot) {
  EditorState ready = State(-1, "Ready+to+test", "Open");
  ready.name = "Ready+to+test";
  EditorState done = State(-2, "Done%21", "Closed");
  ASSERT_TRUE(Save({ready, done}, {Action(-1, -2, "Fix+now")})) << db->LastErrorMessage();
  EXPECT_EQ(StoredState("Ready to test"), "0|Ready to test|Open|1|0");
  EXPECT_EQ(StoredState("Done! - Closed"), "0|Done!|Closed|1|0");
  EXPECT_EQ(sql->Text("select ActionName from WorkflowActions"), "Fix+now");
}

TEST_F(WorkflowSave, OneStateAndOneActionArriveAsSingleValues) {
  EditorState s = State(7, "New", "Open");
  s.fixed = true;
  s.valid = false;
  ASSERT_TRUE(Save({s}, {Action(7, 7, "")})) << db->LastErrorMessage();
  EXPECT_EQ(StoredState("New"), "0|New|Open|0|1");
  EXPECT_EQ(sql->Int("select count(*) from WorkflowActions where FromStateId = ToStateId and FromStateId = "
                     "(select StateId from WorkflowStates)"),
            1);
}

TEST_F(WorkflowSave, NothingPostedEmptiesTheWorkflow) {
  ASSERT_TRUE(Save({}, {})) << db->LastErrorMessage();
  for (const char* table : {"WorkflowStates", "WorkflowActions", "WorkflowActionAssignments",
                            "WorkflowStateValidations", "WorkflowStateGroups"})
    EXPECT_EQ(sql->Int(std::string("select count(*) from ") + table), 0) << table;
  EXPECT_EQ(sql->Int("select Version from Workflows"), 2);
}

TEST_F(WorkflowSave, TransitionRulesFollowTheirMoveByCodes) {
  const long long follows = Rule("New", "Fixed");
  const long long gone = Rule("Fixed", "Fixed - Closed");
  const long long otherType = Rule("New", "Fixed", 3);
  const long long missingAction = Rule("x", "y", 4, 999);
  // The editor renamed the states and redrew the fix; the verification is gone.
  std::vector<EditorState> states = {State(-1, "New", "Open"), State(-2, "Fixed", "Open"),
                                     State(-3, "Fixed", "Closed")};
  states[0].name = "Fresh";
  ASSERT_TRUE(Save(states, {Action(-1, -2, "Mend"), Action(-3, -1, "Reopen")})) << db->LastErrorMessage();

  EXPECT_EQ(RuleAction(follows), sql->Int("select ActionId from WorkflowActions where ActionName = 'Mend'"));
  EXPECT_EQ(RuleAction(gone), -100);
  EXPECT_EQ(RuleAction(otherType), 3);
  EXPECT_EQ(RuleAction(missingAction), 999);
  EXPECT_EQ(RuleAction(13), 0);
}

TEST_F(WorkflowSave, AMoveJoinedTwiceRefusesTheSaveAndChangesNothing) {
  Rule("New", "Fixed");
  const std::vector<std::string> before = Snapshot();
  ASSERT_FALSE(Save({State(-1, "New", "Open"), State(-2, "Fixed", "Open")},
                    {Action(-1, -2, "Fix"), Action(-1, -2, "Fix again")}));
  EXPECT_EQ(db->LastErrorMessage(),
            "An unexpected error has occurred.\r\nError number: -2147217900\r\nError message: Subquery returned more "
            "than 1 value.");
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(db->Connection().InTransaction());
}

TEST_F(WorkflowSave, IssueFlagsFollowTheStatesAndOnlyChangedIssuesAreWritten) {
  sql->Exec("UPDATE Issues SET Valid = 0 WHERE ResolutionCode = 'Will not fix'");
  const std::string untouched = sql->Text("select LastUpdated from Issues where ResolutionCode = 'New'");
  for (EditorState& s : seededStates)
    if (s.resolutionCode == "Fixed" && s.statusCode == "Open") s.fixed = false;
  ASSERT_GT(sql->Int("select count(*) from Issues where ResolutionCode = 'Fixed' and StatusCode = 'Open' and Fixed = 1"),
            0);
  ASSERT_TRUE(Save(seededStates, seededActions)) << db->LastErrorMessage();
  EXPECT_EQ(sql->Int("select count(*) from Issues where ResolutionCode = 'Fixed' and StatusCode = 'Open' and Fixed = 1"),
            0);
  EXPECT_EQ(sql->Int("select count(*) from Issues where ResolutionCode = 'Will not fix' and Valid = 0"), 0);
  EXPECT_EQ(sql->Text("select LastUpdated from Issues where ResolutionCode = 'New'"), untouched);
}

TEST_F(WorkflowSave, ASaveFromAnOutdatedCopyIsAConflict) {
  auto second = sitedb::Open(file);
  auto mine = GetSiteWorkflowRs(*db);
  auto theirs = GetSiteWorkflowRs(*second);
  ASSERT_TRUE(UpdateWorkflow(*db, "admin", mine, Decoded(SaveBody({State(-1, "New", "Open")}, {}))));
  const std::vector<std::string> first = Snapshot();
  EXPECT_FALSE(UpdateWorkflow(*second, "admin", theirs, Decoded(SaveBody(seededStates, seededActions))));
  EXPECT_EQ(second->LastErrorMessage(), kConflict);
  EXPECT_EQ(theirs->Value("Version").ToLong(), 2);  // the increment stays in memory
  EXPECT_EQ(Snapshot(), first);
  EXPECT_FALSE(second->Connection().InTransaction());
}

TEST_F(WorkflowSave, AValueTheEditorWouldNeverSendIsRefusedWithASentenceAndLeavesNothing) {
  struct Case {
    const char* field;
    const char* value;
    const char* sentence;
  };
  const std::vector<Case> cases = {
      {"StateId", "abc", "State id (abc) is not a valid number."},
      {"StateType", "", "State type () is not a valid number."},
      {"DiagramTop", "high", "Diagram top (high) is not a valid number."},
      {"DiagramWidth", "1e99", "Diagram width (1e99) is not a valid number."},
      {"StateName", "50%zz", "State name (50%zz) is not correctly URL-encoded."},
      {"ResolutionCode", "%", "Resolution (%) is not correctly URL-encoded."},
      {"StatusCode", "a%00b", "Status (a%00b) is not correctly URL-encoded."},
      {"ActionId", "x", "Action id (x) is not a valid number."},
      {"ActionType", "99999999999", "Action type (99999999999) is not a valid number."},
      {"FromId", "<script>", "From state (<script>) is not a valid number."},
      {"ToId", "", "To state () is not a valid number."},
      {"LineType", "70000", "Line type (70000) is not a valid number."},
      {"Points", "1,2,3", "Points (1,2,3) is not a list of x and y pairs."},
      {"Points", "1,y", "Point (y) is not a valid number."},
      {"CanBeAssignedTo", "\"Testers\",x", "Assignable group (x) is not in double quotes."},
  };
  const std::vector<std::string> before = Snapshot();
  const std::string body = SaveBody(seededStates, seededActions);
  auto refused = [&](const std::string& what, const std::string& posted, const std::string& sentence) {
    EXPECT_FALSE(UpdateWorkflow(*db, "admin", GetSiteWorkflowRs(*db), Decoded(posted))) << what;
    EXPECT_EQ(db->LastErrorMessage(), sentence) << what;
    EXPECT_FALSE(db->Connection().InTransaction()) << what;
    EXPECT_EQ(Snapshot(), before) << what;
  };
  for (const Case& c : cases) refused(c.field, Replaced(body, c.field, c.value), c.sentence);
  // A field one state lacks (posted under another name), or posted once where states are several.
  std::string lacking = body;
  const std::string fixed = "name=\"IssueFixed\"";
  lacking.replace(lacking.find(fixed), fixed.size(), "name=\"Other\"");
  refused("a state without IssueFixed", lacking,
          "The workflow that was sent is incomplete: a state or action lacks a field.");
  // The next writer on the same object commits its own change only.
  ASSERT_TRUE(Save({State(-1, "New", "Open")}, {}));
  EXPECT_EQ(sql->Int("select count(*) from WorkflowStates"), 1);
}

TEST_F(WorkflowSave, AnErrorInsideTheTransactionRaisesAfterRollingBack) {
  sql->Exec("CREATE TRIGGER RefuseFlags BEFORE UPDATE OF Fixed ON Issues BEGIN SELECT RAISE(ABORT, 'no'); END");
  for (EditorState& s : seededStates) s.fixed = false;
  const std::vector<std::string> before = Snapshot();
  db->SetLastErrorMessage("earlier");
  EXPECT_NE(testsupport::ErrorNumber([&] { Save(seededStates, seededActions); }), 0);
  EXPECT_EQ(db->LastErrorMessage(), "");
  EXPECT_FALSE(db->Connection().InTransaction());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WorkflowSave, AWorkflowRowIsNeededToSave) {
  sql->Exec("UPDATE Workflows SET SiteDefault = 0");
  auto none = GetSiteWorkflowRs(*db);
  const std::vector<std::string> before = Snapshot();
  EXPECT_NE(testsupport::ErrorNumber([&] { UpdateWorkflow(*db, "admin", none, Decoded(SaveBody({}, {}))); }), 0);
  EXPECT_EQ(testsupport::ErrorNumber(
                [&] { UpdateWorkflow(*db, "admin", GetWorkflowStatesRs(*db, 1), Decoded(SaveBody({}, {}))); }),
            kContractViolation);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(db->Connection().InTransaction());
}

TEST_F(WorkflowSave, ALongerValueThanItsColumnRefusesTheSave) {
  const std::vector<std::string> before = Snapshot();
  EditorState s = State(-1, std::string(51, 'r'), "Open");
  EXPECT_FALSE(Save({s}, {}));
  EXPECT_EQ(db->LastErrorMessage(), "State name cannot be longer than 50 characters.");
  EXPECT_EQ(Snapshot(), before);
  EditorState status = State(-1, "New", std::string(21, 's'));
  EXPECT_FALSE(Save({status}, {}));
  EXPECT_EQ(db->LastErrorMessage(), "Status cannot be longer than 20 characters.");
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WorkflowSave, OnlySiteAdministratorsSave) {
  const std::vector<std::string> before = Snapshot();
  EXPECT_FALSE(Save({}, {}, "alice"));
  EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WorkflowSave, TheSaveIsCalledByNameWithThePagesObjects) {
  auto rs = db->Call("GetSiteWorkflowRs").ToObject();
  auto form = automation::CreateObject("Brisquel.MultipartFormData");
  form->Put("BinaryData", Variant::Bytes([] {
              std::string body = SaveBody({State(-1, "New", "Open")}, {});
              return std::vector<uint8_t>(body.begin(), body.end());
            }()));
  EXPECT_TRUE(db->Call("UpdateWorkflow", {Variant("admin"), Variant(rs), Variant(form)}).ToBool())
      << db->LastErrorMessage();
  EXPECT_EQ(sql->Rows("select StateName from WorkflowStates"), std::vector<std::string>{"New"});
}

TEST(WorkflowLocateNewId, TheFirstPostedStateWithTheIdGivesTheNewId) {
  const std::vector<int32_t> posted = {-1, 5, -2, 5};
  const std::vector<int32_t> stored = {40, 41, 42, 43};
  const std::vector<std::pair<int32_t, int32_t>> cases = {{-1, 40}, {5, 41}, {-2, 42}, {7, -1}, {0, -1}};
  for (const auto& [old, expected] : cases) EXPECT_EQ(LocateNewId(old, posted, stored), expected) << old;
  EXPECT_EQ(LocateNewId(3, {}, {}), -1);
}

}  // namespace
}  // namespace brisquel::workflowtest
