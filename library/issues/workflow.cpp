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

// ---- The workflow's statements, each whole.

// Where a move may go from the pair; the literal carries the codes' collation, so the list sorts
// and merges without regard to case.
constexpr const char* kAllowedResolutions = R"sql(
select 'Return to sender' collate nocase as ResolutionCode, 0
union select
    distinct w2.ResolutionCode as ResolutionCode, 1
from WorkflowStates
    inner join WorkflowActions on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as w2 on w2.StateId = WorkflowActions.ToStateId
where WorkflowStates.ResolutionCode = ? and WorkflowStates.StatusCode = ?
union select ResolutionCode, 1 from Resolutions where Resolutions.ResolutionCode = ?
order by 2, 1)sql";

// The statuses a move to a new resolution may take.
constexpr const char* kAllowedStatusesOfMove = R"sql(
select ToStates.StatusCode as StatusCode
From WorkflowStates
    inner join WorkflowActions on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as ToStates on ToStates.StateId = WorkflowActions.ToStateId
where WorkflowStates.ResolutionCode = ? and WorkflowStates.StatusCode = ?
    and ToStates.ResolutionCode = ?
    and WorkflowStates.StateId <> ToStates.StateId
order by StatusCode)sql";

// The same when the resolution stays: the current status is offered too.
constexpr const char* kAllowedStatusesKeepingResolution = R"sql(
select ToStates.StatusCode as StatusCode
From WorkflowStates
    inner join WorkflowActions on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as ToStates on ToStates.StateId = WorkflowActions.ToStateId
where WorkflowStates.ResolutionCode = ? and WorkflowStates.StatusCode = ?
    and ToStates.ResolutionCode = ?
    and WorkflowStates.StateId <> ToStates.StateId
union select ? as StatusCode
order by 1)sql";

// The actions out of the initial state: every one (site administrator), those of the project's
// public group (public user), those of the user's groups and of the groups he leads.
constexpr const char* kNewActionsAll = R"sql(
select distinct WorkflowActions.ActionId, InitialStates.ResolutionCode, InitialStates.StatusCode
from WorkflowStates
    inner join WorkflowActions
        on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as InitialStates
        on InitialStates.StateId = WorkflowActions.ToStateId
where WorkflowStates.StateType = 1)sql";

constexpr const char* kNewActionsPublic = R"sql(
select distinct WorkflowActions.ActionId, InitialStates.ResolutionCode, InitialStates.StatusCode
from WorkflowStates
    inner join WorkflowStateGroups
        on WorkflowStateGroups.StateId = WorkflowStates.StateId
    inner join Projects
        on WorkflowStateGroups.GroupCode = Projects.PublicMembersOfGroupCode
    inner join WorkflowActions
        on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as InitialStates
        on InitialStates.StateId = WorkflowActions.ToStateId
where WorkflowStates.StateType = 1
    and Projects.ProjectId = ?)sql";

constexpr const char* kNewActionsMember = R"sql(
select distinct WorkflowActions.ActionId, InitialStates.ResolutionCode, InitialStates.StatusCode
from WorkflowStates
    inner join WorkflowStateGroups
        on WorkflowStateGroups.StateId = WorkflowStates.StateId
        inner join UserGroups
        on WorkflowStateGroups.GroupCode = UserGroups.GroupCode
    inner join WorkflowActions
        on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as InitialStates
        on InitialStates.StateId = WorkflowActions.ToStateId
where WorkflowStates.StateType = 1
    and UserGroups.UserId = ?
 union
select distinct WorkflowActions.ActionId, InitialStates.ResolutionCode, InitialStates.StatusCode
from WorkflowStates
    inner join WorkflowStateTeamLeads
        on WorkflowStateTeamLeads.StateId = WorkflowStates.StateId
        inner join ProjectGroupLeads
        on WorkflowStateTeamLeads.GroupCode = ProjectGroupLeads.GroupCode
    inner join WorkflowActions
        on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as InitialStates
        on InitialStates.StateId = WorkflowActions.ToStateId
where WorkflowStates.StateType = 1
    and ProjectGroupLeads.UserId = ?
    and ProjectGroupLeads.ProjectId = ?
