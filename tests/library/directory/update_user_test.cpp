#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/password.h"
#include "users_site.h"

namespace brisquel::directorytest {
namespace {

const Fields kEdit = {{"UserName", "Olga K"}, {"UserEMail", "olga@example.com"}, {"Password1", ""},
                      {"Password2", ""},      {"SecretQuestion", "Town?"},       {"SecretQuestionAnswer", "Riga"}};

// A second site administrator sam (password "SamPass1"); olga's password "OlgaPass1" and her lead
// of Developers in Web.
class UpdateUserTest : public UsersSite {
 protected:
  UpdateUserTest() {
    raw.Exec("INSERT INTO Users (UserId, UserName, SiteAdministrator, Password) VALUES ('sam', 'Sam', 1, '" +
             HashSecret("SamPass1") + "');"
             "UPDATE Users SET Password = '" + HashSecret("OlgaPass1") + "' WHERE UserId = 'olga';"
             "INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'olga', 'Developers')");
  }
  bool Update(const std::string& by, const std::string& target, const Fields& changes) {
    return UpdateUser(*db, by, GetUserRs(*db, target), Form(With(kEdit, changes)));
  }
  std::string Row(const std::string& id) {
    return raw.Rows("select UserName, UserEMail, SiteAdministrator, PublicUser, EMailEnabled, SecretQuestion "
                    "from Users where UserId = '" + id + "'")[0];
  }
  Rows Groups(const std::string& id) {
    return raw.Rows("select GroupCode from UserGroups where UserId = '" + id + "' order by GroupCode");
  }
};

TEST_F(UpdateUserTest, EachCheckHasItsMessageInOrderAndChangesNothing) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"UserName", ""}}, "Name cannot be blank."},
      {{{"UserName", std::string(51, 'n')}}, "Name cannot be longer than 50 characters."},
      {{{"UserEMail", std::string(51, 'e')}}, "E-Mail cannot be longer than 50 characters."},
      {{{"PublicUser", "on"}, {"SiteAdministrator", "on"}}, "Site adminstrators cannot be public users."},
      {{{"Password1", "a"}, {"Password2", "A"}}, "Passwords do not match."},
      {{{"Password1", std::string(21, 'p')}, {"Password2", std::string(21, 'p')}},
       "Password cannot be longer than 20 characters."},
      {{{"SecretQuestion", std::string(51, 'q')}}, "Secret question cannot be longer than 50 characters."},
      {{{"SecretQuestionAnswer", std::string(51, 'a')}},
       "Answer to the secret question cannot be longer than 50 characters."},
      {{{"SecretQuestion", ""}}, "The secret question cannot be blank if an answer is provided."},
      {{{"UserEMail", std::string(51, 'e')}, {"SecretQuestion", ""}}, "E-Mail cannot be longer than 50 characters."},
  };
  const std::string before = Row("olga");
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(Update("admin", "olga", changes)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_EQ(Row("olga"), before);
  EXPECT_EQ(Groups("olga"), (Rows{"Developers"}));
}

TEST_F(UpdateUserTest, WhoChangesWhomDecidesPasswordAndSiteAdministratorFlag) {
  struct Case {
    std::string by, target;
    bool passwordChanges, flagFromForm;
  } cases[] = {
      {"admin", "sam", true, true},  {"admin", "olga", true, true},  {"paul", "sam", false, false},
      {"paul", "olga", true, false}, {"sam", "admin", true, true},
  };
  for (const Case& c : cases) {
    const std::string oldHash = raw.Text("select Password from Users where UserId = '" + c.target + "'");
    const bool wasAdmin = raw.Int("select SiteAdministrator from Users where UserId = '" + c.target + "'") == 1;
    // A site administrator's password fields are not even tested when a non-site-administrator submits.
    const Fields changes = {{"UserName", "Changed by " + c.by},
                            {"Password1", "New" + c.by},
                            {"Password2", c.passwordChanges ? "New" + c.by : "different"},
                            {"SiteAdministrator", wasAdmin ? "on" : ""},
                            {"EMailEnabled", "on"}};
    ASSERT_TRUE(Update(c.by, c.target, changes)) << c.by << " " << c.target << ": " << Message();
    EXPECT_EQ(raw.Text("select UserName from Users where UserId = '" + c.target + "'"), "Changed by " + c.by);
    EXPECT_EQ(Login(*db, c.target, "New" + c.by), c.passwordChanges) << c.by << " " << c.target;
    if (!c.passwordChanges) {
      EXPECT_EQ(raw.Text("select Password from Users where UserId = '" + c.target + "'"), oldHash);
    }
  }
  // paul's unticked box did not take sam's flag; olga stayed ordinary although admin ticked nothing.
  EXPECT_EQ(raw.Rows("select UserId, SiteAdministrator from Users where UserId in ('admin', 'sam', 'olga') "
                     "order by UserId"),
            (Rows{"admin|1", "olga|0", "sam|1"}));
  ASSERT_TRUE(Update("paul", "olga", {{"SiteAdministrator", "on"}, {"PublicUser", "on"}}));
  EXPECT_EQ(raw.Text("select SiteAdministrator || PublicUser from Users where UserId = 'olga'"), "01");
}

