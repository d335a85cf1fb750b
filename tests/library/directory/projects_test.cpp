#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/com_error.h"
#include "users_site.h"

namespace brisquel::directorytest {
namespace {

const Fields kProject = {{"ProjectCode", "Mobile"}, {"ProjectDescription", "The phone app"}};

class ProjectsTest : public UsersSite {
 protected:
  ProjectsTest() {
    raw.Exec("INSERT INTO Users (UserId, UserName) VALUES ('Jo Smith', 'Jo'), ('Jill', 'Jill')");
  }
  bool Create(const Fields& changes, const std::string& by = "admin") {
    return CreateProject(*db, by, Form(With(kProject, changes)));
  }
  int32_t IdOf(const std::string& code) {
    return static_cast<int32_t>(raw.Int("select ProjectId from Projects where ProjectCode = '" + code + "'"));
  }
  Rows Members(int32_t id) {
    return raw.Rows("select UserId, ProjectAdministrator, OverrideWorkflow from ProjectUsers where ProjectId = " +
                    std::to_string(id) + " order by UserId");
  }
  Rows Leads(int32_t id) {
    return raw.Rows("select GroupCode, UserId from ProjectGroupLeads where ProjectId = " + std::to_string(id) +
                    " order by GroupCode");
  }
  long long Count(const std::string& table) { return raw.Int("select count(*) from " + table); }
};

TEST_F(ProjectsTest, CreateChecksInOrderWithTheirMessages) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"ProjectCode", "  "}}, "Project code cannot be blank."},
      {{{"ProjectCode", std::string(51, 'c')}}, "Project code cannot be longer than 50 characters."},
      {{{"ProjectDescription", ""}}, "Description cannot be blank."},
      {{{"ProjectDescription", std::string(4001, 'd')}}, "Description cannot be longer than 4000 characters."},
      {{{"PublicAccessible", "ON"}, {"PublicMembersOfGroupCode", " "}},
       "Public users must be treated as members of a group."},
      {{{"ProjectCode", ""}, {"ProjectDescription", ""}, {"PublicAccessible", "on"}}, "Project code cannot be blank."},
      {{{"ProjectDescription", ""}, {"PublicAccessible", "on"}}, "Description cannot be blank."},
      {{{"ProjectCode", " web "}, {"TeamMember", "olga"}}, "The project 'web' already exists."},
  };
  const long long projects = Count("Projects"), members = Count("ProjectUsers");
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(Create(changes)) << message;
    EXPECT_EQ(Message(), message);
  }
  for (const char* by : {"olga", "pia"}) {
    EXPECT_FALSE(Create({}, by));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_EQ(Count("Projects"), projects);
  EXPECT_EQ(Count("ProjectUsers"), members);
  EXPECT_EQ(Count("ProjectBuilds"), 1);
}

TEST_F(ProjectsTest, CreateAcceptsTheLimitsAfterTrimming) {
  const std::string code(50, 'c'), description(4000, 'd');
  ASSERT_TRUE(Create({{"ProjectCode", "  " + code + " "}, {"ProjectDescription", " " + description + " "}}))
      << Message();
  EXPECT_EQ(raw.Rows("select ProjectDescription = '" + description + "', PublicAccessible, PublicMembersOfGroupCode, "
                     "EMailEnabled from Projects where ProjectCode = '" + code + "'"),
            (Rows{"1|0||0"}));
}

