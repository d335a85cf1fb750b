// UpdateIssue: the posted form written into the issue row a page read with GetIssueRs, with its
// history row, comments, removed and added attachments and queued notifications, in one
// transaction.
// Steps: take the held row, work out where the issue goes (with "Return to sender"), check the
// move and the posted values, then write.
#include <algorithm>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/recordset_persistence.h"
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
constexpr std::string_view kMethod = "UpdateIssue";
constexpr std::string_view kConflict = "Another user has changed this issue. You must cancel your changes.";

struct Assignment {
  std::string resolution, status, assignee;
  bool SameAs(const Assignment& o) const {
    return EqualsNoCase(resolution, o.resolution) && EqualsNoCase(status, o.status) &&
           EqualsNoCase(assignee, o.assignee);
  }
};

// What the writer takes from the held row and the form, checked before anything is written.
struct IssueChange {
  int32_t issueId = 0;
  int32_t projectId = 0;
  Assignment current, target;
  bool returnToSender = false;
  StateRow state;
  std::string assignee;  // the target assignee, an automatic choice resolved
};

// The recordset a caller hands back must be one issue row of Issues; one of another shape is a
// posted image of another form's, the caller's input.
void CheckIssueRecordset(const std::shared_ptr<ado::Recordset>& rs) {
  if (!rs) ThrowError(kClass, kMethod, "A valid rsIssue has not been passed to UpdateIssue (set to nothing).");
  int32_t count = rs->RecordCount();
  if (count != 1) {
    ThrowInputFault(kClass, kMethod,
                    "A valid rsIssue has not been passed to UpdateIssue (contains " + std::to_string(count) +
                        " records, should contain 1).");
  }
  // Issues alone: a row of another table riding along in the image would be written back too.
  if (!RecordsetHolds(*rs, "Issues", {"IssueId"}))
    ThrowInputFault(kClass, kMethod, "A valid rsIssue has not been passed to UpdateIssue (not a row of Issues).");
}

// "Return to sender" goes back to the values before the issue's newest change.
Assignment PreviousAssignment(Database& db, int32_t issueId) {
  std::optional<Assignment> previous;
  db.Each("select * from IssueHistory where IssueHistory.IssueId = ? order by CreatedOn desc, HistoryId desc limit 1",
          {ado::Param::Long(issueId)}, [&](const sql::Row& r) {
            previous = Assignment{r.Text("OldResolutionCode"), r.Text("OldStatusCode"), r.Text("OldAssignedToUser")};
          });
  if (!previous) Refuse("Cannot return issue to sender because there are no history records.");
  if (previous->resolution.empty() && previous->status.empty() && previous->assignee.empty())
    Refuse("Cannot return to sender (previous values for resolution, status, and assigned to user are blank).");
  return *previous;
}

// The move must follow the workflow (unless it sends the issue back) and land in a state.
void CheckMove(Database& db, const std::string& userId, IssueChange& c) {
  const bool changed = !c.target.SameAs(c.current);
  // Codes wider than the state columns cannot name a state; they reach no statement.
  const bool codesFit = CharLength(c.target.resolution) <= kCodeWidth && CharLength(c.target.status) <= kCodeWidth;
  if (changed && !c.returnToSender && codesFit) {
    std::string refusal = ValidIssueAssignment(db, userId, c.projectId, c.issueId, c.target.resolution,
                                               c.target.status, c.target.assignee);
    if (!refusal.empty()) Refuse(refusal);
  }
  std::optional<StateRow> state = FindWorkflowState(db, c.target.resolution, c.target.status);
  if (!state) {
    Refuse("Invalid resolution (" + c.target.resolution + ") and state (" + c.target.status +
           ") combination - violates workflow configuration.");
  }
  c.state = *state;
  // A status wider than an issue's status is refused, never cut.
  if (std::string m = StatusWidthMessage(c.target.status); !m.empty()) Refuse(m);
}

