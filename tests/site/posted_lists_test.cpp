// The lists of ids and names that the list pages post (ticked boxes, members and leads, the table
// of a code value), sent to a real vantrel-site as a signed-in administrator's browser would: an
// id that is no number, a key that is no valid URL encoding and a key too long for its column each
// get a sentence above the page's form, never a 5xx nor the database's own text, and nothing of
// the form is written (a good entry ticked beside the bad one stays too).
#include <gtest/gtest.h>
#include <httplib.h>

#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/site_db.h"
#include "support/site_http.h"
#include "support/site_server.h"

namespace {

using testsupport::SiteServer;
using Fields = std::vector<std::pair<std::string, std::string>>;

class PostedListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto c = Client();
    cookie = testsupport::SignInOverHttp(c, site, "admin", "Secret1");
    ASSERT_FALSE(cookie.empty());
    token = Hidden(Get("/User/MyInfo.asp"), "_token");
    ASSERT_EQ(token.size(), 64u);
  }
  httplib::Client Client() const { return httplib::Client("127.0.0.1", site.Port()); }
  std::string Get(const std::string& path) {
    auto r = Client().Get("/APP" + path, {{"Cookie", cookie}});
    EXPECT_TRUE(r && r->status == 200) << path;
    return r ? r->body : std::string();
  }
  // The fields with the sign-in's token, multipart as the pages' forms post.
  httplib::Result Post(const std::string& path, const Fields& fields) {
    httplib::MultipartFormDataItems items{{"_token", token, "", ""}};
    for (const auto& [name, value] : fields) items.push_back({name, value, "", ""});
    return Client().Post("/APP" + path, {{"Cookie", cookie}, {"Origin", site.Origin()}}, items);
  }
  // A hidden field's value as the page wrote it, its attribute encoding undone.
  static std::string Hidden(const std::string& html, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(html, m, std::regex("<input type=hidden name=\"?" + name + "\"? value=\"([^\"]*)\">")))
      return {};
    std::string v = m[1];
    for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
             {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&#39;", "'"}, {"&amp;", "&"}})
      v = std::regex_replace(v, std::regex(entity), c);
    return v;
  }
  std::string Text(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Text(sql); }

  struct Case {
    std::string path;      // the page, with its query
    Fields fields;         // the form, the bad value among them
    std::string sentence;  // shown above the form
    std::string kept;      // a query whose answer the refused post leaves as it was
  };
  // Each case posted: the sentence on the page, no server error and no database text, nothing written.
  void ExpectRefused(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.path + " " + c.sentence);
      const std::string before = Text(c.kept);
      auto r = Post(c.path, c.fields);
      ASSERT_TRUE(r);
      EXPECT_EQ(r->status, 200);
      EXPECT_NE(r->body.find(">" + c.sentence + "</p>"), std::string::npos) << r->body.substr(0, 3000);
      for (const char* leak : {"Error number", "SQLite", "sqlite", "SQL logic", "constraint"})
        EXPECT_EQ(r->body.find(leak), std::string::npos) << leak;
      EXPECT_EQ(Text(c.kept), before);
    }
  }

  SiteServer site;
  std::string cookie, token;
};

const std::string kPriorities = "/Setup/CustomCodes.asp?Table=Priorities";

TEST_F(PostedListsTest, AnIdThatIsNoWholeNumberIsRefusedWithASentence) {
  const std::string image = Hidden(Get("/Issues/Issue.asp?IssueId=1"), "rsIssue");
  ASSERT_FALSE(image.empty());
  for (const std::string v : {"abc", "99999999999", "5.0", "-1"}) {
    ExpectRefused({
        {"/Assignments/MyAssignments.asp",
         {{"chkIssue", "5"}, {"chkIssue", v}, {"cmbResolution", "Fixed"}, {"cmbStatus", "Open"},
          {"cmbAssignedTo", "alice"}},
         "The issue id '" + v + "' is not a valid number.",
         "select group_concat(AssignedToUser || ResolutionCode) from Issues"},
        {"/Setup/Projects.asp", {{"chkProject", "1"}, {"chkProject", v}},
         "The project id '" + v + "' is not a valid number.", "select count(*) from Projects"},
        {"/Setup/EMailNotifications.asp", {{"chkEMailRule", "13"}, {"chkEMailRule", v}},
         "The rule id '" + v + "' is not a valid number.", "select count(*) from EMailNotificationRules"},
        {"/Issues/Issue.asp?IssueId=1",
         {{"rsIssue", image}, {"PostBackReason", ""}, {"Summary", "Changed"}, {"chkAttachment", v}},
         "The attachment id '" + v + "' is not a valid number.", "select Summary from Issues where IssueId = 1"},
    });
  }
}

