// Signing in and out in Chromium against a vantrel-site process.
#include <gtest/gtest.h>

#include "support/browser.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

class SignInBrowserTest : public ::testing::Test {
 protected:
  Json SignInCookie(Page& page) {
    for (const auto& c : page.Cookies())
      if (c["name"] == "VantrelSignIn") return c;
    return Json();
  }

  SiteServer site;
  std::unique_ptr<Page> page = Browser::Shared().NewPage();
};

TEST_F(SignInBrowserTest, SigningInLandsOnMyAssignmentsWithAnHttpOnlyStrictCookie) {
  EXPECT_EQ(page->Navigate(site.Url("/Default.asp")), 200);
  testsupport::SubmitSignIn(*page, "alice", "demo");
  EXPECT_EQ(page->Path(), "/APP/Assignments/MyAssignments.asp");
  const Json cookie = SignInCookie(*page);
  ASSERT_TRUE(cookie.is_object());
  EXPECT_EQ(cookie["httpOnly"], true);
  EXPECT_EQ(cookie["sameSite"], "Strict");
  EXPECT_EQ(cookie["secure"], false);
  EXPECT_EQ(cookie["path"], "/APP/");
  EXPECT_EQ(cookie["value"].get<std::string>().size(), 64u);
  // Page script cannot read it.
  EXPECT_EQ(page->Evaluate("document.cookie"), "");
  EXPECT_TRUE(page->Exceptions().empty());
}

TEST_F(SignInBrowserTest, AWrongPasswordShowsTheSentence) {
  testsupport::SignIn(*page, site, "alice", "wrong");
  EXPECT_EQ(page->Path(), "/APP/Default.asp");
  EXPECT_EQ(page->Evaluate("document.getElementById('Message').innerText"), "Invalid user id or password.");
  EXPECT_TRUE(SignInCookie(*page).is_null());
}

TEST_F(SignInBrowserTest, APageAskedForWhileSignedOutOpensAfterSignIn) {
  EXPECT_EQ(page->Navigate(site.Url("/Reports/SummaryTrends.asp?Period=7")), 200);
  EXPECT_EQ(page->Evaluate("!!document.fSignIn"), true);
  testsupport::SubmitSignIn(*page, "bob", "demo");
  EXPECT_EQ(page->Evaluate("location.pathname + location.search"), "/APP/Reports/SummaryTrends.asp?Period=7");
  EXPECT_EQ(page->Evaluate("document.title"), "Summary Trends");
}

TEST_F(SignInBrowserTest, AfterLogoutTheOldCookieOpensNothing) {
  testsupport::SignIn(*page, site, "alice", "demo");
  Json old = SignInCookie(*page);
  ASSERT_TRUE(old.is_object());
  page->Navigate(site.Url("/Logout.asp"));
  EXPECT_EQ(page->Path(), "/APP/Default.asp");
  EXPECT_TRUE(SignInCookie(*page).is_null());
  page->SetCookie({{"name", "VantrelSignIn"}, {"value", old["value"]}, {"domain", "127.0.0.1"}, {"path", "/APP/"}});
  EXPECT_EQ(page->Navigate(site.Url("/User/MyInfo.asp")), 200);
  EXPECT_EQ(page->Evaluate("!!document.fSignIn"), true);
}

TEST_F(SignInBrowserTest, AFormFromAnotherOriginIsRefused) {
  testsupport::SignIn(*page, site, "alice", "demo");
  // A page of another origin posting to the site (its Origin is "null").
  page->Show("<form id=f method=post action='" + site.Url("/Default.asp") +
             "'><input name=UserId value=alice><input name=Password value=demo>"
             "<input id=go type=submit></form>");
  page->ClickAndWait("#go");
  EXPECT_EQ(page->Evaluate("performance.getEntriesByType('navigation')[0].responseStatus"), 403);
  EXPECT_EQ(page->BodyText(), "This form was sent from another site and has been refused.");
}

}  // namespace
