#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/vbdate.h"
#include "issues/issue_writers.h"
#include "workflow_site.h"

namespace brisquel {
namespace {

using automation::Variant;
using writertest::FieldList;
using Strings = std::vector<std::string>;

const FieldList kNewIssue{
    {"ProjectCode", "1"},        {"ModuleCode", "Core"},          {"Summary", "Saving a layout loses its name"},
    {"PriorityCode", "High"},    {"SeverityCode", "Major"},       {"DetectedInBuildCode", "1.1"},
    {"VerifiedInBuildCode", ""}, {"Comments", "Steps: rename, save."}, {"ResolutionCode", "New"},
    {"StatusCode", "Open"},      {"AssignedToUser", "bob"},
};

class CreateIssueTest : public writertest::WorkflowSite {
 protected:
  int32_t Create(const std::string& user, const FieldList& changes = {}) {
    return CreateIssue(*db, user, writertest::Form(kNewIssue, changes));
  }
  std::string Message() { return db->LastErrorMessage(); }
  // Nothing of a refused creation may remain.
  void ExpectNothingWritten() {
    EXPECT_EQ(Count("Issues"), 6);
    EXPECT_EQ(Count("IssueHistory"), 11);
    EXPECT_EQ(Count("IssueComments"), 6);
    EXPECT_EQ(Count("EMailNotifications"), 0);
  }
};

TEST_F(CreateIssueTest, WritesTheIssueItsHistoryCommentAndNotificationTogether) {
  int32_t id = Create("alice", {{"Summary", "  Saving a layout loses its name "}});
  ASSERT_GT(id, 6) << Message();
  EXPECT_EQ(Message(), "");
  std::string today = automation::FormatDbDate(automation::Today());
  EXPECT_EQ(sql->Rows("select ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, DateOpened, "
                      "DateLastUpdated, Valid, Fixed, Summary, ModuleCode, PriorityCode, DetectedInBuildCode, "
                      "DateClosed is null from Issues where IssueId = " + std::to_string(id)),
            (Strings{"1|bob|New|Open|alice|" + today + "|" + today +
                     "|1|0|  Saving a layout loses its name |Core|High|1.1|1"}));
  // The creation's history row leaves the previous values blank.
  EXPECT_EQ(sql->Rows("select ProjectId, UserId, OldResolutionCode, OldStatusCode, OldAssignedToUser, "
                      "NewResolutionCode, NewStatusCode, NewAssignedToUser from IssueHistory where IssueId = " +
                      std::to_string(id)),
            (Strings{"1|alice||||New|Open|bob"}));
  EXPECT_EQ(sql->Rows("select FieldName, CommentAuthor, CommentText from IssueComments where IssueId = " +
                      std::to_string(id)),
            (Strings{"Comments|alice|Steps: rename, save."}));
  // The creator counts as the previous assignee: handing the issue to bob tells bob.
  EXPECT_EQ(sql->Rows("select EMailAddress, TemplateName, StatusCode, IssueId from EMailNotifications"),
            (Strings{"bob@example.com|Assignment Notice|Pending|" + std::to_string(id)}));
}

TEST_F(CreateIssueTest, AnAutomaticAssigneeIsStoredAsTheUserInside) {
  int32_t id = Create("bob", {{"AssignedToUser", "AUTOMATIC (alice)"}, {"Comments", ""}});
  ASSERT_GT(id, 0) << Message();
  EXPECT_EQ(sql->Text("select AssignedToUser from Issues where IssueId = " + std::to_string(id)), "alice");
  EXPECT_EQ(sql->Text("select NewAssignedToUser from IssueHistory where IssueId = " + std::to_string(id)), "alice");
  EXPECT_EQ(sql->Rows("select EMailAddress from EMailNotifications"), (Strings{"alice@example.com"}));
  EXPECT_EQ(Count("IssueComments", "IssueId = " + std::to_string(id)), 0);  // an empty comment is no comment
}

TEST_F(CreateIssueTest, APairThatIsNoStateGivesOnlyTheStateMessage) {
  EXPECT_EQ(Create("alice", {{"StatusCode", "Closed"}, {"Summary", ""}}), -1);
  EXPECT_EQ(Message(), "Invalid resolution and state combination (violates workflow configuration).");
  // A code wider than any state is refused the same way, never cut.
  EXPECT_EQ(Create("alice", {{"ResolutionCode", std::string(51, 'N')}}), -1);
  EXPECT_EQ(Message(), "Invalid resolution and state combination (violates workflow configuration).");
  ExpectNothingWritten();
}

TEST_F(CreateIssueTest, OnlyUsersWithTheRightStartIssuesAndOnlyInTheInitialMoves) {
  const std::string noRight = "You are not allowed to create issues in this project.";
  EXPECT_EQ(Create("frank"), -1);  // member of Demo in no creating group
  EXPECT_EQ(Message(), noRight);
  EXPECT_EQ(Create("alice", {{"ProjectCode", "2"}}), -1);  // not a member of Other
  EXPECT_EQ(Message(), noRight);
  EXPECT_EQ(Create("admin", {{"ProjectCode", "77"}}), -1);  // no such project
  EXPECT_EQ(Message(), noRight);
  EXPECT_EQ(Create("alice", {{"ProjectCode", "<absent>"}}), -1);
  EXPECT_EQ(Message(), noRight);
  // A state that new issues do not start in.
  EXPECT_EQ(Create("alice", {{"ResolutionCode", "Fixed"}, {"AssignedToUser", "carol"}}), -1);
  EXPECT_EQ(Message(), "Invalid resolution and state combination (violates workflow configuration).");
  // An assignee the creating move does not offer.
  EXPECT_EQ(Create("alice", {{"AssignedToUser", "carol"}}), -1);
  EXPECT_EQ(Message(),
            "The issue cannot be assigned to carol (user is not in the list of allowed assignees based on the "
            "workflow configuration).");
  ExpectNothingWritten();

  // A group lead of the project, a public user of a public project, and a user who may override
  // the workflow (with any assignee) may.
  EXPECT_GT(Create("erin"), 0) << Message();
  EXPECT_GT(Create("dave", {{"AssignedToUser", "Automatic (alice)"}}), 0) << Message();
  sql->Exec("INSERT INTO UserGroups (UserId, GroupCode) VALUES ('olga', 'Testers')");
  EXPECT_GT(Create("olga", {{"AssignedToUser", "carol"}}), 0) << Message();
}

TEST_F(CreateIssueTest, EveryFieldProblemIsReportedAtOnce) {
  sql->Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (2, 'ModuleCode'), (2, 'Comments')");
  sql->Exec("INSERT INTO UserGroups (UserId, GroupCode) VALUES ('olga', 'Developers')");
  EXPECT_EQ(Create("olga", {{"ModuleCode", ""},
                            {"Comments", "   "},
                            {"Summary", std::string(256, 's')},
                            {"AssignedToUser", "Automatic (bob"}}),
            -1);
  // A comment of spaces is blank for the check; the malformed automatic value is the override
  // user's, whom the assignee list does not stop.
  EXPECT_EQ(Message(),
            "Module cannot be blank.\r\nComments cannot be blank.\r\nSummary cannot be longer than 255 "
            "characters.\r\nThe assignee (Automatic (bob) is not a valid automatic assignment.");
  ExpectNothingWritten();
}

TEST_F(CreateIssueTest, TheLengthCheckMeasuresTheValueAsStored) {
  // Creation stores text as posted: leading blanks count.
  EXPECT_EQ(Create("alice", {{"Summary", " " + std::string(255, 's')}}), -1);
  EXPECT_EQ(Message(), "Summary cannot be longer than 255 characters.");
  // Exactly the limit, in characters (not bytes), passes.
  std::string accented;
  for (int i = 0; i < 255; ++i) accented += "\xC3\xA9";
  int32_t id = Create("alice", {{"Summary", accented}});
  ASSERT_GT(id, 0) << Message();
  EXPECT_EQ(sql->Text("select Summary from Issues where IssueId = " + std::to_string(id)), accented);
  // A blank required Summary (spaces only) is blank.
  EXPECT_EQ(Create("alice", {{"Summary", "    "}}), -1);
  EXPECT_EQ(Message(), "Summary cannot be blank.");
}

TEST_F(CreateIssueTest, AStatusTooWideForAnIssueIsRefused) {
  sql->Exec(
      "INSERT INTO StatusCodes (StatusCode, SortOrder) VALUES ('Pending', 4);"
      "INSERT INTO WorkflowStates (StateId, WorkflowId, ResolutionCode, StatusCode, IssueValid) VALUES "
      "  (30, 1, 'New', 'Pending', 1);"
      "INSERT INTO WorkflowActions (WorkflowId, ActionType, FromStateId, ToStateId) VALUES (1, 2, 1, 30);");
  EXPECT_EQ(Create("admin", {{"StatusCode", "Pending"}}), -1);
  EXPECT_EQ(Message(), "The status code (Pending) is longer than 6 characters, the most an issue's status can hold.");
  ExpectNothingWritten();
}

TEST_F(CreateIssueTest, CheckedProvisionalAttachmentsMoveToTheNewIssue) {
  sql->Exec(
      "INSERT INTO ProvisionalAttachments (ProvisionalAttachmentId, AttachmentMimeType, AttachmentFilename, "
      "AttachmentData) VALUES (11, 'text/plain', 'a.txt', x'61'), (12, 'image/png', 'b.png', x'89504E47'), "
      "(13, 'text/plain', 'c.txt', x'63')");
  auto form = writertest::Form(kNewIssue, {{"chkAttachment", "12"}});
  form->Fields()->Add("chkAttachment", "11");
  form->Fields()->Add("chkAttachment", "99");  // no such upload: nothing to move
  int32_t id = CreateIssue(*db, "alice", form);
  ASSERT_GT(id, 0) << Message();
  EXPECT_EQ(sql->Rows("select IssueId, AttachmentFilename, AttachmentMimeType, hex(AttachmentData) from "
                      "IssueAttachments order by AttachmentId"),
            (Strings{std::to_string(id) + "|b.png|image/png|89504E47", std::to_string(id) + "|a.txt|text/plain|61"}));
  EXPECT_EQ(sql->Rows("select ProvisionalAttachmentId from ProvisionalAttachments"), (Strings{"13"}));

  // An id that is not a number refuses the form before anything is written.
  EXPECT_EQ(Create("alice", {{"chkAttachment", "thirteen"}}), -1);
  EXPECT_EQ(Message(), "The attachment id 'thirteen' is not a valid number.");
  EXPECT_EQ(Count("Issues"), 7);
}

TEST_F(CreateIssueTest, AFailedCommentUndoesTheWholeCreation) {
  sql->Exec(
      "INSERT INTO ProvisionalAttachments (ProvisionalAttachmentId, AttachmentFilename) VALUES (11, 'a.txt');"
      "CREATE TRIGGER CommentsFull BEFORE INSERT ON IssueComments BEGIN SELECT RAISE(ABORT, 'no room'); END;");
  EXPECT_EQ(Create("alice", {{"chkAttachment", "11"}}), -1);
  EXPECT_EQ(Message().rfind("An unexpected error has occurred.", 0), 0u) << Message();
  EXPECT_NE(Message().find("no room"), std::string::npos) << Message();
  ExpectNothingWritten();
  EXPECT_EQ(Count("IssueAttachments"), 0);
  EXPECT_EQ(Count("ProvisionalAttachments"), 1);
  // The connection is usable again, with no transaction left open.
  sql->Exec("DROP TRIGGER CommentsFull");
  EXPECT_GT(Create("alice"), 0) << Message();
}

TEST_F(CreateIssueTest, AFailedNotificationUndoesTheCreation) {
  sql->Exec("CREATE TRIGGER NoMail BEFORE INSERT ON EMailNotifications BEGIN SELECT RAISE(ABORT, 'mail queue off'); END;");
  EXPECT_EQ(Create("alice"), -1);
  EXPECT_NE(Message().find("mail queue off"), std::string::npos) << Message();
  ExpectNothingWritten();
}

TEST_F(CreateIssueTest, CheckBoxesAndCallersByName) {
  sql->Exec(
      "ALTER TABLE Issues ADD COLUMN Regression BIT NOT NULL DEFAULT 0;"
      "INSERT INTO IssueFields (FieldName, FieldFriendlyName, Representation, DataEntryField, FilterFieldName) "
      "  VALUES ('Regression', 'Regression', 'checkbox', 1, 'Regression');"
      "INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) VALUES (1, 2, 2, 'Regression')");
  int32_t on = Create("alice", {{"Regression", "ON"}});
  int32_t off = Create("alice");
  ASSERT_GT(on, 0) << Message();
  ASSERT_GT(off, 0) << Message();
  EXPECT_EQ(sql->Int("select Regression from Issues where IssueId = " + std::to_string(on)), 1);
  EXPECT_EQ(sql->Int("select Regression from Issues where IssueId = " + std::to_string(off)), 0);

  std::shared_ptr<automation::Object> obj = db;
  Variant r = obj->Call("CreateIssue", {Variant("alice"), Variant(writertest::Form(kNewIssue, {{"StatusCode", "x"}}))});
  EXPECT_EQ(r.ToLong(), -1);
  EXPECT_EQ(obj->Get("LastErrorMessage").ToString(),
            "Invalid resolution and state combination (violates workflow configuration).");
}

}  // namespace
}  // namespace brisquel
