#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "issues/issue_writers.h"
#include "workflow_site.h"

namespace brisquel {
namespace {

using writertest::FieldList;
using Strings = std::vector<std::string>;

class MassReassignTest : public writertest::WorkflowSite {
 protected:
  bool Reassign(const std::string& user, const std::string& resolution, const std::string& status,
                const std::string& assignee, const Strings& issues) {
    auto form = writertest::Form(
        {{"cmbResolution", resolution}, {"cmbStatus", status}, {"cmbAssignedTo", assignee}}, {});
    for (const std::string& id : issues) form->Fields()->Add("chkIssue", id);
    return MassReassign(*db, user, form);
  }
  std::string Message() { return db->LastErrorMessage(); }
  std::string State(int id) {
    return sql->Text("select ResolutionCode || '/' || StatusCode || '/' || AssignedToUser from Issues where IssueId = " +
                     std::to_string(id));
  }
  long long NewHistory() { return Count("IssueHistory") - 11; }
};

TEST_F(MassReassignTest, NothingTickedIsASuccess) {
  EXPECT_TRUE(Reassign("admin", "Fixed", "Open", "carol", {}));
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(NewHistory(), 0);
}

TEST_F(MassReassignTest, ATargetThatIsNoStateWritesNothing) {
  for (auto [res, st] : {std::pair<std::string, std::string>{"Fixed", "Gone"}, {std::string(51, 'F'), "Open"}}) {
    EXPECT_FALSE(Reassign("admin", res, st, "carol", {"1", "5"}));
    EXPECT_EQ(Message(),
              "The combination of the resolution code and status code is invalid. Refer to the workflow configuration "
              "for details on valid combinations.");
  }
  EXPECT_EQ(State(1), "New/Open/alice");
  EXPECT_EQ(NewHistory(), 0);
}

TEST_F(MassReassignTest, OneRefusedIssueStopsItAndEveryLaterOne) {
  // 1 and 5 may go to Fixed/Open; 3 (Fixed/Closed) may not.
  const std::string untouched = "select Valid || Fixed || DateLastUpdated || coalesce(DateClosed, '-') from Issues "
                                "where IssueId = 1";
  const std::string before = sql->Text(untouched);
  EXPECT_FALSE(Reassign("admin", "Fixed", "Open", "carol", {"1", "3", "5"}));
  EXPECT_EQ(Message(),
            "Issue #3 cannot be changed to a resolution of 'Fixed' and status of 'Open' (the workflow configuration "
            "does not allow that transition).");
  EXPECT_EQ(State(1), "Fixed/Open/carol");
  EXPECT_EQ(State(3), "Fixed/Closed/carol");
  EXPECT_EQ(State(5), "New/Open/bob");
  EXPECT_EQ(sql->Rows("select IssueId, ProjectId, UserId, OldResolutionCode, OldStatusCode, OldAssignedToUser, "
                      "NewResolutionCode, NewStatusCode, NewAssignedToUser from IssueHistory where HistoryId > 11"),
            (Strings{"1|1|admin||||Fixed|Open|carol"}));
  EXPECT_EQ(sql->Rows("select EMailAddress, IssueId from EMailNotifications"), (Strings{"carol@example.com|1"}));
  // Only the resolution, status and assignee change.
  EXPECT_EQ(sql->Text(untouched), before);
}

TEST_F(MassReassignTest, EveryProblemIsListedOnItsOwnLine) {
  EXPECT_FALSE(Reassign("admin", "Fixed", "Open", "carol", {"404", "3", "1"}));
  EXPECT_EQ(Message(),
            "Issue #404 cannot be located (missing issues record). Contact your support representative for "
            "assistance.\r\n"
            "Issue #3 cannot be changed to a resolution of 'Fixed' and status of 'Open' (the workflow configuration "
            "does not allow that transition).");
  EXPECT_EQ(State(1), "New/Open/alice");  // valid, but after a problem
  // Assignees outside the project, automatic values and names the move does not offer.
  EXPECT_FALSE(Reassign("admin", "New", "Open", "frank", {"5"}));
  EXPECT_EQ(Message(), "Issue #5 cannot be assigned to frank (user is not in the list of allowed assignees based on "
                       "the workflow configuration).");
  EXPECT_FALSE(Reassign("admin", "New", "Open", "Automatic (alice)", {"5"}));
  EXPECT_EQ(Message(), "Issue #5 cannot be assigned to Automatic (alice) (not a member of the project).");
  EXPECT_FALSE(Reassign("admin", "New", "Open", "nobody", {"5"}));
  EXPECT_EQ(Message(), "Issue #5 cannot be assigned to nobody (not a member of the project).");
  // Only those who may modify an issue may move it.
  EXPECT_FALSE(Reassign("frank", "New", "Open", "alice", {"5"}));
  EXPECT_EQ(Message(), "Issue #5 cannot be changed (you are not allowed to modify this issue).");
  EXPECT_EQ(State(5), "New/Open/bob");
  EXPECT_EQ(NewHistory(), 0);
}

TEST_F(MassReassignTest, TheOverrideRightSkipsOnlyTheWorkflowChecks) {
  sql->Exec("UPDATE ProjectUsers SET ProjectAdministrator = 1 WHERE UserId = 'olga';"
            "INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (6, 'VerifiedInBuildCode')");
  // No action leads from New/Open to Fixed/Closed, and frank is in no group.
  EXPECT_TRUE(Reassign("olga", "Fixed", "Closed", "frank", {"5"})) << Message();
  EXPECT_EQ(State(5), "Fixed/Closed/frank");
  // Membership and required fields still hold.
  EXPECT_FALSE(Reassign("olga", "Duplicate", "Closed", "dave", {"1"}));
  EXPECT_EQ(Message(), "Issue #1 cannot be assigned to dave (not a member of the project).");
  EXPECT_FALSE(Reassign("olga", "Duplicate", "Closed", "alice", {"1"}));
  EXPECT_EQ(Message(), "Issue #1 cannot be changed to a resolution of 'Duplicate' and status of 'Closed' (this "
                       "resolution/state combination requires a value for Verified in build).");
}

TEST_F(MassReassignTest, ARequiredCommentCannotBeGivenHereAndIsReported) {
  sql->Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (5, 'Comments'), (4, 'Comments')");
  EXPECT_FALSE(Reassign("admin", "Will not fix", "Closed", "Automatic (carol)", {"1"}));
  EXPECT_EQ(Message(), "Issue #1 cannot be assigned to Automatic (carol) (not a member of the project).");
  EXPECT_FALSE(Reassign("admin", "Will not fix", "Closed", "carol", {"1"}));
  EXPECT_NE(Message().find("(user is not in the list of allowed assignees"), std::string::npos) << Message();
  // carol is the creator: the move offers only "Automatic (carol)"; with the override right the
  // comment rule still applies.
  sql->Exec("UPDATE ProjectUsers SET OverrideWorkflow = 1 WHERE UserId = 'alice'");
  EXPECT_FALSE(Reassign("alice", "Will not fix", "Closed", "carol", {"1"}));
  EXPECT_EQ(Message(), "Issue #1 cannot be changed to a resolution of 'Will not fix' and status of 'Closed' (this "
                       "resolution/state combination requires a value for Comments).");
  // Only when resolution and status both change.
  EXPECT_TRUE(Reassign("alice", "Fixed", "Closed", "carol", {"2"})) << Message();
}

TEST_F(MassReassignTest, AnAssigneeWithAnApostropheIsFoundInTheOfferedList) {
  sql->Exec("INSERT INTO Users (UserId) VALUES ('o''neil');"
            "INSERT INTO UserGroups (UserId, GroupCode) VALUES ('o''neil', 'Developers');"
            "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (1, 'o''neil')");
  EXPECT_TRUE(Reassign("admin", "New", "Open", "O'Neil", {"1", "5"})) << Message();
  EXPECT_EQ(State(1), "New/Open/O'Neil");
  EXPECT_EQ(NewHistory(), 2);
}

TEST_F(MassReassignTest, AFailedNotificationUndoesEveryIssueOfTheCall) {
  // The second issue's notification fails: the first issue's change goes too.
  sql->Exec("CREATE TRIGGER NoMail BEFORE INSERT ON EMailNotifications WHEN NEW.IssueId = 5 "
            "BEGIN SELECT RAISE(ABORT, 'mail queue off'); END;");
  EXPECT_FALSE(Reassign("admin", "Fixed", "Open", "carol", {"1", "5"}));
  EXPECT_NE(Message().find("mail queue off"), std::string::npos) << Message();
  EXPECT_EQ(Message().find("Issue #"), std::string::npos);
  EXPECT_EQ(State(1), "New/Open/alice");
  EXPECT_EQ(NewHistory(), 0);
  EXPECT_EQ(Count("EMailNotifications"), 0);
}

TEST_F(MassReassignTest, CodesWiderThanAnIssueHoldsAreRefused) {
  sql->Exec(
      "INSERT INTO StatusCodes (StatusCode, SortOrder) VALUES ('Pending', 4);"
      "INSERT INTO WorkflowStates (StateId, WorkflowId, ResolutionCode, StatusCode) VALUES (30, 1, 'New', 'Pending');"
      "INSERT INTO WorkflowActions (WorkflowId, ActionType, FromStateId, ToStateId) VALUES (1, 0, 2, 30);");
  EXPECT_FALSE(Reassign("admin", "New", "Pending", "alice", {"1"}));
  EXPECT_EQ(Message(), "The status code (Pending) is longer than 6 characters, the most an issue's status can hold.");
  EXPECT_EQ(State(1), "New/Open/alice");
  // A posted id that is not a number refuses the list before any issue moves.
  EXPECT_FALSE(Reassign("admin", "Fixed", "Open", "carol", {"1", "five"}));
  EXPECT_EQ(Message(), "The issue id 'five' is not a valid number.");
  EXPECT_EQ(State(1), "New/Open/alice");
  EXPECT_TRUE(Reassign("admin", "Fixed", "Open", "carol", {"1"})) << Message();
}

}  // namespace
}  // namespace brisquel
