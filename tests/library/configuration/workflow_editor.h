// The diagram editor's side of a workflow save, for the tests: the body it posts
// (support/workflow_body.h), the seeded site workflow as the editor loads it from the readers, and
// a demo site with a second, ordinary user.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "configuration/workflow_definition.h"
#include "core/database.h"
#include "core/multipart.h"
#include "support/site_db.h"
#include "support/workflow_body.h"

namespace brisquel::workflowtest {

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
