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

using automation::Variant;
using namespace issueform;

namespace {

constexpr std::string_view kClass = "Database";
constexpr std::string_view kMethod = "MassReassign";

std::string Text(ado::Recordset& rs, std::string_view column) { return rs.Value(column).ToText(); }

std::string DoubleApostrophes(std::string_view s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace

bool MassReassign(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Procedure(kClass, kMethod, [&]() -> bool {
    db.SetLastErrorMessage("");
    if (!formData)
      ThrowError(kClass, kMethod, "A valid FormData has not been passed to MassReassign (set to nothing).");
    const MultipartFormData& form = *formData;
    const std::string resolution = FormText(form, "cmbResolution");
    const std::string status = FormText(form, "cmbStatus");
    const std::string assignee = FormText(form, "cmbAssignedTo");

    // A code wider than an issue can hold is refused, never cut.
    std::optional<StateRow> target;
    if (CharLength(resolution) <= kCodeWidth && CharLength(status) <= kCodeWidth) {
      auto rs = db.Connection().Query("select * from WorkflowStates where ResolutionCode = ? and StatusCode = ?",
                                      {ado::Param::Text(resolution, 50), ado::Param::Text(status, 50)});
      if (rs->State() == ado::adStateOpen && !rs->IsEOF()) target = StateRow{};
    }
    if (!target) {
      return db.Fail(
          "The combination of the resolution code and status code is invalid. Refer to the workflow configuration "
          "for details on valid combinations.");
    }
    if (std::string m = StatusWidthMessage(status); !m.empty()) return db.Fail(m);

    Database::Transaction tx(db);
    std::string messages;
    const std::string idText = " cannot be changed to a resolution of '" + resolution + "' and status of '" + status + "'";

    std::vector<std::string> ticked = form.Fields()->Values("chkIssue");
    for (const std::string& posted : ticked) {
      if (posted.empty()) continue;
      auto issue = db.Connection().Query("select * from Issues where Issues.IssueId = ?",
                                         {ado::Param::Long(Variant(posted).ToLong(), "IssueId")});
      if (issue->State() != ado::adStateOpen || issue->IsEOF()) {
        messages += "Issue #" + posted +
                    " cannot be located (missing issues record). Contact your support representative for "
                    "assistance.";
        messages += kCrLf;
        continue;
      }
      const int32_t issueId = issue->Value("IssueId").ToLong();
      const int32_t projectId = issue->Value("ProjectId").ToLong();
      const std::string fromResolution = Text(*issue, "ResolutionCode");
      const std::string fromStatus = Text(*issue, "StatusCode");
      const std::string fromAssignee = Text(*issue, "AssignedToUser");
      const std::string issueText = "Issue #" + std::to_string(issueId);

      if (!UserCanModifyIssue(db, userId, issueId)) {
        messages += issueText + " cannot be changed (you are not allowed to modify this issue).";
        messages += kCrLf;
        continue;
      }
      bool member = CharLength(assignee) <= kUserWidth &&
                    (UserIsProjectMember(db, assignee, projectId) || UserIsSiteAdmin(db, assignee));
      if (!member) {
        messages += issueText + " cannot be assigned to " + assignee + " (not a member of the project).";
        messages += kCrLf;
        continue;
      }
      if (!UserCanOverrideWorkflow(db, userId, projectId)) {
        bool transition = db.Exists(
            "select ActionId from WorkflowActions inner join WorkflowStates as FromState on FromState.StateId = "
            "WorkflowActions.FromStateId inner join WorkflowStates as ToState on ToState.StateId = "
            "WorkflowActions.ToStateId where FromState.ResolutionCode = ? and FromState.StatusCode = ? and "
            "ToState.ResolutionCode = ? and ToState.StatusCode = ?",
            {ado::Param::Text(fromResolution, 50, "FromResolution"), ado::Param::Text(fromStatus, 50, "FromStatus"),
             ado::Param::Text(resolution, 50, "ToResolution"), ado::Param::Text(status, 50, "ToStatus")});
        if (!transition) {
          messages += issueText + idText + " (the workflow configuration does not allow that transition).";
          messages += kCrLf;
          continue;
        }
        RecordsetPtr allowed = GetAllowedAssigneeFromActionRs(db, issueId, resolution, status);
        bool offered = false;
        if (allowed && allowed->State() == ado::adStateOpen && !allowed->IsEOF()) {
          allowed->Find("UserId = '" + DoubleApostrophes(assignee) + "'");
          offered = !allowed->IsEOF();
        }
        if (!offered) {
          messages += issueText + " cannot be assigned to " + assignee +
                      " (user is not in the list of allowed assignees based on the workflow configuration).";
          messages += kCrLf;
          continue;
        }
      }
      if (RecordsetPtr required = GetIssueValidationByResolutionRs(db, resolution, status);
          required && required->State() == ado::adStateOpen) {
        const bool bothChange = !EqualsNoCase(fromResolution, resolution) && !EqualsNoCase(fromStatus, status);
        for (; !required->IsEOF(); required->MoveNext()) {
          const bool comments = EqualsNoCase(Text(*required, "Representation"), "comments");
          if (comments && !bothChange) continue;
          bool empty;
          if (comments) {
            // A comment cannot be written here, and the move asks for a new one.
            empty = true;
          } else {
            std::string field = Text(*required, "FieldName");
            if (EqualsNoCase(field, "ProjectCode")) field = "ProjectId";
            std::optional<size_t> column = issue->TryFieldIndex(field);
            Variant v = column ? issue->Value(*column) : Variant(std::string());
            empty = !v.IsNull() && Trim(v.ToString()).empty();
          }
          if (empty) {
            messages += issueText + idText + " (this resolution/state combination requires a value for " +
                        Text(*required, "FieldFriendlyName") + ").";
            messages += kCrLf;
          }
        }
      }
      // Once any issue had a problem, no later issue is changed; all are still examined.
      if (!messages.empty()) continue;

      auto failed = [&](const std::optional<automation::LastError>& e) {
        if (!e) return false;
        db.Fail(db.UnexpectedReport(*e));
        tx.Rollback();
        return true;
      };
      if (failed(db.Trap([&] {
            db.Execute("update Issues set AssignedToUser = ?, ResolutionCode = ?, StatusCode = ? where Issues.IssueId = ?",
                       {ado::Param::Text(assignee, 50, "AssignedToUser"),
                        ado::Param::Text(resolution, 50, "ResolutionCode"), ado::Param::Text(status, 6, "StatusCode"),
                        ado::Param::Long(issueId, "IssueId")});
          })))
        return false;
      if (failed(db.Trap([&] {
            db.Execute(
                "insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewAssignedToUser, "
                "NewStatusCode) values (?, ?, ?, ?, ?, ?)",
                {ado::Param::Long(issueId, "IssueId"), ado::Param::Long(projectId, "ProjectId"),
                 ado::Param::Text(userId, 50, "UserId"), ado::Param::Text(resolution, 50, "ResolutionCode"),
                 ado::Param::Text(assignee, 50, "AssignedToUser"), ado::Param::Text(status, 6, "StatusCode")});
          })))
        return false;

      Notifications n;
      if (!CreatePendingNotifications(n, db, "Reassign", userId, issueId, fromAssignee, assignee, fromResolution,
                                      fromStatus, resolution, status)) {
        db.Fail(n.GetLastErrorMessage());
        tx.Rollback();
        return false;
      }
    }
    tx.Commit();
    if (messages.empty()) return true;
    return db.Fail(CloseMessageList(std::move(messages)));
  });
}

namespace {
automation::Register<Database> reg([](auto& c) { c.Method("MassReassign", &MassReassign); });
}  // namespace

}  // namespace brisquel
