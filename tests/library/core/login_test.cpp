#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/login.h"
#include "core/lookups.h"
#include "core/password.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

using automation::ComError;
using automation::Variant;

// The demo site: admin (site administrator, administrator of Demo), alice (administrator of Demo,
// lead of Developers), bob and carol (members), dave (public, no membership).
class LoginTest : public ::testing::Test {
 protected:
  LoginTest() : file(sitedb::FreshSite(true)), raw(file), db(sitedb::Open(file)) {}

  bool LoginByName(const std::string& user, const std::string& password) {
    return db->Call("Login", {Variant(user), Variant(password)}).ToBool();
  }

  std::filesystem::path file;
  sitedb::Db raw;
  std::shared_ptr<Database> db;
};

TEST_F(LoginTest, PasswordMustMatchExactlyUserIdIgnoresCase) {
  EXPECT_TRUE(LoginByName("admin", "Secret1"));
  EXPECT_TRUE(LoginByName("ADMIN", "Secret1"));
  EXPECT_TRUE(LoginByName("Alice", "demo"));
  EXPECT_FALSE(LoginByName("admin", "secret1"));
  EXPECT_FALSE(LoginByName("admin", "SECRET1"));
  EXPECT_FALSE(LoginByName("admin", "Secret1 "));
  EXPECT_FALSE(LoginByName("admin", "Secret"));
  EXPECT_FALSE(LoginByName("admin", ""));
  EXPECT_FALSE(LoginByName("admin ", "Secret1"));
  EXPECT_FALSE(LoginByName("nobody", "Secret1"));
  EXPECT_FALSE(LoginByName("", ""));
  // Another user's password opens only that user's account.
  EXPECT_FALSE(LoginByName("alice", "Secret1"));
  EXPECT_EQ(db->GetLastErrorMessage(), "");
}

TEST_F(LoginTest, LongPasswordsAreComparedWhole) {
  const std::string longPassword = "correct horse battery staple, twice over";
  raw.Exec("UPDATE Users SET Password = '" + HashSecret(longPassword) + "' WHERE UserId = 'bob'");
  EXPECT_TRUE(Login(*db, "bob", longPassword));
  EXPECT_FALSE(Login(*db, "bob", longPassword.substr(0, 20)));
  EXPECT_FALSE(Login(*db, "bob", longPassword + "!"));
  // Multi-byte text is compared byte for byte too.
  raw.Exec("UPDATE Users SET Password = '" + HashSecret("pässwörd") + "' WHERE UserId = 'bob'");
  EXPECT_TRUE(Login(*db, "bob", "pässwörd"));
  EXPECT_FALSE(Login(*db, "bob", "PÄSSWÖRD"));
}

TEST_F(LoginTest, AccountsWithoutAUsableHashAndOverlongIdsNeverLogIn) {
  raw.Exec("INSERT INTO Users (UserId, UserName, Password) VALUES ('blank', 'Blank', ''), "
           "('plain', 'Plain', 'demo')");
  EXPECT_FALSE(Login(*db, "blank", ""));
  // A password stored as text (not a hash) is not a password at all.
  EXPECT_FALSE(Login(*db, "plain", "demo"));
  // Longer than any user id: no error, no account.
  EXPECT_FALSE(Login(*db, std::string(51, 'a'), "demo"));
  // The hash an unknown id is checked against matches nothing and costs what a real one costs.
  const std::string dummy(LoginDummyHash());
  const std::string fresh = HashSecret("x");
  EXPECT_EQ(dummy.substr(0, dummy.rfind('$', dummy.rfind('$') - 1)),
            fresh.substr(0, fresh.rfind('$', fresh.rfind('$') - 1)))
      << "the dummy hash must have the cost parameters of HashSecret";
  EXPECT_FALSE(VerifySecret(dummy, ""));
}

TEST_F(LoginTest, UserCanModifyIssueFollowsRolesInOrder) {
  // Site administrator: any issue number, even one that does not exist.
  EXPECT_TRUE(UserCanModifyIssue(*db, "admin", 987654));
  // Administrator of the issue's project, not its assignee (issue 3 is carol's).
  EXPECT_TRUE(UserCanModifyIssue(*db, "alice", 3));
  // The assignee (issue 5 is bob's), whatever case the id comes in.
  EXPECT_TRUE(UserCanModifyIssue(*db, "BOB", 5));
  EXPECT_FALSE(UserCanModifyIssue(*db, "bob", 1));
  EXPECT_FALSE(UserCanModifyIssue(*db, "bob", 987654));
  raw.Exec("UPDATE Issues SET AssignedToUser = 'carol' WHERE IssueId = 5");
  EXPECT_FALSE(UserCanModifyIssue(*db, "bob", 5));
  EXPECT_TRUE(UserCanModifyIssue(*db, "carol", 5));
  // Administering another project gives no right here.
  raw.Exec("INSERT INTO Projects (ProjectId, ProjectCode) VALUES (2, 'Other');"
           "INSERT INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator) VALUES (2, 'bob', 1)");
  EXPECT_FALSE(UserCanModifyIssue(*db, "bob", 1));
  EXPECT_TRUE(db->Call("UserCanModifyIssue", {Variant("Alice"), Variant(1)}).ToBool());
}

