#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/vbdate.h"
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

constexpr std::string_view kInvalidState =
    "Invalid resolution and state combination (violates workflow configuration).";
constexpr std::string_view kNoCreateRight = "You are not allowed to create issues in this project.";

bool IsUserProject(Database& db, const std::string& userId, int32_t projectId) {
  RecordsetPtr rs = GetUserProjectsRs(db, userId);
  for (; rs && rs->State() == ado::adStateOpen && !rs->IsEOF(); rs->MoveNext())
    if (rs->Value("ProjectId").ToLong() == projectId) return true;
  return false;
}

// The actions leaving the initial state that the user may take in the project: all of them, and
// those that lead to the pair.
struct InitialActions {
  bool any = false;
  std::vector<int32_t> toPair;
};
InitialActions AllowedInitialActions(Database& db, const std::string& userId, int32_t projectId,
                                     const std::string& resolutionCode, const std::string& statusCode) {
  InitialActions a;
  RecordsetPtr rs = GetAllowedNewResolutionRs(db, projectId, userId);
  for (; rs && rs->State() == ado::adStateOpen && !rs->IsEOF(); rs->MoveNext()) {
    a.any = true;
    if (EqualsNoCase(rs->Value("ResolutionCode").ToString(), resolutionCode) &&
        EqualsNoCase(rs->Value("StatusCode").ToString(), statusCode))
      a.toPair.push_back(rs->Value("ActionId").ToLong());
  }
  return a;
}

bool AssigneeOffered(Database& db, int32_t projectId, const std::vector<int32_t>& actions,
                     const std::string& postedAssignee) {
  for (int32_t actionId : actions) {
    RecordsetPtr rs = GetAllowedAssigneeForNewRs(db, projectId, actionId);
    for (; rs && rs->State() == ado::adStateOpen && !rs->IsEOF(); rs->MoveNext()) {
      Variant u = rs->Value(size_t{0});
      if (!u.IsNull() && EqualsNoCase(u.ToString(), postedAssignee)) return true;
    }
  }
  return false;
}

}  // namespace

