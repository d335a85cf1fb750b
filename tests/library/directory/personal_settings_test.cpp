#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/password.h"
#include "users_site.h"

namespace brisquel::directorytest {
namespace {

using Writer = std::function<bool(Database&, const std::string&, RecordsetPtr, FormPtr)>;

const Fields kInfo = {{"UserName", "Olga K"}, {"UserEMail", "olga@example.com"}, {"Password1", ""},
                      {"Password2", ""},      {"SecretQuestion", "Town?"},       {"SecretQuestionAnswer", ""}};

class PersonalSettingsTest : public UsersSite {
 protected:
  PersonalSettingsTest() {
    raw.Exec("UPDATE Users SET Password = '" + HashSecret("OlgaPass1") + "' WHERE UserId = 'olga'");
  }
  bool Info(const Fields& changes, const std::string& by = "olga") {
    return UpdateMyUserInfo(*db, by, GetUserRs(*db, "olga"), Form(With(kInfo, changes)));
  }
  bool Call(const Writer& w, const Fields& fields, const std::string& by = "olga") {
    return w(*db, by, GetUserRs(*db, "olga"), Form(fields));
  }
  std::string Olga(const std::string& columns) {
    return raw.Rows("select " + columns + " from Users where UserId = 'olga'")[0];
  }
};

TEST_F(PersonalSettingsTest, OnlyTheOwnRowIsWrittenWithoutRegardToCase) {
  EXPECT_FALSE(Info({}, "paul"));
  EXPECT_EQ(Message(), "Only your own personal information can be updated.");
  for (const Writer& w : {Writer(UpdatePersonalize), Writer(UpdatePersonalizeSearch),
                          Writer(UpdatePersonalizeReleaseNotes)}) {
    EXPECT_FALSE(Call(w, {{"MyAssignmentNumIssues", "5"}, {"SearchNumIssues", "5"}, {"ReleaseNotesNumIssues", "5"}},
                      "admin"));
    EXPECT_EQ(Message(), "You can only modify your own personal settings.");
  }
  EXPECT_EQ(Olga("UserName, MyAssignmentNumIssues, SearchNumIssues, ReleaseNotesNumIssues"), "Olga|20|20|20");
  EXPECT_TRUE(Info({}, "OLGA")) << Message();
  EXPECT_EQ(Olga("UserName"), "Olga K");
}

TEST_F(PersonalSettingsTest, InformationChecksInOrder) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"UserName", ""}}, "Name cannot be blank."},
      {{{"UserName", std::string(51, 'n')}}, "Name cannot be longer than 50 characters."},
      {{{"UserEMail", std::string(51, 'e')}}, "E-Mail cannot be longer than 50 characters."},
      {{{"Password1", "abc"}, {"Password2", "ABC"}}, "Passwords do not match."},
      {{{"Password1", std::string(21, 'p')}, {"Password2", std::string(21, 'p')}},
       "Password cannot be longer than 20 characters."},
      {{{"SecretQuestion", std::string(51, 'q')}}, "Secret question cannot be longer than 50 characters."},
      {{{"SecretQuestionAnswer", std::string(51, 'a')}},
       "Answer to the secret question cannot be longer than 50 characters."},
      {{{"SecretQuestion", ""}, {"SecretQuestionAnswer", "x"}},
       "The secret question cannot be blank if an answer is provided."},
  };
  const std::string before = Olga("UserName, UserEMail, SecretQuestion, EMailEnabled");
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(Info(changes)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_EQ(Olga("UserName, UserEMail, SecretQuestion, EMailEnabled"), before);
}

TEST_F(PersonalSettingsTest, InformationIsStoredWithTheSecretsHashed) {
  ASSERT_TRUE(Info({{"UserName", std::string(50, 'n')},
                    {"EMailEnabled", "ON"},
                    {"Password1", std::string(20, 'p')},
                    {"Password2", std::string(20, 'p')},
                    {"SecretQuestionAnswer", std::string(50, 'a')}}))
      << Message();
  EXPECT_EQ(Olga("UserName, UserEMail, SecretQuestion, EMailEnabled"),
            std::string(50, 'n') + "|olga@example.com|Town?|1");
  EXPECT_TRUE(Login(*db, "olga", std::string(20, 'p')));
  EXPECT_TRUE(VerifySecret(Olga("SecretQuestionAnswer"), std::string(50, 'a')));
  // Blank passwords keep the stored one; an unposted box is off.
  ASSERT_TRUE(Info({}));
  EXPECT_TRUE(Login(*db, "olga", std::string(20, 'p')));
  EXPECT_EQ(Olga("EMailEnabled"), "0");
}

