// The directory's writers as the pages call them: by name on a Database made by its ProgID.
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

TEST_F(UsersByNameTest, EveryGroupAndProjectWriterIsCalledByName) {
  EXPECT_TRUE(page->Call("CreateGroup", {Variant("admin"), Posted({{"GroupCode", "Support"}})}).ToBool()) << Last();
  EXPECT_TRUE(page->Call("CreateProject", {Variant("admin"), Posted({{"ProjectCode", "Desk"},
                                                                      {"ProjectDescription", "Help desk"},
                                                                      {"TeamMember", "olga"},
                                                                      {"GroupLead", "olga"},
                                                                      {"GroupCode", "Support"}})})
                  .ToBool())
      << Last();
  const std::string id = raw.Text("select ProjectId from Projects where ProjectCode = 'Desk'");
  Variant rs = page->Call("GetProjectRs", {Variant(std::stoi(id))});
  EXPECT_TRUE(page->Call("UpdateProject", {Variant("admin"), rs,
                                           Posted({{"ProjectDescription", "Service desk"}, {"TeamMember", "paul"}})})
                  .ToBool())
      << Last();
  EXPECT_EQ(raw.Rows("select ProjectDescription, (select group_concat(UserId) from ProjectUsers where ProjectId = " +
                     id + ") from Projects where ProjectId = " + id),
            (Rows{"Service desk|paul"}));
  EXPECT_FALSE(page->Call("DeleteGroup", {Variant("paul"), Posted({{"chkGroup", "Support"}})}).ToBool());
  EXPECT_EQ(Last(), "Permission denied.");
  EXPECT_TRUE(page->Call("DeleteGroup", {Variant("admin"), Posted({{"chkGroup", "Support"}})}).ToBool()) << Last();
  EXPECT_TRUE(page->Call("DeleteProject", {Variant("admin"), Posted({{"chkProject", id}})}).ToBool()) << Last();
  EXPECT_EQ(raw.Int("select count(*) from Projects where ProjectCode = 'Desk'") +
                raw.Int("select count(*) from Groups where GroupCode = 'Support'"),
            0);
}

}  // namespace
}  // namespace brisquel::directorytest