TEST_F(PostedListsTest, AKeyThatIsNoValidUrlEncodingIsRefusedWithASentence) {
  const Fields newProject{{"ProjectCode", "Second"}, {"ProjectDescription", "Second project"}};
  auto with = [](Fields f, Fields more) {
    f.insert(f.end(), more.begin(), more.end());
    return f;
  };
  // A "%" cut short or without hexadecimal digits; bytes that are no UTF-8 text, or a NUL.
  for (const std::string v : {"ab%zz", "ab%4", "%", "%FF%FE", "a%00b"}) {
    auto says = [&](const std::string& what) { return "The " + what + " '" + v + "' is not correctly URL-encoded."; };
    ExpectRefused({
        {"/Setup/Users.asp", {{"chkUser", "dave"}, {"chkUser", v}}, says("user id"), "select count(*) from Users"},
        {"/Setup/User.asp",
         {{"UserId", "erin"}, {"UserName", "Erin"}, {"Password1", "first1"}, {"Password2", "first1"},
          {"SecretQuestion", "Pet"}, {"SecretQuestionAnswer", "Cat"}, {"GroupCode", "Testers"}, {"GroupCode", v}},
         says("group"), "select count(*) from Users"},
        {"/Setup/Project.asp", with(newProject, {{"TeamMember", "alice"}, {"TeamMember", v}}), says("user id"),
         "select count(*) from Projects"},
        {"/Setup/Project.asp", with(newProject, {{"TeamMember", "alice"}, {"ProjectAdmin", v}}), says("user id"),
         "select count(*) from Projects"},
        {"/Setup/Project.asp", with(newProject, {{"GroupCode", "Developers"}, {"GroupLead", v}}), says("user id"),
         "select count(*) from Projects"},
        {"/Setup/Project.asp", with(newProject, {{"GroupCode", v}, {"GroupLead", "alice"}}), says("group"),
         "select count(*) from Projects"},
        {kPriorities, {{"chkCode", "Low"}, {"chkCode", v}}, says("value"), "select count(*) from Priorities"},
        {"/Setup/SiteCustomCodes.asp", {{"chkTable", v}}, says("table name"), "select count(*) from IssueCodeTables"},
        {"/Setup/SiteCustomFields.asp", {{"chkField", v}}, says("field name"), "select count(*) from IssueFields"},
        {"/User/Personalize.asp?Settings=Layouts", {{"chkLayout", v}}, says("layout name"),
         "select count(*) from SummaryLayouts"},
        {"/User/Filters.asp", {{"chkFilter", v}}, says("filter name"), "select count(*) from SummaryFilters"},
        {"/Setup/EMailTemplates.asp", {{"chkEMailTemplate", v}}, says("template name"),
         "select count(*) from EMailTemplates"},
        {"/Setup/EMailNotifications.asp", {{"chkEMailRule", "13"}, {"chkEMailRule", v}}, says("rule id"),
         "select count(*) from EMailNotificationRules"},
    });
  }
}