// My issues take 1 to 1,000 per page; search and release notes any number of 1 or more.
TEST_F(PersonalSettingsTest, IssuesPerPageIsAPositiveWholeNumberAndMyIssuesTakeAtMostAThousand) {
  const std::string range = "Issues per page must be an integer number between 1 and 1,000.";
  const std::string positive = "Issues per page must be a positive integer number.";
  struct Writer3 {
    Writer writer;
    std::string field, zero, aboveAThousand;  // refusals; empty: stored
  };
  const std::vector<Writer3> writers = {
      {UpdatePersonalize, "MyAssignmentNumIssues", range, range},
      {UpdatePersonalizeSearch, "SearchNumIssues", positive, ""},
      {UpdatePersonalizeReleaseNotes, "ReleaseNotesNumIssues", positive, ""},
  };
  for (const Writer3& w : writers) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Issues per page cannot be blank."},
        {"  ", "Issues per page cannot be blank."},
        {"abc", "Issues per page must be an integer number."},
        {"40000", "Issues per page must be an integer number."},
        {"0", w.zero},
        {"-5", w.zero},
        {"1001", w.aboveAThousand},
        {"1500", w.aboveAThousand},
        {" 25 ", ""},
        {"1000", ""},
    };
    for (const auto& [value, message] : cases) {
      const std::string before = Olga(w.field);
      EXPECT_EQ(Call(w.writer, {{w.field, value}}), message.empty()) << w.field << " " << value;
      EXPECT_EQ(Message(), message) << w.field << " " << value;
      const std::string trimmed = value == " 25 " ? "25" : value;
      EXPECT_EQ(Olga(w.field), message.empty() ? trimmed : before) << w.field << " " << value;
    }
  }
}

TEST_F(PersonalSettingsTest, DefaultProjectFilterAndLayout) {
  const std::vector<std::pair<std::string, std::string>> projects = {{"", "-1"}, {"7", "7"}, {"x", "-1"}, {" 3 ", "3"}};
  for (const auto& [posted, stored] : projects) {
    ASSERT_TRUE(Call(UpdatePersonalize, {{"MyAssignmentNumIssues", "10"},
                                         {"DefaultProject", posted},
                                         {"DefaultFilter", " s:olga "},
                                         {"DefaultLayout", "Wide"}}))
        << Message();
    EXPECT_EQ(Olga("DefaultProject"), stored) << posted;
  }
  // Stored exactly as posted.
  EXPECT_EQ(Olga("DefaultFilter, DefaultLayout, MyAssignmentNumIssues"), " s:olga |Wide|10");
}

TEST_F(PersonalSettingsTest, BothConflictSentencesAndNothingOfTheLateWriteIsStored) {
  auto second = sitedb::Open(file);
  auto early = GetUserRs(*second, "olga");
  ASSERT_TRUE(Info({{"UserName", "First"}}));
  EXPECT_FALSE(UpdateMyUserInfo(*second, "olga", early,
                                Form(With(kInfo, {{"UserName", "Late"}, {"Password1", "L1"}, {"Password2", "L1"}}))));
  EXPECT_EQ(second->LastErrorMessage(), "Another session has changed this information. You must cancel your changes.");
  EXPECT_EQ(Olga("UserName"), "First");
  EXPECT_TRUE(Login(*db, "olga", "OlgaPass1"));

  auto stale = GetUserRs(*second, "olga");
  ASSERT_TRUE(Call(UpdatePersonalizeSearch, {{"SearchNumIssues", "30"}}));
  EXPECT_FALSE(UpdatePersonalizeSearch(*second, "olga", stale, Form({{"SearchNumIssues", "40"}})));
  EXPECT_EQ(second->LastErrorMessage(),
            "Another session has saved your personalization settings. You must cancel these changes.");
  EXPECT_EQ(Olga("SearchNumIssues"), "30");
}

}  // namespace
}  // namespace brisquel::directorytest
