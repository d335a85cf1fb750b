#include "configuration/workflow_definition.h"

#include <cfloat>
#include <cmath>
#include <string_view>
#include <utility>

#include "ado/ado.h"
#include "automation/text.h"
#include "core/conversions.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"

namespace brisquel {

using automation::Variant;
namespace vberr = automation::vberr;

namespace {

constexpr std::string_view kClass = "Database";
constexpr std::string_view kSave = "UpdateWorkflow";
constexpr const char* kWorkflowChanged =
    "Another user has changed the workflow information. You must cancel your changes.";

RecordsetPtr ReadById(std::string_view procedure, Database& db, std::string_view sql, int32_t id) {
  return Procedure(kClass, procedure, [&] { return db.Read(sql, {ado::Param::Long(id)}); });
}

}  // namespace

// ---- The readers

RecordsetPtr GetSiteWorkflowRs(Database& db) {
  return Procedure(kClass, "GetSiteWorkflowRs",
                   [&] { return db.Read("SELECT * from Workflows where SiteDefault = 1"); });
}

RecordsetPtr GetWorkflowResolutionsRs(Database& db, int32_t workflowId) {
  return ReadById("GetWorkflowResolutionsRs", db,
                  "SELECT distinct ResolutionCode from WorkflowStates where WorkflowId = ? and StateType = 0 "
                  "order by ResolutionCode",
                  workflowId);
}

RecordsetPtr GetWorkflowStatesRs(Database& db, int32_t workflowId) {
  return ReadById("GetWorkflowStatesRs", db,
                  "SELECT * from WorkflowStates where WorkflowId = ? order by ResolutionCode, StatusCode desc",
                  workflowId);
}

RecordsetPtr GetWorkflowStateGroupsRs(Database& db, int32_t stateId) {
  return ReadById("GetWorkflowStateGroupsRs", db, "SELECT * from WorkflowStateGroups where StateId = ?", stateId);
}

RecordsetPtr GetWorkflowStateTeamLeadsRs(Database& db, int32_t stateId) {
  return ReadById("GetWorkflowStateTeamLeadsRs", db, "SELECT * from WorkflowStateTeamLeads where StateId = ?",
                  stateId);
}

RecordsetPtr GetWorkflowActionsRs(Database& db, int32_t workflowId) {
  return ReadById("GetWorkflowActionsRs", db, "SELECT * from WorkflowActions where WorkflowId = ?", workflowId);
}

RecordsetPtr GetWorkflowActionPtsRs(Database& db, int32_t actionId) {
  return ReadById("GetWorkflowActionPtsRs", db, "SELECT * from WorkflowActionPts where ActionId = ?", actionId);
}

RecordsetPtr GetWorkflowStateValidationsRs(Database& db, int32_t stateId) {
  return ReadById("GetWorkflowStateValidationsRs", db, "SELECT * from WorkflowStateValidations where StateId = ?",
                  stateId);
}

RecordsetPtr GetWorkflowActionAssignmentsRs(Database& db, int32_t actionId) {
  return ReadById("GetWorkflowActionAssignmentsRs", db,
                  "SELECT * from WorkflowActionAssignments where ActionId = ?", actionId);
}

// ---- The save: the posted form, read once

namespace {

// The editor's value for "no groups".
constexpr std::string_view kEmptyPair = "\"\"";

struct PostedState {
  int32_t postedId = 0;  // the editor's number, by which posted actions name the state
  int32_t type = 0;
  std::string name, resolutionCode, statusCode;
  bool valid = false, fixed = false;
  float top = 0, left = 0, width = 0, height = 0;
  std::vector<std::string> validations;
  std::vector<std::string> createByGroups, createByTeamLeads;  // the issue-create state's only
};

struct PostedAction {
  int32_t type = 0;
  int32_t fromId = 0, toId = 0;  // posted StateIds
  int16_t lineType = 0;
  std::string name;
  bool allowAutomatic = false;
  std::string autoAssignsTo;
  std::vector<std::pair<float, float>> points;
  std::vector<std::string> canBeAssignedTo;
};

struct WorkflowPost {
  std::vector<PostedState> states;
  std::vector<PostedAction> actions;
};

// What the editor posts is read here once, before anything is written: a value it would never send
// (a number that does not convert, a name that is no valid URL encoding, a field missing from a
// row) refuses the save with a sentence naming it.
constexpr std::string_view kIncomplete = "The workflow that was sent is incomplete: a state or action lacks a field.";

// The posted rows of one kind (states or actions). The key field says how many rows came and
// whether as single values or as lists; every other field is read the same way, so a field that
// came otherwise than the key, or with too few values, leaves the workflow incomplete.
class PostedRows {
 public:
  PostedRows(const FormFields& f, std::string_view key) : f_(f), count_(f.Values(key).size()) {}
  size_t Count() const { return count_; }

