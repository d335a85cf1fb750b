#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "users_site.h"

namespace brisquel::directorytest {
namespace {

class GroupsTest : public UsersSite {
 protected:
  bool Create(const std::string& code, const std::string& by = "admin") {
    return CreateGroup(*db, by, Form({{"GroupCode", code}}));
  }
  bool Delete(const std::vector<std::string>& ticked, const std::string& by = "admin") {
    Fields f;
    for (const std::string& code : ticked) f.emplace_back("chkGroup", code);
    return DeleteGroup(*db, by, Form(f));
  }
  // Rows naming a group, table by table.
  Rows Naming(const std::string& code) {
    Rows out;
    for (const char* table : {"WorkflowStateTeamLeads", "WorkflowStateGroups", "WorkflowActionAssignments",
                              "WorkflowActions", "ProjectGroupLeads", "UserGroups", "Groups"})
      out.push_back(std::string(table) + "=" +
                    std::to_string(raw.Int(std::string("select count(*) from ") + table + " where GroupCode = '" +
                                           code + "'")));
    return out;
  }
};

TEST_F(GroupsTest, CreateChecksLengthBeforeBlankAndAddsExactlyTwenty) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string(21, 'g'), "Group cannot be longer than 20 characters."},
      {"   ", "Group cannot be blank."},
      {"", "Group cannot be blank."},
      {" developers ", "The group 'developers' already exists."},
  };
  const long long before = raw.Int("select count(*) from Groups");
  for (const auto& [code, message] : cases) {
    EXPECT_FALSE(Create(code)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_EQ(raw.Int("select count(*) from Groups"), before);
  ASSERT_TRUE(Create(" " + std::string(19, 'g') + "\xC3\xA9 ")) << Message();
  EXPECT_EQ(raw.Text("select GroupCode from Groups where GroupCode like 'ggg%'"), std::string(19, 'g') + "\xC3\xA9");
}

TEST_F(GroupsTest, OnlySiteAdministratorsCreateOrDeleteGroups) {
  for (const char* by : {"paul", "olga", "pia"}) {
    EXPECT_FALSE(Create("Support", by));
    EXPECT_EQ(Message(), "Permission denied.");
    EXPECT_FALSE(Delete({"Testers"}, by));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_EQ(raw.Rows("select GroupCode from Groups order by GroupCode"), (Rows{"Customers", "Developers", "Testers"}));
}

TEST_F(GroupsTest, DeleteRemovesEveryReferenceButKeepsUsersAndActions) {
  raw.Exec("INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'olga', 'Developers')");
  const long long actions = raw.Int("select count(*) from WorkflowActions");
  const long long automatic = raw.Int("select count(*) from WorkflowActions where AllowAutomatic = 1 and "
                                      "GroupCode = 'Developers'");
  const long long users = raw.Int("select count(*) from Users");
  const Rows testers = Naming("Testers");
  ASSERT_GT(automatic, 0);
  ASSERT_TRUE(Delete({"Developers"})) << Message();
  EXPECT_EQ(Naming("Developers"), (Rows{"WorkflowStateTeamLeads=0", "WorkflowStateGroups=0",
                                        "WorkflowActionAssignments=0", "WorkflowActions=0", "ProjectGroupLeads=0",
                                        "UserGroups=0", "Groups=0"}));
  EXPECT_EQ(raw.Int("select count(*) from WorkflowActions"), actions);
  EXPECT_GE(raw.Int("select count(*) from WorkflowActions where AllowAutomatic = 0 and GroupCode = ''"), automatic);
  EXPECT_EQ(raw.Int("select count(*) from Users"), users);
  EXPECT_EQ(Naming("Testers"), testers);
}

TEST_F(GroupsTest, NoTickChangesNothingAndAPublicUsersGroupStays) {
  const Rows before = Naming("Customers");
  EXPECT_TRUE(Delete({}));
  EXPECT_EQ(Message(), "");
  raw.Exec("UPDATE Projects SET PublicAccessible = 1, PublicMembersOfGroupCode = 'Customers' WHERE ProjectId = 1");
  EXPECT_FALSE(Delete({"Testers", "customers"}));
  EXPECT_EQ(Message(), "The group 'customers' is the public users' group of project 'Web' and cannot be deleted.");
  EXPECT_EQ(Naming("Customers"), before);
  EXPECT_EQ(raw.Int("select count(*) from Groups where GroupCode = 'Testers'"), 1);
}

TEST_F(GroupsTest, AFailedStatementRollsTheWholeListBack) {
  raw.Exec("CREATE TRIGGER RefuseTesters BEFORE DELETE ON Groups WHEN OLD.GroupCode = 'Testers' "
           "BEGIN SELECT RAISE(ABORT, 'kept for the test'); END");
  EXPECT_FALSE(Delete({"Customers", "Testers"}));
  EXPECT_EQ(Message().rfind("An unexpected error has occurred.", 0), 0u) << Message();
  EXPECT_NE(Message().find("kept for the test"), std::string::npos) << Message();
  EXPECT_EQ(raw.Int("select count(*) from Groups"), 3);
}

}  // namespace
}  // namespace brisquel::directorytest
