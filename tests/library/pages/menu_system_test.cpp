// MenuSystem called by name as a page calls it, on the demo site: admin (site administrator),
// alice (project administrator), bob (member), dave (public).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "core/database.h"
#include "pages/menu_system.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace {

using automation::Variant;
using ObjectPtr = std::shared_ptr<automation::Object>;

constexpr const char* kMeta = "/LM/W3SVC/1/Root/app";
constexpr const char* kInstance = "/LM/W3SVC/1";

bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// The text between the first `from` and the next `to` after it ("" when either is missing).
std::string Between(const std::string& s, const std::string& from, const std::string& to) {
  const size_t a = s.find(from);
  if (a == std::string::npos) return {};
  const size_t b = s.find(to, a + from.size());
  return b == std::string::npos ? std::string() : s.substr(a + from.size(), b - a - from.size());
}

std::string Entry(const std::string& label, const std::string& href) {
  return "<tr><td class=MenuSpacer>&nbsp;</td><td class=MenuItem><a tabindex=-1 class=MenuItem href='" + href +
         "'>&nbsp;&nbsp;" + label + "</a></td></tr>";
}
std::string SubEntry(const std::string& label, const std::string& href) {
  return "<tr><td class=MenuSpacer>&nbsp;&nbsp;&nbsp;</td><td class=MenuItem><a tabindex=-1 class=MenuItem href='" +
         href + "'>&nbsp;" + label + "</a></td></tr>";
}
std::string CurrentSubEntry(const std::string& label) {
  return "<tr><td class=MenuSpacer>&nbsp;&nbsp;&nbsp;</td><td class=CurrentMenuItem>&nbsp;" + label + "</td></tr>";
}
std::string GroupTitle(const std::string& title) {
  return "<tr><td class=MenuSpacer>&nbsp;</td><td class=MenuItem>&nbsp;&nbsp;" + title +
         "</td></tr><tr><td class=MenuSpacer>&nbsp;</td><td><table width=100% cellpadding=0 cellspacing=0 border=0 "
         "bgcolor='#ffffff'>";
}

class MenuTest : public ::testing::Test {
 protected:
  ObjectPtr NewMenu(const std::string& meta = kMeta) {
    ObjectPtr m = automation::CreateObject("Brisquel.MenuSystem");
    m->Put("MetaDataPath", Variant(meta));
    m->Put("InstanceMetaDataPath", Variant(kInstance));
    m->Put("HttpHost", Variant("h:8080"));
    return m;
  }
  // The menu as the site host asks for it: the flags from the user's own rights.
  std::string Menu(const std::string& user, const std::string& url, const std::string& table = "",
                   std::vector<std::pair<std::string, std::string>> more = {}) {
    ObjectPtr m = NewMenu();
    m->Put("RequestURL", Variant("http://h:8080/app" + url));
    m->Put("RequestScriptName", Variant("/app" + url.substr(0, url.find('?'))));
    m->Put("RequestTableName", Variant(table));
    m->Put("UserIsSiteAdmin", Variant(db->Call("UserIsSiteAdmin", {Variant(user)}).ToBool()));
    m->Put("UserCanAdmin", Variant(db->Call("UserCanAdmin", {Variant(user)}).ToBool()));
    for (auto& [name, value] : more) m->Put(name, Variant(value));
    return m->Call("Menu", {Variant(dbObject()), Variant(user), Variant(1)}).ToString();
  }
  ObjectPtr dbObject() { return std::static_pointer_cast<automation::Object>(db); }
  std::string LeftMenu(const std::string& html) { return html.substr(0, html.find("<!-- Top Menu -->")); }

  std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<brisquel::Database> db = sitedb::Open(file);
};

