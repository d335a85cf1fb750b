#include "issues/issue_list.h"

#include <gtest/gtest.h>

#include "issue_lists_fixture.h"

namespace brisquel::testing {
namespace {

using Set = std::set<int>;

class IssueListTest : public IssueListsTest {
 protected:
  std::shared_ptr<ado::Recordset> List(const std::string& user, int project, const std::string& filter,
                                       const std::string& order = "Issues.IssueId", int16_t seq = 0) {
    return GetFilteredIssuesRs(*db, project, filter, user, order, seq);
  }
};

// Every role against every standard filter and scope; an explicit project the user may not see
// gives an empty list.
TEST_F(IssueListTest, FilterMatrixOfRolesFiltersAndProjects) {
  struct Case {
    std::string user;
    int project;
    std::string filter;
    Set expected;
  };
  const Set all = {1, 2, 3, 4, 5, 6, 101, 102, 201, 202};
  const std::vector<Case> cases = {
      {"admin", -1, "s:allopen", {1, 2, 5, 101, 201}},
      {"admin", -1, "s:all", all},
      {"admin", -1, "s:bob", {5, 101}},
      {"admin", 2, "s:all", {101, 102}},
      {"admin", 3, "s:allopen", {201}},
      {"alice", -1, "s:allopen", {1, 2, 5}},
      {"alice", -1, "s:all", {1, 2, 3, 4, 5, 6}},
      {"alice", -1, "s:bob", {5}},
      {"alice", 1, "s:carol", {2}},
      {"alice", 2, "s:all", {}},
      {"alice", 3, "s:all", {}},
      {"bob", -1, "s:allopen", {1, 2, 5, 101}},
      {"bob", -1, "s:all", {1, 2, 3, 4, 5, 6, 101, 102}},
      {"bob", -1, "s:bob", {5, 101}},
      {"bob", 2, "s:allopen", {101}},
      {"bob", 2, "x:Issues.StatusCode = 'Closed'", {102}},
      {"dave", -1, "s:allopen", {1, 2, 5, 201}},
      {"dave", -1, "s:all", {1, 2, 3, 4, 5, 6, 201, 202}},
      {"dave", -1, "s:dave", {201}},
      {"dave", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6, 202}},
      {"dave", 3, "s:all", {201, 202}},
      {"dave", 2, "s:all", {}},
      {"dave", 2, "x:1 = 1", {}},
      {"erin", -1, "s:all", {}},
      {"erin", -1, "x:1 = 1", {}},
      {"erin", 1, "s:allopen", {}},
      {"alice", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6}},
      {"bob", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6, 102}},
      {"admin", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6, 102, 202}},
  };
  for (const Case& c : cases) {
    auto rs = List(c.user, c.project, c.filter);
    EXPECT_EQ(IdSet(rs), c.expected) << c.user << " " << c.project << " " << c.filter << ": "
                                     << db->LastErrorMessage();
  }
}

