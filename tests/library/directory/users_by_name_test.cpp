// The user writers as the pages call them: by name on a Database made by its ProgID.
#include <gtest/gtest.h>

#include <string>

#include "automation/automation.h"
#include "users_site.h"

namespace brisquel::directorytest {
namespace {

using automation::Variant;

class UsersByNameTest : public UsersSite {
 protected:
  std::shared_ptr<automation::Object> page = [this] {
    auto o = automation::CreateObject("Brisquel.Database");
    o->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
    return o;
  }();
  Variant Posted(const Fields& f) { return Variant(std::shared_ptr<automation::Object>(Form(f))); }
  Variant UserRs(const std::string& id) { return page->Call("GetUserRs", {Variant(id)}); }
  std::string Last() { return page->Get("LastErrorMessage").ToString(); }
};

TEST_F(UsersByNameTest, EveryUserWriterIsCalledByName) {
  const Fields account = {{"UserId", "viaPage"}, {"UserName", "Via Page"}, {"Password1", "Pw9"},
                          {"Password2", "Pw9"},  {"SecretQuestion", "Q"},  {"SecretQuestionAnswer", "A"}};
  EXPECT_TRUE(page->Call("CreateUser", {Variant("admin"), Posted(account)}).ToBool()) << Last();
  EXPECT_TRUE(page->Call("CreatePublicUser", {Posted(With(account, {{"UserId", "signUp"}}))}).ToBool()) << Last();
  EXPECT_TRUE(page->Call("Login", {Variant("signUp"), Variant("Pw9")}).ToBool());

  EXPECT_FALSE(page->Call("UpdateUser", {Variant("olga"), UserRs("viaPage"), Posted({{"UserName", "X"}})}).ToBool());
  EXPECT_EQ(Last(), "Permission denied.");
  EXPECT_TRUE(page->Call("UpdateUser", {Variant("admin"), UserRs("viaPage"),
                                        Posted({{"UserName", "Renamed"}, {"GroupCode", "Testers"}})})
                  .ToBool())
      << Last();
  EXPECT_TRUE(page->Call("UpdateMyUserInfo", {Variant("viaPage"), UserRs("viaPage"), Posted({{"UserName", "Me"}})})
                  .ToBool())
      << Last();
  EXPECT_TRUE(page->Call("UpdatePersonalize", {Variant("viaPage"), UserRs("viaPage"),
                                               Posted({{"MyAssignmentNumIssues", "15"}, {"DefaultProject", "1"}})})
                  .ToBool())
      << Last();
  EXPECT_TRUE(page->Call("UpdatePersonalizeSearch",
                         {Variant("viaPage"), UserRs("viaPage"), Posted({{"SearchNumIssues", "16"}})})
                  .ToBool());
  EXPECT_TRUE(page->Call("UpdatePersonalizeReleaseNotes",
                         {Variant("viaPage"), UserRs("viaPage"), Posted({{"ReleaseNotesNumIssues", "17"}})})
                  .ToBool());
  EXPECT_EQ(raw.Rows("select UserName, MyAssignmentNumIssues, DefaultProject, SearchNumIssues, "
                     "ReleaseNotesNumIssues from Users where UserId = 'viaPage'"),
            (Rows{"Me|15|1|16|17"}));
  EXPECT_EQ(raw.Rows("select GroupCode from UserGroups where UserId = 'viaPage'"), (Rows{"Testers"}));

  EXPECT_TRUE(page->Call("DeleteUser", {Variant("admin"), Posted({{"chkUser", "viaPage"}, {"chkUser", "signUp"}})})
                  .ToBool())
      << Last();
  EXPECT_EQ(raw.Int("select count(*) from Users where UserId in ('viaPage', 'signUp')"), 0);
}

TEST_F(UsersByNameTest, AMissingFormIsTheCallersErrorThroughTheErrorProtocol) {
  try {
    page->Call("CreateUser", {Variant("admin"), Variant(std::shared_ptr<automation::Object>())});
    ADD_FAILURE() << "no error";
  } catch (const automation::ComError& e) {
    EXPECT_EQ(e.description, "FormData is Nothing.");
    EXPECT_NE(e.source.find("CreateUser"), std::string::npos) << e.source;
  }
}

}  // namespace
}  // namespace brisquel::directorytest
