// CreateIssue: a new issue from the posted form, with its first history row, its attachments
// (taken over from the provisional ones), comments and queued notifications, in one transaction.
// Steps: check where the issue starts and who may start it there, check the posted values, build
// the insert from the entry form's fields, then write.
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/vbdate.h"
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
constexpr std::string_view kMethod = "CreateIssue";
constexpr std::string_view kInvalidState =
    "Invalid resolution and state combination (violates workflow configuration).";
constexpr std::string_view kNoCreateRight = "You are not allowed to create issues in this project.";

// What the posted form asks for.
struct NewIssue {
  std::string resolutionCode, statusCode, postedAssignee;
  int32_t projectId = 0;
  StateRow state;
  std::string assignee;  // an automatic choice resolved
};

// The creator must work in the project and may start issues only where the workflow lets him,
// with an assignee the chosen move offers.
void CheckStart(Database& db, const std::string& userId, const MultipartFormData& form, NewIssue& n) {
  std::optional<StateRow> state = FindWorkflowState(db, n.resolutionCode, n.statusCode);
  if (!state) Refuse(std::string(kInvalidState));
  n.state = *state;
  if (std::string m = StatusWidthMessage(n.statusCode); !m.empty()) Refuse(m);

  std::optional<int32_t> projectId = PostedProjectId(form);
  if (!projectId || !IsUserProject(db, userId, *projectId)) Refuse(std::string(kNoCreateRight));
  n.projectId = *projectId;
  std::vector<NewAction> actions = AllowedNewActions(db, n.projectId, userId);
  if (actions.empty()) Refuse(std::string(kNoCreateRight));
  std::vector<int32_t> toPair;
  for (const NewAction& a : actions)
    if (EqualsNoCase(a.resolutionCode, n.resolutionCode) && EqualsNoCase(a.statusCode, n.statusCode))
      toPair.push_back(a.actionId);
  if (toPair.empty()) Refuse(std::string(kInvalidState));
  if (UserCanOverrideWorkflow(db, userId, n.projectId)) return;
  for (int32_t actionId : toPair)
    for (const std::string& u : AllowedAssigneesForNew(db, n.projectId, actionId))
      if (EqualsNoCase(u, n.postedAssignee)) return;
  Refuse("The issue cannot be assigned to " + n.postedAssignee +
         " (user is not in the list of allowed assignees based on the workflow configuration).");
}

void CheckPostedValues(Database& db, const std::vector<LayoutField>& fields, const MultipartFormData& form,
                       const NewIssue& n) {
  std::string messages;
  CheckRequiredFields(RequiredFieldsOf(db, n.resolutionCode, n.statusCode), form, true, messages);
  CheckLengths(fields, form, false, messages);
  CheckAssignee(n.postedAssignee, messages);
  if (messages.empty()) CheckListValues(db, fields, form, n.projectId, nullptr, messages);
  if (!messages.empty()) Refuse(CloseMessageList(std::move(messages)));
}

// The insert of the issue row: the entry form's fields as posted, then the writer's own columns.
struct Insert {
  std::string sql;
  ado::Params params;
};
Insert IssueInsert(const std::vector<LayoutField>& fields, const MultipartFormData& form, const std::string& userId,
                   const NewIssue& n) {
  Insert ins;
  std::string columns, values;
  for (const LayoutField& f : fields) {
    std::optional<ColumnValue> c = ConvertField(f, form, false);
    if (!c) continue;
    columns += ado::QuoteIdentifier(c->column) + ",";
    values += "?,";
    ins.params.push_back(ado::Param{c->paramName, c->type, ado::adParamInput, c->size, c->value});
  }
  const Variant today = Variant::FromDate(automation::Today());
  ins.params.push_back(ado::Param::Text(n.assignee, 50, "AssignedToUser"));
  ins.params.push_back(ado::Param::Text(n.resolutionCode, 50, "ResolutionCode"));
  ins.params.push_back(ado::Param::Text(n.statusCode, 6, "StatusCode"));
  ins.params.push_back(ado::Param::Text(userId, 50, "CreatedByUserId"));
  ins.params.push_back(ado::Param::DateTime(today, "DateCreated"));
  ins.params.push_back(ado::Param::Bool(n.state.issueValid, "Valid"));
  ins.params.push_back(ado::Param::Bool(n.state.issueFixed, "Fixed"));
  ins.params.push_back(ado::Param::DateTime(today, "DateLastUpdated"));
  ins.sql = "SET NOCOUNT ON; INSERT INTO Issues (" + columns +
            "AssignedToUser,ResolutionCode,StatusCode,CreatedByUserId,DateOpened,Valid,Fixed,"
            "DateLastUpdated) VALUES (" +
            values + "?, ?, ?, ?, ?, ?, ?, ?); select @@identity as IssueId";
  return ins;
}