TEST_F(IssueListTest, AConditionThatTriesToLeaveItsParenthesesIsRefused) {
  for (const char* condition :
       {"1=1) or (1=1", "1=1)) or ((1=1", "Issues.IssueId > 0) or Projects.ProjectId in (2", "1=1; delete from Issues",
        "1=1 -- ", "1=1 /* */", "(1=1", "exists(select * from Users where Password like 'a%')",
        "Issues.IssueId in (select IssueId from IssueHistory)", "\"a\" = \"a\"", "Issues.ProjectId = ?",
        "Issues.ProjectId = :UserId",
        // Yes/no tests of rows outside the scope.
        "Issues.IssueId = 1 and exists(select * from Issues where Issues.ProjectId = 2)",
        "Issues.IssueId = 1 and exists(select * from IssueComments where IssueComments.IssueId = 101)"}) {
    auto rs = List("alice", -1, std::string("x:") + condition);
    EXPECT_EQ(rs, nullptr) << condition;
    EXPECT_EQ(db->LastErrorMessage().rfind("Invalid criteria (", 0), 0u) << condition << ": " << db->LastErrorMessage();
  }
  // A saved expression is checked the same way.
  sql->Exec("INSERT INTO SummaryFilters (UserId, FilterName, fqFilterExpression) VALUES "
            "('alice', 'wide', '1=1) or (1=1')");
  EXPECT_EQ(List("alice", -1, "u:wide"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid criteria (incorrect syntax near ')').");
  EXPECT_EQ(sql->Int("select count(*) from Issues"), 10);
}

TEST_F(IssueListTest, AWizardConditionOnCommentsRuns) {
  EXPECT_EQ(IdSet(List("alice", -1,
                       "x:exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId and "
                       "IssueComments.Fieldname = 'Comments' and IssueComments.CommentText like '%guide%')\r\n"
                       "or Issues.PriorityCode = 'Urgent'\r\n")),
            (Set{2, 3}));
}

TEST_F(IssueListTest, ASortOrderFromOutsideIsCheckedAndRunsReadOnly) {
  EXPECT_EQ(List("admin", -1, "s:all", "Issues.IssueId; delete from Issues"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid sort order (incorrect syntax near ';').");
  EXPECT_EQ(List("admin", -1, "s:all", "(select Password from Users)"), nullptr);
  EXPECT_EQ(List("admin", -1, "s:all", ""), nullptr);
  EXPECT_EQ(sql->Int("select count(*) from Issues"), 10);
  // A stale message does not survive a call that succeeds.
  EXPECT_EQ(Ids(List("admin", 1, "s:allopen")), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(db->LastErrorMessage(), "");
}

TEST_F(IssueListTest, FilterTextsInCapitalsAndUnknownSavedFilters) {
  EXPECT_EQ(IdSet(List("alice", -1, "S:ALLOPEN")), (Set{1, 2, 5}));
  EXPECT_EQ(IdSet(List("alice", -1, "S:All")), (Set{1, 2, 3, 4, 5, 6}));
  // A saved filter the user does not have lists his own open issues.
  EXPECT_EQ(IdSet(List("alice", -1, "u:no such filter")), (Set{1}));
  EXPECT_EQ(IdSet(List("bob", -1, "u:Urgent issues")), (Set{5, 101}));
  EXPECT_EQ(IdSet(List("alice", -1, "u:" + std::string(60, 'x'))), (Set{1}));
  // The demo's wizard filter (with its CR LF) is run as saved.
  EXPECT_EQ(IdSet(List("alice", -1, "u:Urgent issues")), (Set{2}));
}

TEST_F(IssueListTest, OrderSeqAndCodeTableAliases) {
  EXPECT_EQ(Ids(List("alice", 1, "s:all", "Issues.IssueId", 0)), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Ids(List("alice", 1, "s:all", "Issues.IssueId", 1)), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Ids(List("alice", 1, "s:all", "Issues.IssueId", -1)), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  // Priorities: 1 High, 2 Urgent, 3 Low, 4 Low, 5 Normal, 6 Normal.
  auto byPriority = Ids(List("alice", 1, "s:all", "PriorityCode_Priorities.SortOrder, Issues.IssueId", 0));
  EXPECT_EQ(byPriority, (std::vector<int>{2, 1, 5, 6, 3, 4}));
  // Naturally sorted tables are not joined, so their alias names nothing.
  EXPECT_EQ(List("alice", 1, "s:all", "ModuleCode_ProjectModules.ModuleCode"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid sort order (unknown table 'ModuleCode_ProjectModules').");
}

TEST_F(IssueListTest, ABuildsJoinKeepsToTheIssuesProject) {
  // Both projects have build '1.0'; joined without the project, issue 101 would come twice.
  sql->Exec("UPDATE Issues SET DetectedInBuildCode = '1.0' WHERE IssueId IN (3, 101)");
  auto rs = List("admin", -1, "x:Issues.DetectedInBuildCode = '1.0'",
                 "DetectedInBuildCode_ProjectBuilds.SortOrder, Issues.IssueId");
  EXPECT_EQ(Ids(rs), (std::vector<int>{2, 3, 4, 6, 101}));
}

TEST_F(IssueListTest, TheListIsADetachedPagedRecordsetWithTheProjectCodeFirst) {
  auto rs = List("admin", -1, "s:all");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->Info(0).name, "ProjectCode");
  EXPECT_EQ(rs->Info(1).name, "IssueId");
  EXPECT_EQ(rs->PageSize(), 10);
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
  EXPECT_EQ(rs->UpdateCriteria(), ado::adCriteriaTimeStamp);
}

TEST_F(IssueListTest, AMalformedConditionGivesNothingWithTheReport) {
  auto rs = List("alice", -1, "x:Issues.IssueId = = 1");
  EXPECT_EQ(rs, nullptr);
  EXPECT_EQ(db->LastErrorMessage().rfind("An unexpected error has occurred.", 0), 0u) << db->LastErrorMessage();
}

TEST_F(IssueListTest, TextSearchFindsLiteralTextInFieldsAndComments) {
  AddIssue(7, 1, "alice", "New", "Open", "O'Brien cannot log in");
  AddIssue(8, 1, "alice", "New", "Open", "Disk 100% full");
  AddIssue(9, 1, "alice", "New", "Open", "Disk 1000 blocks");
  AddIssue(10, 1, "alice", "Fixed", "Closed", "under_score in names");
  AddIssue(11, 1, "alice", "Fixed", "Closed", "underXscore in names");
  auto find = [&](const std::string& user, int project, bool closed, const std::string& text) {
    return IdSet(FindIssueByTextRs(*db, user, project, closed, "Issues.IssueId", 0, text));
  };
  EXPECT_EQ(find("alice", -1, true, "o'brien"), (Set{7}));
  EXPECT_EQ(find("alice", -1, true, "100%"), (Set{8}));
  EXPECT_EQ(find("alice", -1, true, "under_score"), (Set{10}));
  EXPECT_EQ(find("alice", -1, false, "score"), (Set{}));
  EXPECT_EQ(find("alice", -1, true, "score"), (Set{10, 11}));
  // Comments count: issue 3's comment names build 1.1.
  EXPECT_EQ(find("alice", -1, true, "guide of build"), (Set{3}));
  // The scope holds: alice does not see Secret's issues, bob does.
  EXPECT_EQ(find("alice", -1, true, "budget"), (Set{}));
  EXPECT_EQ(find("bob", -1, true, "budget"), (Set{101}));
  EXPECT_EQ(find("alice", 2, true, "budget"), (Set{}));
}

TEST_F(IssueListTest, TextSearchWithoutSearchableFieldsRaises) {
  sql->Exec("UPDATE IssueFields SET Representation = 'combo' WHERE Representation IN ('text', 'multiline', 'comments')");
  EXPECT_THROW(FindIssueByTextRs(*db, "alice", -1, true, "Issues.IssueId", 0, "x"), automation::ComError);
}

TEST_F(IssueListTest, FindByIdStaysInScope) {
  EXPECT_EQ(Ids(FindIssueByIdRs(*db, "alice", -1, 3)), (std::vector<int>{3}));
  auto other = FindIssueByIdRs(*db, "alice", -1, 101);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->RecordCount(), 0);
  EXPECT_EQ(Ids(FindIssueByIdRs(*db, "alice", 2, 101)), (std::vector<int>{}));
  EXPECT_EQ(Ids(FindIssueByIdRs(*db, "bob", 2, 101)), (std::vector<int>{101}));
}

TEST_F(IssueListTest, MembersAreCalledByName) {
  auto rs = db->Call("GetFilteredIssuesRs", {1, "s:allopen", "alice", "Issues.IssueId", automation::Variant::Integer(0)});
  ASSERT_TRUE(rs.IsObject());
  auto list = std::dynamic_pointer_cast<ado::Recordset>(rs.ToObject());
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 5}));
  auto nothing = db->Call("GetFilteredIssuesRs", {-1, "x:1=1) or (1=1", "alice", "Issues.IssueId", 0});
  EXPECT_TRUE(nothing.IsNothing());
}

}  // namespace
}  // namespace brisquel::testing