TEST(MenuUrlTest, MapAndUnmapUnderAVirtualDirectoryAndAtTheSiteRoot) {
  struct Case {
    std::string meta, host, path, mapped, url, unmapped;
  } cases[] = {
      {kMeta, "h:8080", "/Default.asp", "/app/Default.asp", "http://h:8080/app/Setup/User.asp?UserId=x",
       "/Setup/User.asp"},
      {kMeta, "h:8080", "../images/spacer.gif", "../images/spacer.gif", "https://h:8080/app/Default.asp?",
       "/Default.asp"},
      {kMeta, "h:8080", "", "", "ftp://h:8080/app/Default.asp?a=1", "ftp://h:8080/app/Default.asp"},
      {"/LM/W3SVC/1/Root", "h:8080", "/Default.asp", "/Default.asp", "http://h:8080/app/Default.asp?a",
       "/app/Default.asp"},
      {"/LM/W3SVC/1", "", "/Default.asp", "/Default.asp", "http://h:8080/Default.asp", "h:8080/Default.asp"},
      {"/LM/W3SVC/1/Root/a/b", "h", "/x.asp", "/a/b/x.asp", "/a/b/x.asp", "/x.asp"},
  };
  for (const auto& c : cases) {
    ObjectPtr o = automation::CreateObject("Brisquel.MenuSystem");
    o->Put("MetaDataPath", Variant(c.meta));
    o->Put("InstanceMetaDataPath", Variant(kInstance));
    o->Put("HttpHost", Variant(c.host));
    // The two mappers are the class's own; the pages never call them.
    auto& m = dynamic_cast<brisquel::MenuSystem&>(*o);
    EXPECT_EQ(m.MapURL(c.path), c.mapped) << c.meta << " " << c.path;
    EXPECT_EQ(m.UnMapURL(c.url), c.unmapped) << c.meta << " " << c.url;
  }
}

TEST_F(MenuTest, PropertiesAreWriteOnlyAndUnknownMembersFail) {
  ObjectPtr m = NewMenu();
  const auto readBack = testsupport::ErrorOf([&] { m->Get("HttpHost"); });
  const auto missing = testsupport::ErrorOf([&] { m->Get("NoSuchMember"); });
  EXPECT_EQ(readBack.number, missing.number);
  EXPECT_EQ(readBack.number, 438);
}

TEST_F(MenuTest, AFullRequestUrlOpensUsersForASiteAdministrator) {
  const std::string html = Menu("admin", "/Setup/User.asp?UserId=x");
  EXPECT_TRUE(Has(html, GroupTitle("Users") + CurrentSubEntry("General") +
                            SubEntry("Groups", "/app/Setup/Groups.asp") + "</table></td></tr>"))
      << html;
  // The other groups of a site administrator stay collapsed.
  EXPECT_TRUE(Has(html, Entry("Projects", "/app/Setup/Projects.asp") + Entry("Customize", "/app/Setup/SiteWorkflow.asp") +
                            "<tr><td bgcolor=#000000></td><td bgcolor=#000000><IMG HEIGHT=2px "
                            "SRC=../images/spacer.gif height=0></td></tr>" +
                            Entry("System", "/app/Setup/SiteEMailServer.asp")))
      << html;
}

TEST_F(MenuTest, MyIssuesIsCurrentOnTheHomeAndAssignmentsPagesOnly) {
  for (auto [page, current] : {std::pair{"/Default.asp", "My Issues"}, {"/Assignments/MyAssignments.asp", "My Issues"},
                               {"/Search/Search.asp", "Search"}})
    EXPECT_TRUE(Has(Menu("bob", page), "<td class=CurrentMenuItem>&nbsp;&nbsp;" + std::string(current) + "</td>"))
        << page;
  // A path that differs only in case matches nothing and gets no block.
  for (const char* page : {"/default.asp", "/search/Search.asp", "/SETUP/USERS.ASP"}) {
    const std::string html = Menu("admin", page);
    EXPECT_FALSE(Has(html, "CurrentMenuItem")) << page;
    EXPECT_FALSE(Has(html, "bottom:0")) << page;
    EXPECT_FALSE(Has(LeftMenu(html), "</table></td></tr>")) << page;
  }
}

