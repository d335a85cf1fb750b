#include "issues/workflow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workflow_site.h"

namespace brisquel {
namespace {

using automation::Variant;
using writertest::Column;
using Strings = std::vector<std::string>;

class WorkflowTest : public writertest::WorkflowSite {};

TEST_F(WorkflowTest, ResolutionsOfAStateStartWithReturnToSenderThenSortWithoutRegardToCase) {
  // A lower-case code reachable from New/Open sorts first among the codes, not after them.
  sql->Exec(
      "INSERT INTO Resolutions (ResolutionCode, SortOrder) VALUES ('abandoned', 7), ('Deferred', 8);"
      "INSERT INTO WorkflowStates (StateId, WorkflowId, StateName, ResolutionCode, StatusCode) VALUES"
      "  (20, 1, 'Abandoned', 'abandoned', 'Closed'), (21, 1, 'Deferred', 'Deferred', 'Closed');"
      "INSERT INTO WorkflowActions (WorkflowId, ActionType, FromStateId, ToStateId) VALUES (1, 1, 2, 20);");
  auto rs = GetAllowedResolutionRs(*db, 1, "alice", "New", "Open");
  EXPECT_EQ(Column(rs, "ResolutionCode"),
            (Strings{"Return to sender", "abandoned", "Duplicate", "Fixed", "New", "Not reproducible", "Will not fix"}));
  EXPECT_EQ(rs->ActiveConnection(), nullptr);

  // A state without a way out still lists itself; project and user play no part.
  EXPECT_EQ(Column(GetAllowedResolutionRs(*db, 1, "alice", "Deferred", "Closed"), "ResolutionCode"),
            (Strings{"Return to sender", "Deferred"}));
  EXPECT_EQ(Column(GetAllowedResolutionRs(*db, 99, "nobody", "Deferred", "Closed"), "ResolutionCode"),
            (Strings{"Return to sender", "Deferred"}));
}

TEST_F(WorkflowTest, StatusesOfAMove) {
  // Same resolution in other letter case: the moves within it plus the current status, which the
  // action from Fixed/Open to itself does not list twice.
  EXPECT_EQ(Column(GetAllowedStatusRs(*db, 1, "carol", "Fixed", "Open", "fixed"), "StatusCode"),
            (Strings{"Closed", "Open"}));
  EXPECT_EQ(Column(GetAllowedStatusRs(*db, 1, "carol", "Fixed", "Open", "return TO sender"), "StatusCode"),
            (Strings{"Open"}));
  EXPECT_EQ(Column(GetAllowedStatusRs(*db, 1, "carol", "Fixed", "Open", "New"), "StatusCode"), (Strings{"Open"}));
  // A resolution no action reaches gives nothing.
  EXPECT_TRUE(Column(GetAllowedStatusRs(*db, 1, "carol", "Fixed", "Open", "Duplicate"), "StatusCode").empty());
}

TEST_F(WorkflowTest, WhoMayStartIssuesWhere) {
  const Strings create{"1|New|Open"};
  auto rows = [&](int project, const std::string& user) {
    auto rs = GetAllowedNewResolutionRs(*db, project, user);
    Strings out;
    for (const std::string& id : Column(rs, "ActionId")) out.push_back(id);
    Strings res = Column(rs, "ResolutionCode"), st = Column(rs, "StatusCode");
    for (size_t i = 0; i < out.size(); ++i) out[i] += "|" + res[i] + "|" + st[i];
    return out;
  };
  EXPECT_EQ(rows(1, "admin"), create);
  EXPECT_EQ(rows(2, "admin"), create);
  EXPECT_EQ(rows(1, "alice"), create);  // a Developer, in any project
  EXPECT_EQ(rows(2, "alice"), create);
  EXPECT_EQ(rows(1, "erin"), create);  // lead of Support in Demo only
  EXPECT_TRUE(rows(2, "erin").empty());
  EXPECT_TRUE(rows(1, "frank").empty());
  EXPECT_EQ(rows(1, "dave"), create);  // public user: the public group of Demo is allowed
  // A public user's own groups do not count, only the project's public group.
  sql->Exec("INSERT INTO UserGroups (UserId, GroupCode) VALUES ('dave', 'Developers');"
            "UPDATE Projects SET PublicAccessible = 1, PublicMembersOfGroupCode = 'Support' WHERE ProjectId = 2");
  EXPECT_TRUE(rows(2, "dave").empty());

  EXPECT_EQ(Column(GetAllowedNewStatusRs(*db, 1, "erin"), "StatusCode"), (Strings{"Open"}));
  EXPECT_TRUE(Column(GetAllowedNewStatusRs(*db, 1, "frank"), "StatusCode").empty());
}

TEST_F(WorkflowTest, CreationRightsAndPublicSignup) {
  EXPECT_TRUE(CanUserCreateIssue(*db, "alice"));
  EXPECT_TRUE(CanUserCreateIssue(*db, "erin"));
  EXPECT_TRUE(CanUserCreateIssue(*db, "dave"));
  EXPECT_FALSE(CanUserCreateIssue(*db, "frank"));
  EXPECT_FALSE(CanUserCreateIssue(*db, "nobody"));  // no project at all
  // A Developer without projects may create nowhere.
  sql->Exec("DELETE FROM ProjectUsers WHERE UserId = 'bob'");
  EXPECT_FALSE(CanUserCreateIssue(*db, "bob"));

  EXPECT_TRUE(CanDoPublicSignup(*db));
  sql->Exec("UPDATE Projects SET PublicAccessible = 0");
  EXPECT_FALSE(CanDoPublicSignup(*db));
}

TEST_F(WorkflowTest, AssigneesOfANewIssue) {
  auto assignees = [&] {
    Strings a = Column(GetAllowedAssigneeForNewRs(*db, 1, 1), "UserId");
    std::sort(a.begin(), a.end());
    return a;
  };
  // The site administrator is in every group.
  EXPECT_EQ(assignees(), (Strings{"Automatic (alice)", "admin", "alice", "bob"}));
  // With the public group among the action's groups, every public user may get it.
  sql->Exec("INSERT INTO WorkflowActionAssignments (ActionId, GroupCode) VALUES (1, 'Customers')");
  EXPECT_EQ(assignees(), (Strings{"Automatic (alice)", "admin", "alice", "bob", "dave"}));
  sql->Exec("UPDATE Projects SET PublicAccessible = 0 WHERE ProjectId = 1");
  EXPECT_EQ(assignees(), (Strings{"Automatic (alice)", "admin", "alice", "bob"}));
}

TEST_F(WorkflowTest, AssigneesOfAMove) {
  auto assignees = [&](int issue, const std::string& res, const std::string& st) {
    Strings a = Column(GetAllowedAssigneeFromActionRs(*db, issue, res, st), "UserId");
    std::sort(a.begin(), a.end());
    return a;
  };
  // Issue 1 is New/Open with alice, created by carol; admin is in every group.
  EXPECT_EQ(assignees(1, "Fixed", "Open"), (Strings{"Automatic (carol)", "admin", "carol"}));  // to the Testers
  EXPECT_EQ(assignees(1, "New", "Open"), (Strings{"admin", "alice", "bob"}));                  // reassignment
  EXPECT_EQ(assignees(1, "Will not fix", "Closed"), (Strings{"Automatic (carol)"}));  // back to the creator
  EXPECT_EQ(assignees(3, "Fixed", "Closed"), (Strings{"carol"}));                     // stays
  EXPECT_TRUE(assignees(1, "Fixed", "Closed").empty());                               // no such move
  // One user in two spellings is offered once.
  sql->Exec("UPDATE Issues SET AssignedToUser = 'BOB' WHERE IssueId = 5");
  EXPECT_EQ(assignees(5, "New", "Open").size(), 3u);

  // A state without a way out keeps the assignee for any target.
  sql->Exec(
      "INSERT INTO Resolutions (ResolutionCode, SortOrder) VALUES ('Deferred', 8);"
      "INSERT INTO WorkflowStates (StateId, WorkflowId, ResolutionCode, StatusCode) VALUES (21, 1, 'Deferred', 'Closed');"
      "UPDATE Issues SET ResolutionCode = 'Deferred', StatusCode = 'Closed' WHERE IssueId = 5");
  EXPECT_EQ(assignees(5, "Fixed", "Open"), (Strings{"BOB"}));

  // Return to sender: the author of the newest history row; rows of the same time by entry.
  sql->Exec(
      "INSERT INTO IssueHistory (IssueId, ProjectId, UserId, CreatedOn, NewResolutionCode, NewStatusCode) VALUES"
      "  (1, 1, 'bob', '2030-01-01 10:00:00.000', 'New', 'Open'),"
      "  (1, 1, 'erin', '2030-01-01 10:00:00.000', 'New', 'Open'),"
      "  (1, 1, 'frank', '2029-01-01 10:00:00.000', 'New', 'Open')");
  EXPECT_EQ(assignees(1, "return to sender", ""), (Strings{"erin"}));
}

TEST_F(WorkflowTest, ValidIssueAssignmentFollowsTheActionsAndTheirAssignees) {
  // Issue 1: New/Open, alice. Allowed moves with an offered assignee pass.
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Fixed", "Open", "carol"), "");
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Fixed", "Open", "Automatic (CAROL)"), "");
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "New", "Open", "Bob"), "");
  // An assignee the move does not offer is refused.
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Fixed", "Open", "bob"),
            "Issue #1 cannot be assigned to bob (user is not in the list of allowed assignees based on the workflow "
            "configuration).");
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Fixed", "Open", ""),
            "Issue #1 cannot be assigned to  (user is not in the list of allowed assignees based on the workflow "
            "configuration).");
  // No action to the target.
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Fixed", "Closed", "carol"),
            "Invalid resolution (Fixed) and status (Closed) for this issue (#1).");
  // A change of assignee alone needs an action from the state to itself: Fixed/Closed has none.
  EXPECT_EQ(ValidIssueAssignment(*db, "carol", 1, 3, "Fixed", "Closed", "alice"),
            "Invalid resolution (Fixed) and status (Closed) for this issue (#3).");
  // "Automatic" alone asks the action whether it assigns automatically.
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Will not fix", "Closed", "automatic"),
            "Automatic assignment is not allowed for this resolution (Will not fix) and status (Closed).");
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Will not fix", "Closed", "Automatic (carol)"), "");
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "Fixed", "Open", "Automatic"), "");
  // Return to sender is not examined here, in any letter case.
  EXPECT_EQ(ValidIssueAssignment(*db, "alice", 1, 1, "return to sender", "", "nobody"), "");
  // The override right moves anywhere, to anyone.
  EXPECT_EQ(ValidIssueAssignment(*db, "olga", 1, 1, "Duplicate", "Open", "nobody"), "");
  EXPECT_NE(ValidIssueAssignment(*db, "olga", 2, 1, "Duplicate", "Open", "nobody"), "");
}

