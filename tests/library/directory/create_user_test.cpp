#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/password.h"
#include "users_site.h"

namespace brisquel::directorytest {
namespace {

const Fields kNewUser = {{"UserId", "newbie"},    {"UserName", "New Bie"}, {"UserEMail", "nb@example.com"},
                         {"Password1", "Pw1"},    {"Password2", "Pw1"},    {"SecretQuestion", "Pet?"},
                         {"SecretQuestionAnswer", "Rex"}};

std::string Chars(size_t n, const std::string& c = "x") {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += c;
  return s;
}

class CreateUserTest : public UsersSite {
 protected:
  bool Create(const Fields& changes, const std::string& by = "admin") {
    return CreateUser(*db, by, Form(With(kNewUser, changes)));
  }
  bool SignUp(const Fields& changes) { return CreatePublicUser(*db, Form(With(kNewUser, changes))); }
  long long Users() { return raw.Int("select count(*) from Users"); }
};

TEST_F(CreateUserTest, EachCheckHasItsMessageInOrderAndWritesNothing) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"UserId", ""}}, "Id cannot be blank."},
      {{{"UserId", "   "}}, "Id cannot be blank."},
      {{{"UserId", "a" + Chars(50)}}, "Id cannot be longer than 50 characters."},
      {{{"UserId", "1a"}}, "Id must begin with a letter, and only contain letters and digits."},
      {{{"UserId", "a_b"}}, "Id must begin with a letter, and only contain letters and digits."},
      {{{"UserName", " "}}, "Name cannot be blank."},
      {{{"UserName", Chars(51)}}, "Name cannot be longer than 50 characters."},
      {{{"UserEMail", Chars(51)}}, "E-Mail cannot be longer than 50 characters."},
      {{{"PublicUser", "on"}, {"SiteAdministrator", "ON"}}, "A site administrator cannot be a public user."},
      // Logins compare exactly, so the two entries must too.
      {{{"Password2", "pw1"}}, "Passwords do not match."},
      {{{"Password1", Chars(21)}, {"Password2", Chars(21)}}, "Password cannot be longer than 20 characters."},
      {{{"SecretQuestion", Chars(51)}}, "Secret question cannot be longer than 50 characters."},
      {{{"SecretQuestionAnswer", Chars(51)}}, "Answer to the secret question cannot be longer than 50 characters."},
      {{{"SecretQuestion", ""}}, "The secret question cannot be blank if an answer is provided."},
      // The first failing check decides.
      {{{"UserId", "1a"}, {"UserName", ""}, {"Password2", "x"}},
       "Id must begin with a letter, and only contain letters and digits."},
      {{{"UserName", ""}, {"SecretQuestion", ""}}, "Name cannot be blank."},
  };
  const long long before = Users();
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(Create(changes)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_EQ(Users(), before);
  EXPECT_EQ(raw.Int("select count(*) from SummaryLayouts where UserId <> 'admin'"), 0);
}

TEST_F(CreateUserTest, LimitsPassAtTheirBoundaryCountingCharacters) {
  const std::vector<Fields> cases = {
      {{"UserId", "a" + Chars(49)}},
      {{"UserId", "a1"}},
      {{"UserName", Chars(50, "\xC3\xA9")}, {"UserEMail", Chars(50)}},
      {{"Password1", Chars(20, "\xC3\xA9")}, {"Password2", Chars(20, "\xC3\xA9")}},
      {{"SecretQuestion", Chars(50)}, {"SecretQuestionAnswer", Chars(50)}},
      {{"SecretQuestionAnswer", ""}},  // a question without an answer is accepted
  };
  int n = 0;
  for (const Fields& changes : cases) {
    Fields f = changes;
    if (f.front().first != "UserId") f.emplace_back("UserId", "ok" + std::to_string(++n));
    EXPECT_TRUE(Create(f)) << Message();
    EXPECT_EQ(Message(), "");
  }
  EXPECT_EQ(raw.Int("select count(*) from Users where UserId not in ('admin', 'paul', 'olga', 'pia')"), 6);
}

TEST_F(CreateUserTest, WritesTheUserWithHashesGroupsAndTheDefaultLayout) {
  raw.Exec("INSERT INTO Groups (GroupCode) VALUES ('QA Team'), ('QA')");
  ASSERT_TRUE(Create({{"UserId", " newbie "},
                      {"EMailEnabled", "on"},
                      {"GroupCode", "QA+Team"},
                      {"GroupCode", "%51A"},
                      {"GroupCode", "Developers"},
                      {"GroupCode", "developers"}}))
      << Message();
  EXPECT_EQ(raw.Rows("select UserName, UserEMail, SiteAdministrator, PublicUser, EMailEnabled, DefaultFilter, "
                     "SecretQuestion from Users where UserId = 'newbie'"),
            (Rows{"New Bie|nb@example.com|0|0|1|s:newbie|Pet?"}));
  EXPECT_TRUE(VerifySecret(raw.Text("select SecretQuestionAnswer from Users where UserId = 'newbie'"), "Rex"));
  EXPECT_TRUE(Login(*db, "newbie", "Pw1"));
  EXPECT_FALSE(Login(*db, "newbie", "pw1"));
  // Decoded, and a group ticked twice written once.
  EXPECT_EQ(raw.Rows("select GroupCode from UserGroups where UserId = 'newbie' order by GroupCode"),
            (Rows{"Developers", "QA", "QA Team"}));
  EXPECT_EQ(raw.Rows("select LayoutName, NumRows from SummaryLayouts where UserId = 'newbie'"), (Rows{"Default|2"}));
  EXPECT_EQ(raw.Rows("select RowNumber, DisplayOrder, FieldName from SummaryLayoutFields where UserId = 'newbie' "
                     "and LayoutName = 'Default' order by RowNumber, DisplayOrder"),
            (Rows{"1|1|IssueId", "1|2|PriorityCode", "1|3|SeverityCode", "1|4|ProjectCode", "1|5|ModuleCode",
                  "1|6|ResolutionCode", "1|7|AssignedToUser", "1|8|StatusCode", "2|1|Summary"}));
}

