// The diagram editor's side of a workflow save, for the tests: states and actions as the editor
// holds them, the multipart body it posts for them (boundary line, parts in its order, numbers
// formatted as it formats them), the seeded site workflow as the editor loads it from the
// readers, and a demo site with a second, ordinary user.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "configuration/workflow_definition.h"
#include "core/database.h"
#include "core/multipart.h"
#include "support/site_db.h"

namespace brisquel::workflowtest {

struct EditorState {
  long id = 0;
  int type = 0;  // 1: the issue-create state
  std::string name, resolutionCode, statusCode;
  bool valid = false, fixed = false;
  double top = 0, left = 0, width = 0, height = 0;
  std::vector<std::string> validations;
  std::vector<std::string> createByGroups, createByTeamLeads;
};

struct EditorAction {
  long id = 0;
  long type = 0;
  long fromId = 0, toId = 0;
  int lineType = 0;
  std::vector<std::pair<double, double>> points;  // the bends only
  std::string name;
  bool allowAutoAssign = false;
  std::string autoAssignsTo;
  std::vector<std::string> canBeAssignedTo;
};

inline constexpr const char* kBoundary = "-----------------------------7d114d2a100b3e";

inline std::string Fixed6(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

inline std::string Joined(const std::vector<std::string>& items, const std::string& none) {
  if (items.empty()) return none;
  std::string s;
  for (const std::string& i : items) s += (s.empty() ? "" : ",") + i;
  return s;
}

// Each code in double quotes, inner quotes doubled; "" for none.
inline std::string Quoted(const std::vector<std::string>& groups) {
  if (groups.empty()) return "\"\"";
  std::string s;
  for (const std::string& g : groups) {
    std::string q = "\"";
    for (char c : g) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    s += (s.empty() ? "" : ",") + q + "\"";
  }
  return s;
}

inline std::string Points(const std::vector<std::pair<double, double>>& pts) {
  if (pts.empty()) return "-1,-1";
  std::string s;
  for (const auto& [x, y] : pts) s += (s.empty() ? "" : ",") + Fixed6(x) + "," + Fixed6(y);
  return s;
}

// A body part by part, as the editor writes it.
class Body {
 public:
  Body& Part(const std::string& name, const std::string& value) {
    text_ += std::string(kBoundary) + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
             "\r\n";
    return *this;
  }
  std::string Text() const { return text_ + kBoundary + "--\r\n"; }

 private:
  std::string text_;
};

inline void StateParts(Body& b, const EditorState& s) {
  const bool create = s.type == 1;
  b.Part("StateId", std::to_string(s.id)).Part("StateType", std::to_string(s.type));
  b.Part("DiagramTop", Fixed6(s.top)).Part("DiagramLeft", Fixed6(s.left));
  b.Part("DiagramWidth", Fixed6(s.width)).Part("DiagramHeight", Fixed6(s.height));
  b.Part("Validations", Joined(s.validations, "*none*"));
  b.Part("StateName", create ? "na" : s.name).Part("ResolutionCode", create ? "na" : s.resolutionCode);
  b.Part("StatusCode", create ? "na" : s.statusCode);
  b.Part("IssueValid", create ? "na" : s.valid ? "on" : "off");
  b.Part("IssueFixed", create ? "na" : s.fixed ? "on" : "off");
  b.Part("CreateByGroups", create ? Joined(s.createByGroups, "\"\"") : "\"\"");
  b.Part("CreateByTeamLeads", create ? Joined(s.createByTeamLeads, "\"\"") : "\"\"");
}

inline void ActionParts(Body& b, const EditorAction& a) {
  b.Part("ActionId", std::to_string(a.id)).Part("ActionType", std::to_string(a.type));
  b.Part("FromId", std::to_string(a.fromId)).Part("ToId", std::to_string(a.toId));
  b.Part("LineType", std::to_string(a.lineType)).Part("Points", Points(a.points));
  b.Part("ActionName", a.name).Part("AllowAutoAssign", a.allowAutoAssign ? "yes" : "no");
  b.Part("AutoAssignsTo", a.autoAssignsTo).Part("CanBeAssignedTo", Quoted(a.canBeAssignedTo));
}

// The body of a save: the states, then for each state its actions (in the order given).
inline std::string SaveBody(const std::vector<EditorState>& states, const std::vector<EditorAction>& actions) {
  Body b;
  b.Part("WorkflowId", "1");
  for (const EditorState& s : states) StateParts(b, s);
  for (const EditorState& s : states)
    for (const EditorAction& a : actions)
      if (a.fromId == s.id) ActionParts(b, a);
  for (const EditorAction& a : actions) {  // actions from no posted state come last
    bool placed = false;
    for (const EditorState& s : states) placed = placed || a.fromId == s.id;
    if (!placed) ActionParts(b, a);
  }
  return b.Text();
}

// The posted form as the page decodes it.
inline std::shared_ptr<MultipartFormData> Decoded(const std::string& body) {
  auto form = std::make_shared<MultipartFormData>();
  form->SetBody(body);
  return form;
}

inline std::vector<std::string> Texts(const RecordsetPtr& rs, const char* column) {
  std::vector<std::string> out;
  if (rs->IsBOF() && rs->IsEOF()) return out;
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) out.push_back(rs->Value(column).ToText());
  return out;
}

// The workflow as the editor loads it through the readers. A state's reassignment rule (an action
// from a state to itself) comes back as an ordinary action here; the editor posts it as action
// 0 of type 2 without points, as below.
inline void LoadWorkflow(Database& db, int32_t workflowId, std::vector<EditorState>& states,
                         std::vector<EditorAction>& actions) {
  auto rs = GetWorkflowStatesRs(db, workflowId);
  for (; !rs->IsEOF(); rs->MoveNext()) {
    EditorState s;
    s.id = rs->Value("StateId").ToLong();
    s.type = rs->Value("StateType").ToLong();
    s.name = rs->Value("StateName").ToText();
    s.resolutionCode = rs->Value("ResolutionCode").ToText();
    s.statusCode = rs->Value("StatusCode").ToText();
    s.valid = rs->Value("IssueValid").ToBool();
    s.fixed = rs->Value("IssueFixed").ToBool();
    s.top = rs->Value("DiagramTop").ToDouble();
    s.left = rs->Value("DiagramLeft").ToDouble();
    s.width = rs->Value("DiagramWidth").ToDouble();
    s.height = rs->Value("DiagramHeight").ToDouble();
    s.validations = Texts(GetWorkflowStateValidationsRs(db, s.id), "FieldName");
    s.createByGroups = Texts(GetWorkflowStateGroupsRs(db, s.id), "GroupCode");
    s.createByTeamLeads = Texts(GetWorkflowStateTeamLeadsRs(db, s.id), "GroupCode");
    states.push_back(s);
  }
  auto acts = GetWorkflowActionsRs(db, workflowId);
  for (; !acts->IsEOF(); acts->MoveNext()) {
    EditorAction a;
    a.id = acts->Value("ActionId").ToLong();
    a.type = acts->Value("ActionType").ToLong();
    a.fromId = acts->Value("FromStateId").ToLong();
    a.toId = acts->Value("ToStateId").ToLong();
    a.lineType = acts->Value("LineType").ToLong();
    a.name = acts->Value("ActionName").ToText();
    a.allowAutoAssign = acts->Value("AllowAutomatic").ToBool();
    a.autoAssignsTo = acts->Value("GroupCode").ToText();
    a.canBeAssignedTo = Texts(GetWorkflowActionAssignmentsRs(db, a.id), "GroupCode");
    auto pts = GetWorkflowActionPtsRs(db, a.id);
    for (; !pts->IsEOF(); pts->MoveNext()) a.points.emplace_back(pts->Value("x").ToDouble(), pts->Value("y").ToDouble());
    if (a.fromId == a.toId) a = EditorAction{0, 2, a.fromId, a.toId, 0, {}, "", false, "", a.canBeAssignedTo};
    actions.push_back(a);
  }
}

// A demo site; "alice" is an ordinary user, "admin" the site administrator.
class WorkflowSite : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    sql = std::make_unique<sitedb::Db>(file);
    db = sitedb::Open(file);
  }

  bool Save(const std::vector<EditorState>& states, const std::vector<EditorAction>& actions,
            const std::string& user = "admin") {
    return UpdateWorkflow(*db, user, GetSiteWorkflowRs(*db), Decoded(SaveBody(states, actions)));
  }

  // Every row of the site workflow's definition, ids left out: states, then actions with their
  // states' names, points and groups.
  std::vector<std::string> Definition() {
    std::vector<std::string> rows = sql->Rows(
        "select StateName, StateType, ResolutionCode, StatusCode, IssueValid, IssueFixed, DiagramTop, DiagramLeft, "
        "DiagramWidth, DiagramHeight, (select group_concat(FieldName) from WorkflowStateValidations v where "
        "v.StateId = s.StateId), (select group_concat(GroupCode) from (select GroupCode from WorkflowStateGroups g "
        "where g.StateId = s.StateId order by GroupCode)), (select group_concat(GroupCode) from "
        "WorkflowStateTeamLeads t where t.StateId = s.StateId) from WorkflowStates s where WorkflowId = 1 "
        "order by StateName, StateType");
    for (const std::string& a : sql->Rows(
             "select a.ActionType, f.StateName, t.StateName, a.LineType, a.ActionName, a.AllowAutomatic, a.GroupCode, "
             "(select group_concat(x || ',' || y, ';') from WorkflowActionPts p where p.ActionId = a.ActionId), "
             "(select group_concat(GroupCode) from (select GroupCode from WorkflowActionAssignments g where "
             "g.ActionId = a.ActionId order by GroupCode)) from WorkflowActions a "
             "left join WorkflowStates f on f.StateId = a.FromStateId "
             "left join WorkflowStates t on t.StateId = a.ToStateId where a.WorkflowId = 1 "
             "order by f.StateName, t.StateName, a.ActionName"))
      rows.push_back("action " + a);
    return rows;
  }

  std::filesystem::path file;
  std::unique_ptr<sitedb::Db> sql;
  std::shared_ptr<Database> db;
};

}  // namespace brisquel::workflowtest
