#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "users_site.h"

namespace brisquel::directorytest {
namespace {

// olga with a lead, a layout with fields, a filter; "ann lee" (an id the page encodes) plain;
// sam a second site administrator.
class DeleteUserTest : public UsersSite {
 protected:
  DeleteUserTest() {
    raw.Exec(
        "INSERT INTO Users (UserId, UserName) VALUES ('ann lee', 'Ann');"
        "INSERT INTO Users (UserId, UserName, SiteAdministrator) VALUES ('sam', 'Sam', 1);"
        "INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'olga', 'Developers');"
        "INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) VALUES ('olga', 'Mine', 1);"
        "INSERT INTO SummaryLayoutFields (UserId, LayoutName, RowNumber, DisplayOrder, FieldName) VALUES "
        "  ('olga', 'Mine', 1, 1, 'IssueId'), ('olga', 'Mine', 1, 2, 'Summary');");
    raw.Exec("INSERT INTO SummaryFilters (UserId, FilterName) VALUES ('olga', 'Open ones')");
  }
  bool Delete(const std::vector<std::string>& ticked, const std::string& by = "admin") {
    Fields f;
    for (const std::string& id : ticked) f.emplace_back("chkUser", id);
    return DeleteUser(*db, by, Form(f));
  }
  long long Users() { return raw.Int("select count(*) from Users"); }
};

TEST_F(DeleteUserTest, NoTickIsTrueAndChangesNothing) {
  const long long before = Users();
  EXPECT_TRUE(Delete({}));
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(Users(), before);
}

TEST_F(DeleteUserTest, TheWholeCascadeGoesAndIdsAreDecoded) {
  const Rows none = Owned("nobody");
  ASSERT_NE(Owned("olga"), none);
  ASSERT_TRUE(Delete({"olga", "ann+lee"})) << Message();
  EXPECT_EQ(Owned("olga"), none);
  EXPECT_EQ(Owned("ann lee"), none);
  EXPECT_EQ(raw.Int("select count(*) from Users where UserId in ('paul', 'pia', 'sam', 'admin')"), 4);
}

TEST_F(DeleteUserTest, SiteAdministratorGuardsKeepEveryListedUser) {
  struct Case {
    std::vector<std::string> ticked;
    std::string by, message;
  } cases[] = {
      {{"olga", "sam"}, "paul", "Site administrators can only be deleted by other site administrators."},
      {{"olga", "sam", "admin"}, "admin", "The last site administrator cannot be deleted."},
      {{"admin", "olga", "%73am"}, "sam", "The last site administrator cannot be deleted."},
  };
  const long long before = Users();
  for (const Case& c : cases) {
    EXPECT_FALSE(Delete(c.ticked, c.by));
    EXPECT_EQ(Message(), c.message);
    EXPECT_EQ(Users(), before);
  }
  EXPECT_EQ(Owned("olga")[0], "Users=1");
  // A site administrator may delete the only other one while remaining one; a project
  // administrator may delete ordinary users.
  EXPECT_TRUE(Delete({"sam"}, "admin"));
  EXPECT_TRUE(Delete({"olga"}, "paul"));
  EXPECT_EQ(Users(), before - 2);
}

TEST_F(DeleteUserTest, AUserNamedByIssueDataIsKeptWithTheWholeList) {
  raw.Exec("INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, CreatedByUserId) VALUES (1, 1, 'admin', 'admin')");
  const std::vector<std::string> columns = {"Issues.AssignedToUser", "Issues.CreatedByUserId", "IssueHistory.UserId",
                                            "IssueHistory.OldAssignedToUser", "IssueHistory.NewAssignedToUser"};
  const long long before = Users();
  for (const std::string& column : columns) {
    const std::string table = column.substr(0, column.find('.'));
    const std::string name = column.substr(column.find('.') + 1);
    if (table == "Issues") {
      raw.Exec("UPDATE Issues SET " + name + " = 'ann lee' WHERE IssueId = 1");
    } else {
      auto value = [&](const std::string& c, const char* otherwise) {
        return c == name ? std::string("'ann lee'") : std::string(otherwise);
      };
      raw.Exec("INSERT INTO IssueHistory (IssueId, ProjectId, NewResolutionCode, NewStatusCode, UserId, "
               "OldAssignedToUser, NewAssignedToUser) VALUES (1, 1, '', 'Open', " +
               value("UserId", "'admin'") + ", " + value("OldAssignedToUser", "''") + ", " +
               value("NewAssignedToUser", "''") + ")");
    }
    EXPECT_FALSE(Delete({"olga", "ann%20lee"})) << column;
    EXPECT_EQ(Message(), "At least one issue is/was assigned to user 'ann lee'. The user could not be deleted.");
    EXPECT_EQ(Users(), before);
    raw.Exec("UPDATE Issues SET AssignedToUser = 'admin', CreatedByUserId = 'admin'; DELETE FROM IssueHistory");
  }
  EXPECT_TRUE(Delete({"ann lee"}));
}

TEST_F(DeleteUserTest, IdsAreMatchedWhole) {
  const std::string shortId(20, 'u'), longId = std::string(20, 'u') + std::string(30, 'v');
  for (const std::string& id : {shortId, longId})
    ASSERT_TRUE(CreateUser(*db, "admin", Form({{"UserId", id}, {"UserName", "U"}}))) << Message();
  EXPECT_EQ(raw.Text("select DefaultFilter from Users where UserId = '" + longId + "'"), "s:" + longId);
  ASSERT_TRUE(Delete({longId}));
  EXPECT_EQ(Owned(longId), Owned("nobody"));
  EXPECT_EQ(Owned(shortId)[0], "Users=1");
  EXPECT_EQ(raw.Int("select count(*) from SummaryLayoutFields where UserId = '" + shortId + "'"), 9);
}

TEST_F(DeleteUserTest, OrdinaryAndPublicUsersArePermissionDenied) {
  const long long before = Users();
  for (const char* by : {"olga", "pia"}) {
    EXPECT_FALSE(Delete({"ann lee"}, by));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_EQ(Users(), before);
}

}  // namespace
}  // namespace brisquel::directorytest
