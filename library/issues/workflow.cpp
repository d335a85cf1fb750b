#include "issues/workflow.h"

#include "ado/ado.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "issues/form_values.h"

namespace brisquel {

using automation::Variant;
using automation::EqualsNoCase;

namespace {

constexpr std::string_view kClass = "Database";

ado::Param Code(const std::string& s) { return ado::Param::Text(s, 50); }
ado::Param Id(int32_t n) { return ado::Param::Long(n); }

// Pieces of the initial-state statements.
constexpr std::string_view kNewSelect =
    "select distinct WorkflowActions.ActionId, InitialStates.ResolutionCode, InitialStates.StatusCode "
    "from WorkflowStates ";
constexpr std::string_view kNewStateSelect =
    "select distinct InitialStates.ResolutionCode, InitialStates.StatusCode "
    "from WorkflowStates ";
constexpr std::string_view kInitialActions =
    "    inner join WorkflowActions "
    "        on WorkflowActions.FromStateId = WorkflowStates.StateId "
    "    inner join WorkflowStates as InitialStates "
    "        on InitialStates.StateId = WorkflowActions.ToStateId "
    "where WorkflowStates.StateType = 1 ";
constexpr std::string_view kMemberGroups =
    "    inner join WorkflowStateGroups "
    "        on WorkflowStateGroups.StateId = WorkflowStates.StateId "
    "        inner join UserGroups "
    "        on WorkflowStateGroups.GroupCode = UserGroups.GroupCode ";
constexpr std::string_view kPublicGroup =
    "    inner join WorkflowStateGroups "
    "        on WorkflowStateGroups.StateId = WorkflowStates.StateId "
    "    inner join Projects "
    "        on WorkflowStateGroups.GroupCode = Projects.PublicMembersOfGroupCode ";
constexpr std::string_view kLeadGroups =
    "    inner join WorkflowStateTeamLeads "
    "        on WorkflowStateTeamLeads.StateId = WorkflowStates.StateId "
    "        inner join ProjectGroupLeads "
    "        on WorkflowStateTeamLeads.GroupCode = ProjectGroupLeads.GroupCode ";

std::string Join(std::initializer_list<std::string_view> pieces) {
  std::string s;
  for (std::string_view p : pieces) s += p;
  return s;
}

// Pieces of the assignee statement of a move.
constexpr std::string_view kJ1 =
    "    inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId "
    "    inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId ";
constexpr std::string_view kJ2 =
    "        inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId "
    "        inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId ";
constexpr std::string_view kC =
    "where Issues.IssueId = ? "
    "    and FromState.ResolutionCode = Issues.ResolutionCode and  FromState.StatusCode = Issues.StatusCode "
    "    and ToState.ResolutionCode = ? and ToState.StatusCode = ? ";

const std::string& AssigneeFromActionSql() {
  static const std::string sql = Join({
      // 1: the assignee stays where the state has no way out
      "select Issues.AssignedToUser as UserId ",
      "from Issues ",
      "where Issues.IssueId = ? and not exists(select * from WorkflowActions inner join WorkflowStates on "
      "WorkflowStates.StateId = WorkflowActions.FromStateId where WorkflowStates.ResolutionCode = "
      "Issues.ResolutionCode and WorkflowStates.StatusCode = Issues.StatusCode) ",
      " union ",
      // 2: the state stays
      "select Issues.AssignedToUser as UserId ",
      "from Issues ",
      "where Issues.IssueId = ? ",
      "    and Issues.ResolutionCode = ? and Issues.StatusCode = ? ",
      " union ",
      // 3: an action that keeps the assignee
      "select Issues.AssignedToUser as UserId ",
      "from Issues, ",
      "    WorkflowActions ",
      kJ1,
      kC,
      "    and WorkflowActions.ActionType = 0 ",
      " union ",
      // 4: back to the creator
      "select 'Automatic (' || Issues.CreatedByUserId || ')' as UserId ",
      "from Issues, ",
      "     WorkflowActions ",
      kJ1,
      kC,
      "    and WorkflowActions.ActionType = 1 ",
      " union ",
      // 5: members of the project in an assignment group of the action
      "select distinct ProjectUsers.UserId as UserId ",
      "from Issues, ",
      "    WorkflowActions ",
      kJ2,
      "            inner join WorkflowActionAssignments on WorkflowActionAssignments.ActionId = "
      "WorkflowActions.ActionId ",
      "            inner join UserGroups on UserGroups.GroupCode = WorkflowActionAssignments.GroupCode ",
      "            inner join ProjectUsers on ProjectUsers.UserId = UserGroups.UserId ",
      kC,
      "    and ProjectUsers.ProjectId = Issues.ProjectId ",
      "    and WorkflowActions.ActionType = 2 ",
      " union ",
      // 6: the lead of the action's group, automatically
      "select 'Automatic (' || ProjectGroupLeads.UserId || ')' as UserId ",
      "from Issues, ",
      "    WorkflowActions ",
      kJ2,
      "        inner join ProjectGroupLeads on ProjectGroupLeads.GroupCode = WorkflowActions.GroupCode ",
      kC,
      "    and WorkflowActions.ActionType = 2 and WorkflowActions.AllowAutomatic = 1 ",
      "    and ProjectGroupLeads.ProjectId = Issues.ProjectId",
      " union ",
      // 7: public users, when the project is public and its public group may take the move
      "select Users.UserId ",
      "from Users ",
      "where Users.PublicUser = 1 ",
      "and exists(select * from Issues ",
      "inner join Projects on Projects.ProjectId = Issues.ProjectId ",
      "inner join WorkflowStates as FromState on FromState.ResolutionCode = Issues.ResolutionCode and "
      "FromState.StatusCode = Issues.StatusCode ",
      "inner join WorkflowActions on WorkflowActions.FromStateId = FromState.StateId ",
      "inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId ",
      "inner join WorkflowActionAssignments on WorkflowActionAssignments.ActionId = WorkflowActions.ActionId ",
      "where Issues.IssueId = ? ",
      "and Projects.PublicAccessible = 1 ",
      "and ToState.ResolutionCode = ? ",
      "and ToState.StatusCode = ? ",
      "and WorkflowActionAssignments.GroupCode = Projects.PublicMembersOfGroupCode) ",
  });
  return sql;
}

}  // namespace

RecordsetPtr GetAllowedResolutionRs(Database& db, int32_t /*projectId*/, const std::string& /*currentUser*/,
                                    const std::string& resolutionCode, const std::string& statusCode) {
  return Procedure(kClass, "GetAllowedResolutionRs", [&] {
    // The literal carries the codes' collation, so the list sorts and merges without regard to case.
    static const std::string sql = Join({
        "select 'Return to sender' collate nocase as ResolutionCode, 0 ",
        "union select",
        "    distinct w2.ResolutionCode as ResolutionCode, 1 ",
        "from WorkflowStates ",
        "    inner join WorkflowActions on WorkflowActions.FromStateId = WorkflowStates.StateId ",
        "    inner join WorkflowStates as w2 on w2.StateId = WorkflowActions.ToStateId ",
        "where WorkflowStates.ResolutionCode = ? and WorkflowStates.StatusCode = ? ",
        "union select ResolutionCode, 1 from Resolutions where Resolutions.ResolutionCode = ? ",
        "order by 2, 1",
    });
    return db.Read(sql, {Code(resolutionCode), Code(statusCode), Code(resolutionCode)});
  });
}

RecordsetPtr GetAllowedStatusRs(Database& db, int32_t /*projectId*/, const std::string& /*currentUser*/,
                                const std::string& resolutionCode, const std::string& statusCode,
                                const std::string& newResolutionCode) {
  return Procedure(kClass, "GetAllowedStatusRs", [&] {
    static const std::string moves = Join({
        "select ToStates.StatusCode as StatusCode ",
        "From WorkflowStates ",
        "    inner join WorkflowActions on WorkflowActions.FromStateId = WorkflowStates.StateId ",
        "    inner join WorkflowStates as ToStates on ToStates.StateId = WorkflowActions.ToStateId ",
        "where WorkflowStates.ResolutionCode = ? and WorkflowStates.StatusCode = ? ",
        "    and ToStates.ResolutionCode = ? ",
        "    and WorkflowStates.StateId <> ToStates.StateId ",
    });
    bool keepsResolution = EqualsNoCase(newResolutionCode, resolutionCode) ||
                           EqualsNoCase(newResolutionCode, issueform::kReturnToSender);
    if (!keepsResolution) {
      static const std::string sql = moves + "order by StatusCode ";
      return db.Read(sql, {Code(resolutionCode), Code(statusCode), Code(newResolutionCode)});
    }
    static const std::string sql = moves + "union select ? as StatusCode  " + "order by 1 ";
    return db.Read(sql, {Code(resolutionCode), Code(statusCode), Code(newResolutionCode), Code(statusCode)});
  });
}

RecordsetPtr GetAllowedNewResolutionRs(Database& db, int32_t projectId, const std::string& currentUser) {
  return Procedure(kClass, "GetAllowedNewResolutionRs", [&] {
    if (UserIsSiteAdmin(db, currentUser)) {
      static const std::string sql = Join({kNewSelect, kInitialActions});
      return db.Read(sql);
    }
    if (UserIsPublic(db, currentUser)) {
      static const std::string sql = Join({kNewSelect, kPublicGroup, kInitialActions, "    and Projects.ProjectId = ?"});
      return db.Read(sql, {Id(projectId)});
    }
    static const std::string sql =
        Join({kNewSelect, kMemberGroups, kInitialActions, "    and UserGroups.UserId = ?", " union ", kNewSelect,
              kLeadGroups, kInitialActions, "    and ProjectGroupLeads.UserId = ? ",
              "    and ProjectGroupLeads.ProjectId = ? ", "order by 1 "});
    return db.Read(sql, {Code(currentUser), Code(currentUser), Id(projectId)});
  });
}

RecordsetPtr GetAllowedNewStatusRs(Database& db, int32_t projectId, const std::string& currentUser) {
  return Procedure(kClass, "GetAllowedNewStatusRs", [&] {
    static const std::string sql =
        Join({kNewStateSelect, kMemberGroups, kInitialActions, "    and UserGroups.UserId = ? ", " union ",
              kNewStateSelect, kLeadGroups, kInitialActions, "    and ProjectGroupLeads.UserId = ? ",
              "    and ProjectGroupLeads.ProjectId = ? "});
    return db.Read(sql, {Code(currentUser), Code(currentUser), Id(projectId)});
  });
}

RecordsetPtr GetAllowedAssigneeForNewRs(Database& db, int32_t projectId, int32_t actionId) {
  return Procedure(kClass, "GetAllowedAssigneeForNewRs", [&] {
    static const std::string sql = Join({
        "select distinct ProjectUsers.UserId as UserId ",
        "from ",
        "    WorkflowActions ",
        "        inner join WorkflowActionAssignments on WorkflowActionAssignments.ActionId = "
        "WorkflowActions.ActionId ",
        "            inner join UserGroups on UserGroups.GroupCode = WorkflowActionAssignments.GroupCode ",
        "            inner join ProjectUsers on ProjectUsers.UserId = UserGroups.UserId ",
        "Where ",
        "    WorkflowActions.ActionId = ? ",
        "    and ProjectUsers.ProjectId = ? ",
        " union ",
        "Select Users.UserId as UserId from Users ",
        "where Users.PublicUser = 1 ",
        "and exists(select * from Projects where Projects.ProjectId = ? and Projects.PublicAccessible = 1) ",
        "and exists(select * from WorkflowActionAssignments where WorkflowActionAssignments.ActionId = ? and "
        "WorkflowActionAssignments.GroupCode = (select PublicMembersOfGroupCode from Projects where "
        "Projects.ProjectId = ?)) ",
        " union ",
        "select 'Automatic (' || ProjectGroupLeads.UserId || ')' as UserId ",
        "from ",
        "    WorkflowActions ",
        "        inner join ProjectGroupLeads on ProjectGroupLeads.GroupCode = WorkflowActions.GroupCode ",
        "Where ",
        "    WorkflowActions.ActionId = ? and WorkflowActions.AllowAutomatic = 1 ",
        "    and ProjectGroupLeads.ProjectId = ? ",
    });
    return db.Read(sql, {Id(actionId), Id(projectId), Id(projectId), Id(actionId), Id(projectId), Id(actionId),
                         Id(projectId)});
  });
}

RecordsetPtr GetAllowedAssigneeFromActionRs(Database& db, int32_t issueId, const std::string& toResolutionCode,
                                            const std::string& toStatusCode) {
  return Procedure(kClass, "GetAllowedAssigneeFromActionRs", [&] {
    if (EqualsNoCase(toResolutionCode, issueform::kReturnToSender)) {
      // The user who made the issue's last change; same-time rows go by their order of insertion.
      return db.Read(
          "select IssueHistory.UserId from IssueHistory where IssueHistory.IssueId = ? "
          "order by CreatedOn desc, HistoryId desc limit 1",
          {Id(issueId)});
    }
    ado::Params p{Id(issueId)};
    for (int i = 0; i < 6; ++i) {
      p.push_back(Id(issueId));
      p.push_back(Code(toResolutionCode));
      p.push_back(Code(toStatusCode));
    }
    return db.Read(AssigneeFromActionSql(), p);
  });
}

bool CanUserCreateIssue(Database& db, const std::string& currentUser) {
  return Procedure(kClass, "CanUserCreateIssue", [&] {
    RecordsetPtr projects = GetUserProjectsRs(db, currentUser);
    if (!projects || projects->State() != ado::adStateOpen || projects->RecordCount() == 0) return false;
    for (; !projects->IsEOF(); projects->MoveNext()) {
      RecordsetPtr actions = GetAllowedNewResolutionRs(db, projects->Value("ProjectId").ToLong(), currentUser);
      if (actions && actions->State() == ado::adStateOpen && !actions->IsEOF()) return true;
    }
    return false;
  });
}

bool CanDoPublicSignup(Database& db) {
  return Procedure(kClass, "CanDoPublicSignup", [&] {
    Variant n = db.Scalar("select count(*) from Projects where PublicAccessible = 1");
    return !n.IsEmpty() && !n.IsNull() && n.ToLong() != 0;
  });
}

std::string ValidIssueAssignment(Database& db, const std::string& userId, int32_t projectId, int32_t issueId,
                                 const std::string& resolutionCode, const std::string& statusCode,
                                 const std::string& assignedToUser) {
  return Procedure(kClass, "ValidIssueAssignment", [&]() -> std::string {
    if (UserCanOverrideWorkflow(db, userId, projectId)) return {};
    if (EqualsNoCase(resolutionCode, issueform::kReturnToSender)) return {};
    static const std::string sql = Join({
        "select",
        "    w2.StateId, WorkflowActions.ActionId, WorkFlowActions.AllowAutomatic, Issues.ProjectId ",
        "from Issues ",
        "    inner join WorkflowStates on WorkflowStates.ResolutionCode = Issues.ResolutionCode and "
        "WorkflowStates.StatusCode = Issues.StatusCode ",
        "    inner join WorkflowActions on WorkflowActions.FromStateId = WorkflowStates.StateId ",
        "    inner join WorkflowStates as w2 on w2.StateId = WorkflowActions.ToStateId ",
        "where Issues.IssueId = ? and w2.ResolutionCode = ? and w2.StatusCode = ? ",
    });
    auto rs = db.Connection().Query(sql, {Id(issueId), Code(resolutionCode), Code(statusCode)});
    if (rs->State() != ado::adStateOpen || rs->IsEOF()) {
      return "Invalid resolution (" + resolutionCode + ") and status (" + statusCode + ") for this issue (#" +
             std::to_string(issueId) + ").";
    }
    if (EqualsNoCase(assignedToUser, "Automatic")) {
      if (!rs->Value("AllowAutomatic").ToBool()) {
        return "Automatic assignment is not allowed for this resolution (" + resolutionCode + ") and status (" +
               statusCode + ").";
      }
      return {};
    }
    // The assignee must be one the move offers (automatic choices in their "Automatic (" form).
    RecordsetPtr allowed = GetAllowedAssigneeFromActionRs(db, issueId, resolutionCode, statusCode);
    for (; allowed && allowed->State() == ado::adStateOpen && !allowed->IsEOF(); allowed->MoveNext()) {
      Variant u = allowed->Value(size_t{0});
      if (!u.IsNull() && EqualsNoCase(u.ToString(), assignedToUser)) return {};
    }
    return "Issue #" + std::to_string(issueId) + " cannot be assigned to " + assignedToUser +
           " (user is not in the list of allowed assignees based on the workflow configuration).";
  });
}

namespace {

constexpr std::string_view kAutomaticFrom =
    "Select ProjectGroupLeads.UserId "
    "From WorkflowActions "
    "    inner join WorkFlowStates as f on f.StateId = WorkflowActions.FromStateId "
    "    inner join WorkFlowStates as t on t.StateId = WorkflowActions.ToStateId "
    "    inner join ProjectGroupLeads on ProjectGroupLeads.GroupCode = WorkflowActions.GroupCode ";
constexpr std::string_view kAutomaticRest =
    "    and t.ResolutionCode = ? "
    "    and t.StatusCode = ? "
    "    and ProjectGroupLeads.ProjectId = ? "
    "    and WorkflowActions.AllowAutomatic = 1 ";

Variant FirstUserId(Database& db, const std::string& sql, const ado::Params& params) {
  auto rs = db.Connection().Query(sql, params);
  if (rs->State() != ado::adStateOpen || rs->IsEOF()) return Variant(std::string());
  return rs->Value("UserId");
}

}  // namespace

Variant GetAutomaticAssignTo(Database& db, int32_t projectId, const std::string& fromResolutionCode,
                             const std::string& fromStatusCode, const std::string& toResolutionCode,
                             const std::string& toStatusCode) {
  return Procedure(kClass, "GetAutomaticAssignTo", [&] {
    static const std::string sql =
        Join({kAutomaticFrom, "where f.ResolutionCode = ? ", "    and f.StatusCode = ? ", kAutomaticRest});
    return FirstUserId(db, sql,
                       {Code(fromResolutionCode), Code(fromStatusCode), Code(toResolutionCode), Code(toStatusCode),
                        Id(projectId)});
  });
}

Variant GetAutomaticAssignNew(Database& db, int32_t projectId, const std::string& toResolutionCode,
                              const std::string& toStatusCode) {
  return Procedure(kClass, "GetAutomaticAssignNew", [&] {
    static const std::string sql = Join({kAutomaticFrom, "where f.StateType = 1 ", kAutomaticRest});
    return FirstUserId(db, sql, {Code(toResolutionCode), Code(toStatusCode), Id(projectId)});
  });
}

namespace {
automation::Register<Database> reg([](auto& c) {
  c.Method("GetAllowedResolutionRs", &GetAllowedResolutionRs);
  c.Method("GetAllowedStatusRs", &GetAllowedStatusRs);
  c.Method("CanUserCreateIssue", &CanUserCreateIssue);
  c.Method("CanDoPublicSignup", &CanDoPublicSignup);
  c.Method("GetAllowedNewResolutionRs", &GetAllowedNewResolutionRs);
  c.Method("GetAllowedNewStatusRs", &GetAllowedNewStatusRs);
  c.Method("GetAllowedAssigneeForNewRs", &GetAllowedAssigneeForNewRs);
  c.Method("GetAllowedAssigneeFromActionRs", &GetAllowedAssigneeFromActionRs);
  c.Method("GetAutomaticAssignTo", &GetAutomaticAssignTo);
  c.Method("GetAutomaticAssignNew", &GetAutomaticAssignNew);
});
}  // namespace

}  // namespace brisquel