order by 1)sql";

// Who a new issue may be given to by an action: project members of its assignment groups,
// public users where the project is public and its public group is one of them, and the lead of
// the action's group automatically.
constexpr const char* kAssigneesForNew = R"sql(
select distinct ProjectUsers.UserId as UserId
from
    WorkflowActions
        inner join WorkflowActionAssignments on WorkflowActionAssignments.ActionId = WorkflowActions.ActionId
            inner join UserGroups on UserGroups.GroupCode = WorkflowActionAssignments.GroupCode
            inner join ProjectUsers on ProjectUsers.UserId = UserGroups.UserId
Where
    WorkflowActions.ActionId = ?
    and ProjectUsers.ProjectId = ?
 union
Select Users.UserId as UserId from Users
where Users.PublicUser = 1
and exists(select * from Projects where Projects.ProjectId = ? and Projects.PublicAccessible = 1)
and exists(select * from WorkflowActionAssignments where WorkflowActionAssignments.ActionId = ? and WorkflowActionAssignments.GroupCode = (select PublicMembersOfGroupCode from Projects where Projects.ProjectId = ?))
 union
select 'Automatic (' || ProjectGroupLeads.UserId || ')' as UserId
from
    WorkflowActions
        inner join ProjectGroupLeads on ProjectGroupLeads.GroupCode = WorkflowActions.GroupCode
Where
    WorkflowActions.ActionId = ? and WorkflowActions.AllowAutomatic = 1
    and ProjectGroupLeads.ProjectId = ?)sql";

// The user who made the issue's last change; same-time rows go by their order of insertion.
constexpr const char* kLastChanger = R"sql(
select IssueHistory.UserId from IssueHistory where IssueHistory.IssueId = ?
order by CreatedOn desc, HistoryId desc limit 1)sql";

// Who an issue may be given to by a move to the pair. Parameters: the issue, then six times the
// issue and the pair.
constexpr const char* kAssigneesOfMove = R"sql(
select Issues.AssignedToUser as UserId
from Issues
where Issues.IssueId = ? and not exists(select * from WorkflowActions inner join WorkflowStates on WorkflowStates.StateId = WorkflowActions.FromStateId where WorkflowStates.ResolutionCode = Issues.ResolutionCode and WorkflowStates.StatusCode = Issues.StatusCode)
 union
select Issues.AssignedToUser as UserId
from Issues
where Issues.IssueId = ?
    and Issues.ResolutionCode = ? and Issues.StatusCode = ?
 union
select Issues.AssignedToUser as UserId
from Issues,
    WorkflowActions
    inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId
    inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId
where Issues.IssueId = ?
    and FromState.ResolutionCode = Issues.ResolutionCode and  FromState.StatusCode = Issues.StatusCode
    and ToState.ResolutionCode = ? and ToState.StatusCode = ?
    and WorkflowActions.ActionType = 0
 union
select 'Automatic (' || Issues.CreatedByUserId || ')' as UserId
from Issues,
     WorkflowActions
    inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId
    inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId
where Issues.IssueId = ?
    and FromState.ResolutionCode = Issues.ResolutionCode and  FromState.StatusCode = Issues.StatusCode
    and ToState.ResolutionCode = ? and ToState.StatusCode = ?
    and WorkflowActions.ActionType = 1
 union
select distinct ProjectUsers.UserId as UserId
from Issues,
    WorkflowActions
        inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId
        inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId
            inner join WorkflowActionAssignments on WorkflowActionAssignments.ActionId = WorkflowActions.ActionId
            inner join UserGroups on UserGroups.GroupCode = WorkflowActionAssignments.GroupCode
            inner join ProjectUsers on ProjectUsers.UserId = UserGroups.UserId
where Issues.IssueId = ?
    and FromState.ResolutionCode = Issues.ResolutionCode and  FromState.StatusCode = Issues.StatusCode
    and ToState.ResolutionCode = ? and ToState.StatusCode = ?
    and ProjectUsers.ProjectId = Issues.ProjectId
    and WorkflowActions.ActionType = 2
 union