TEST_F(MenuTest, WhatEachUserSeesUnderReportsAndAdministration) {
  const std::string endRows =
      "<tr><td bgcolor=#000000></td><td bgcolor=#000000 style='height:2px;'><div></div></td></tr>";
  const std::string admin = "Administration</b></td></tr>";
  // A plain member: only My Info and Workflow.
  EXPECT_EQ(Between(Menu("bob", "/Default.asp"), admin, endRows),
            Entry("My Info", "/app/User/MyInfo.asp") + Entry("Workflow", "/app/Setup/SiteWorkflowInquiry.asp"));
  // A project administrator: the Projects group too, no site groups.
  EXPECT_EQ(Between(Menu("alice", "/Default.asp"), admin, endRows),
            Entry("My Info", "/app/User/MyInfo.asp") + Entry("Workflow", "/app/Setup/SiteWorkflowInquiry.asp") +
                Entry("Projects", "/app/Setup/Projects.asp"));
  const std::string reports = "<b>Reports</b>";
  EXPECT_FALSE(Has(Menu("dave", "/Default.asp"), reports));
  const std::string bob = Menu("bob", "/Default.asp");
  EXPECT_EQ(Between(bob, reports + "</td></tr>", "<tr><td bgcolor=#000000></td><td bgcolor=#000000><IMG"),
            Entry("Daily Summary", "/app/Reports/DailySummary.asp") +
                Entry("Release Notes", "/app/Reports/ReleaseNotes.asp") +
                Entry("Summary Trends", "/app/Reports/SummaryTrends.asp") +
                Entry("Issue Distribution", "/app/Reports/IssueDistribution.asp"));
  EXPECT_TRUE(Has(bob, "<IMG SRC='../images/spacer.gif ' height=0></td></tr><tr bgcolor=#000000><td>&nbsp</td>"));
}

TEST_F(MenuTest, TheCodeTablePageOpensTheGroupOfTheRequestedTable) {
  const std::string projectTables = SubEntry("Builds", "/app/Setup/CustomCodes.asp?Table=ProjectBuilds&ProjectId=1");
  struct Case {
    std::string page, table;
    bool projects, customize;
    std::string current;
  } cases[] = {
      {"/Setup/CustomCodes.asp", "ProjectModules", true, false, "Modules"},
      {"/Setup/CustomCode.asp", "ProjectModules", true, false, "Modules"},
      {"/Setup/CustomCodes.asp", "Priorities", false, true, "Priorities"},
      {"/Setup/CustomCode.asp", "Priorities", false, true, ""},
      {"/Setup/CustomCodes.asp", "NoSuchTable", false, false, ""},
      {"/Setup/CustomCodes.asp", "Priorities'", false, false, ""},
      {"/Setup/SiteCustomCodes.asp", "Priorities", false, true, ""},
  };
  for (const auto& c : cases) {
    const std::string html = Menu("admin", c.page + "?Table=x", c.table);
    EXPECT_EQ(Has(html, GroupTitle("Projects")), c.projects) << c.page << " " << c.table;
    EXPECT_EQ(Has(html, GroupTitle("Customize")), c.customize) << c.page << " " << c.table;
    EXPECT_EQ(Has(html, CurrentSubEntry(c.current)), !c.current.empty()) << c.page << " " << c.table;
  }
}

TEST_F(MenuTest, OpenedGroupsListTheirOwnKindOfCodeTables) {
  const std::string projects = Between(Menu("admin", "/Setup/Projects.asp"), GroupTitle("Projects"), "</table>");
  EXPECT_EQ(projects, CurrentSubEntry("General") +
                          SubEntry("E-Mail Notifications", "/app/Setup/EMailNotifications.asp") +
                          SubEntry("Builds", "/app/Setup/CustomCodes.asp?Table=ProjectBuilds&ProjectId=1") +
                          SubEntry("Modules", "/app/Setup/CustomCodes.asp?Table=ProjectModules&ProjectId=1"));
  const std::string customize = Between(Menu("admin", "/Setup/SiteWorkflow.asp"), GroupTitle("Customize"), "</table>");
  EXPECT_EQ(customize, CurrentSubEntry("Workflow") + SubEntry("Code Tables", "/app/Setup/SiteCustomCodes.asp") +
                           SubEntry("Issue Fields", "/app/Setup/SiteCustomFields.asp") +
                           SubEntry("Data Entry Form", "/app/Setup/SiteEntryForm.asp") +
                           SubEntry("E-Mail Templates", "/app/Setup/EMailTemplates.asp") +
                           SubEntry("Priorities", "/app/Setup/CustomCodes.asp?Table=Priorities") +
                           SubEntry("Resolutions", "/app/Setup/CustomCodes.asp?Table=Resolutions") +
                           SubEntry("Severities", "/app/Setup/CustomCodes.asp?Table=Severities"));
  const std::string system = Between(Menu("admin", "/Setup/SiteBackup.asp"), GroupTitle("System"), "</table>");
  EXPECT_EQ(system, SubEntry("Outgoing E-Mail", "/app/Setup/SiteEMailServer.asp") + CurrentSubEntry("Database Backup") +
                        SubEntry("Database Restore", "/app/Setup/SiteRestore.asp"));
  // The e-mail server detail page opens nothing; the modules page opens Projects with nothing marked.
  EXPECT_FALSE(Has(Menu("admin", "/Setup/EMailServer.asp"), GroupTitle("System")));
  const std::string modules = Menu("admin", "/Setup/ProjectModules.asp");
  EXPECT_TRUE(Has(modules, GroupTitle("Projects")));
  EXPECT_FALSE(Has(modules, "CurrentMenuItem"));
}