// A moved issue must land in a project the user works in.
void CheckProjectMove(Database& db, const std::string& userId, const std::vector<LayoutField>& fields,
                      const MultipartFormData& form, int32_t projectId) {
  if (!HasProjectField(fields)) return;
  std::optional<int32_t> newProjectId = PostedProjectId(form);
  if (!newProjectId) Refuse("The project (" + FormText(form, "ProjectCode") + ") does not exist.");
  if (*newProjectId != projectId && !IsUserProject(db, userId, *newProjectId))
    Refuse("You are not allowed to move issues to this project.");
}

// Every problem of the posted values at once. A required comment is asked for only when the move
// changes both resolution and status.
void CheckPostedValues(Database& db, const std::vector<LayoutField>& fields, const MultipartFormData& form,
                       const IssueChange& c, const ado::Recordset& held) {
  std::string messages;
  const bool bothChange = !EqualsNoCase(c.current.resolution, c.target.resolution) &&
                          !EqualsNoCase(c.current.status, c.target.status);
  CheckRequiredFields(RequiredFieldsOf(db, c.target.resolution, c.target.status), form, bothChange, messages);
  CheckLengths(fields, form, true, messages);
  CheckAssignee(c.target.assignee, messages);
  // The lists of the project the issue ends up in.
  const int32_t projectId = HasProjectField(fields) ? PostedProjectId(form).value_or(c.projectId) : c.projectId;
  if (messages.empty()) CheckListValues(db, fields, form, projectId, &held, messages);
  if (!messages.empty()) Refuse(CloseMessageList(std::move(messages)));
}

// The posted fields and the move into the held row, sent back; the stored project id after it.
int32_t WriteIssueRow(Database& db, ado::Recordset& rs, const std::vector<LayoutField>& fields,
                      const MultipartFormData& form, const IssueChange& c) {
  for (const LayoutField& f : fields) {
    if (std::optional<ColumnValue> v = ConvertField(f, form, true)) rs.SetValue(v->column, v->value);
  }
  rs.SetValue("AssignedToUser", Variant(c.assignee));
  rs.SetValue("ResolutionCode", Variant(c.target.resolution));
  rs.SetValue("StatusCode", Variant(c.target.status));
  // The closing date follows the status the issue ends up in, also when sent back.
  const automation::Date now = automation::Now();
  if (EqualsNoCase(c.target.status, "Closed") && rs.Value("DateClosed").IsNull()) {
    rs.SetValue("DateClosed", Variant::FromDate(automation::DateOnly(now)));
    rs.SetValue("DateTimeClosed", Variant::FromDate(now));
  }
  rs.SetValue("Valid", Variant(c.state.issueValid));
  rs.SetValue("Fixed", Variant(c.state.issueFixed));
  rs.SetValue("DateTimeLastUpdated", Variant::FromDate(now));
  rs.SetValue("DateLastUpdated", Variant::FromDate(automation::DateOnly(now)));
  const int32_t storedProjectId = rs.Value("ProjectId").ToLong();
  WriteStep(db, [&] { db.WriteBack(rs); }, kConflict);
  return storedProjectId;
}

void WriteHistory(Database& db, const std::string& userId, const IssueChange& c, int32_t projectId) {
  WriteStep(db, [&] {
    db.Exec(
        "insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewAssignedToUser, "
        "NewStatusCode, OldResolutionCode, OldAssignedToUser, OldStatusCode) values (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {ado::Param::Long(c.issueId), ado::Param::Long(projectId), ado::Param::Text(userId, 50),
         ado::Param::Text(c.target.resolution, 50), ado::Param::Text(c.assignee, 50),
         ado::Param::Text(c.target.status, 6), ado::Param::Text(c.current.resolution, 50),
         ado::Param::Text(c.current.assignee, 50), ado::Param::Text(c.current.status, 50)});
  });
}