int32_t WriteIssueRow(Database& db, const Insert& ins) {
  int32_t issueId = -1;
  WriteStep(db, [&] { issueId = db.One<int32_t>(ins.sql, ins.params).value_or(-1); });
  return issueId;
}

void WriteHistory(Database& db, const std::string& userId, int32_t issueId, const NewIssue& n) {
  WriteStep(db, [&] {
    db.Exec(
        "set nocount on; insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, "
        "NewAssignedToUser, NewStatusCode) values (?, ?, ?, ?, ?, ?); select @@Identity as HistoryId",
        {ado::Param::Long(issueId, "IssueId"), ado::Param::Long(n.projectId, "ProjectId"),
         ado::Param::Text(userId, 50, "UserId"), ado::Param::Text(n.resolutionCode, 50, "NewResolutionCode"),
         ado::Param::Text(n.assignee, 50, "NewAssignedToUser"), ado::Param::Text(n.statusCode, 6, "NewStatusCode")});
  });
}

void WriteComments(Database& db, const std::string& userId, int32_t issueId, const std::vector<Comment>& comments) {
  for (const Comment& c : comments) {
    WriteStep(db, [&] {
      db.Exec(
          "set nocount on; insert into IssueComments(IssueId, FieldName, CommentAuthor, CommentText) "
          "values (?, ?, ?, ?); select @@Identity as CommentId",
          {ado::Param::Long(issueId, "IssueId"), ado::Param::Text(c.fieldName, 20, "FieldName"),
           ado::Param::Text(userId, 50, "CommentAuthor"), ado::Param::Text(c.text, 7900, "CommentText")});
    });
  }
}

}  // namespace

int32_t CreateIssue(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, kMethod, int32_t{-1}, [&] {
    if (!formData) ThrowError(kClass, kMethod, "A valid FormData has not been passed to CreateIssue (set to nothing).");
    const MultipartFormData& form = *formData;
    std::vector<LayoutField> fields = ReadLayoutFields(db);
    NewIssue n;
    n.resolutionCode = FormText(form, "ResolutionCode");
    n.statusCode = FormText(form, "StatusCode");
    n.postedAssignee = FormText(form, "AssignedToUser");
    CheckStart(db, userId, form, n);
    CheckPostedValues(db, fields, form, n);

    const std::vector<int32_t> attachments = AttachmentIds(form);
    const std::vector<Comment> comments = FilledComments(fields, form);
    n.assignee = *ResolveAssignee(n.postedAssignee);
    const Insert ins = IssueInsert(fields, form, userId, n);

    Database::Transaction tx(db);
    // A failed statement leaves the connection's report and undoes the whole creation.
    const int32_t issueId = WriteIssueRow(db, ins);
    WriteHistory(db, userId, issueId, n);
    TakeOverProvisionalAttachments(db, issueId, attachments);
    WriteComments(db, userId, issueId, comments);
    Notifications notifications;
    if (!CreatePendingNotifications(notifications, db, "Create", userId, issueId, userId, n.assignee, "", "",
                                    n.resolutionCode, n.statusCode))
      Refuse(notifications.GetLastErrorMessage());
    tx.Commit();
    return issueId;
  });
}

namespace {
automation::Register<Database> reg([](auto& c) { c.Method("CreateIssue", &CreateIssue); });
}  // namespace

}  // namespace brisquel