TEST_F(UpdateUserTest, OrdinaryAndPublicUsersArePermissionDenied) {
  const std::string before = Row("olga");
  for (const char* by : {"olga", "pia"}) {
    EXPECT_FALSE(Update(by, "olga", {{"UserName", "Mine"}}));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_EQ(Row("olga"), before);
}

TEST_F(UpdateUserTest, TheLastSiteAdministratorKeepsTheFlag) {
  raw.Exec("DELETE FROM Users WHERE UserId = 'sam'");
  EXPECT_FALSE(Update("admin", "admin", {}));
  EXPECT_EQ(Message(), "The last site administrator must remain a site administrator.");
  EXPECT_EQ(raw.Int("select SiteAdministrator from Users where UserId = 'admin'"), 1);
  raw.Exec("INSERT INTO Users (UserId, SiteAdministrator) VALUES ('sue', 1)");
  EXPECT_TRUE(Update("admin", "admin", {})) << Message();
  EXPECT_EQ(raw.Int("select SiteAdministrator from Users where UserId = 'admin'"), 0);
}

TEST_F(UpdateUserTest, BlankSecretsKeepTheStoredOnesUnlessTheQuestionGoesToo) {
  const std::string answerHash = HashSecret("Paris");
  raw.Exec("UPDATE Users SET SecretQuestionAnswer = '" + answerHash + "' WHERE UserId = 'olga'");
  ASSERT_TRUE(Update("admin", "olga", {{"SecretQuestionAnswer", ""}}));
  EXPECT_TRUE(Login(*db, "olga", "OlgaPass1"));
  EXPECT_EQ(raw.Text("select SecretQuestionAnswer from Users where UserId = 'olga'"), answerHash);
  ASSERT_TRUE(Update("admin", "olga", {{"SecretQuestion", ""}, {"SecretQuestionAnswer", ""}}));
  EXPECT_EQ(raw.Rows("select SecretQuestion, SecretQuestionAnswer from Users where UserId = 'olga'"), (Rows{"|"}));
  ASSERT_TRUE(Update("admin", "olga", {}));
  EXPECT_TRUE(VerifySecret(raw.Text("select SecretQuestionAnswer from Users where UserId = 'olga'"), "Riga"));
}

TEST_F(UpdateUserTest, MembershipsFollowTheTickedGroupsAndLeadsGoWithAGroupLeft) {
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('O''Brien');"
           "INSERT INTO UserGroups (UserId, GroupCode) VALUES ('olga', 'o''brien');"
           "INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'olga', 'O''Brien')");
  // Held in another letter case and posted encoded: kept as it is.
  ASSERT_TRUE(Update("admin", "olga", {{"GroupCode", "O%27Brien"}, {"GroupCode", "testers"}})) << Message();
  EXPECT_EQ(Groups("olga"), (Rows{"o'brien", "testers"}));
  EXPECT_EQ(raw.Rows("select GroupCode from ProjectGroupLeads where UserId = 'olga'"), (Rows{"O'Brien"}));
  // No GroupCode posted: every membership goes, with its leads.
  ASSERT_TRUE(Update("admin", "olga", {}));
  EXPECT_EQ(Groups("olga"), Rows{});
  EXPECT_EQ(raw.Int("select count(*) from ProjectGroupLeads where UserId = 'olga'"), 0);
}

TEST_F(UpdateUserTest, TheSecondOfTwoEditsFromOneReadIsAConflictAndStoresNothing) {
  auto second = sitedb::Open(file);
  auto mine = GetUserRs(*db, "olga");
  auto theirs = GetUserRs(*second, "olga");
  ASSERT_TRUE(UpdateUser(*db, "admin", mine, Form(With(kEdit, {{"GroupCode", "Testers"}}))));
  const std::string first = Row("olga");
  EXPECT_FALSE(UpdateUser(*second, "admin", theirs,
                          Form(With(kEdit, {{"UserName", "Late"}, {"Password1", "Late1"}, {"Password2", "Late1"},
                                            {"GroupCode", "Customers"}}))));
  EXPECT_EQ(second->LastErrorMessage(),
            "Another user has changed this user's information. You must cancel your changes.");
  EXPECT_EQ(Row("olga"), first);
  EXPECT_EQ(Groups("olga"), (Rows{"Testers"}));
  EXPECT_TRUE(Login(*db, "olga", "OlgaPass1"));
}

TEST_F(UpdateUserTest, ThePagesRecordsetStaysCurrentAfterSecretsAreWritten) {
  auto rs = GetUserRs(*db, "olga");
  ASSERT_TRUE(UpdateUser(*db, "admin", rs, Form(With(kEdit, {{"Password1", "Next1"}, {"Password2", "Next1"}}))));
  ASSERT_TRUE(UpdateUser(*db, "admin", rs, Form(With(kEdit, {{"UserName", "Again"}})))) << Message();
  EXPECT_EQ(raw.Text("select UserName from Users where UserId = 'olga'"), "Again");
  EXPECT_TRUE(Login(*db, "olga", "Next1"));
}

}  // namespace
}  // namespace brisquel::directorytest