select 'Automatic (' || ProjectGroupLeads.UserId || ')' as UserId
from Issues,
    WorkflowActions
        inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId
        inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId
        inner join ProjectGroupLeads on ProjectGroupLeads.GroupCode = WorkflowActions.GroupCode
where Issues.IssueId = ?
    and FromState.ResolutionCode = Issues.ResolutionCode and  FromState.StatusCode = Issues.StatusCode
    and ToState.ResolutionCode = ? and ToState.StatusCode = ?
    and WorkflowActions.ActionType = 2 and WorkflowActions.AllowAutomatic = 1
    and ProjectGroupLeads.ProjectId = Issues.ProjectId
 union
select Users.UserId
from Users
where Users.PublicUser = 1
and exists(select * from Issues
inner join Projects on Projects.ProjectId = Issues.ProjectId
inner join WorkflowStates as FromState on FromState.ResolutionCode = Issues.ResolutionCode and FromState.StatusCode = Issues.StatusCode
inner join WorkflowActions on WorkflowActions.FromStateId = FromState.StateId
inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId
inner join WorkflowActionAssignments on WorkflowActionAssignments.ActionId = WorkflowActions.ActionId
where Issues.IssueId = ?
and Projects.PublicAccessible = 1
and ToState.ResolutionCode = ?
and ToState.StatusCode = ?
and WorkflowActionAssignments.GroupCode = Projects.PublicMembersOfGroupCode))sql";

// The action of a move of the issue to the pair.
constexpr const char* kMoveAction = R"sql(
select
    w2.StateId, WorkflowActions.ActionId, WorkFlowActions.AllowAutomatic, Issues.ProjectId
from Issues
    inner join WorkflowStates on WorkflowStates.ResolutionCode = Issues.ResolutionCode and WorkflowStates.StatusCode = Issues.StatusCode
    inner join WorkflowActions on WorkflowActions.FromStateId = WorkflowStates.StateId
    inner join WorkflowStates as w2 on w2.StateId = WorkflowActions.ToStateId
where Issues.IssueId = ? and w2.ResolutionCode = ? and w2.StatusCode = ?)sql";

// The lead who gets the issue automatically on a move between two pairs, and on creation.
constexpr const char* kAutomaticAssignTo = R"sql(
Select ProjectGroupLeads.UserId
From WorkflowActions
    inner join WorkFlowStates as f on f.StateId = WorkflowActions.FromStateId
    inner join WorkFlowStates as t on t.StateId = WorkflowActions.ToStateId
    inner join ProjectGroupLeads on ProjectGroupLeads.GroupCode = WorkflowActions.GroupCode
where f.ResolutionCode = ?
    and f.StatusCode = ?
    and t.ResolutionCode = ?
    and t.StatusCode = ?
    and ProjectGroupLeads.ProjectId = ?
    and WorkflowActions.AllowAutomatic = 1)sql";

constexpr const char* kAutomaticAssignNew = R"sql(
Select ProjectGroupLeads.UserId
From WorkflowActions
    inner join WorkFlowStates as f on f.StateId = WorkflowActions.FromStateId
    inner join WorkFlowStates as t on t.StateId = WorkflowActions.ToStateId
    inner join ProjectGroupLeads on ProjectGroupLeads.GroupCode = WorkflowActions.GroupCode
where f.StateType = 1
    and t.ResolutionCode = ?
    and t.StatusCode = ?
    and ProjectGroupLeads.ProjectId = ?
    and WorkflowActions.AllowAutomatic = 1)sql";

// ---- Which statement and parameters a question takes (shared by the readers and the typed forms).
struct Query {
  const char* sql;
  ado::Params params;
};

// The states a new issue may start in, for a member or lead: the pairs his actions lead to.
Query NewStates(int32_t projectId, const std::string& currentUser) {
  static const std::string sql =
      std::string("select distinct ResolutionCode, StatusCode from (") + kNewActionsMember + ") order by 1, 2";
  return {sql.c_str(), {Code(currentUser), Code(currentUser), Id(projectId)}};
}