TEST_F(CreateUserTest, AFieldThatDoesNotExistLeavesNoGapInTheLayout) {
  raw.Exec("PRAGMA foreign_keys = OFF; DELETE FROM IssueFields WHERE FieldName = 'ModuleCode'");
  ASSERT_TRUE(Create({})) << Message();
  EXPECT_EQ(raw.Rows("select RowNumber, DisplayOrder, FieldName from SummaryLayoutFields where UserId = 'newbie' "
                     "order by RowNumber, DisplayOrder"),
            (Rows{"1|1|IssueId", "1|2|PriorityCode", "1|3|SeverityCode", "1|4|ProjectCode", "1|5|ResolutionCode",
                  "1|6|AssignedToUser", "1|7|StatusCode", "2|1|Summary"}));
}

TEST_F(CreateUserTest, AnExistingIdLeavesNoRowOfTheCall) {
  ASSERT_TRUE(Create({}));
  const Rows before = Owned("newbie");
  EXPECT_FALSE(Create({{"UserId", "NEWBIE"}, {"GroupCode", "Testers"}}));
  EXPECT_EQ(Message(), "The user id 'NEWBIE' already exists.");
  EXPECT_EQ(Owned("newbie"), before);
  EXPECT_EQ(raw.Int("select count(*) from UserGroups where GroupCode = 'Testers' and UserId = 'newbie'"), 0);
}

TEST_F(CreateUserTest, ABlankPasswordStoresNoneSoNobodyLogsIn) {
  ASSERT_TRUE(Create({{"Password1", ""}, {"Password2", ""}, {"SecretQuestionAnswer", ""}}));
  EXPECT_EQ(raw.Rows("select Password, SecretQuestionAnswer from Users where UserId = 'newbie'"), (Rows{"|"}));
  EXPECT_FALSE(Login(*db, "newbie", ""));
}

TEST_F(CreateUserTest, OnlyAdministratorsCreateAndOnlySiteAdministratorsMakeSiteAdministrators) {
  for (const char* by : {"olga", "pia", "nobody"}) {
    EXPECT_FALSE(Create({{"UserId", std::string("by") + by}}, by));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_EQ(raw.Int("select count(*) from Users where UserId like 'by%'"), 0);
  // A project administrator's boxes: public honoured, site administrator ignored (and not checked).
  ASSERT_TRUE(Create({{"UserId", "byPaul"}, {"PublicUser", "on"}, {"SiteAdministrator", "on"}}, "paul"));
  ASSERT_TRUE(Create({{"UserId", "byAdmin"}, {"SiteAdministrator", "on"}}, "admin"));
  EXPECT_EQ(raw.Rows("select UserId, SiteAdministrator, PublicUser from Users where UserId like 'by%' order by 1"),
            (Rows{"byAdmin|1|0", "byPaul|0|1"}));
}

TEST_F(CreateUserTest, SignUpRequiresPasswordQuestionAndAnswerInOrder) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"UserId", "9x"}, {"SecretQuestion", ""}}, "Id must begin with a letter, and only contain letters and digits."},
      {{{"Password2", "other"}, {"SecretQuestion", ""}}, "Passwords do not match."},
      {{{"Password1", ""}, {"Password2", ""}, {"SecretQuestion", ""}}, "Password cannot be blank."},
      {{{"Password1", Chars(21)}, {"Password2", Chars(21)}}, "Password cannot be longer than 20 characters."},
      {{{"SecretQuestion", " "}, {"SecretQuestionAnswer", ""}}, "A secret question is required."},
      {{{"SecretQuestionAnswer", ""}}, "An answer to the secret question is required."},
      {{{"SecretQuestion", Chars(51)}}, "Secret question cannot be longer than 50 characters."},
      {{{"SecretQuestionAnswer", Chars(51)}}, "Answer to the secret question cannot be longer than 50 characters."},
  };
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(SignUp(changes)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_EQ(Owned("newbie"), Owned("nobody"));
}

TEST_F(CreateUserTest, SignUpMakesAPublicUserWhateverTheFormSays) {
  ASSERT_TRUE(SignUp({{"SiteAdministrator", "on"}, {"EMailEnabled", ""}, {"GroupCode", "Developers"}})) << Message();
  EXPECT_EQ(raw.Rows("select SiteAdministrator, PublicUser, EMailEnabled, DefaultFilter from Users "
                     "where UserId = 'newbie'"),
            (Rows{"0|1|1|s:newbie"}));
  EXPECT_EQ(raw.Int("select count(*) from UserGroups where UserId = 'newbie'"), 0);
  EXPECT_EQ(raw.Int("select count(*) from SummaryLayoutFields where UserId = 'newbie'"), 9);
  EXPECT_TRUE(Login(*db, "newbie", "Pw1"));
  EXPECT_FALSE(SignUp({}));
  EXPECT_EQ(Message(), "The user id 'newbie' already exists.");
}

}  // namespace
}  // namespace brisquel::directorytest