TEST_F(ProjectsTest, CreateWritesMembersAdministratorsLeadsAndBlankCodes) {
  const long long priorities = Count("Priorities"), resolutions = Count("Resolutions");
  ASSERT_TRUE(Create({{"PublicAccessible", "ON"},
                      {"PublicMembersOfGroupCode", "Customers"},
                      {"EMailEnabled", "on"},
                      {"TeamMember", "Jo+Smith"},
                      {"TeamMember", "%4Aill"},
                      {"TeamMember", "olga"},
                      {"TeamMember", "OLGA"},
                      {"ProjectAdmin", "Jill"},
                      {"ProjectAdmin", "paul"},
                      {"GroupLead", "olga"},
                      {"GroupCode", "Developers"},
                      {"GroupLead", "%4Aill"},
                      {"GroupCode", "Testers"},
                      {"GroupLead", "  "},
                      {"GroupCode", "Customers"},
                      {"GroupLead", "Jill"},
                      {"GroupCode", "developers"}},
                     "paul"))
      << Message();
  const int32_t id = IdOf("Mobile");
  EXPECT_EQ(raw.Rows("select ProjectDescription, PublicAccessible, PublicMembersOfGroupCode, EMailEnabled "
                     "from Projects where ProjectId = " + std::to_string(id)),
            (Rows{"The phone app|1|Customers|1"}));
  EXPECT_EQ(Members(id), (Rows{"Jill|1|0", "Jo Smith|0|0", "olga|0|0"}));
  EXPECT_EQ(Leads(id), (Rows{"Developers|olga", "Testers|Jill"}));
  // A lead joins the group once; a lead already in it gets no second row.
  EXPECT_EQ(raw.Rows("select UserId, GroupCode from UserGroups where UserId in ('olga', 'Jill') order by 1, 2"),
            (Rows{"Jill|Testers", "olga|Developers"}));
  EXPECT_EQ(raw.Rows("select BuildCode, SortOrder from ProjectBuilds where ProjectId = " + std::to_string(id)),
            (Rows{"|1"}));
  EXPECT_EQ(raw.Rows("select ModuleCode from ProjectModules where ProjectId = " + std::to_string(id)), (Rows{""}));
  EXPECT_EQ(Count("Priorities"), priorities);
  EXPECT_EQ(Count("Resolutions"), resolutions);
}

// A failure that is raised rather than reported (here a catalogue row naming a table that does
// not exist) leaves nothing of the project behind, and the next call commits only its own rows.
TEST_F(ProjectsTest, ARaisedFailureLeavesNothingBehind) {
  raw.Exec("INSERT INTO IssueCodeTables (TableName, TableFriendlyName, TableFriendlyNameSingular, VariesByProject, "
           "TablePurpose, TableFieldName, NaturalSort, TableSortByFieldName, TableDefaultSortOrder) VALUES "
           "('Missing', 'Missing', 'Missing', 1, '', 'MissingCode', 1, 'Missing.MissingCode', 'ASC')");
  const long long projects = Count("Projects"), builds = Count("ProjectBuilds");
  EXPECT_NE(testsupport::ErrorNumber([&] { Create({{"TeamMember", "olga"}}); }), 0);
  EXPECT_EQ(Count("Projects"), projects);
  EXPECT_EQ(Count("ProjectBuilds"), builds);
  raw.Exec("DELETE FROM IssueCodeTables WHERE TableName = 'Missing'");
  ASSERT_TRUE(Create({{"ProjectCode", "Next"}})) << Message();
  EXPECT_EQ(Count("Projects"), projects + 1);
  EXPECT_EQ(raw.Int("select count(*) from ProjectUsers where ProjectId = " + std::to_string(IdOf("Next"))), 0);
}