TEST_F(PostedListsTest, AKeyLongerThanItsColumnIsRefusedWithASentence) {
  // Characters are counted, not bytes: an encoded "é" is one.
  auto chars = [](size_t n) { return std::string(n - 1, 'x') + "%C3%A9"; };
  const Fields newProject{{"ProjectCode", "Second"}, {"ProjectDescription", "Second project"}};
  const std::string entryImage = Hidden(Get("/Setup/SiteEntryForm.asp"), "rsLayout");
  const std::string layoutImage = Hidden(Get("/User/Layout.asp?LayoutName=Default"), "rsLayout");
  ASSERT_FALSE(entryImage.empty());
  ASSERT_FALSE(layoutImage.empty());
  // The layout grids' field names, posted as stored (not encoded).
  const std::string longField = std::string(20, 'f') + "é";
  const std::string fieldTooLong = "Field name cannot be longer than 20 characters.";
  ExpectRefused({
      {"/Setup/SiteEntryForm.asp",
       {{"rsLayout", entryImage}, {"NumFields", "2"}, {"Field", "ProjectCode"}, {"Field", longField}, {"Field", ""},
        {"Field", ""}, {"Field", ""}},
       fieldTooLong, "select group_concat(FieldName) from DataEntryLayoutFields"},
      {"/User/Layout.asp", {{"LayoutName", "Wide"}, {"NumIssueFields", "1"}, {"Field", longField}}, fieldTooLong,
       "select count(*) from SummaryLayouts"},
      {"/User/Layout.asp?LayoutName=Default",
       {{"rsLayout", layoutImage}, {"LayoutName", "Default"}, {"NumIssueFields", "1"}, {"Field", longField}},
       fieldTooLong, "select group_concat(FieldName) from SummaryLayoutFields"},
  });
  ExpectRefused({
      {"/Setup/Users.asp", {{"chkUser", "dave"}, {"chkUser", chars(51)}},
       "User id cannot be longer than 50 characters.", "select count(*) from Users"},
      {"/Setup/User.asp",
       {{"UserId", "erin"}, {"UserName", "Erin"}, {"Password1", "first1"}, {"Password2", "first1"},
        {"SecretQuestion", "Pet"}, {"SecretQuestionAnswer", "Cat"}, {"GroupCode", chars(21)}},
       "Group cannot be longer than 20 characters.", "select count(*) from Users"},
      {"/Setup/Groups.asp", {{"chkGroup", "Testers"}, {"chkGroup", std::string(21, 'g')}},
       "Group cannot be longer than 20 characters.", "select count(*) from Groups"},
      {"/Setup/Project.asp",
       {newProject[0], newProject[1], {"TeamMember", "alice"}, {"TeamMember", chars(51)}},
       "User id cannot be longer than 50 characters.", "select count(*) from Projects"},
      {"/Setup/Project.asp", {newProject[0], newProject[1], {"GroupCode", "Developers"}, {"GroupLead", chars(51)}},
       "User id cannot be longer than 50 characters.", "select count(*) from Projects"},
      {kPriorities, {{"chkCode", "Low"}, {"chkCode", chars(51)}}, "Value cannot be longer than 50 characters.",
       "select count(*) from Priorities"},
      {"/Setup/CustomCode.asp?Table=Priorities", {{"CodeValue", "Urgent"}, {"TableName", std::string(51, 't')}},
       "Table cannot be longer than 50 characters.", "select count(*) from Priorities"},
      {"/Setup/SiteCustomCodes.asp", {{"chkTable", chars(41)}}, "Table name cannot be longer than 40 characters.",
       "select count(*) from IssueCodeTables"},
      {"/Setup/SiteCustomFields.asp", {{"chkField", chars(21)}}, "Field name cannot be longer than 20 characters.",
       "select count(*) from IssueFields"},
      {"/User/Personalize.asp?Settings=Layouts", {{"chkLayout", chars(51)}},
       "Layout name cannot be longer than 50 characters.", "select count(*) from SummaryLayouts"},
      {"/User/Filters.asp", {{"chkFilter", chars(51)}}, "Filter name cannot be longer than 50 characters.",
       "select count(*) from SummaryFilters"},
      {"/Setup/EMailTemplates.asp", {{"chkEMailTemplate", chars(51)}},
       "Template name cannot be longer than 50 characters.", "select count(*) from EMailTemplates"},
  });
}

TEST_F(PostedListsTest, AGroupLeadWithoutItsGroupCodeIsRefusedWithASentence) {
  const std::string image = Hidden(Get("/Setup/Project.asp?ProjectId=1"), "rsProject");
  ASSERT_FALSE(image.empty());
  const std::string kept =
      "select (select group_concat(ProjectCode || ProjectDescription) from Projects) || "
      "(select group_concat(ProjectId || UserId || GroupCode) from ProjectGroupLeads) || "
      "(select count(*) from UserGroups)";
  const std::vector<std::pair<std::string, Fields>> forms{
      {"/Setup/Project.asp", {{"ProjectCode", "Second"}, {"ProjectDescription", "Second project"}}},
      {"/Setup/Project.asp?ProjectId=1", {{"rsProject", image}, {"ProjectDescription", "Changed"}}}};
  // No code at all, fewer codes than leads, a blank code.
  const std::vector<Fields> leads{{{"GroupLead", "alice"}},
                                  {{"GroupCode", "Developers"}, {"GroupLead", "alice"}, {"GroupLead", "bob"}},
                                  {{"GroupCode", " "}, {"GroupLead", "alice"}}};
  std::vector<Case> cases;
  for (const auto& [path, fields] : forms) {
    for (const Fields& l : leads) {
      Fields f = fields;
      f.insert(f.end(), l.begin(), l.end());
      cases.push_back({path, f, "Each group lead needs its group code.", kept});
    }
  }
  ExpectRefused(cases);
  // With its code the lead is kept.
  Fields f = forms[1].second;
  f.insert(f.end(), {{"TeamMember", "alice"}, {"GroupCode", "Developers"}, {"GroupLead", "alice"}});
  auto r = Post(forms[1].first, f);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 303) << r->body.substr(0, 3000);
  EXPECT_EQ(Text("select UserId from ProjectGroupLeads where ProjectId = 1 and GroupCode = 'Developers'"), "alice");
}