TEST_F(WorkflowTest, ValidIssueAssignmentRefusesAnIssueOutsideTheWorkflow) {
  sql->Exec(
      "INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, Summary)"
      "  VALUES (123456, 1, 'bob', 'New', 'Parked', 'Lost')");
  for (auto [res, st] : {std::pair{"New", "Open"}, {"Fixed", "Open"}, {"New", "Parked"}}) {
    EXPECT_EQ(ValidIssueAssignment(*db, "bob", 1, 123456, res, st, "bob"),
              "Invalid resolution (" + std::string(res) + ") and status (" + st + ") for this issue (#123456).");
  }
  EXPECT_EQ(ValidIssueAssignment(*db, "bob", 1, 999999, "New", "Open", "bob"),
            "Invalid resolution (New) and status (Open) for this issue (#999999).");
}

TEST_F(WorkflowTest, AutomaticAssignmentNamesTheGroupLeadOrNobody) {
  Variant lead = GetAutomaticAssignTo(*db, 1, "New", "Open", "Fixed", "Open");
  EXPECT_EQ(lead.ToString(), "carol");
  // No lead of the group in the project: an empty string, never Null.
  Variant none = GetAutomaticAssignTo(*db, 2, "New", "Open", "Fixed", "Open");
  ASSERT_TRUE(none.IsString());
  EXPECT_EQ(none.ToString(), "");
  // The action type plays no part; an action without automatic assignment gives nobody.
  EXPECT_EQ(GetAutomaticAssignTo(*db, 1, "Fixed", "Closed", "New", "Open").ToString(), "alice");
  EXPECT_EQ(GetAutomaticAssignTo(*db, 1, "New", "Open", "New", "Open").ToString(), "");

  EXPECT_EQ(GetAutomaticAssignNew(*db, 1, "New", "Open").ToString(), "alice");
  // Only actions leaving the initial state count for a new issue.
  EXPECT_EQ(GetAutomaticAssignNew(*db, 1, "Fixed", "Open").ToString(), "");

  // Callers reach the questions by name.
  std::shared_ptr<automation::Object> obj = db;
  EXPECT_EQ(obj->Call("GetAutomaticAssignNew", {Variant(1), Variant("New"), Variant("Open")}).ToString(), "alice");
  EXPECT_TRUE(obj->Call("CanUserCreateIssue", {Variant("alice")}).ToBool());
}

}  // namespace
}  // namespace brisquel