TEST_F(MenuTest, DatabaseTextsInTheMenuAreEncodedForTheirPlace) {
  sitedb::Db raw(file);
  raw.Exec(
      "UPDATE IssueCodeTables SET TableFriendlyName = '<i>x' WHERE TableName = 'Severities';"
      "UPDATE IssueCodeTables SET TableName = 'Sev & co' WHERE TableName = 'Resolutions';");
  const std::string html = Menu("admin", "/Setup/SiteWorkflow.asp");
  EXPECT_TRUE(Has(html, SubEntry("&lt;i&gt;x", "/app/Setup/CustomCodes.asp?Table=Severities")));
  EXPECT_TRUE(Has(html, SubEntry("Resolutions", "/app/Setup/CustomCodes.asp?Table=Sev%20%26%20co")));
}

TEST_F(MenuTest, TheTopBarOfAMemberWhoCannotCreateIssues) {
  sitedb::Db raw(file);
  raw.Exec("INSERT INTO Users (UserId, UserName, UserEMail, Password) VALUES ('e<v', 'Eve', 'e@example.com', '')");
  const std::string html = Menu("e<v", "/Default.asp");
  const std::string top = html.substr(html.find("<!-- Top Menu -->"));
  EXPECT_EQ(top,
            "<!-- Top Menu --><div id='TopMenu' style='height:58px; LEFT: 0px; POSITION: absolute; TOP: 0px; WIDTH: "
            "100%; z-index:2'><!-- Top navigation --><table width='100%' cellpadding=0 cellspacing=0 border=0 "
            "bgcolor='#CEDBE7'><tr><td width=100%><table width=100% cellpadding=0 cellspacing=0 border=0><tr><td "
            "width=100% height=30 valign='center' nowrap><table width=100% cellpadding=0 cellspacing=0 "
            "border=0><tr><td bgcolor='#CEDBE7' height=23 valign='center' nowrap><font color='#000000' "
            "face='verdana, arial' size=1><b>&nbsp;&nbsp;<A tabindex=-1 class=menulink "
            "href='/app/Default.asp'>Home</A>&nbsp;&nbsp;|&nbsp;&nbsp;<A tabindex=-1 class=menulink "
            "href=\"javascript:alert('You are not authorized to create issues (must be a member of a "
            "project).');\">New Issue</A>&nbsp;&nbsp;|&nbsp;&nbsp;<A tabindex=-1 class=menulink "
            "href='/app/Help/Default.asp' onclick='window.open(\"/app/Help/Default.asp?\", \"_blank\", "
            "\"width=500,height=400,location=no,resizable=yes,scrollbars=yes\"); return false;' "
            ">Help</A>&nbsp;&nbsp;|&nbsp;&nbsp;<A tabindex=-1 class=menulink href='/app/Logout.asp'>Logoff "
            "e&lt;v</A>&nbsp;&nbsp;|&nbsp;&nbsp;</b></font></td><td align=right bgcolor='#CEDBE7' height=23 "
            "valign='center' nowrap class=SmallText>V1.1.2</td></tr></table></td></tr><tr><td "
            "bgcolor='#89A8C5'><img height=7px width=0px></td></tr><tr><td bgcolor='#000000'><img height=5px "
            "width=0px></td></tr><tr><td><table width=100% cellpadding=0 cellspacing=0 border=0><tr><td width=130px "
            "height=12px bgcolor='#000000' class=menuitem>&nbsp;<b>Issues</b><img height=0px width=130px></td><td "
            "width=100% height=12px bgcolor='#ffffff'><img height=0px width=0px></td></tr></table></td></tr></table>"
            "</td><td align=right valign=top bgcolor='#ffffff'><IMG HEIGHT=54 width=421 "
            "SRC='/app/images/LargeLogo.jpg'></td></tr></table></div>");
  EXPECT_TRUE(Has(Menu("bob", "/Default.asp"),
                  "<A tabindex=-1 class=menulink href='/app/Issues/Issue.asp?IssueId=New'>New Issue</A>"));
}