TEST_F(LoginTest, RoleQuestions) {
  EXPECT_TRUE(UserIsSiteAdmin(*db, "Admin"));
  EXPECT_FALSE(UserIsSiteAdmin(*db, "alice"));
  EXPECT_TRUE(UserIsPublic(*db, "DAVE"));
  EXPECT_FALSE(UserIsPublic(*db, "admin"));
  EXPECT_FALSE(UserIsPublic(*db, "nobody"));

  // Without a project: administrator of any project (the argument may be omitted by name).
  EXPECT_TRUE(db->Call("UserIsProjectAdmin", {Variant("alice")}).ToBool());
  EXPECT_TRUE(UserIsProjectAdmin(*db, "alice", 1));
  EXPECT_FALSE(UserIsProjectAdmin(*db, "alice", 2));
  EXPECT_FALSE(db->Call("UserIsProjectAdmin", {Variant("bob")}).ToBool());

  // Project administrator of one project only, not site administrator: may administer.
  EXPECT_TRUE(UserCanAdmin(*db, "alice"));
  EXPECT_TRUE(UserCanAdmin(*db, "admin"));
  EXPECT_FALSE(UserCanAdmin(*db, "bob"));
  EXPECT_FALSE(UserCanAdmin(*db, "dave"));

  // Overriding the workflow is a membership flag; site administrators get no exemption.
  EXPECT_FALSE(UserCanOverrideWorkflow(*db, "bob", 1));
  raw.Exec("UPDATE ProjectUsers SET OverrideWorkflow = 1 WHERE UserId = 'bob' AND ProjectId = 1");
  EXPECT_TRUE(UserCanOverrideWorkflow(*db, "Bob", 1));
  EXPECT_FALSE(UserCanOverrideWorkflow(*db, "bob", 2));
  EXPECT_FALSE(UserCanOverrideWorkflow(*db, "admin", 1));

  EXPECT_TRUE(UserIsProjectMember(*db, "CAROL", 1));
  EXPECT_FALSE(UserIsProjectMember(*db, "dave", 1));
  EXPECT_FALSE(UserIsProjectMember(*db, "carol", 2));
}

TEST_F(LoginTest, GroupLeadAndMembership) {
  EXPECT_EQ(ProjectGroupLead(*db, 1, "developers"), "alice");
  EXPECT_EQ(db->Call("ProjectGroupLead", {Variant(1), Variant("Testers")}).ToString(), "carol");
  // A group without a lead, and a project that does not exist.
  EXPECT_EQ(ProjectGroupLead(*db, 1, "Customers"), "");
  EXPECT_EQ(ProjectGroupLead(*db, 42, "Developers"), "");

  Variant in = db->Call("UserInGroup", {Variant("ALICE"), Variant("developers")});
  EXPECT_EQ(in.Type(), automation::VarType::Boolean);
  EXPECT_TRUE(in.ToBool());
  EXPECT_FALSE(UserInGroup(*db, "alice", "Testers").ToBool());
  EXPECT_FALSE(UserInGroup(*db, "nobody", "Testers").ToBool());
}

std::vector<std::string> Codes(ado::Recordset& rs) {
  std::vector<std::string> codes;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) codes.push_back(rs.Value("ProjectCode").ToString());
  return codes;
}

TEST_F(LoginTest, AdministeredProjects) {
  raw.Exec("INSERT INTO Projects (ProjectId, ProjectCode) VALUES (2, 'Beta'), (3, 'Alpha');"
           "INSERT INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator) VALUES "
           "(3, 'alice', 1), (2, 'alice', 0)");
  auto all = GetUserAdminProjectsRs(*db, "admin");
  EXPECT_EQ(Codes(*all), (std::vector<std::string>{"Alpha", "Beta", "Demo"}));
  EXPECT_EQ(all->UpdateCriteria(), ado::adCriteriaTimeStamp);

  auto mine = GetUserAdminProjectsRs(*db, "Alice");
  EXPECT_EQ(Codes(*mine), (std::vector<std::string>{"Alpha", "Demo"}));
  EXPECT_EQ(mine->ActiveConnection(), nullptr);
  EXPECT_NE(mine->UpdateCriteria(), ado::adCriteriaTimeStamp);

  auto none = db->Call("GetUserAdminProjectsRs", {Variant("bob")}).ToObject();
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(none->Get("EOF").ToBool());
}

TEST_F(LoginTest, FailuresTravelTheErrorProtocol) {
  auto closed = std::make_shared<Database>();
  try {
    closed->Call("UserCanModifyIssue", {Variant("admin"), Variant(1)});
    ADD_FAILURE() << "no error raised";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number, ado::err::kInvalidConnection);
    EXPECT_EQ(e.source.rfind("Brisquel.dll:Database.UserCanModifyIssue\r\n", 0), 0u) << e.source;
  }
  // A group code wider than the column is refused, not cut to a shorter one that might match.
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('ABCDEFGHIJKLMNOPQRST');"
           "INSERT INTO UserGroups (UserId, GroupCode) VALUES ('bob', 'ABCDEFGHIJKLMNOPQRST')");
  EXPECT_TRUE(UserInGroup(*db, "bob", "ABCDEFGHIJKLMNOPQRST").ToBool());
  EXPECT_THROW(UserInGroup(*db, "bob", "ABCDEFGHIJKLMNOPQRSTU"), ComError);
  EXPECT_EQ(db->GetLastErrorMessage(), "");
}

}  // namespace
}  // namespace brisquel