TEST_F(ProjectsTest, UpdateIsForTheProjectsAdministratorsAndSiteAdministrators) {
  for (const char* by : {"olga", "pia", "Jill"}) {
    EXPECT_FALSE(UpdateProject(*db, by, GetProjectRs(*db, 1), Form(With(kProject, {{"TeamMember", "olga"}}))));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_EQ(Members(1), (Rows{"olga|0|0", "paul|1|0"}));
  for (const char* by : {"paul", "admin"}) {
    EXPECT_TRUE(UpdateProject(*db, by, GetProjectRs(*db, 1),
                              Form(With(kProject, {{"ProjectDescription", std::string("By ") + by},
                                                   {"TeamMember", "paul"},
                                                   {"ProjectAdmin", "paul"}}))))
        << Message();
    EXPECT_EQ(raw.Text("select ProjectDescription from Projects where ProjectId = 1"), std::string("By ") + by);
  }
}

TEST_F(ProjectsTest, UpdateRebuildsMembersAndLeadsFromTheForm) {
  raw.Exec("INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'olga', 'Developers')");
  ASSERT_TRUE(UpdateProject(*db, "admin", GetProjectRs(*db, 1),
                            Form(With(kProject, {{"TeamMember", "olga"},
                                                 {"TeamMember", "Jill"},
                                                 {"OverrideWorkflow", "olga"},
                                                 {"OverrideWorkflow", "paul"},
                                                 {"ProjectAdmin", "Jill"},
                                                 {"ProjectAdmin", "Jo+Smith"},
                                                 {"GroupLead", "   "},
                                                 {"GroupCode", "Developers"},
                                                 {"GroupLead", "Jill"},
                                                 {"GroupCode", "Testers"}}))))
      << Message();
  // Flags only for members; a lead of spaces is no lead.
  EXPECT_EQ(Members(1), (Rows{"Jill|1|0", "olga|0|1"}));
  EXPECT_EQ(Leads(1), (Rows{"Testers|Jill"}));
  ASSERT_TRUE(UpdateProject(*db, "admin", GetProjectRs(*db, 1), Form(kProject)));
  EXPECT_EQ(Members(1), Rows{});
  EXPECT_EQ(Leads(1), Rows{});
}

TEST_F(ProjectsTest, TheSecondOfTwoUpdatesFromOneReadIsAConflictAndChangesNothing) {
  auto second = sitedb::Open(file);
  auto mine = GetProjectRs(*db, 1);
  auto theirs = GetProjectRs(*second, 1);
  ASSERT_TRUE(UpdateProject(*db, "admin", mine,
                            Form(With(kProject, {{"TeamMember", "Jill"}, {"GroupLead", "Jill"},
                                                 {"GroupCode", "Testers"}}))));
  EXPECT_FALSE(UpdateProject(*second, "admin", theirs,
                             Form(With(kProject, {{"ProjectDescription", "Late"}, {"TeamMember", "olga"}}))));
  EXPECT_EQ(second->LastErrorMessage(), "Another user has changed this project. You must cancel your changes.");
  EXPECT_EQ(raw.Text("select ProjectDescription from Projects where ProjectId = 1"), "The phone app");
  EXPECT_EQ(Members(1), (Rows{"Jill|0|0"}));
  EXPECT_EQ(Leads(1), (Rows{"Testers|Jill"}));
}

// Project 'Big' with two issues carrying history, a comment, an attachment, a pending and a sent
// notification and a rule each (the site's own rules stay); members, a lead, builds and modules.
// Web gets the same kind of rows.
class DeleteProjectTest : public ProjectsTest {
 protected:
  DeleteProjectTest() {
    EXPECT_TRUE(Create({{"ProjectCode", "Big"}, {"TeamMember", "olga"}, {"GroupLead", "olga"},
                        {"GroupCode", "Developers"}}));
    big = IdOf("Big");
    raw.Exec("INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (" + std::to_string(big) +
             ", 'b1', 2)");
    raw.Exec("INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'paul', 'Testers')");
    int issue = 100;
    for (int32_t project : {1, big, big}) {
      const std::string i = std::to_string(++issue), p = std::to_string(project);
      raw.Exec("INSERT INTO Issues (IssueId, ProjectId) VALUES (" + i + ", " + p + ");"
               "INSERT INTO IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewStatusCode) VALUES (" +
               i + ", " + p + ", 'olga', '', 'Open');"
               "INSERT INTO IssueComments (IssueId, FieldName, CommentText) VALUES (" + i + ", 'Comments', 'c');"
               "INSERT INTO IssueAttachments (IssueId, AttachmentFilename) VALUES (" + i + ", 'a.txt');"
               "INSERT INTO EMailNotifications (EMailAddress, IssueId, TemplateName, StatusCode) VALUES "
               "('o@example.com', " + i + ", 'Assignment Notice', 'Pending'), "
               "('o@example.com', " + i + ", 'Assignment Notice', 'Sent');"
               "INSERT INTO EMailNotificationRules (ProjectId, NotificationRuleName, NotificationEventType, "
               "WorkflowId, RecipientType, TemplateName) VALUES (" + p + ", 'r" + i + "', 1, 1, 1, "
               "'Assignment Notice')");
    }
  }
  bool Delete(const std::vector<std::string>& ticked, const std::string& by = "admin") {
    Fields f;
    for (const std::string& id : ticked) f.emplace_back("chkProject", id);
    return DeleteProject(*db, by, Form(f));
  }
  // Row counts of every table a project's deletion touches.
  Rows Counts() {
    Rows out;
    for (const char* table : {"Projects", "ProjectUsers", "ProjectGroupLeads", "Issues", "IssueHistory",
                              "IssueComments", "IssueAttachments", "EMailNotifications", "EMailNotificationRules",
                              "ProjectBuilds", "ProjectModules", "Priorities", "UserGroups", "Users"})
      out.push_back(std::string(table) + "=" + std::to_string(Count(table)));
    return out;
  }
  int32_t big = 0;
};

TEST_F(DeleteProjectTest, EverythingOfTheProjectGoesAndNothingElse) {
  ASSERT_EQ(Counts(), (Rows{"Projects=2", "ProjectUsers=3", "ProjectGroupLeads=2", "Issues=3", "IssueHistory=3",
                            "IssueComments=3", "IssueAttachments=3", "EMailNotifications=6",
                            "EMailNotificationRules=4", "ProjectBuilds=3", "ProjectModules=2", "Priorities=5",
                            "UserGroups=3", "Users=6"}));
  ASSERT_TRUE(Delete({std::to_string(big)})) << Message();
  EXPECT_EQ(Counts(), (Rows{"Projects=1", "ProjectUsers=2", "ProjectGroupLeads=1", "Issues=1", "IssueHistory=1",
                            "IssueComments=1", "IssueAttachments=1", "EMailNotifications=2",
                            "EMailNotificationRules=2", "ProjectBuilds=1", "ProjectModules=1", "Priorities=5",
                            "UserGroups=3", "Users=6"}));
  EXPECT_EQ(raw.Int("select count(*) from Issues where ProjectId = 1"), 1);
}

TEST_F(DeleteProjectTest, ARefusedSecondProjectRestoresTheFirst) {
  ASSERT_TRUE(Create({{"ProjectCode", "Third"}}));
  const int32_t third = IdOf("Third");
  raw.Exec("CREATE TRIGGER KeepThird BEFORE DELETE ON Projects WHEN OLD.ProjectId = " + std::to_string(third) +
           " BEGIN SELECT RAISE(ABORT, 'FOREIGN KEY constraint failed (test)'); END");
  const Rows before = Counts();
  EXPECT_FALSE(Delete({std::to_string(big), std::to_string(third)}));
  EXPECT_EQ(Message(), "At least one issue is assigned to project 'Third'. The project cannot be deleted.");
  EXPECT_EQ(Counts(), before);
}

TEST_F(DeleteProjectTest, NoTickOrAnIdOfNoProjectIsTrueAndTextIsRefused) {
  const Rows before = Counts();
  EXPECT_TRUE(Delete({}));
  EXPECT_TRUE(Delete({"999"}));
  EXPECT_EQ(Message(), "");
  EXPECT_FALSE(Delete({std::to_string(big), "1 or 1=1"}));
  EXPECT_EQ(Message(), "The project id '1 or 1=1' is not a valid number.");
  EXPECT_FALSE(Delete({"1.5"}));
  EXPECT_EQ(Message(), "The project id '1.5' is not a valid number.");
  EXPECT_EQ(Counts(), before);
}

TEST_F(DeleteProjectTest, OnlyAdministratorsOfEveryListedProject) {
  const Rows before = Counts();
  for (const std::vector<std::string>& ticked : {std::vector<std::string>{"1"}, {"1", std::to_string(big)}}) {
    EXPECT_FALSE(Delete(ticked, "olga"));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_FALSE(Delete({"1", std::to_string(big)}, "paul"));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_EQ(Counts(), before);
  EXPECT_TRUE(Delete({"1"}, "paul")) << Message();
  EXPECT_EQ(Count("Projects"), 1);
}

}  // namespace
}  // namespace brisquel::directorytest
