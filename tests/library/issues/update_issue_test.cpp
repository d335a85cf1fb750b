#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/vbdate.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/recordset_persistence.h"
#include "issues/issue_writers.h"
#include "workflow_site.h"

namespace brisquel {
namespace {

using automation::ComError;
using automation::Variant;
using writertest::FieldList;
using Strings = std::vector<std::string>;

// The entry form of an issue as the page posts it back unchanged.
FieldList Posted(ado::Recordset& rs) {
  FieldList f;
  for (const char* name : {"ModuleCode", "Summary", "PriorityCode", "SeverityCode", "DetectedInBuildCode",
                           "VerifiedInBuildCode", "ResolutionCode", "StatusCode", "AssignedToUser"})
    f.emplace_back(name, rs.Value(name).ToString());
  f.emplace_back("ProjectCode", rs.Value("ProjectId").ToString());
  f.emplace_back("Comments", "");
  return f;
}

class UpdateIssueTest : public writertest::WorkflowSite {
 protected:
  bool Update(const std::string& user, int issueId, const FieldList& changes = {}) {
    auto rs = GetIssueRs(*db, issueId);
    return UpdateIssue(*db, user, rs, writertest::Form(Posted(*rs), changes));
  }
  std::string Message() { return db->LastErrorMessage(); }
  std::string Issue(int id, const std::string& columns) {
    return sql->Text("select " + columns + " from Issues where IssueId = " + std::to_string(id));
  }
  Strings History(int id) {
    return sql->Rows(
        "select UserId, OldResolutionCode, OldStatusCode, OldAssignedToUser, NewResolutionCode, NewStatusCode, "
        "NewAssignedToUser, ProjectId from IssueHistory where IssueId = " + std::to_string(id) +
        " order by CreatedOn, HistoryId");
  }
  // A rule that tells a fixed address of every update.
  void WatchUpdates() {
    sql->Exec(
        "INSERT INTO EMailNotificationRules (ProjectId, NotificationRuleName, Active, NotificationEventType, "
        "WorkflowId, ActionId, RecipientType, RecipientAddress, TemplateName) "
        "VALUES (-1, 'watch', 1, 3, 1, 0, 5, 'watch@example.com', 'Assignment Notice')");
  }
  std::string today = automation::FormatDbDate(automation::Today());
};

TEST_F(UpdateIssueTest, AMoveWritesTheIssueHistoryCommentAndNotification) {
  // alice fixes issue 1 and hands it to the Testers' lead automatically.
  ASSERT_TRUE(Update("alice", 1,
                     {{"ResolutionCode", "Fixed"}, {"AssignedToUser", "Automatic (carol)"},
                      {"Summary", "  Passwords with a blank are refused  "}, {"Comments", "Fixed in 1.2."}}))
      << Message();
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(Issue(1, "AssignedToUser || '|' || ResolutionCode || '|' || StatusCode || '|' || Valid || '|' || Fixed "
                     "|| '|' || Summary || '|' || DateLastUpdated || '|' || (DateTimeLastUpdated is not null)"),
            "carol|Fixed|Open|1|1|Passwords with a blank are refused|" + today + "|1");
  EXPECT_EQ(History(1).back(), "alice|New|Open|alice|Fixed|Open|carol|1");
  EXPECT_EQ(sql->Rows("select CommentAuthor, CommentText from IssueComments where IssueId = 1 order by CommentId desc "
                      "limit 1"),
            (Strings{"alice|Fixed in 1.2."}));
  EXPECT_EQ(sql->Rows("select EMailAddress from EMailNotifications"), (Strings{"carol@example.com"}));
}

TEST_F(UpdateIssueTest, PostingTheSameStateAgainWritesFieldsButNoHistory) {
  WatchUpdates();
  sql->Exec("INSERT INTO IssueAttachments (AttachmentId, IssueId, AttachmentFilename) VALUES (7, 1, 'log.txt')");
  // A mover without the right to reach anything: no workflow check is made.
  sql->Exec("DELETE FROM WorkflowActions WHERE FromStateId = 2");
  ASSERT_TRUE(Update("alice", 1, {{"Summary", "Blanks in passwords"}, {"Comments", "More detail."},
                                  {"chkAttachment", "7"}, {"ResolutionCode", "new"}, {"AssignedToUser", "ALICE"}}))
      << Message();
  EXPECT_EQ(Issue(1, "Summary"), "Blanks in passwords");
  EXPECT_EQ(History(1).size(), 1u);
  EXPECT_EQ(Count("IssueComments", "IssueId = 1"), 2);
  EXPECT_EQ(Count("IssueAttachments"), 0);
  EXPECT_EQ(sql->Rows("select EMailAddress from EMailNotifications"), (Strings{"watch@example.com"}));
}

TEST_F(UpdateIssueTest, ReturnToSenderRestoresTheNewestHistoryRow) {
  // Issue 2 went from New/Open (alice) to Fixed/Open (carol); carol sends it back.
  ASSERT_TRUE(Update("carol", 2, {{"ResolutionCode", "RETURN TO SENDER"}, {"StatusCode", "Open"}})) << Message();
  EXPECT_EQ(Issue(2, "AssignedToUser || '|' || ResolutionCode || '|' || StatusCode || '|' || Valid || '|' || Fixed"),
            "alice|New|Open|1|0");
  EXPECT_EQ(History(2).back(), "carol|Fixed|Open|carol|New|Open|alice|1");
  EXPECT_EQ(sql->Rows("select EMailAddress from EMailNotifications"), (Strings{"alice@example.com"}));

  // The restored state's required fields are checked.
  sql->Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (3, 'ModuleCode')");
  sql->Exec("INSERT INTO IssueHistory (IssueId, ProjectId, UserId, CreatedOn, OldResolutionCode, OldStatusCode, "
            "OldAssignedToUser, NewResolutionCode, NewStatusCode, NewAssignedToUser) VALUES "
            "(5, 1, 'carol', '2031-01-01 00:00:00.000', 'Fixed', 'Open', 'carol', 'New', 'Open', 'bob')");
  EXPECT_FALSE(Update("bob", 5, {{"ResolutionCode", "Return to sender"}, {"ModuleCode", ""}}));
  EXPECT_EQ(Message(), "Module cannot be blank.");
}

TEST_F(UpdateIssueTest, ReturnToSenderNeedsPreviousValues) {
  // Issue 1 has only its creation row, whose previous values are blank.
  EXPECT_FALSE(Update("alice", 1, {{"ResolutionCode", "Return to sender"}}));
  EXPECT_EQ(Message(), "Cannot return to sender (previous values for resolution, status, and assigned to user are blank).");
  sql->Exec("DELETE FROM IssueHistory WHERE IssueId = 5");
  EXPECT_FALSE(Update("bob", 5, {{"ResolutionCode", "Return to sender"}}));
  EXPECT_EQ(Message(), "Cannot return issue to sender because there are no history records.");
  EXPECT_EQ(Issue(1, "ResolutionCode"), "New");
  EXPECT_EQ(Count("IssueHistory"), 10);
}

TEST_F(UpdateIssueTest, ClosingDatesFollowTheStatusTheIssueEndsIn) {
  // Issue 2 (Fixed/Open, carol) is verified and closed; reopening keeps the first closing date.
  ASSERT_TRUE(Update("carol", 2, {{"StatusCode", "closed"}})) << Message();
  EXPECT_EQ(Issue(2, "DateClosed"), today);
  EXPECT_NE(Issue(2, "DateTimeClosed"), "");
  sql->Exec("UPDATE Issues SET DateClosed = '2020-01-01 00:00:00.000' WHERE IssueId = 2");
  ASSERT_TRUE(Update("carol", 2, {{"ResolutionCode", "New"}, {"StatusCode", "Open"}, {"AssignedToUser", "Automatic (alice)"}}))
      << Message();
  EXPECT_EQ(Issue(2, "DateClosed || '|' || AssignedToUser"), "2020-01-01 00:00:00.000|alice");
  EXPECT_EQ(History(2).back(), "carol|Fixed|closed|carol|New|Open|alice|1");

  // Sent back to a closed state while the page posted "Open": the issue is closed again.
  sql->Exec("INSERT INTO IssueHistory (IssueId, ProjectId, UserId, CreatedOn, OldResolutionCode, OldStatusCode, "
            "OldAssignedToUser, NewResolutionCode, NewStatusCode, NewAssignedToUser) VALUES "
            "(5, 1, 'carol', '2031-01-01 00:00:00.000', 'Fixed', 'Closed', 'carol', 'New', 'Open', 'bob')");
  ASSERT_TRUE(Update("bob", 5, {{"ResolutionCode", "Return to sender"}, {"StatusCode", "Open"}})) << Message();
  EXPECT_EQ(Issue(5, "StatusCode || '|' || DateClosed"), "Closed|" + today);
}

TEST_F(UpdateIssueTest, TheSecondOfTwoUpdatesFromOneReadIsRefusedAndWritesNothing) {
  WatchUpdates();
  auto first = GetIssueRs(*db, 1);
  auto second = GetIssueRs(*db, 1);
  FieldList posted = Posted(*first);
  ASSERT_TRUE(UpdateIssue(*db, "alice", first,
                          writertest::Form(posted, {{"ResolutionCode", "Fixed"}, {"AssignedToUser", "carol"}})))
      << Message();
  long long history = Count("IssueHistory"), comments = Count("IssueComments"), mail = Count("EMailNotifications");

  auto other = sitedb::Open(file);  // another session
  EXPECT_FALSE(UpdateIssue(*other, "alice", second,
                           writertest::Form(posted, {{"Summary", "Mine"}, {"Comments", "Lost?"},
                                                     {"AssignedToUser", "bob"}})));
  EXPECT_EQ(other->LastErrorMessage(), "Another user has changed this issue. You must cancel your changes.");
  EXPECT_EQ(Issue(1, "Summary || '|' || AssignedToUser || '|' || ResolutionCode"),
            "The login page refuses passwords that contain a blank|carol|Fixed");
  EXPECT_EQ(Count("IssueHistory"), history);
  EXPECT_EQ(Count("IssueComments"), comments);
  EXPECT_EQ(Count("EMailNotifications"), mail);
  EXPECT_EQ(second->ActiveConnection(), nullptr);  // handed back detached
}

TEST_F(UpdateIssueTest, ARequiredCommentIsAskedForOnlyWhenResolutionAndStatusBothChange) {
  sql->Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (3, 'Comments'), (5, 'Comments')");
  // New/Open to Fixed/Open: only the resolution changes.
  ASSERT_TRUE(Update("alice", 1, {{"ResolutionCode", "Fixed"}, {"AssignedToUser", "carol"}})) << Message();
  // New/Open to Will not fix/Closed: both change.
  EXPECT_FALSE(Update("bob", 5, {{"ResolutionCode", "Will not fix"}, {"StatusCode", "Closed"},
                                 {"AssignedToUser", "Automatic (alice)"}}));
  EXPECT_EQ(Message(), "Comments cannot be blank.");
  EXPECT_TRUE(Update("bob", 5, {{"ResolutionCode", "Will not fix"}, {"StatusCode", "Closed"},
                                {"AssignedToUser", "Automatic (alice)"}, {"Comments", "Works as designed."}}))
      << Message();
  EXPECT_EQ(Issue(5, "AssignedToUser"), "alice");
}

TEST_F(UpdateIssueTest, RefusalsLeaveTheIssueAlone) {
  auto refused = [&](const std::string& user, int id, const FieldList& changes, const std::string& message) {
    std::string before = Issue(id, "LastUpdated");
    EXPECT_FALSE(Update(user, id, changes));
    EXPECT_EQ(Message(), message);
    EXPECT_EQ(Issue(id, "LastUpdated"), before);
  };
  // Only an administrator or the assignee may change an issue.
  refused("frank", 1, {{"Summary", "x"}}, "You are not allowed to change issue #1.");
  // The workflow decides the move and its assignee.
  refused("alice", 1, {{"ResolutionCode", "Fixed"}, {"AssignedToUser", "bob"}},
          "Issue #1 cannot be assigned to bob (user is not in the list of allowed assignees based on the workflow "
          "configuration).");
  refused("alice", 1, {{"ResolutionCode", "Fixed"}, {"StatusCode", "Closed"}},
          "Invalid resolution (Fixed) and status (Closed) for this issue (#1).");
  // With the override right the move is not examined, but the target must still be a state.
  sql->Exec("UPDATE ProjectUsers SET ProjectAdministrator = 1 WHERE UserId = 'olga'");
  refused("olga", 1, {{"ResolutionCode", "Fixed"}, {"StatusCode", "Gone"}},
          "Invalid resolution (Fixed) and state (Gone) combination - violates workflow configuration.");
  refused("olga", 1, {{"StatusCode", "Open" + std::string(60, 'x')}},
          "Invalid resolution (New) and state (Open" + std::string(60, 'x') +
              ") combination - violates workflow configuration.");
  // Every field problem at once, text measured as stored (trimmed).
  sql->Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (2, 'ModuleCode')");
  refused("alice", 1, {{"ModuleCode", " "}, {"Summary", ""}, {"PriorityCode", std::string(51, 'p')}},
          "Module cannot be blank.\r\nSummary cannot be blank.\r\nPriority cannot be longer than 50 characters.");
  refused("olga", 1, {{"AssignedToUser", "Automatic ("}}, "The assignee (Automatic () is not a valid automatic assignment.");
  EXPECT_TRUE(Update("alice", 1, {{"Summary", std::string(255, 's') + "   "}})) << Message();
}

TEST_F(UpdateIssueTest, AMovedProjectIsStoredAndRecordedWhenTheUserWorksThere) {
  EXPECT_FALSE(Update("alice", 1, {{"ProjectCode", "2"}, {"DetectedInBuildCode", ""}, {"ModuleCode", ""}}));
  EXPECT_EQ(Message(), "You are not allowed to move issues to this project.");
  EXPECT_FALSE(Update("alice", 1, {{"ProjectCode", "Demo"}}));
  EXPECT_EQ(Message(), "The project (Demo) does not exist.");

  ASSERT_TRUE(Update("admin", 1, {{"ProjectCode", "2"}, {"DetectedInBuildCode", ""}, {"ModuleCode", ""},
                                  {"AssignedToUser", "bob"}}))
      << Message();
  EXPECT_EQ(Issue(1, "ProjectId"), "2");
  EXPECT_EQ(History(1).back(), "admin|New|Open|alice|New|Open|bob|2");
}

TEST_F(UpdateIssueTest, OnlyTheIssuesOwnAttachmentsAreRemoved) {
  sql->Exec("INSERT INTO IssueAttachments (AttachmentId, IssueId, AttachmentFilename) VALUES "
            "(7, 1, 'mine.txt'), (8, 2, 'theirs.txt'), (9, 1, 'kept.txt')");
  auto rs = GetIssueRs(*db, 1);
  auto form = writertest::Form(Posted(*rs), {{"chkAttachment", "8"}});
  form->Fields()->Add("chkAttachment", "7");
  ASSERT_TRUE(UpdateIssue(*db, "alice", rs, form)) << Message();
  EXPECT_EQ(sql->Rows("select AttachmentId from IssueAttachments order by AttachmentId"), (Strings{"8", "9"}));
}

TEST_F(UpdateIssueTest, FilesPostedWithTheFormJoinTheIssueOnlyWhenTheUpdateIsWritten) {
  sql->Exec("INSERT INTO ProvisionalAttachments (ProvisionalAttachmentId, AttachmentMimeType, AttachmentFilename, "
            "AttachmentData) VALUES (21, 'text/plain', 'a.txt', x'61'), (22, 'image/png', 'b.png', x'89504E47')");
  const std::string attachments =
      "select IssueId, AttachmentFilename, AttachmentMimeType, hex(AttachmentData) from IssueAttachments "
      "order by AttachmentId";
  // A refused update takes nothing over; the page removes its provisional rows itself.
  auto rs = GetIssueRs(*db, 1);
  EXPECT_FALSE(UpdateIssue(*db, "alice", rs, writertest::Form(Posted(*rs), {{"StatusCode", "Nowhere"}}),
                           Variant(std::vector<Variant>{Variant(21), Variant(22)})));
  EXPECT_EQ(sql->Rows(attachments), Strings{});
  EXPECT_EQ(Count("ProvisionalAttachments"), 2);

  rs = GetIssueRs(*db, 1);
  ASSERT_TRUE(UpdateIssue(*db, "alice", rs, writertest::Form(Posted(*rs), {}),
                          Variant(std::vector<Variant>{Variant(22), Variant(21)})))
      << Message();
  EXPECT_EQ(sql->Rows(attachments), (Strings{"1|b.png|image/png|89504E47", "1|a.txt|text/plain|61"}));
  EXPECT_EQ(Count("ProvisionalAttachments"), 0);

  // By name a single id is taken as well, and the argument may be left out.
  sql->Exec("INSERT INTO ProvisionalAttachments (ProvisionalAttachmentId, AttachmentFilename) VALUES (23, 'c.txt')");
  auto byName = automation::CreateObject("Brisquel.Database");
  byName->PutRef("ActiveConnection", db->Get("ActiveConnection"));
  auto update = [&](std::vector<Variant> more) {
    std::vector<Variant> args{Variant("alice"), byName->Call("GetIssueRs", {Variant(1)}),
                              Variant(writertest::Form(Posted(*GetIssueRs(*db, 1)), {}))};
    args.insert(args.end(), more.begin(), more.end());
    return byName->Call("UpdateIssue", args).ToBool();
  };
  EXPECT_TRUE(update({Variant(23)}));
  EXPECT_EQ(Count("IssueAttachments", "AttachmentFilename = 'c.txt'"), 1);
  EXPECT_TRUE(update({}));
}

TEST_F(UpdateIssueTest, FailuresInsideTheTransactionUndoEverything) {
  sql->Exec("CREATE TRIGGER NoMail BEFORE INSERT ON EMailNotifications BEGIN SELECT RAISE(ABORT, 'mail queue off'); END;");
  EXPECT_FALSE(Update("alice", 1, {{"ResolutionCode", "Fixed"}, {"AssignedToUser", "carol"}, {"Comments", "x"}}));
  EXPECT_NE(Message().find("mail queue off"), std::string::npos) << Message();
  EXPECT_EQ(Issue(1, "ResolutionCode || '|' || AssignedToUser"), "New|alice");
  EXPECT_EQ(Count("IssueHistory", "IssueId = 1"), 1);
  EXPECT_EQ(Count("IssueComments", "IssueId = 1"), 1);

  sql->Exec("DROP TRIGGER NoMail;"
            "CREATE TRIGGER NoHistory BEFORE INSERT ON IssueHistory BEGIN SELECT RAISE(ABORT, 'history full'); END;");
  EXPECT_FALSE(Update("alice", 1, {{"ResolutionCode", "Fixed"}, {"AssignedToUser", "carol"}}));
  EXPECT_EQ(Message().rfind("An unexpected error has occurred.", 0), 0u) << Message();
  EXPECT_EQ(Issue(1, "ResolutionCode"), "New");
}

TEST_F(UpdateIssueTest, AnIssueRecordsetOfOtherThanOneRowIsAContractViolation) {
  auto none = GetIssueRs(*db, 999);
  try {
    UpdateIssue(*db, "alice", none, writertest::Form({}, {}));
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number, kContractViolation);
    EXPECT_EQ(e.description,
              "A valid rsIssue has not been passed to UpdateIssue (contains 0 records, should contain 1).");
  }
  try {
    UpdateIssue(*db, "alice", nullptr, writertest::Form({}, {}));
    ADD_FAILURE() << "no error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.description, "A valid rsIssue has not been passed to UpdateIssue (set to nothing).");
  }
  // A row of another table is no issue either, nor is an image of an issue with another table's
  // row beside it.
  auto joined = RsFromString(*db, RsToString(*db, db->Read("select Issues.*, Projects.ProjectCode from Issues "
                                                           "join Projects using (ProjectId) where IssueId = 1")));
  for (const auto& rs : {GetUserRs(*db, "alice"), joined}) {
    try {
      UpdateIssue(*db, "admin", rs, writertest::Form({}, {}));
      ADD_FAILURE() << "no error";
    } catch (const ComError& e) {
      EXPECT_EQ(e.description, "A valid rsIssue has not been passed to UpdateIssue (not a row of Issues).");
    }
  }
}

}  // namespace
}  // namespace brisquel