Query NewActions(Database& db, int32_t projectId, const std::string& currentUser) {
  const UserRoles roles = ReadUserRoles(db, currentUser);
  if (roles.siteAdmin) return {kNewActionsAll, {}};
  if (roles.publicUser) return {kNewActionsPublic, {Id(projectId)}};
  return {kNewActionsMember, {Code(currentUser), Code(currentUser), Id(projectId)}};
}

Query AssigneesForNew(int32_t projectId, int32_t actionId) {
  return {kAssigneesForNew,
          {Id(actionId), Id(projectId), Id(projectId), Id(actionId), Id(projectId), Id(actionId), Id(projectId)}};
}

Query AssigneesOfMove(int32_t issueId, const std::string& toResolutionCode, const std::string& toStatusCode) {
  if (EqualsNoCase(toResolutionCode, issueform::kReturnToSender)) return {kLastChanger, {Id(issueId)}};
  ado::Params p{Id(issueId)};
  for (int i = 0; i < 6; ++i) {
    p.push_back(Id(issueId));
    p.push_back(Code(toResolutionCode));
    p.push_back(Code(toStatusCode));
  }
  return {kAssigneesOfMove, std::move(p)};
}

// The first column of each row that is not Null.
std::vector<std::string> FirstColumn(Database& db, const Query& q) {
  std::vector<std::string> out;
  db.Each(q.sql, q.params, [&](const sql::Row& r) {
    if (!r.IsNull(0)) out.push_back(r.Text(0));
  });
  return out;
}

}  // namespace

RecordsetPtr GetAllowedResolutionRs(Database& db, int32_t /*projectId*/, const std::string& /*currentUser*/,
                                    const std::string& resolutionCode, const std::string& statusCode) {
  return Procedure(kClass, "GetAllowedResolutionRs", [&] {
    return db.Read(kAllowedResolutions, {Code(resolutionCode), Code(statusCode), Code(resolutionCode)});
  });
}

RecordsetPtr GetAllowedStatusRs(Database& db, int32_t /*projectId*/, const std::string& /*currentUser*/,
                                const std::string& resolutionCode, const std::string& statusCode,
                                const std::string& newResolutionCode) {
  return Procedure(kClass, "GetAllowedStatusRs", [&] {
    bool keepsResolution = EqualsNoCase(newResolutionCode, resolutionCode) ||
                           EqualsNoCase(newResolutionCode, issueform::kReturnToSender);
    if (!keepsResolution)
      return db.Read(kAllowedStatusesOfMove, {Code(resolutionCode), Code(statusCode), Code(newResolutionCode)});
    return db.Read(kAllowedStatusesKeepingResolution,
                   {Code(resolutionCode), Code(statusCode), Code(newResolutionCode), Code(statusCode)});
  });
}

RecordsetPtr GetAllowedNewResolutionRs(Database& db, int32_t projectId, const std::string& currentUser) {
  return Procedure(kClass, "GetAllowedNewResolutionRs", [&] {
    Query q = NewActions(db, projectId, currentUser);
    return db.Read(q.sql, q.params);
  });
}

RecordsetPtr GetAllowedNewStatusRs(Database& db, int32_t projectId, const std::string& currentUser) {
  return Procedure(kClass, "GetAllowedNewStatusRs", [&] {
    Query q = NewStates(projectId, currentUser);
    return db.Read(q.sql, q.params);
  });
}

RecordsetPtr GetAllowedAssigneeForNewRs(Database& db, int32_t projectId, int32_t actionId) {
  return Procedure(kClass, "GetAllowedAssigneeForNewRs", [&] {
    Query q = AssigneesForNew(projectId, actionId);
    return db.Read(q.sql, q.params);
  });
}

RecordsetPtr GetAllowedAssigneeFromActionRs(Database& db, int32_t issueId, const std::string& toResolutionCode,
                                            const std::string& toStatusCode) {
  return Procedure(kClass, "GetAllowedAssigneeFromActionRs", [&] {
    Query q = AssigneesOfMove(issueId, toResolutionCode, toStatusCode);
    return db.Read(q.sql, q.params);
  });
}

