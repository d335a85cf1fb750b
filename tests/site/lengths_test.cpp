// Over-long keys and texts against a real vantrel-site, signed in as the site administrator: a key
// longer than the stored keys is an unknown key (404), a text longer than its column is refused
// with its length sentence and nothing is written, and a project's team takes users only.
#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <string>
#include <vector>

#include "support/site_db.h"
#include "support/site_http.h"
#include "support/site_server.h"
#include "support/temp_dir.h"
#include "support/workflow_body.h"

namespace {

using testsupport::SiteServer;

std::string HtmlDecoded(std::string s) {
  static const std::vector<std::pair<std::string, std::string>> entities{
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [from, to] : entities)
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
  return s;
}

// The first posting form of a page: its action and the values a browser would send unchanged.
struct Form {
  std::string action;
  std::vector<std::pair<std::string, std::string>> fields;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// An attribute of a tag, quoted or not ("" when absent).
std::string Attribute(const std::string& tag, const std::string& name) {
  const std::string lower = Lower(tag), key = " " + Lower(name) + "=";
  size_t at = lower.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  if (tag[at] == '"' || tag[at] == '\'') return HtmlDecoded(tag.substr(at + 1, tag.find(tag[at], at + 1) - at - 1));
  const size_t end = tag.find_first_of(" \t\r\n>", at);
  return HtmlDecoded(tag.substr(at, end - at));
}

// Scanned by hand: the pages are long, and a regular expression over a whole page runs deep.
Form FormOf(const std::string& page) {
  Form f;
  const std::string lower = Lower(page);
  size_t open = lower.find("<form");
  auto posts = [&](size_t at) {
    return lower.substr(at, lower.find('>', at) - at).find(" method=post") != std::string::npos;
  };
  while (open != std::string::npos && !posts(open)) open = lower.find("<form", open + 1);
  if (open == std::string::npos) return f;
  const size_t close = lower.find("</form>", open);
  f.action = Attribute(page.substr(open, page.find('>', open) - open + 1), "action");
  for (size_t at = lower.find('<', open + 1); at < close; at = lower.find('<', at + 1)) {
    const size_t tagEnd = page.find('>', at);
    const std::string tag = page.substr(at, tagEnd - at + 1), head = Lower(tag.substr(0, 9));
    const std::string name = Attribute(tag, "name");
    if (name.empty()) continue;
    if (head.starts_with("<input")) {
      const std::string type = Lower(Attribute(tag, "type"));
      if (type == "submit" || type == "button") continue;
      if ((type == "checkbox" || type == "radio") && Lower(tag).find(" checked") == std::string::npos) continue;
      f.fields.emplace_back(name, Attribute(tag, "value"));
    } else if (head.starts_with("<textarea") || head.starts_with("<select")) {
      const bool select = head.starts_with("<select");
      const size_t innerEnd = lower.find(select ? "</select>" : "</textarea>", tagEnd);
      const std::string inner = page.substr(tagEnd + 1, innerEnd - tagEnd - 1);
      std::string value = HtmlDecoded(inner);
      if (select) {
        const std::string options = Lower(inner);
        size_t chosen = options.find(" selected");
        chosen = chosen == std::string::npos ? options.find("<option") : options.rfind("<option", chosen);
        const size_t end = chosen == std::string::npos ? chosen : inner.find('>', chosen);
        value = chosen == std::string::npos ? "" : Attribute(inner.substr(chosen, end - chosen + 1), "value");
      }
      f.fields.emplace_back(name, value);
      at = innerEnd;
    }
  }
  return f;
}

class Lengths : public ::testing::Test {
 protected:
  void SetUp() override {
    auto c = Client();
    cookie = testsupport::SignInOverHttp(c, site, "admin", "Secret1");
    ASSERT_FALSE(cookie.empty());
  }
  httplib::Client Client() {
    httplib::Client c("127.0.0.1", site.Port());
    c.set_read_timeout(60);
    return c;
  }
  // The request target of a page of the site.
  std::string Path(const std::string& page) { return site.Base().substr(site.Origin().size()) + page; }
  httplib::Result Get(const std::string& page) { return Client().Get(Path(page), {{"Cookie", cookie}}); }
  // Posts the page's form with `changed` values in place of its own (the first field of each name)
  // and `added` after them.
  httplib::Result PostForm(const std::string& path, const std::map<std::string, std::string>& changed,
                           const std::vector<std::pair<std::string, std::string>>& added = {}) {
    auto page = Get(path);
    EXPECT_TRUE(page);
    Form f = FormOf(page->body);
    EXPECT_FALSE(f.action.empty()) << path;
    std::map<std::string, std::string> left = changed;
    httplib::MultipartFormDataItems items;
    for (const auto& [name, value] : f.fields) {
      auto it = left.find(name);
      items.push_back({name, it == left.end() ? value : it->second, "", ""});
      if (it != left.end()) left.erase(it);
    }
    for (const auto& [name, value] : left) items.push_back({name, value, "", ""});
    for (const auto& [name, value] : added) items.push_back({name, value, "", ""});
    return Client().Post(f.action, {{"Cookie", cookie}, {"Origin", site.Origin()}}, items);
  }
  // Posts the page's form as it is, with files.
  httplib::Result PostFiles(const std::string& path, const httplib::MultipartFormDataItems& files) {
    auto page = Get(path);
    EXPECT_TRUE(page);
    const Form f = FormOf(page->body);
    httplib::MultipartFormDataItems items;
    for (const auto& [name, value] : f.fields) items.push_back({name, value, "", ""});
    items.insert(items.end(), files.begin(), files.end());
    return Client().Post(f.action, {{"Cookie", cookie}, {"Origin", site.Origin()}}, items);
  }
  std::string Sql(const std::string& query) { return sitedb::Db(site.DatabaseFile()).Text(query); }