int32_t CreateIssue(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Procedure("Database", "CreateIssue", [&]() -> int32_t {
    db.SetLastErrorMessage("");
    if (!formData) ThrowError("Database", "CreateIssue", "A valid FormData has not been passed to CreateIssue (set to nothing).");
    const MultipartFormData& form = *formData;
    auto refuse = [&](std::string sentence) {
      db.Fail(std::move(sentence));
      return -1;
    };
    std::vector<LayoutField> fields = ReadLayoutFields(db);

    const std::string resolutionCode = FormText(form, "ResolutionCode");
    const std::string statusCode = FormText(form, "StatusCode");
    const std::string postedAssignee = FormText(form, "AssignedToUser");

    std::optional<StateRow> state = FindWorkflowState(db, resolutionCode, statusCode);
    if (!state) return refuse(std::string(kInvalidState));
    if (std::string m = StatusWidthMessage(statusCode); !m.empty()) return refuse(m);

    // The creator must work in the project and may start issues only where the workflow lets
    // him, with an assignee the chosen move offers.
    std::optional<int32_t> projectId = PostedProjectId(form);
    if (!projectId || !IsUserProject(db, userId, *projectId)) return refuse(std::string(kNoCreateRight));
    InitialActions actions = AllowedInitialActions(db, userId, *projectId, resolutionCode, statusCode);
    if (!actions.any) return refuse(std::string(kNoCreateRight));
    if (actions.toPair.empty()) return refuse(std::string(kInvalidState));
    if (!UserCanOverrideWorkflow(db, userId, *projectId) &&
        !AssigneeOffered(db, *projectId, actions.toPair, postedAssignee)) {
      return refuse("The issue cannot be assigned to " + postedAssignee +
                    " (user is not in the list of allowed assignees based on the workflow configuration).");
    }

    std::string messages;
    if (RecordsetPtr required = GetIssueValidationByResolutionRs(db, resolutionCode, statusCode))
      CheckRequiredFields(*required, form, true, messages);
    CheckLengths(fields, form, false, messages);
    CheckAssignee(postedAssignee, messages);
    if (!messages.empty()) return refuse(CloseMessageList(std::move(messages)));

    std::vector<int32_t> attachments = AttachmentIds(form);
    std::vector<Comment> comments = FilledComments(fields, form);
    const std::string assignee = *ResolveAssignee(postedAssignee);

    std::string columns, values;
    ado::Params params;
    for (const LayoutField& f : fields) {
      std::optional<ColumnValue> c = ConvertField(f, form, false);
      if (!c) continue;
      columns += c->column + ",";
      values += "?,";
      params.push_back(ado::Param{c->paramName, c->type, ado::adParamInput, c->size, c->value});
    }
    const Variant today = Variant::FromDate(automation::Today());
    params.push_back(ado::Param::Text(assignee, 50, "AssignedToUser"));
    params.push_back(ado::Param::Text(resolutionCode, 50, "ResolutionCode"));
    params.push_back(ado::Param::Text(statusCode, 6, "StatusCode"));
    params.push_back(ado::Param::Text(userId, 50, "CreatedByUserId"));
    params.push_back(ado::Param::DateTime(today, "DateCreated"));
    params.push_back(ado::Param::Bool(state->issueValid, "Valid"));
    params.push_back(ado::Param::Bool(state->issueFixed, "Fixed"));
    params.push_back(ado::Param::DateTime(today, "DateLastUpdated"));
    const std::string insertIssue = "SET NOCOUNT ON; INSERT INTO Issues (" + columns +
                                    "AssignedToUser,ResolutionCode,StatusCode,CreatedByUserId,DateOpened,Valid,Fixed,"
                                    "DateLastUpdated) VALUES (" +
                                    values + "?, ?, ?, ?, ?, ?, ?, ?); select @@identity as IssueId";

    Database::Transaction tx(db);
    // A failed statement leaves the connection's report and undoes the whole creation.
    auto failed = [&](const std::optional<automation::LastError>& e) {
      if (!e) return false;
      db.Fail(db.UnexpectedReport(*e));
      tx.Rollback();
      return true;
    };

    int32_t issueId = -1;
    if (failed(db.Trap([&] {
          auto rs = db.Connection().Query(insertIssue, params);
          issueId = rs->Value("IssueId").ToLong();
        })))
      return -1;

    if (failed(db.Trap([&] {
          db.Execute(
              "set nocount on; insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, "
              "NewAssignedToUser, NewStatusCode) values (?, ?, ?, ?, ?, ?); select @@Identity as HistoryId",
              {ado::Param::Long(issueId, "IssueId"), ado::Param::Long(*projectId, "ProjectId"),
               ado::Param::Text(userId, 50, "UserId"), ado::Param::Text(resolutionCode, 50, "NewResolutionCode"),
               ado::Param::Text(assignee, 50, "NewAssignedToUser"), ado::Param::Text(statusCode, 6, "NewStatusCode")});
        })))
      return -1;

    for (int32_t id : attachments) {
      if (failed(db.Trap([&] {
            db.Execute(
                "INSERT INTO IssueAttachments (AttachmentMimeType, AttachmentFilename, AttachmentData, IssueId) "
                "SELECT ProvisionalAttachments.AttachmentMimeType, ProvisionalAttachments.AttachmentFilename, "
                "ProvisionalAttachments.AttachmentData, Issues.IssueId FROM ProvisionalAttachments, Issues WHERE "
                "(ProvisionalAttachments.ProvisionalAttachmentId = ?) AND (Issues.IssueId = ?)",
                {ado::Param::Long(id, "ProvisionalAttachmentId"), ado::Param::Long(issueId, "IssueId")});
          })))
        return -1;
      if (failed(db.Trap([&] {
            db.Execute(
                "DELETE FROM ProvisionalAttachments WHERE (ProvisionalAttachments.ProvisionalAttachmentId = ?)",
                {ado::Param::Long(id, "ProvisionalAttachmentId")});
          })))
        return -1;
    }

    for (const Comment& c : comments) {
      if (failed(db.Trap([&] {
            db.Execute(
                "set nocount on; insert into IssueComments(IssueId, FieldName, CommentAuthor, CommentText) "
                "values (?, ?, ?, ?); select @@Identity as CommentId",
                {ado::Param::Long(issueId, "IssueId"), ado::Param::Text(c.fieldName, 20, "FieldName"),
                 ado::Param::Text(userId, 50, "CommentAuthor"), ado::Param::Text(c.text, 7900, "CommentText")});
          })))
        return -1;
    }

    Notifications n;
    if (!CreatePendingNotifications(n, db, "Create", userId, issueId, userId, assignee, "", "", resolutionCode,
                                    statusCode)) {
      db.Fail(n.GetLastErrorMessage());
      tx.Rollback();
      return -1;
    }
    tx.Commit();
    return issueId;
  });
}

namespace {
automation::Register<Database> reg([](auto& c) { c.Method("CreateIssue", &CreateIssue); });
}  // namespace

}  // namespace brisquel