TEST_F(PostedListsTest, AValueThatNamesNoRecordIsRefusedWithASentence) {
  const std::string issueImage = Hidden(Get("/Issues/Issue.asp?IssueId=1"), "rsIssue");
  const std::string ruleImage = Hidden(Get("/Setup/EMailNotification.asp?NotificationRuleId=13"), "rsRule");
  ASSERT_FALSE(issueImage.empty());
  ASSERT_FALSE(ruleImage.empty());
  // Issue 1 as stored; a new issue of the demo project.
  const Fields issue{{"ProjectCode", "1"},        {"Summary", "Changed"},         {"PriorityCode", "High"},
                    {"SeverityCode", "Major"},    {"ModuleCode", "Core"},         {"DetectedInBuildCode", "1.1"},
                    {"VerifiedInBuildCode", ""},  {"ResolutionCode", "New"},      {"StatusCode", "Open"},
                    {"AssignedToUser", "alice"}};
  auto with = [](Fields f, const std::string& name, const std::string& value, Fields more) {
    for (auto& [n, v] : f)
      if (n == name) v = value;
    f.insert(f.end(), more.begin(), more.end());
    return f;
  };
  const std::string issueKept =
      "select group_concat(Summary || PriorityCode || SeverityCode || ModuleCode || DetectedInBuildCode || "
      "VerifiedInBuildCode) || count(*) from Issues";
  const Fields edit{{"rsIssue", issueImage}, {"PostBackReason", ""}};
  // Each list field with a value of no list and with one of another list.
  const std::vector<std::tuple<std::string, std::string, std::string>> lists{
      {"PriorityCode", "Priority", "Minor"},
      {"SeverityCode", "Severity", "High"},
      {"ModuleCode", "Module", "1.0"},
      {"DetectedInBuildCode", "Detected in build", "Core"},
      {"VerifiedInBuildCode", "Verified in build", "Core"}};
  std::vector<Case> cases;
  for (const auto& [field, label, other] : lists) {
    for (const std::string& v : {std::string("No such value"), other}) {
      const std::string sentence = label + " (" + v + ") is not one of the values of its list.";
      cases.push_back({"/Issues/Issue.asp?IssueId=1", with(issue, field, v, edit), sentence, issueKept});
      cases.push_back({"/Issues/Issue.asp?IssueId=New", with(issue, field, v, {{"PostBackReason", ""}}), sentence,
                       issueKept});
    }
  }
  const Fields rule{{"NotificationRuleName", "Closed issues"}, {"Active", "on"},       {"NotificationEventType", "1"},
                    {"RecipientType", "1"},                    {"TemplateName", ""}};
  for (const std::string v : {"No such template", "Assignment"}) {
    const std::string sentence = "The template '" + v + "' does not exist.";
    const std::string kept = "select group_concat(NotificationRuleName || TemplateName) from EMailNotificationRules";
    cases.push_back({"/Setup/EMailNotification.asp?ProjectId=-1",
                     with(rule, "TemplateName", v, {{"ProjectId", "-1"}}), sentence, kept});
    cases.push_back({"/Setup/EMailNotification.asp?NotificationRuleId=13",
                     with(rule, "TemplateName", v, {{"rsRule", ruleImage}}), sentence, kept});
  }
  // A new template's part that its message format does not have.
  cases.push_back({"/Setup/EMailTemplate.asp",
                   {{"TemplateName", "Closed"}, {"Subject", "Closed"}, {"PartType", "Bogus"}, {"PartContent", "x"}},
                   "The message format of the template has no part named 'Bogus'.",
                   "select count(*) from EMailTemplates"});
  ExpectRefused(cases);
  // The same forms with the lists' own values are saved.
  for (const auto& [path, fields] : std::vector<std::pair<std::string, Fields>>{
           {"/Issues/Issue.asp?IssueId=New", with(issue, "Summary", "New one", {{"PostBackReason", ""}})},
           {"/Setup/EMailNotification.asp?ProjectId=-1",
            with(rule, "TemplateName", "Assignment Notice", {{"ProjectId", "-1"}})}}) {
    auto r = Post(path, fields);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 303) << path << "\n" << r->body.substr(0, 3000);
  }
}

}  // namespace
