// /Setup/WorkflowData.asp: the workflow editor's two loads, as the editor reads them.
//   ?Text=lists    the choice lists: resolutions, statuses, groups, the captions and keys of the
//                  fields a state may require;
//   ?Text=diagram  the site workflow's states and actions. The workflow row read for it is kept
//                  with the sign-in: WorkflowSave.asp hands it back to the save, whose version
//                  check then sees any save made since this load.
#include "automation/automation.h"
#include "automation/text.h"
#include "common/diagram_text.h"
#include "site/host.h"
#include "site/pages/records.h"
#include "site/pages/workflow_pages.h"
#include "site/routes.h"

namespace site {

using automation::Object;
using automation::Variant;
namespace diagram = tamsolo::diagram;

namespace {

using ObjectPtr = std::shared_ptr<Object>;

// The diagram keeps its coordinates as floats.
float Real(Object& rs, const char* field) { return static_cast<float>(FieldDouble(rs, field)); }

ObjectPtr Read(Object& db, const char* reader, std::vector<Variant> args = {}) {
  return db.Call(reader, std::move(args)).ToObject();
}

diagram::Texts Column(const ObjectPtr& rs, const char* field, bool skipBlank) {
  diagram::Texts out;
  EachRecord(rs, [&](Object& r) {
    std::string v = FieldText(r, field);
    if (!skipBlank || !v.empty()) out.push_back(std::move(v));
  });
  return out;
}

std::string ChoiceLists(Object& db) {
  diagram::ChoiceLists lists;
  lists.resolutions = Column(Read(db, "GetResolutionsRs"), "ResolutionCode", true);
  lists.statuses = Column(Read(db, "GetStatusCodesRs"), "StatusCode", true);
  lists.groups = Column(Read(db, "GetGroupsRs"), "GroupCode", true);
  EachRecord(Read(db, "GetIssueValidationFieldsRs"), [&](Object& r) {
    lists.fieldCaptions.push_back(FieldText(r, "FieldFriendlyName"));
    lists.fieldKeys.push_back(FieldText(r, "FieldName"));
  });
  return diagram::WriteChoiceLists(lists);
}

diagram::DiagramState State(Object& db, Object& r) {
  diagram::DiagramState s;
  s.id = FieldLong(r, "StateId");
  s.type = FieldLong(r, "StateType");
  s.name = FieldText(r, "StateName");
  s.resolutionCode = FieldText(r, "ResolutionCode");
  s.statusCode = FieldText(r, "StatusCode");
  s.valid = FieldFlag(r, "IssueValid");
  s.fixed = FieldFlag(r, "IssueFixed");
  s.top = Real(r, "DiagramTop");
  s.left = Real(r, "DiagramLeft");
  s.width = Real(r, "DiagramWidth");
  s.height = Real(r, "DiagramHeight");
  s.validations = Column(Read(db, "GetWorkflowStateValidationsRs", {Variant(s.id)}), "FieldName", false);
  if (s.type == 1) {
    s.createByGroups = Column(Read(db, "GetWorkflowStateGroupsRs", {Variant(s.id)}), "GroupCode", false);
    s.createByTeamLeads = Column(Read(db, "GetWorkflowStateTeamLeadsRs", {Variant(s.id)}), "GroupCode", false);
  }
  return s;
}

diagram::DiagramAction Action(Object& db, Object& r) {
  diagram::DiagramAction a;
  a.id = FieldLong(r, "ActionId");
  a.type = FieldLong(r, "ActionType");
  a.fromId = FieldLong(r, "FromStateId");
  a.toId = FieldLong(r, "ToStateId");
  a.lineType = FieldLong(r, "LineType");
  a.name = FieldText(r, "ActionName");
  a.allowAutoAssign = FieldFlag(r, "AllowAutomatic");
  a.autoAssignsTo = FieldText(r, "GroupCode");
  EachRecord(Read(db, "GetWorkflowActionPtsRs", {Variant(a.id)}),
             [&](Object& p) { a.points.emplace_back(Real(p, "x"), Real(p, "y")); });
  a.canBeAssignedTo = Column(Read(db, "GetWorkflowActionAssignmentsRs", {Variant(a.id)}), "GroupCode", false);
  return a;
}

std::string DiagramText(PageContext& page, Object& db) {
  ObjectPtr workflow = Read(db, "GetSiteWorkflowRs");
  if (page.SignIn())
    page.SiteHost().Sessions().Keep(page.SignIn()->id, kKeptWorkflow,
                                    db.Call("rsToString", {Variant(workflow)}).ToText());
  diagram::Diagram d;
  if (AtEnd(*workflow)) return diagram::WriteDiagram(0, d);
  const int32_t workflowId = FieldLong(*workflow, "WorkflowId");
  const int32_t version = FieldLong(*workflow, "Version");
  EachRecord(Read(db, "GetWorkflowStatesRs", {Variant(workflowId)}), [&](Object& r) { d.states.push_back(State(db, r)); });
  EachRecord(Read(db, "GetWorkflowActionsRs", {Variant(workflowId)}), [&](Object& r) {
    diagram::DiagramAction a = Action(db, r);
    if (a.fromId != a.toId) {
      d.actions.push_back(std::move(a));
      return;
    }
    // An action from a state to itself is the state's reassignment rule.
    for (diagram::DiagramState& s : d.states)
      if (s.id == a.fromId) s.reassignGroups = a.canBeAssignedTo;
  });
  return diagram::WriteDiagram(version, d);
}

void WorkflowDataPage(PageContext& page) {
  auto db = page.Database();
  const std::string which = page.Query("Text");
  std::string text;
  if (automation::EqualsNoCase(which, "lists")) text = ChoiceLists(*db);
  else if (automation::EqualsNoCase(which, "diagram")) text = DiagramText(page, *db);
  else return page.SendText("text/plain; charset=utf-8", "", 404);
  page.SendText("text/plain; charset=utf-8", text);
}

AddPage workflowData("/Setup/WorkflowData.asp", {.get = WorkflowDataPage});

}  // namespace

}  // namespace site