  const std::string& At(std::string_view name, size_t i) const {
    static const std::string kNotPosted;
    const std::vector<std::string>& v = f_.Values(name);
    if (count_ == 1) {
      if (v.size() > 1) Refuse(std::string(kIncomplete));
      return v.empty() ? kNotPosted : v[0];
    }
    if (v.size() < 2 || i >= v.size()) Refuse(std::string(kIncomplete));
    return v[i];
  }

 private:
  const FormFields& f_;
  size_t count_;
};

// A posted number converted as the editor's numbers are; one that does not convert (or does not
// fit) refuses the save naming `label`.
template <class F>
auto Number(std::string_view label, const std::string& s, F&& convert) {
  try {
    return convert();
  } catch (const automation::ComError&) {
    Refuse(std::string(label) + " (" + s + ") is not a valid number.");
  }
}
int32_t Whole(std::string_view label, const std::string& s) {
  return Number(label, s, [&] { return Variant(s).ToLong(); });
}
int16_t Short(std::string_view label, const std::string& s) {
  return Number(label, s, [&] { return Variant(s).ToInt(); });
}
float Single(std::string_view label, const std::string& s) {
  return Number(label, s, [&] {
    double d = Variant(s).ToDouble();
    if (std::fabs(d) > FLT_MAX) automation::RaiseRuntime(vberr::kOverflow);
    return static_cast<float>(d);
  });
}
// A name the editor posts URL-encoded.
std::string Decoded(std::string_view label, const std::string& s) {
  std::optional<std::string> decoded = UrlDecoded(s);
  if (!decoded) Refuse(std::string(label) + " (" + s + ") is not correctly URL-encoded.");
  return std::move(*decoded);
}

// The entries of a comma-separated text; none for the empty text.
std::vector<std::string> SplitAtCommas(std::string_view s) {
  std::vector<std::string> out;
  if (s.empty()) return out;
  for (size_t start = 0;;) {
    size_t comma = s.find(',', start);
    out.emplace_back(s.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return out;
    start = comma + 1;
  }
}

std::vector<std::string> GroupList(const std::string& s) {
  return s == kEmptyPair ? std::vector<std::string>{} : SplitAtCommas(s);
}

// x,y pairs; a pair of -1 and -1 stands for no point.
std::vector<std::pair<float, float>> Points(const std::string& s) {
  std::vector<std::string> entries = SplitAtCommas(s);
  if (entries.size() % 2 != 0) Refuse("Points (" + s + ") is not a list of x and y pairs.");
  std::vector<std::pair<float, float>> out;
  for (size_t i = 0; i < entries.size(); i += 2) {
    float x = Single("Point", entries[i]), y = Single("Point", entries[i + 1]);
    if (!(x == -1 && y == -1)) out.emplace_back(x, y);
  }
  return out;
}

// Quoted group codes: each entry less its enclosing characters, inner doubled quotes made single.
std::vector<std::string> QuotedGroups(const std::string& s) {
  std::vector<std::string> out;
  if (s == kEmptyPair) return out;
  for (const std::string& entry : SplitAtCommas(s)) {
    if (automation::CharLength(entry) < 2) Refuse("Assignable group (" + entry + ") is not in double quotes.");
    const size_t first = automation::HeadChars(entry, 1).size();
    std::string_view inner(entry);
    inner = inner.substr(first, inner.size() - first - automation::TailChars(entry, 1).size());
    std::string code;
    for (size_t i = 0; i < inner.size(); ++i) {
      code += inner[i];
      if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
    }
    out.push_back(std::move(code));
  }
  return out;
}

PostedState ReadState(const PostedRows& rows, size_t i) {
  auto at = [&](std::string_view name) -> const std::string& { return rows.At(name, i); };
  PostedState s;
  s.postedId = Whole("State id", at("StateId"));
  s.type = Whole("State type", at("StateType"));
  s.name = Decoded("State name", at("StateName"));
  s.resolutionCode = Decoded("Resolution", at("ResolutionCode"));
  s.statusCode = Decoded("Status", at("StatusCode"));
  s.valid = automation::EqualsNoCase(at("IssueValid"), "on");
  s.fixed = automation::EqualsNoCase(at("IssueFixed"), "on");
  s.top = Single("Diagram top", at("DiagramTop"));
  s.left = Single("Diagram left", at("DiagramLeft"));
  s.width = Single("Diagram width", at("DiagramWidth"));
  s.height = Single("Diagram height", at("DiagramHeight"));
  for (std::string& v : SplitAtCommas(at("Validations")))
    if (!automation::EqualsNoCase(v, "*none*")) s.validations.push_back(std::move(v));
  if (s.type == 1) {
    s.createByGroups = GroupList(at("CreateByGroups"));
    s.createByTeamLeads = GroupList(at("CreateByTeamLeads"));
  }
  CheckLength(s.name, 50, "State name");
  CheckLength(s.resolutionCode, 50, "Resolution");
  CheckLength(s.statusCode, 20, "Status");
  for (const std::string& field : s.validations) CheckLength(field, 20, "Field name");
  for (const std::string& g : s.createByGroups) CheckLength(g, 50, "Group");
  for (const std::string& g : s.createByTeamLeads) CheckLength(g, 50, "Group");
  return s;
}

PostedAction ReadAction(const PostedRows& rows, size_t i) {
  auto at = [&](std::string_view name) -> const std::string& { return rows.At(name, i); };
  PostedAction a;
  Whole("Action id", at("ActionId"));  // must be a number; the new row gets an id of its own
  a.type = Whole("Action type", at("ActionType"));
  a.fromId = Whole("From state", at("FromId"));
  a.toId = Whole("To state", at("ToId"));
  a.lineType = Short("Line type", at("LineType"));
  a.name = at("ActionName");
  a.points = Points(at("Points"));
  a.canBeAssignedTo = QuotedGroups(at("CanBeAssignedTo"));
  a.allowAutomatic = automation::EqualsNoCase(at("AllowAutoAssign"), "yes");
  a.autoAssignsTo = at("AutoAssignsTo");
  CheckLength(a.name, 50, "Action name");
  CheckLength(a.autoAssignsTo, 20, "Group");
  for (const std::string& g : a.canBeAssignedTo) CheckLength(g, 20, "Group");
  return a;
}

WorkflowPost ReadWorkflowPost(const FormFields& f) {
  WorkflowPost post;
  PostedRows states(f, "StateName");
  for (size_t i = 0; i < states.Count(); ++i) post.states.push_back(ReadState(states, i));
  PostedRows actions(f, "ActionId");
  for (size_t i = 0; i < actions.Count(); ++i) post.actions.push_back(ReadAction(actions, i));
  return post;
}

}  // namespace

int32_t LocateNewId(int32_t oldId, const std::vector<int32_t>& oldIds, const std::vector<int32_t>& newIds) {
  return Procedure(kClass, "LocateNewId", [&]() -> int32_t {
    for (size_t i = 0; i < oldIds.size(); ++i)
      if (oldIds[i] == oldId) return newIds.at(i);
    return -1;
  });
}

// ---- The save: the statements

namespace {

constexpr std::string_view kStateInsert =
    "set nocount on; insert into WorkflowStates (WorkflowId, StateName, StateType, ResolutionCode, StatusCode, "
    "IssueValid, IssueFixed, DiagramTop, DiagramLeft, DiagramWidth, DiagramHeight) values (?, ?, ?, ?, ?, ?, ?, ?, "
    "?, ?, ?); select @@identity";
constexpr std::string_view kActionInsert =
    "set nocount on; insert into WorkflowActions (WorkflowId, ActionType, FromStateId, ToStateId, LineType, "
    "ActionName, AllowAutomatic, GroupCode) values (?, ?, ?, ?, ?, ?, ?, ?); select @@identity";

// The definition's rows, those that hang on actions and states first.
constexpr std::string_view kDeleteDefinition =
    "delete from WorkflowActionPts where ActionId in "
    "    (select WorkflowActions.ActionId from WorkflowActions where WorkflowActions.WorkflowId = ?); "
    "delete from WorkflowActionAssignments where ActionId in "
    "    (select WorkflowActions.ActionId from WorkflowActions where WorkflowActions.WorkflowId = ?); "
    "delete from WorkflowStateValidations where StateId in "
    "    (select WorkflowStates.StateId from WorkflowStates where WorkflowStates.WorkflowId = ?); "
    "delete from WorkflowActions where WorkflowId = ? ; "
    "delete from WorkflowStateGroups where StateId in "
    "    (select WorkflowStates.StateId from WorkflowStates where WorkflowStates.WorkflowId = ?); "
    "delete from WorkflowStateTeamLeads where StateId in "
    "    (select WorkflowStates.StateId from WorkflowStates where WorkflowStates.WorkflowId = ?); "
    "delete from WorkflowStates where WorkflowId = ?";

// Only issues whose flags change are written, so the others keep their row versions.
constexpr std::string_view kIssueFlags =
    "update Issues set Valid = WorkflowStates.IssueValid, Fixed = WorkflowStates.IssueFixed from WorkflowStates "
    "where Issues.ResolutionCode = WorkflowStates.ResolutionCode and Issues.StatusCode = WorkflowStates.StatusCode "
    "and (Issues.Valid is not WorkflowStates.IssueValid or Issues.Fixed is not WorkflowStates.IssueFixed)";

constexpr std::string_view kRuleQuery =
    "select NotificationRuleId, FromState.ResolutionCode as FromResolutionCode, FromState.StatusCode as "
    "FromStatusCode, ToState.ResolutionCode as ToResolutionCode, ToState.StatusCode as ToStatusCode "
    "from EMailNotificationRules "
    "   inner join WorkflowActions on WorkflowActions.ActionId = EMailNotificationRules.ActionId "
    "   inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId "
    "   inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId "
    "where EMailNotificationRules.NotificationEventType = 4 ";

// The moves between two code pairs, in any workflow.
constexpr std::string_view kMoveJoin =
    "          inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId "
    "          inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId "
    "          where FromState.ResolutionCode = ? and FromState.StatusCode = ? and ToState.ResolutionCode = ? and "
    "ToState.StatusCode = ?) ";

const std::string& MoveCountSql() {
  static const std::string sql = "select count(*) from (select WorkflowActions.ActionId from WorkflowActions " +
                                 std::string(kMoveJoin);
  return sql;
}
const std::string& RuleRelinkSql() {
  static const std::string sql =
      "update EMailNotificationRules set ActionId = (select WorkflowActions.ActionId from WorkflowActions " +
      std::string(kMoveJoin) + "   where EMailNotificationRules.NotificationRuleId = ? ";
  return sql;
}
constexpr std::string_view kRuleDelete =
    "delete from EMailNotificationRules where EMailNotificationRules.NotificationRuleId = ? ";

struct TransitionRule {
  int32_t id = 0;
  std::string fromResolution, fromStatus, toResolution, toStatus;
};

ado::Param SingleParam(float v, std::string name) {
  return ado::Param{std::move(name), ado::adSingle, ado::adParamInput, 0, Variant::Single(v)};
}

// A statement of the save whose failure refuses it: the sentence is taken from the connection's
// errors before the transaction guard rolls everything back.
template <class F>
void Reported(Database& db, F&& statement) {
  WriteStep(db, statement, kWorkflowChanged);
}

// Inserts one row and returns its new identity.
int32_t InsertReturningId(Database& db, std::string_view sql, const ado::Params& params) {
  std::optional<int32_t> id;
  Reported(db, [&] { id = db.One<int32_t>(sql, params); });
  if (!id) automation::RaiseRuntime(vberr::kFail, "The insert gave no identity.");
  return *id;
}

void InsertGroups(Database& db, std::string_view table, int32_t stateId, const std::vector<std::string>& groups) {
  const std::string sql = "insert into " + std::string(table) + " (StateId, GroupCode) values (?, ?)";
  for (const std::string& g : groups)
    Reported(db, [&] {
      db.Exec(sql, {ado::Param::Long(stateId, "StateId"), ado::Param::Text(g, 50, "GroupCode")});
    });
}

int32_t InsertState(Database& db, int32_t workflowId, const PostedState& s) {
  const int32_t id = InsertReturningId(
      db, kStateInsert,
      {ado::Param::Long(workflowId, "WorkflowId"), ado::Param::Text(s.name, 50, "StateName"),
       ado::Param::Long(s.type, "StateType"), ado::Param::Text(s.resolutionCode, 50, "ResolutionCode"),
       ado::Param::Text(s.statusCode, 20, "StatusCode"), ado::Param::Bool(s.valid, "IssueValid"),
       ado::Param::Bool(s.fixed, "IssueFixed"), SingleParam(s.top, "DiagramTop"), SingleParam(s.left, "DiagramLeft"),
       SingleParam(s.width, "DiagramWidth"), SingleParam(s.height, "DiagramHeight")});
  for (const std::string& field : s.validations)
    Reported(db, [&] {
      db.Exec("insert into WorkflowStateValidations (StateId, FieldName) values (?, ?)",
              {ado::Param::Long(id), ado::Param::Text(field, 20, "FieldName")});
    });
  InsertGroups(db, "WorkflowStateGroups", id, s.createByGroups);
  InsertGroups(db, "WorkflowStateTeamLeads", id, s.createByTeamLeads);
  return id;
}

void InsertAction(Database& db, int32_t workflowId, const PostedAction& a, int32_t fromStateId, int32_t toStateId) {
  const int32_t id = InsertReturningId(
      db, kActionInsert,
      {ado::Param::Long(workflowId), ado::Param::Long(a.type), ado::Param::Long(fromStateId),
       ado::Param::Long(toStateId), ado::Param::Long(int32_t{a.lineType}), ado::Param::Text(a.name, 50),
       ado::Param::Bool(a.allowAutomatic), ado::Param::Text(a.autoAssignsTo, 20)});
  for (const auto& point : a.points)
    Reported(db, [&] {
      db.Exec("insert into WorkflowActionPts (ActionId, x, y) values (?, ?, ?)",
              {ado::Param::Long(id), SingleParam(point.first, "x"), SingleParam(point.second, "y")});
    });
  for (const std::string& g : a.canBeAssignedTo)
    Reported(db, [&] {
      db.Exec("insert into WorkFlowActionAssignments (ActionId, GroupCode) values (?, ?)",
              {ado::Param::Long(id), ado::Param::Text(g, 20, "GroupCode")});
    });
}

void InsertDefinition(Database& db, int32_t workflowId, const WorkflowPost& post) {
  std::vector<int32_t> postedIds, newIds;
  for (const PostedState& s : post.states) {
    postedIds.push_back(s.postedId);
    newIds.push_back(InsertState(db, workflowId, s));
  }
  for (const PostedAction& a : post.actions)
    InsertAction(db, workflowId, a, LocateNewId(a.fromId, postedIds, newIds), LocateNewId(a.toId, postedIds, newIds));
}

std::vector<TransitionRule> TransitionRules(Database& db) {
  std::vector<TransitionRule> rules;
  db.Each(kRuleQuery, {}, [&](const sql::Row& r) {
    rules.push_back({r.Long("NotificationRuleId"), r.Text("FromResolutionCode"), r.Text("FromStatusCode"),
                     r.Text("ToResolutionCode"), r.Text("ToStatusCode")});
  });
  return rules;
}

ado::Params MoveCodes(const TransitionRule& r, char n) {
  const std::string s(1, n);
  return {ado::Param::Text(r.fromResolution, 50, "FromResolutionCode" + s),
          ado::Param::Text(r.fromStatus, 50, "FromStatusCode" + s),
          ado::Param::Text(r.toResolution, 50, "ToResolutionCode" + s),
          ado::Param::Text(r.toStatus, 50, "ToStatusCode" + s)};
}

// A rule follows the one move that joins its old codes, and goes when none does. Two such moves
// leave the rule's action undecided: the save is refused as the database refuses a subquery
// that gives more than one value.
void RelinkRule(Database& db, const TransitionRule& r) {
  Reported(db, [&] {
    const int32_t moves = db.One<int32_t>(MoveCountSql(), MoveCodes(r, '1')).value_or(0);
    if (moves == 0) {
      db.Exec(kRuleDelete, {ado::Param::Long(r.id, "NotificationRuleId2")});
      return;
    }
    if (moves > 1) {
      ado::ErrorInfo e{ado::err::kCommandFailed, 512, "SQLite",
                       "Subquery returned more than 1 value.", "21000"};
      db.Connection().ErrorList().Clear();
      db.Connection().ErrorList().Add(e);
      automation::RaiseError(e.number, e.source, e.description);
    }
    ado::Params p = MoveCodes(r, '2');
    p.push_back(ado::Param::Long(r.id, "NotificationRuleId1"));
    db.Exec(RuleRelinkSql(), p);
  });
}

}  // namespace

bool UpdateWorkflow(Database& db, const std::string& submittedByUserId, RecordsetPtr rsWorkflow,
                    std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, kSave, [&] {
    ado::Recordset& rs = HeldFirstRow(rsWorkflow, "Workflows", kSave);
    if (!UserIsSiteAdmin(db, submittedByUserId)) Refuse(kPermissionDenied);
    const WorkflowPost post = ReadWorkflowPost(PostedFields(formData, kSave));
    const int32_t workflowId = rs.Value("WorkflowId").ToLong();
    const Variant version = rs.Value("Version");

    Database::Transaction tx(db);
    // The rules' moves by their codes as they are before the save.
    const std::vector<TransitionRule> rules = TransitionRules(db);
    rs.SetValue("Version", Variant(version.ToLong() + 1));
    Reported(db, [&] { db.WriteBack(rs); });
    Reported(db, [&] { db.Exec(kDeleteDefinition, ado::Params(7, ado::Param::Long(workflowId))); });
    InsertDefinition(db, workflowId, post);
    db.Exec(kIssueFlags);
    for (const TransitionRule& r : rules) RelinkRule(db, r);
    tx.Commit();
    return true;
  });
}

namespace {
automation::Register<Database> reg([](auto& c) {
  c.Method("GetSiteWorkflowRs", &GetSiteWorkflowRs);
  c.Method("GetWorkflowResolutionsRs", &GetWorkflowResolutionsRs);
  c.Method("GetWorkflowStatesRs", &GetWorkflowStatesRs);
  c.Method("GetWorkflowStateGroupsRs", &GetWorkflowStateGroupsRs);
  c.Method("GetWorkflowStateTeamLeadsRs", &GetWorkflowStateTeamLeadsRs);
  c.Method("GetWorkflowActionsRs", &GetWorkflowActionsRs);
  c.Method("GetWorkflowActionPtsRs", &GetWorkflowActionPtsRs);
  c.Method("GetWorkflowStateValidationsRs", &GetWorkflowStateValidationsRs);
  c.Method("GetWorkflowActionAssignmentsRs", &GetWorkflowActionAssignmentsRs);
  c.Method("UpdateWorkflow", &UpdateWorkflow);
});
}  // namespace

}  // namespace brisquel
