#include <algorithm>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "issues/form_values.h"
#include "issues/issue_writers.h"
#include "issues/workflow.h"
#include "notifications/notifications.h"

namespace brisquel {

using automation::Variant;
using namespace issueform;

namespace {

constexpr std::string_view kClass = "Database";
constexpr std::string_view kMethod = "UpdateIssue";

std::string Text(ado::Recordset& rs, std::string_view column) { return rs.Value(column).ToText(); }

// The recordset a caller hands back must be one issue row of Issues.
void CheckIssueRecordset(const std::shared_ptr<ado::Recordset>& rs) {
  if (!rs) ThrowError(kClass, kMethod, "A valid rsIssue has not been passed to UpdateIssue (set to nothing).");
  int32_t count = rs->RecordCount();
  if (count != 1) {
    ThrowError(kClass, kMethod,
               "A valid rsIssue has not been passed to UpdateIssue (contains " + std::to_string(count) +
                   " records, should contain 1).");
  }
  std::vector<std::string> tables = rs->BaseTables();
  bool issues = std::any_of(tables.begin(), tables.end(), [](const std::string& t) { return EqualsNoCase(t, "Issues"); });
  if (!issues || !rs->TryFieldIndex("IssueId"))
    ThrowError(kClass, kMethod, "A valid rsIssue has not been passed to UpdateIssue (not a row of Issues).");
}

struct Assignment {
  std::string resolution, status, assignee;
};

}  // namespace

bool UpdateIssue(Database& db, const std::string& userId, std::shared_ptr<ado::Recordset> rsIssue,
                 std::shared_ptr<MultipartFormData> formData) {
  return Procedure(kClass, kMethod, [&]() -> bool {
    db.SetLastErrorMessage("");
    CheckIssueRecordset(rsIssue);
    if (!formData)
      ThrowError(kClass, kMethod, "A valid FormData has not been passed to UpdateIssue (set to nothing).");
    ado::Recordset& rs = *rsIssue;
    const MultipartFormData& form = *formData;
    rs.MoveFirst();
    std::vector<LayoutField> fields = ReadLayoutFields(db);

    const int32_t issueId = rs.Value("IssueId").ToLong();
    const int32_t projectId = rs.Value("ProjectId").ToLong();
    const Assignment current{Text(rs, "ResolutionCode"), Text(rs, "StatusCode"), Text(rs, "AssignedToUser")};
    Assignment target{FormText(form, "ResolutionCode"), FormText(form, "StatusCode"), FormText(form, "AssignedToUser")};

    if (!UserCanModifyIssue(db, userId, issueId))
      return db.Fail("You are not allowed to change issue #" + std::to_string(issueId) + ".");

    const bool returnToSender = EqualsNoCase(target.resolution, kReturnToSender);
    if (returnToSender) {
      auto history = db.Connection().Query(
          "select * from IssueHistory where IssueHistory.IssueId = ? order by CreatedOn desc, HistoryId desc limit 1",
          {ado::Param::Long(issueId)});
      if (history->State() != ado::adStateOpen || history->IsEOF())
        return db.Fail("Cannot return issue to sender because there are no history records.");
      Assignment previous{Text(*history, "OldResolutionCode"), Text(*history, "OldStatusCode"),
                          Text(*history, "OldAssignedToUser")};
      if (previous.resolution.empty() && previous.status.empty() && previous.assignee.empty())
        return db.Fail("Cannot return to sender (previous values for resolution, status, and assigned to user are blank).");
      target = previous;
    }
    const bool changed = !EqualsNoCase(target.resolution, current.resolution) ||
                         !EqualsNoCase(target.status, current.status) || !EqualsNoCase(target.assignee, current.assignee);

    // Codes wider than the state columns cannot name a state; they reach no statement.
    const bool codesFit = CharLength(target.resolution) <= kCodeWidth && CharLength(target.status) <= kCodeWidth;
    if (changed && !returnToSender && codesFit) {
      std::string refusal = ValidIssueAssignment(db, userId, projectId, issueId, target.resolution, target.status,
                                                 target.assignee);
      if (!refusal.empty()) return db.Fail(refusal);
    }
    std::optional<StateRow> state = FindWorkflowState(db, target.resolution, target.status);
    if (!state) {
      return db.Fail("Invalid resolution (" + target.resolution + ") and state (" + target.status +
                     ") combination - violates workflow configuration.");
    }
    // A status wider than an issue's status is refused, never cut.
    if (std::string m = StatusWidthMessage(target.status); !m.empty()) return db.Fail(m);

    // A moved issue must land in a project the user works in.
    std::optional<int32_t> newProjectId;
    if (HasProjectField(fields)) {
      newProjectId = PostedProjectId(form);
      if (!newProjectId) return db.Fail("The project (" + FormText(form, "ProjectCode") + ") does not exist.");
      if (*newProjectId != projectId) {
        bool allowed = false;
        RecordsetPtr projects = GetUserProjectsRs(db, userId);
        for (; projects && projects->State() == ado::adStateOpen && !projects->IsEOF(); projects->MoveNext())
          if (projects->Value("ProjectId").ToLong() == *newProjectId) allowed = true;
        if (!allowed) return db.Fail("You are not allowed to move issues to this project.");
      }
    }

    // A required comment is asked for only when the move changes both resolution and status.
    std::string messages;
    bool bothChange = !EqualsNoCase(current.resolution, target.resolution) && !EqualsNoCase(current.status, target.status);
    if (RecordsetPtr required = GetIssueValidationByResolutionRs(db, target.resolution, target.status))
      CheckRequiredFields(*required, form, bothChange, messages);
    CheckLengths(fields, form, true, messages);
    CheckAssignee(target.assignee, messages);
    if (!messages.empty()) return db.Fail(CloseMessageList(std::move(messages)));

    std::vector<int32_t> attachments = AttachmentIds(form);
    std::vector<Comment> comments = FilledComments(fields, form);
    const std::string assignee = *ResolveAssignee(target.assignee);

    Database::Transaction tx(db);
    for (const LayoutField& f : fields) {
      if (std::optional<ColumnValue> c = ConvertField(f, form, true)) rs.SetValue(c->column, c->value);
    }
    rs.SetValue("AssignedToUser", Variant(assignee));
    rs.SetValue("ResolutionCode", Variant(target.resolution));
    rs.SetValue("StatusCode", Variant(target.status));
    // The closing date follows the status the issue ends up in, also when sent back.
    const automation::Date now = automation::Now();
    if (EqualsNoCase(target.status, "Closed") && rs.Value("DateClosed").IsNull()) {
      rs.SetValue("DateClosed", Variant::FromDate(automation::DateOnly(now)));
      rs.SetValue("DateTimeClosed", Variant::FromDate(now));
    }
    rs.SetValue("Valid", Variant(state->issueValid));
    rs.SetValue("Fixed", Variant(state->issueFixed));
    rs.SetValue("DateTimeLastUpdated", Variant::FromDate(now));
    rs.SetValue("DateLastUpdated", Variant::FromDate(automation::DateOnly(now)));
    const int32_t storedProjectId = rs.Value("ProjectId").ToLong();

    auto failed = [&](const std::optional<automation::LastError>& e) {
      if (!e) return false;
      if (db.IsConflict())
        db.Fail("Another user has changed this issue. You must cancel your changes.");
      else
        db.Fail(db.UnexpectedReport(*e));
      tx.Rollback();
      return true;
    };

    if (failed(db.Trap([&] { db.WriteBack(rs); }))) return false;

    if (changed &&
        failed(db.Trap([&] {
          db.Execute(
              "insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewAssignedToUser, "
              "NewStatusCode, OldResolutionCode, OldAssignedToUser, OldStatusCode) values (?, ?, ?, ?, ?, ?, ?, ?, ?)",
              {ado::Param::Long(issueId), ado::Param::Long(storedProjectId), ado::Param::Text(userId, 50),
               ado::Param::Text(target.resolution, 50), ado::Param::Text(assignee, 50),
               ado::Param::Text(target.status, 6), ado::Param::Text(current.resolution, 50),
               ado::Param::Text(current.assignee, 50), ado::Param::Text(current.status, 50)});
        })))
      return false;

    for (const Comment& c : comments) {
      if (failed(db.Trap([&] {
            db.Execute(
                "insert into IssueComments(IssueId, FieldName, CommentAuthor, CommentText) values (?, ?, ?, ?)",
                {ado::Param::Long(issueId, "IssueId"), ado::Param::Text(c.fieldName, 20, "FieldName"),
                 ado::Param::Text(userId, 50, "CommentAuthor"), ado::Param::Text(c.text, 7900, "CommentText")});
          })))
        return false;
    }

    // Only the issue's own attachments can be removed through its form.
    for (int32_t id : attachments) {
      if (failed(db.Trap([&] {
            db.Execute("delete from IssueAttachments where AttachmentId = ? and IssueId = ?",
                       {ado::Param::Long(id, "AttachmentId"), ado::Param::Long(issueId, "IssueId")});
          })))
        return false;
    }

    Notifications n;
    if (!CreatePendingNotifications(n, db, "Update", userId, issueId, current.assignee, assignee, current.resolution,
                                    current.status, target.resolution, target.status)) {
      db.Fail(n.GetLastErrorMessage());
      tx.Rollback();
      return false;
    }
    tx.Commit();
    return true;
  });
}

namespace {
automation::Register<Database> reg([](auto& c) { c.Method("UpdateIssue", &UpdateIssue); });
}  // namespace

}  // namespace brisquel