  // The backup page reads the job store.
  testsupport::TempDir agentDir;
  testsupport::ScopedEnv store{"VANTREL_AGENT_STORE", (agentDir / "agent.db").string()};
  SiteServer site;
  std::string cookie;
};

// No page answers a client's over-long value with a server error or the database's own words.
void ExpectNoDatabaseText(const httplib::Result& r, const std::string& what) {
  ASSERT_TRUE(r) << what;
  EXPECT_LT(r->status, 500) << what;
  for (const char* word : {"truncated", "unexpected error", "SQLite", "Error number"})
    EXPECT_EQ(r->body.find(word), std::string::npos) << what << " shows " << word;
}

TEST_F(Lengths, AnOverLongOrUnknownKeyIs404OnEveryLookupPage) {
  const std::string longer(51, 'k'), huge(30, '9');
  const std::vector<std::string> paths{
      "/Setup/User.asp?UserId=",
      "/Setup/Group.asp?GroupCode=",
      "/Setup/Project.asp?ProjectId=",
      "/Setup/EMailTemplate.asp?TemplateName=",
      "/Setup/EMailNotification.asp?NotificationRuleId=",
      "/Setup/SiteCustomCode.asp?Table=",
      "/Setup/CustomCodes.asp?Table=",
      "/Setup/CustomCode.asp?Table=",
      "/Setup/CustomCode.asp?Table=Resolutions&Code=",
      "/Setup/CustomCode.asp?Table=ProjectBuilds&ProjectId=1&Code=",
      "/Setup/SiteCustomField.asp?FieldName=",
      "/User/Filter.asp?FilterName=",
      "/User/Layout.asp?LayoutName=",
      "/Issues/Issue.asp?IssueId=",
      "/Issues/IssuePrinterFriendly.asp?IssueId=",
      "/Issues/Attachment.asp?AttachmentId=",
  };
  for (const std::string& path : paths) {
    const bool number = path.ends_with("Id=");
    for (const std::string& key : {number ? huge : longer, std::string(number ? "777" : "Unknown")}) {
      auto r = Get(path + key);
      ExpectNoDatabaseText(r, path + key);
      EXPECT_EQ(r->status, 404) << path << key;
    }
  }
  // The sentence names the key asked for, as for any unknown template.
  EXPECT_NE(Get("/Setup/EMailTemplate.asp?TemplateName=" + longer)->body.find("The template '" + longer +
                                                                             "' does not exist."),
            std::string::npos);
}

TEST_F(Lengths, ATextLongerThanItsColumnIsRefusedWithItsLengthSentenceAndNothingIsWritten) {
  struct Case {
    std::string path;
    std::map<std::string, std::string> changed;
    std::string sentence;
    std::string stored;  // a query whose answer the refusal leaves as it was
  };
  const std::string templateParts =
      "select group_concat(PartName || length(PartContent)) from EMailTemplateParts where TemplateName = "
      "'Assignment Notice'";
  const std::string admin = "select DefaultFilter || '|' || DefaultLayout || '|' || UserName from Users where "
                            "UserId = 'admin'";
  const std::vector<Case> cases{
      {"/Setup/User.asp?UserId=alice", {{"UserName", std::string(51, 'n')}},
       "Name cannot be longer than 50 characters.", "select UserName from Users where UserId = 'alice'"},
      {"/Setup/EMailTemplate.asp?TemplateName=Assignment%20Notice", {{"PartContent", std::string(10000, 'b')}},
       "Text part cannot be longer than 6000 characters.", templateParts},
      {"/Setup/EMailTemplate.asp",
       {{"TemplateName", "Fresh"}, {"Subject", "Hello"}, {"PartContent", std::string(6001, 'b')}},
       "Text part cannot be longer than 6000 characters.", "select count(*) from EMailTemplates"},
      {"/Setup/EMailTemplate.asp?TemplateName=Assignment%20Notice", {{"PartType", std::string(51, 'p')}},
       "Part name cannot be longer than 50 characters.", templateParts},
      {"/User/Personalize.asp", {{"DefaultFilter", std::string(101, 'f')}},
       "Default filter cannot be longer than 100 characters.", admin},
      {"/User/Personalize.asp", {{"DefaultLayout", std::string(51, 'l')}},
       "Default layout cannot be longer than 50 characters.", admin},
      {"/User/Layout.asp?LayoutName=Default", {{"Field", std::string(21, 'c')}},
       "Field name cannot be longer than 20 characters.",
       "select group_concat(FieldName) from SummaryLayoutFields where UserId = 'admin'"},
      {"/Setup/SiteEntryForm.asp", {{"Field", std::string(21, 'c')}}, "Field name cannot be longer than 20 characters.",
       "select group_concat(FieldName) from DataEntryLayoutFields"},
      {"/Setup/Project.asp?ProjectId=1", {{"PublicMembersOfGroupCode", std::string(51, 'g')}},
       "Public users' group cannot be longer than 50 characters.",
       "select PublicMembersOfGroupCode || LastUpdated from Projects where ProjectId = 1"},
      {"/Setup/SiteBackup.asp", {{"BackupArchive", "/" + std::string(1024, 'a')}},
       "Folder to store backups in cannot be longer than 1024 characters.",
       "select BackupArchive || LastUpdated from SiteBackups"},
  };
  for (const Case& c : cases) {
    const std::string before = Sql(c.stored);
    auto r = PostForm(c.path, c.changed);
    const std::string what = c.path + " " + c.changed.rbegin()->first;
    ExpectNoDatabaseText(r, what);
    EXPECT_EQ(r->status, 200) << what;
    EXPECT_NE(r->body.find("class=ErrorText id=Message>" + c.sentence + "</"), std::string::npos)
        << what << "\n" << r->body.substr(0, 3000);
    EXPECT_EQ(Sql(c.stored), before) << what;
  }
  // A file's name and type are held to their columns as the form's texts are.
  const std::string attachments = "select (select count(*) from IssueAttachments) || '|' || "
                                  "(select count(*) from ProvisionalAttachments)";
  const std::string before = Sql(attachments);
  for (const auto& [file, sentence] : std::vector<std::pair<httplib::MultipartFormData, std::string>>{
           {{"Attachment", "x", std::string(1021, 'n') + ".txt", "text/plain"},
            "File name cannot be longer than 1024 characters."},
           {{"Attachment", "x", "notes.txt", "text/" + std::string(251, 't')},
            "File type cannot be longer than 255 characters."}}) {
    auto r = PostFiles("/Issues/Issue.asp?IssueId=1", {file});
    ExpectNoDatabaseText(r, sentence);
    EXPECT_EQ(r->status, 200) << sentence;
    EXPECT_NE(r->body.find(sentence), std::string::npos) << r->body.substr(0, 3000);
  }
  EXPECT_EQ(Sql(attachments), before);
  // At the limit the same values are taken.
  EXPECT_EQ(PostForm("/User/Personalize.asp", {{"DefaultFilter", std::string(100, 'f')}})->status, 303);
  EXPECT_EQ(Sql("select length(DefaultFilter) from Users where UserId = 'admin'"), "100");
}

TEST_F(Lengths, AProjectTeamTakesUsersOnly) {
  const std::string members = "select group_concat(UserId) from (select UserId from ProjectUsers order by UserId)";
  const std::string leads = "select count(*) from ProjectGroupLeads";
  const std::string before = Sql(members), leadsBefore = Sql(leads);
  struct Case {
    std::string path;
    std::map<std::string, std::string> changed;
    std::vector<std::pair<std::string, std::string>> added;
    std::string sentence;
  };
  const std::vector<Case> cases{
      {"/Setup/Project.asp?ProjectId=1", {}, {{"TeamMember", "nobody"}}, "The user 'nobody' does not exist."},
      {"/Setup/Project.asp",
       {{"ProjectCode", "Orphans"}, {"ProjectDescription", "A team with a stranger"}},
       {{"TeamMember", "alice"}, {"TeamMember", "no%20body"}},
       "The user 'no body' does not exist."},
      {"/Setup/Project.asp",
       {{"ProjectCode", "Orphans"}, {"ProjectDescription", "A lead who is nobody"}},
       {{"GroupLead", "ghost"}, {"GroupCode", "Developers"}},
       "The user 'ghost' does not exist."},
  };
  for (const Case& c : cases) {
    auto r = PostForm(c.path, c.changed, c.added);
    ExpectNoDatabaseText(r, c.path);
    EXPECT_EQ(r->status, 200) << c.path;
    EXPECT_NE(r->body.find("class=ErrorText id=Message>" + c.sentence + "</"), std::string::npos)
        << c.path << "\n" << r->body.substr(0, 3000);
  }
  EXPECT_EQ(Sql(members), before);
  EXPECT_EQ(Sql(leads), leadsBefore);
  EXPECT_EQ(Sql("select count(*) from Projects where ProjectCode = 'Orphans'"), "0");
  EXPECT_EQ(Sql("select count(*) from ProjectUsers where UserId not in (select UserId from Users)"), "0");
  // Users are taken.
  auto saved = PostForm("/Setup/Project.asp?ProjectId=1", {}, {{"TeamMember", "dave"}});
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->status, 303) << saved->body.substr(0, 3000);
  EXPECT_EQ(Sql("select count(*) from ProjectUsers where ProjectId = 1 and UserId = 'dave'"), "1");
}

// The diagram editor's save answers in its own text lines, with the same sentences.
TEST_F(Lengths, TheWorkflowSaveRefusesTextsLongerThanTheirColumns) {
  namespace wf = brisquel::workflowtest;
  const std::string page = Get("/Setup/Users.asp")->body, key = "name=_token value=\"";
  const size_t at = page.find(key);
  ASSERT_NE(at, std::string::npos);
  const std::string token = page.substr(at + key.size(), 64);
  ASSERT_EQ(Get("/Setup/WorkflowData.asp?Text=diagram")->status, 200);  // the workflow row the save takes back
  const std::string definition = "select group_concat(StateName) from WorkflowStates";
  const std::string before = Sql(definition);
  const wf::EditorState create{-1, 1, "", "", "", false, false, 10, 20, 120, 50, {}, {"Developers"}, {}};
  const wf::EditorState plain{-2, 0, "New", "New", "Open", true, false, 100, 20, 120, 50, {}, {}, {}};
  const wf::EditorAction action{-1, 0, -1, -2, 0, {}, "Open it", false, "", {}};
  struct Case {
    std::vector<wf::EditorState> states;
    wf::EditorAction action;
    std::string sentence;
  };
  std::vector<Case> cases(4, Case{{create, plain}, action, ""});
  cases[0].states[1].name = std::string(51, 's');
  cases[0].sentence = "State name cannot be longer than 50 characters.";
  cases[1].states[1].statusCode = std::string(21, 'o');
  cases[1].sentence = "Status cannot be longer than 20 characters.";
  cases[2].states[0].createByGroups = {std::string(51, 'g')};
  cases[2].sentence = "Group cannot be longer than 50 characters.";
  cases[3].action.name = std::string(51, 'a');
  cases[3].sentence = "Action name cannot be longer than 50 characters.";
  for (const Case& c : cases) {
    auto r = Client().Post(Path("/Setup/WorkflowSave.asp?_token=" + token),
                           {{"Cookie", cookie}, {"Origin", site.Origin()}}, wf::SaveBody(c.states, {c.action}),
                           "multipart/form-data; boundary=" + std::string(wf::kBoundary).substr(2));
    ASSERT_TRUE(r) << c.sentence;
    EXPECT_EQ(r->status, 200) << c.sentence;
    EXPECT_EQ(r->body, "error\r\n0\r\n" + c.sentence + "\r\n");
  }
  EXPECT_EQ(Sql(definition), before);
}

}  // namespace