std::vector<NewAction> AllowedNewActions(Database& db, int32_t projectId, const std::string& userId) {
  std::vector<NewAction> out;
  Query q = NewActions(db, projectId, userId);
  db.Each(q.sql, q.params, [&](const sql::Row& r) {
    out.push_back({r.Long("ActionId"), r.Text("ResolutionCode"), r.Text("StatusCode")});
  });
  return out;
}

std::vector<std::string> AllowedAssigneesForNew(Database& db, int32_t projectId, int32_t actionId) {
  return FirstColumn(db, AssigneesForNew(projectId, actionId));
}

std::vector<std::string> AllowedAssigneesOfMove(Database& db, int32_t issueId, const std::string& toResolutionCode,
                                                const std::string& toStatusCode) {
  return FirstColumn(db, AssigneesOfMove(issueId, toResolutionCode, toStatusCode));
}

bool CanUserCreateIssue(Database& db, const std::string& currentUser) {
  return Procedure(kClass, "CanUserCreateIssue", [&] {
    std::vector<int32_t> projects;
    EachUserProject(db, currentUser, [&](const sql::Row& r) { projects.push_back(r.Long("ProjectId")); });
    for (int32_t projectId : projects)
      if (!AllowedNewActions(db, projectId, currentUser).empty()) return true;
    return false;
  });
}

bool CanDoPublicSignup(Database& db) {
  return Procedure(kClass, "CanDoPublicSignup", [&] {
    return db.One<int32_t>("select count(*) from Projects where PublicAccessible = 1").value_or(0) != 0;
  });
}

std::string ValidIssueAssignment(Database& db, const std::string& userId, int32_t projectId, int32_t issueId,
                                 const std::string& resolutionCode, const std::string& statusCode,
                                 const std::string& assignedToUser) {
  return Procedure(kClass, "ValidIssueAssignment", [&]() -> std::string {
    if (UserCanOverrideWorkflow(db, userId, projectId)) return {};
    if (EqualsNoCase(resolutionCode, issueform::kReturnToSender)) return {};
    std::optional<bool> allowAutomatic;
    db.Each(kMoveAction, {Id(issueId), Code(resolutionCode), Code(statusCode)}, [&](const sql::Row& r) {
      if (!allowAutomatic) allowAutomatic = r.Flag("AllowAutomatic");
    });
    if (!allowAutomatic) {
      return "Invalid resolution (" + resolutionCode + ") and status (" + statusCode + ") for this issue (#" +
             std::to_string(issueId) + ").";
    }
    if (EqualsNoCase(assignedToUser, "Automatic")) {
      if (!*allowAutomatic) {
        return "Automatic assignment is not allowed for this resolution (" + resolutionCode + ") and status (" +
               statusCode + ").";
      }
      return {};
    }
    // The assignee must be one the move offers (automatic choices in their "Automatic (" form).
    for (const std::string& u : AllowedAssigneesOfMove(db, issueId, resolutionCode, statusCode))
      if (EqualsNoCase(u, assignedToUser)) return {};
    return "Issue #" + std::to_string(issueId) + " cannot be assigned to " + assignedToUser +
           " (user is not in the list of allowed assignees based on the workflow configuration).";
  });
}

namespace {

// The lead's user id; "" when there is none.
Variant FirstUserId(Database& db, const char* sql, const ado::Params& params) {
  return Variant(db.One<std::string>(sql, params).value_or(std::string()));
}

}  // namespace

Variant GetAutomaticAssignTo(Database& db, int32_t projectId, const std::string& fromResolutionCode,
                             const std::string& fromStatusCode, const std::string& toResolutionCode,
                             const std::string& toStatusCode) {
  return Procedure(kClass, "GetAutomaticAssignTo", [&] {
    return FirstUserId(db, kAutomaticAssignTo,
                       {Code(fromResolutionCode), Code(fromStatusCode), Code(toResolutionCode), Code(toStatusCode),
                        Id(projectId)});
  });
}

Variant GetAutomaticAssignNew(Database& db, int32_t projectId, const std::string& toResolutionCode,
                              const std::string& toStatusCode) {
  return Procedure(kClass, "GetAutomaticAssignNew", [&] {
    return FirstUserId(db, kAutomaticAssignNew, {Code(toResolutionCode), Code(toStatusCode), Id(projectId)});
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