TEST_F(MenuTest, TheHelpWindowTakesTheQueryAsAScriptStringInAnAttribute) {
  struct Case {
    std::string query, opened;
  } cases[] = {
      {"x=&quot;);document.title=1;//", "/app/Help/Default.asp?x=&amp;quot;);document.title=1;//"},
      {"a=\"'</script>", "/app/Help/Default.asp?a=\\&quot;\\&#39;\\x3C/script&gt;"},
      {"IssueId=5&View=1", "/app/Help/Default.asp?IssueId=5&amp;View=1"},
  };
  for (const auto& c : cases) {
    const std::string html = Menu("bob", "/Default.asp", "", {{"RequestQueryString", c.query}});
    EXPECT_TRUE(Has(html, "onclick='window.open(\"" + c.opened + "\", \"_blank\"")) << html;
  }
}

TEST_F(MenuTest, TheLeftMenuFrameIsWrittenWithDeclarationsABrowserKeeps) {
  const std::string html = Menu("bob", "/Default.asp");
  EXPECT_TRUE(html.starts_with(
      "<div id='LeftMenu' style='background-color:#000000; POSITION: absolute; LEFT: 0px; TOP: 0px; width:130px; "
      "height:100%'><table style='z-index:1; position:absolute; top:38;' width=100% cellpadding=0 cellspacing=0 "
      "border=0 bgcolor='#ffffff'><tr bgcolor=#000000><td>&nbsp</td><td  class=menuitem><b>Issues</b></td></tr>"))
      << html;
  EXPECT_TRUE(Has(html,
                  "<tr><td bgcolor=#000000></td><td bgcolor=#6294cd style='height:1px;'><div></div></td></tr>"
                  "</table></div><!-- Top Menu -->"));
  EXPECT_FALSE(Has(html, "=#FFFFFF"));
}

TEST_F(MenuTest, ARefusedRoleQuestionFailsTheMenuUnderItsName) {
  ObjectPtr m = NewMenu();
  m->Put("RequestURL", Variant("/Default.asp"));
  ObjectPtr closed = automation::CreateObject("Brisquel.Database");
  const auto e = testsupport::ErrorOf([&] { m->Call("Menu", {Variant(closed), Variant("bob"), Variant(1)}); });
  EXPECT_TRUE(Has(e.source, "MenuSystem.Menu")) << e.source;
  EXPECT_TRUE(Has(e.source, "Database.UserIsPublic")) << e.source;
}

TEST_F(MenuTest, EachCallWritesAFreshFragmentAndHoldsNoDatabaseAfterwards) {
  ObjectPtr m = NewMenu();
  m->Put("RequestURL", Variant("/Search/Search.asp"));
  const long before = db.use_count();
  const std::string first = m->Call("Menu", {Variant(dbObject()), Variant("bob"), Variant(1)}).ToString();
  EXPECT_EQ(db.use_count(), before);
  EXPECT_EQ(m->Call("Menu", {Variant(dbObject()), Variant("bob"), Variant(1)}).ToString(), first);
}

TEST_F(MenuTest, ASiteAdministratorWhoCannotAdministerStillGetsTheSiteTables) {
  ObjectPtr m = NewMenu();
  m->Put("RequestURL", Variant("/Setup/CustomCodes.asp"));
  m->Put("RequestTableName", Variant("Severities"));
  m->Put("UserIsSiteAdmin", Variant(true));
  const std::string html = m->Call("Menu", {Variant(dbObject()), Variant("admin"), Variant(1)}).ToString();
  EXPECT_TRUE(Has(html, GroupTitle("Customize")));
  EXPECT_TRUE(Has(html, CurrentSubEntry("Severities")));
  EXPECT_FALSE(Has(html, "Projects.asp"));
}

}  // namespace