void WriteComments(Database& db, const std::string& userId, int32_t issueId, const std::vector<Comment>& comments) {
  for (const Comment& c : comments) {
    WriteStep(db, [&] {
      db.Exec("insert into IssueComments(IssueId, FieldName, CommentAuthor, CommentText) values (?, ?, ?, ?)",
              {ado::Param::Long(issueId, "IssueId"), ado::Param::Text(c.fieldName, 20, "FieldName"),
               ado::Param::Text(userId, 50, "CommentAuthor"), ado::Param::Text(c.text, 7900, "CommentText")});
    });
  }
}

// Only the issue's own attachments can be removed through its form.
void RemoveAttachments(Database& db, int32_t issueId, const std::vector<int32_t>& attachments) {
  for (int32_t id : attachments) {
    WriteStep(db, [&] {
      db.Exec("delete from IssueAttachments where AttachmentId = ? and IssueId = ?",
              {ado::Param::Long(id, "AttachmentId"), ado::Param::Long(issueId, "IssueId")});
    });
  }
}

// The provisional rows the page wrote for files posted with the form: Empty for none, one id, or an
// array of ids.
std::vector<int32_t> ProvisionalIds(const Variant& ids) {
  if (ids.IsEmpty() || ids.IsMissing() || ids.IsNull()) return {};
  if (!ids.IsArray()) return {ids.ToLong()};
  std::vector<int32_t> out;
  for (const Variant& id : ids.ToArray()) out.push_back(id.ToLong());
  return out;
}

}  // namespace

bool UpdateIssue(Database& db, const std::string& userId, std::shared_ptr<ado::Recordset> rsIssue,
                 std::shared_ptr<MultipartFormData> formData, const Variant& newAttachments) {
  return Writer(db, kClass, kMethod, [&] {
    CheckIssueRecordset(rsIssue);
    if (!formData)
      ThrowError(kClass, kMethod, "A valid FormData has not been passed to UpdateIssue (set to nothing).");
    ado::Recordset& rs = *rsIssue;
    const MultipartFormData& form = *formData;
    rs.MoveFirst();
    // A malformed list of ticked attachments refuses the form before anything else is looked at.
    const std::vector<int32_t> attachments = AttachmentIds(form);
    std::vector<LayoutField> fields = ReadLayoutFields(db);

    IssueChange c;
    c.issueId = rs.Value("IssueId").ToLong();
    c.projectId = rs.Value("ProjectId").ToLong();
    c.current = {rs.Text("ResolutionCode"), rs.Text("StatusCode"), rs.Text("AssignedToUser")};
    c.target = {FormText(form, "ResolutionCode"), FormText(form, "StatusCode"), FormText(form, "AssignedToUser")};
    if (!UserCanModifyIssue(db, userId, c.issueId))
      Refuse("You are not allowed to change issue #" + std::to_string(c.issueId) + ".");
    c.returnToSender = EqualsNoCase(c.target.resolution, kReturnToSender);
    if (c.returnToSender) c.target = PreviousAssignment(db, c.issueId);
    CheckMove(db, userId, c);
    CheckProjectMove(db, userId, fields, form, c.projectId);
    CheckPostedValues(db, fields, form, c, rs);

    const std::vector<int32_t> added = ProvisionalIds(newAttachments);
    const std::vector<Comment> comments = FilledComments(fields, form);
    c.assignee = *ResolveAssignee(c.target.assignee);

    Database::Transaction tx(db);
    const int32_t storedProjectId = WriteIssueRow(db, rs, fields, form, c);
    if (!c.target.SameAs(c.current)) WriteHistory(db, userId, c, storedProjectId);
    WriteComments(db, userId, c.issueId, comments);
    RemoveAttachments(db, c.issueId, attachments);
    TakeOverProvisionalAttachments(db, c.issueId, added);
    Notifications n;
    if (!CreatePendingNotifications(n, db, "Update", userId, c.issueId, c.current.assignee, c.assignee,
                                    c.current.resolution, c.current.status, c.target.resolution, c.target.status))
      Refuse(n.GetLastErrorMessage());
    tx.Commit();
    return true;
  });
}

namespace {
automation::Register<Database> reg([](auto& c) { c.Method("UpdateIssue", &UpdateIssue, {Variant()}); });
}  // namespace

}  // namespace brisquel
