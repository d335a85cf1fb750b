// MassReassign: the ticked issues moved to one resolution, status and assignee. Every ticked issue
// is examined and each problem reported; once any issue had one, no later issue is changed.
// Steps: check the target state, then per issue read its state, check the move, write.
#include <string>
#include <vector>

#include "ado/ado.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "issues/form_values.h"
#include "issues/issue_writers.h"
#include "issues/workflow.h"
#include "notifications/notifications.h"

namespace brisquel {

using namespace issueform;

namespace {

constexpr std::string_view kClass = "Database";
constexpr std::string_view kMethod = "MassReassign";

// Where the ticked issues go.
struct Target {
  std::string resolution, status, assignee;
};

// An issue as the move reads it: its state and assignee, and its row for the required-field check.
struct IssueState {
  int32_t issueId = 0;
  int32_t projectId = 0;
  std::string resolution, status, assignee;
  IssueRow row;
};

std::optional<IssueState> ReadIssue(Database& db, int32_t issueId) {
  std::optional<IssueRow> row = ReadIssueRow(db, issueId);
  if (!row) return std::nullopt;
  return IssueState{row->Long("IssueId"), row->Long("ProjectId"), row->Text("ResolutionCode"), row->Text("StatusCode"),
                    row->Text("AssignedToUser"), std::move(*row)};
}

// A code wider than an issue can hold is refused, never cut.
void CheckTarget(Database& db, const Target& t) {
  bool state = CharLength(t.resolution) <= kCodeWidth && CharLength(t.status) <= kCodeWidth &&
               db.Exists("select * from WorkflowStates where ResolutionCode = ? and StatusCode = ?",
                         {ado::Param::Text(t.resolution, 50), ado::Param::Text(t.status, 50)});
  if (!state) {
    Refuse(
        "The combination of the resolution code and status code is invalid. Refer to the workflow configuration "
        "for details on valid combinations.");
  }
  if (std::string m = StatusWidthMessage(t.status); !m.empty()) Refuse(m);
}

// Without the right to override the workflow, the move must be a transition of the workflow and
// offer the assignee. "" when it may go on, the problem otherwise.
std::string WorkflowProblem(Database& db, const IssueState& issue, const Target& t, const std::string& issueText,
                            const std::string& idText) {
  bool transition = db.Exists(
      "select ActionId from WorkflowActions inner join WorkflowStates as FromState on FromState.StateId = "
      "WorkflowActions.FromStateId inner join WorkflowStates as ToState on ToState.StateId = "
      "WorkflowActions.ToStateId where FromState.ResolutionCode = ? and FromState.StatusCode = ? and "
      "ToState.ResolutionCode = ? and ToState.StatusCode = ?",
      {ado::Param::Text(issue.resolution, 50, "FromResolution"), ado::Param::Text(issue.status, 50, "FromStatus"),
       ado::Param::Text(t.resolution, 50, "ToResolution"), ado::Param::Text(t.status, 50, "ToStatus")});
  if (!transition) return issueText + idText + " (the workflow configuration does not allow that transition).";
  for (const std::string& u : AllowedAssigneesOfMove(db, issue.issueId, t.resolution, t.status))
    if (EqualsNoCase(u, t.assignee)) return {};
  return issueText + " cannot be assigned to " + t.assignee +
         " (user is not in the list of allowed assignees based on the workflow configuration).";
}

// The fields the target state requires, as the issue holds them. A comment cannot be written
// here, so a move that changes both resolution and status and asks for one is refused.
void CheckRequired(Database& db, const IssueState& issue, const Target& t, const std::string& issueText,
                   const std::string& idText, std::string& messages) {
  const bool bothChange = !EqualsNoCase(issue.resolution, t.resolution) && !EqualsNoCase(issue.status, t.status);
  for (const RequiredField& f : RequiredFieldsOf(db, t.resolution, t.status)) {
    const bool comments = EqualsNoCase(f.representation, "comments");
    if (comments && !bothChange) continue;
    bool empty = comments;
    if (!comments) {
      const auto* v = issue.row.Column(EqualsNoCase(f.fieldName, "ProjectCode") ? "ProjectId" : f.fieldName);
      empty = !v || (*v && TrimSpaces(**v).empty());
    }
    if (empty) {
      messages += issueText + idText + " (this resolution/state combination requires a value for " +
                  f.friendlyName + ").";
      messages += kCrLf;
    }
  }
}

// Every problem of moving one issue, appended to `messages`.
void CheckIssue(Database& db, const std::string& userId, const IssueState& issue, const Target& t,
                std::string& messages) {
  const std::string issueText = "Issue #" + std::to_string(issue.issueId);
  const std::string idText =
      " cannot be changed to a resolution of '" + t.resolution + "' and status of '" + t.status + "'";
  auto problem = [&](const std::string& m) {
    messages += m;
    messages += kCrLf;
  };
  if (!UserCanModifyIssue(db, userId, issue.issueId))
    return problem(issueText + " cannot be changed (you are not allowed to modify this issue).");
  bool member = CharLength(t.assignee) <= kUserWidth &&
                (UserIsProjectMember(db, t.assignee, issue.projectId) || UserIsSiteAdmin(db, t.assignee));
  if (!member) return problem(issueText + " cannot be assigned to " + t.assignee + " (not a member of the project).");
  if (!UserCanOverrideWorkflow(db, userId, issue.projectId)) {
    if (std::string m = WorkflowProblem(db, issue, t, issueText, idText); !m.empty()) return problem(m);
  }
  CheckRequired(db, issue, t, issueText, idText, messages);
}

void MoveIssue(Database& db, const std::string& userId, const IssueState& issue, const Target& t) {
  WriteStep(db, [&] {
    db.Exec("update Issues set AssignedToUser = ?, ResolutionCode = ?, StatusCode = ? where Issues.IssueId = ?",
            {ado::Param::Text(t.assignee, 50, "AssignedToUser"), ado::Param::Text(t.resolution, 50, "ResolutionCode"),
             ado::Param::Text(t.status, 6, "StatusCode"), ado::Param::Long(issue.issueId, "IssueId")});
  });
  WriteStep(db, [&] {
    db.Exec(
        "insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewAssignedToUser, "
        "NewStatusCode) values (?, ?, ?, ?, ?, ?)",
        {ado::Param::Long(issue.issueId, "IssueId"), ado::Param::Long(issue.projectId, "ProjectId"),
         ado::Param::Text(userId, 50, "UserId"), ado::Param::Text(t.resolution, 50, "ResolutionCode"),
         ado::Param::Text(t.assignee, 50, "AssignedToUser"), ado::Param::Text(t.status, 6, "StatusCode")});
  });
  Notifications n;
  if (!CreatePendingNotifications(n, db, "Reassign", userId, issue.issueId, issue.assignee, t.assignee,
                                  issue.resolution, issue.status, t.resolution, t.status))
    Refuse(n.GetLastErrorMessage());
}

}  // namespace

bool MassReassign(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, kMethod, [&] {
    if (!formData)
      ThrowError(kClass, kMethod, "A valid FormData has not been passed to MassReassign (set to nothing).");
    const MultipartFormData& form = *formData;
    const Target t{FormText(form, "cmbResolution"), FormText(form, "cmbStatus"), FormText(form, "cmbAssignedTo")};
    CheckTarget(db, t);
    // Every ticked id is a number before any issue moves.
    std::vector<std::pair<std::string, int32_t>> ticked;
    for (const std::string& posted : PostedList(*form.Fields(), "chkIssue"))
      ticked.emplace_back(posted, PostedId(posted, "issue id"));

    Database::Transaction tx(db);
    std::string messages;
    for (const auto& [posted, issueId] : ticked) {
      std::optional<IssueState> issue = ReadIssue(db, issueId);
      if (!issue) {
        messages += "Issue #" + posted +
                    " cannot be located (missing issues record). Contact your support representative for "
                    "assistance.";
        messages += kCrLf;
        continue;
      }
      CheckIssue(db, userId, *issue, t, messages);
      // Once any issue had a problem, no later issue is changed; all are still examined.
      if (messages.empty()) MoveIssue(db, userId, *issue, t);
    }
    tx.Commit();
    if (!messages.empty()) Refuse(CloseMessageList(std::move(messages)));
    return true;
  });
}

namespace {
automation::Register<Database> reg([](auto& c) { c.Method("MassReassign", &MassReassign); });
}  // namespace

}  // namespace brisquel
