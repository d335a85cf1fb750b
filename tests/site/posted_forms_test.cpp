// Posted forms that a page cannot take, over HTTP against a real vantrel-site signed in as the
// administrator: each kind of bad form on every page it reaches answers 4xx with its sentence,
// writes nothing, and leaves at most one line, never an error, in the event log.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <regex>
#include <tuple>

#include "site/routes.h"
#include "support/site_db.h"
#include "support/site_http.h"
#include "support/site_server.h"
#include "support/temp_dir.h"
#include "support/workflow_body.h"

namespace {

const std::string kBoundary = "----WebKitFormBoundaryV7f3kQ";
const std::string kNotAForm = "<p class=ErrorText>The form was not sent as a form.</p>";
const std::string kDamaged = "The recordset image is damaged or was not made by this site.";

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string Multipart(const Fields& fields) {
  std::string body;
  for (const auto& [name, value] : fields)
    body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
  return body + "--" + kBoundary + "--\r\n";
}

class PostedFormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A saved filter of the administrator's own, for the filter form.
    sitedb::Db(site.DatabaseFile())
        .Exec("insert into SummaryFilters (UserId, FilterName, AdvancedFilter, FilterExpression, fqFilterExpression) "
              "select 'admin', FilterName, AdvancedFilter, FilterExpression, fqFilterExpression from SummaryFilters");
    cookie = testsupport::SignInOverHttp(client, site, "admin", "Secret1");
    ASSERT_FALSE(cookie.empty());
    std::smatch m;
    const std::string page = Get("/APP/User/MyInfo.asp");
    ASSERT_TRUE(std::regex_search(page, m, std::regex("name=_token value=\"([0-9a-f]{64})\"")));
    token = m[1];
  }

  std::string Get(const std::string& path) {
    auto r = client.Get(path, {{"Cookie", cookie}});
    EXPECT_TRUE(r && r->status == 200) << path;
    return r ? r->body : "";
  }
  // A post from this site's own page; `contentType` "" sends none.
  httplib::Result Post(const std::string& path, const std::string& body, const std::string& contentType) {
    httplib::Request req;
    req.method = "POST";
    req.path = path;
    req.body = body;
    req.set_header("Cookie", cookie);
    req.set_header("Origin", site.Origin());
    if (!contentType.empty()) req.set_header("Content-Type", contentType);
    return client.send(req);
  }
  httplib::Result PostForm(const std::string& path, const std::string& body) {
    return Post(path, body, "multipart/form-data; boundary=" + kBoundary);
  }

  // Every row of every table: what a refused post must leave as it was.
  std::string Dump() {
    sitedb::Db db(site.DatabaseFile());
    std::string out;
    for (const std::string& table :
         db.Rows("select name from sqlite_master where type = 'table' and name not like 'sqlite_%' and sql not like "
             "'CREATE VIRTUAL%' order by name")) {
      out += "[" + table + "]\n";
      for (const std::string& row : db.Rows("select * from \"" + table + "\"")) out += row + "\n";
    }
    return out;
  }
  std::vector<std::string> Events() {
    std::ifstream in(site.Folder() / "events.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The lines the event log gained since it held `before`.
  std::vector<std::string> EventsSince(size_t before) {
    std::vector<std::string> lines = Events();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(before, lines.size())));
    return lines;
  }

  // A refused post: the status and sentence, nothing written, at most one warning logged.
  void ExpectRefused(const std::string& what, const std::string& path, const std::string& body,
                     const std::string& contentType, int status, const std::string& sentence) {
    const std::string before = Dump();
    const size_t events = Events().size();
    auto r = Post(path, body, contentType);
    ASSERT_TRUE(r) << what;
    EXPECT_EQ(r->status, status) << what;
    EXPECT_NE(r->body.find(sentence), std::string::npos) << what << "\n" << r->body;
    EXPECT_EQ(Dump(), before) << what;
    const std::vector<std::string> logged = EventsSince(events);
    EXPECT_LE(logged.size(), 1u) << what;
    for (const std::string& line : logged) EXPECT_FALSE(line.starts_with("error")) << what << ": " << line;
  }

  // The POST pages of the site and the form each reads.
  static std::vector<std::pair<std::string, site::FormType>> PostPages() {
    std::vector<std::pair<std::string, site::FormType>> pages;
    for (const std::string& path : site::RouteTable::Instance().Paths()) {
      const site::PageSpec* spec = site::RouteTable::Instance().Find(path);
      if (!spec || !spec->post || spec->prefix || path.starts_with("/test/")) continue;  // this program's own
      pages.emplace_back(path, spec->form);
    }
    return pages;
  }

  // The backup page reads the job store: one of the test's own.
  testsupport::TempDir store;
  testsupport::ScopedEnv storeEnv{"VANTREL_AGENT_STORE", (store / "agent.db").string()};
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (store / "registry").string()};
  testsupport::SiteServer site;
  httplib::Client client{"127.0.0.1", site.Port()};
  std::string cookie, token;
};

TEST_F(PostedFormsTest, ABodyThatIsNotThePagesFormIs400OnEveryPostPage) {
  const auto pages = PostPages();
  ASSERT_GT(pages.size(), 30u);
  const std::string urlEncoded = "_token=" + token;
  const std::string multipart = Multipart({{"_token", token}});
  for (const auto& [path, form] : pages) {
    struct Body {
      std::string what, contentType, body;
    };
    std::vector<Body> bodies{{"no Content-Type", "", urlEncoded},
                             {"text/plain", "text/plain", urlEncoded},
                             {"JSON", "application/json", "{\"_token\":\"" + token + "\"}"},
                             {"multipart without a boundary", "multipart/form-data", multipart}};
    if (form == site::FormType::Multipart)
      bodies.push_back({"url-encoded to a multipart page", "application/x-www-form-urlencoded", urlEncoded});
    if (form == site::FormType::UrlEncoded)
      bodies.push_back({"multipart to a url-encoded page", "multipart/form-data; boundary=" + kBoundary, multipart});
    for (const Body& b : bodies)
      ExpectRefused(path + ", " + b.what, "/APP" + path, b.body, b.contentType, 400, kNotAForm);
  }
}

TEST_F(PostedFormsTest, AMultipartBodyEndingAtItsCloseDelimiterIsReadWholeOnEveryPage) {
  const std::string whole = Multipart({{"_token", token}});
  const std::string closed = whole.substr(0, whole.size() - 2);  // "--B--" and nothing after it
  for (const auto& [path, form] : PostPages()) {
    if (form != site::FormType::Multipart) continue;
    for (const std::string& body : {closed, closed + "\r\nan epilogue", closed + " and more"}) {
      auto r = PostForm("/APP" + path, body);
      ASSERT_TRUE(r) << path;
      EXPECT_LT(r->status, 500) << path;
      EXPECT_EQ(r->body.find("This form has expired"), std::string::npos) << path << "\n" << r->body;
    }
  }
  // And its fields reach the writer: My Info saved from such a body.
  std::smatch m;
  const std::string page = Get("/APP/User/MyInfo.asp");
  ASSERT_TRUE(std::regex_search(page, m, std::regex("name=\"rsUser\" value=\"([^\"]*)\"")));
  const std::string body = Multipart({{"_token", token}, {"rsUser", m[1]}, {"UserName", "Ada Admin"},
                                      {"UserEMail", "admin@example.com"}, {"SecretQuestion", "Q?"}});
  auto r = PostForm("/APP/User/MyInfo.asp", body.substr(0, body.size() - 2) + "\r\nepilogue");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 303) << r->body;
  EXPECT_EQ(sitedb::Db(site.DatabaseFile()).Text("select UserName from Users where UserId = 'admin'"), "Ada Admin");
  for (const std::string& line : Events()) EXPECT_FALSE(line.starts_with("error")) << line;
}

TEST_F(PostedFormsTest, AMalformedMultipartBodyIs400WithOneWarningAtMost) {
  const std::string part = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"_token\"\r\n";
  struct Case {
    std::string what, body;
  } cases[] = {
      {"a part without its empty line", part + token + "\r\n--" + kBoundary + "--\r\n"},
      {"a body cut short", part + "\r\n" + token + "\r\n"},
      {"only the close delimiter", "--" + kBoundary + "--\r\n"},
      {"a part without a name", "--" + kBoundary + "\r\nContent-Disposition: form-data\r\n\r\nx\r\n--" + kBoundary +
                                    "--\r\n"},
  };
  for (const auto& [path, form] : PostPages()) {
    if (form != site::FormType::Multipart) continue;
    for (const Case& c : cases)
      ExpectRefused(path + ", " + c.what, "/APP" + path, c.body, "multipart/form-data; boundary=" + kBoundary, 400,
                    "<p class=ErrorText>The form that was sent cannot be read: its body is malformed.</p>");
  }
}

// Every form that carries a stored row back. `list` and `link` find an edit page by its link on a
// list page where the demo's records are not known here.
struct ImageForm {
  std::string page;   // the edit page, or the list page that links to it
  std::string link;   // a pattern of the edit page's link on the list page ("" when `page` is it)
  std::string field;  // the hidden row image
  Fields extra;       // what else the form must carry to reach its writer
};

TEST_F(PostedFormsTest, ARowImageThatIsDamagedEmptyOrMissingShowsTheFormAgainWith400) {
  const std::vector<ImageForm> forms{
      {"/APP/Issues/Issue.asp?IssueId=1", "", "rsIssue", {}},
      {"/APP/Setup/User.asp?UserId=alice", "", "rsUser", {{"UserName", "Alice"}}},
      {"/APP/Setup/Project.asp?ProjectId=1", "", "rsProject", {{"ProjectDescription", "x"}}},
      {"/APP/User/MyInfo.asp", "", "rsUser", {{"UserName", "Admin"}}},
      {"/APP/User/Personalize.asp", "", "rsUser", {{"MyAssignmentNumIssues", "10"}}},
      {"/APP/User/Personalize.asp?Settings=ReleaseNotes", "", "rsUser", {{"ReleaseNotesNumIssues", "10"}}},
      {"/APP/User/PersonalizeSearch.asp", "", "rsUser", {{"SearchNumIssues", "10"}}},
      {"/APP/Setup/SiteBackup.asp", "", "rsBackup", {{"Action", "Save"}}},
      {"/APP/Setup/SiteEMailServer.asp", "", "rsEMailConfig", {}},
      {"/APP/Setup/SiteEntryForm.asp", "", "rsLayout",
       {{"NumFields", "2"}, {"Field", "ProjectCode"}, {"Field", "Summary"}, {"Field", ""}, {"Field", ""}, {"Field", ""}}},
      {"/APP/Setup/EMailTemplates.asp", "/APP/Setup/EMailTemplate\\.asp\\?[^\"']+", "rsTemplate", {}},
      {"/APP/Setup/EMailNotifications.asp", "/APP/Setup/EMailNotification\\.asp\\?NotificationRuleId=[^\"']+",
       "rsRule", {}},
      {"/APP/User/Filters.asp", "/APP/User/Filter\\.asp\\?FilterName=[^\"']+", "rsFilter", {}},
      {"/APP/User/Personalize.asp", "/APP/User/Layout\\.asp\\?LayoutName=[^\"']+", "rsLayout",
       {{"LayoutName", "Mine"}, {"NumIssueFields", "1"}, {"Field", "Summary"}}},
      {"/APP/Setup/SiteCustomCodes.asp", "/APP/Setup/SiteCustomCode\\.asp\\?[^\"']+", "rsCodeTable", {}},
      {"/APP/Setup/CustomCodes.asp?Table=Priorities", "/APP/Setup/CustomCode\\.asp\\?[^\"']*Code=[^\"']+", "rsValue",
       {{"TableName", "Priorities"}}},
      {"/APP/Setup/SiteCustomFields.asp", "/APP/Setup/SiteCustomField\\.asp\\?FieldName=[^\"']+", "rsField", {}},
  };
  // Each form's edit page and the image it shows.
  std::vector<std::pair<std::string, std::string>> shown;
  for (const ImageForm& f : forms) {
    std::string edit = f.page;
    std::smatch m;
    if (!f.link.empty()) {
      const std::string list = Get(f.page);
      ASSERT_TRUE(std::regex_search(list, m, std::regex(f.link))) << f.page << " links to no " << f.field;
      edit = std::regex_replace(m.str(), std::regex("&amp;"), "&");
    }
    const std::string page = Get(edit);
    ASSERT_TRUE(std::regex_search(page, m, std::regex("name=\"?" + f.field + "\"? value=\"([^\"]+)\"")))
        << edit << " shows no " << f.field;
    shown.emplace_back(edit, m[1]);
  }
  for (size_t i = 0; i < forms.size(); ++i) {
    const ImageForm& f = forms[i];
    const std::string& edit = shown[i].first;
    std::string damaged = shown[i].second;
    char& c = damaged[damaged.size() / 2];
    c = c == 'A' ? 'B' : 'A';
    // A sound image of this site, but another form's: the next form's whose field is another.
    size_t donor = (i + 1) % forms.size();
    while (forms[donor].field == f.field) donor = (donor + 1) % forms.size();
    const std::vector<std::pair<std::string, std::optional<std::string>>> images{
        {"damaged", damaged},
        {"not an image", "junk"},
        {"empty", ""},
        {"missing", std::nullopt},
        {"swapped for " + forms[donor].field + " of " + shown[donor].first, shown[donor].second}};
    for (const auto& [what, image] : images) {
      Fields fields{{"_token", token}};
      if (image) fields.emplace_back(f.field, *image);
      fields.insert(fields.end(), f.extra.begin(), f.extra.end());
      const std::string label = edit + ", " + f.field + " " + what;
      ExpectRefused(label, edit, Multipart(fields), "multipart/form-data; boundary=" + kBoundary, 400, kDamaged);
      // The form's page again, not a bare error page.
      auto again = PostForm(edit, Multipart(fields));
      ASSERT_TRUE(again);
      EXPECT_NE(again->body.find("<form"), std::string::npos) << label;
    }
  }
}

TEST_F(PostedFormsTest, ATemplatePartsTextWithoutItsPartNameIs400) {
  std::smatch m;
  const std::string page = Get("/APP/Setup/EMailTemplate.asp?TemplateName=Assignment%20Notice");
  ASSERT_TRUE(std::regex_search(page, m, std::regex("name=\"?rsTemplate\"? value=\"([^\"]+)\"")));
  const std::string image = std::regex_replace(std::string(m[1]), std::regex("&amp;"), "&");
  const Fields parts{{"Subject", "s"}, {"PartContent", "a"}, {"PartContent", "b"}, {"PartType", "Text"}};
  for (const auto& [path, head] : std::vector<std::pair<std::string, Fields>>{
           {"/APP/Setup/EMailTemplate.asp", {{"_token", token}, {"TemplateName", "Closed"}}},
           {"/APP/Setup/EMailTemplate.asp?TemplateName=Assignment%20Notice", {{"_token", token}, {"rsTemplate", image}}}}) {
    Fields fields = head;
    fields.insert(fields.end(), parts.begin(), parts.end());
    ExpectRefused(path, path, Multipart(fields), "multipart/form-data; boundary=" + kBoundary, 400,
                  ">The form that was sent has a part's text without its part name.</p>");
  }
}

TEST_F(PostedFormsTest, AWorkflowSaveTheEditorWouldNeverSendIsRefusedWithASentence) {
  namespace wf = brisquel::workflowtest;
  ASSERT_FALSE(Get("/APP/Setup/WorkflowData.asp?Text=diagram").empty());  // the row the save takes back
  const wf::EditorState create{-1, 1, "", "", "", false, false, 10, 20, 120, 50, {}, {"Developers"}, {}};
  const wf::EditorState plain{-2, 0, "New", "New", "Open", true, false, 100, 20, 120, 50, {}, {}, {}};
  const wf::EditorAction action{-1, 0, -1, -2, 0, {}, "Open it", false, "", {}};
  const std::string body = wf::SaveBody({create, plain}, {action});
  // The body with the first value of `field` replaced.
  auto with = [&](const std::string& field, const std::string& value) {
    std::string b = body;
    const std::string part = "name=\"" + field + "\"\r\n\r\n";
    const size_t at = b.find(part) + part.size();
    return b.replace(at, b.find("\r\n", at) - at, value);
  };
  const std::vector<std::tuple<std::string, std::string, std::string>> cases{
      {"StateId", "'", "State id (') is not a valid number."},
      {"DiagramLeft", "select", "Diagram left (select) is not a valid number."},
      {"StateName", "%zz", "State name (%zz) is not correctly URL-encoded."},
      {"ActionType", "1e99", "Action type (1e99) is not a valid number."},
      {"LineType", "abc", "Line type (abc) is not a valid number."},
      {"Points", "%", "Points (%) is not a list of x and y pairs."},
      {"CanBeAssignedTo", "0", "Assignable group (0) is not in double quotes."},
  };
  for (const auto& [field, value, sentence] : cases) {
    const std::string before = Dump();
    const size_t events = Events().size();
    auto r = Post("/APP/Setup/WorkflowSave.asp?_token=" + token, with(field, value),
                  "multipart/form-data; boundary=" + std::string(wf::kBoundary).substr(2));
    ASSERT_TRUE(r) << field;
    EXPECT_EQ(r->status, 200) << field;
    EXPECT_EQ(r->body, "error\r\n0\r\n" + sentence + "\r\n") << field;
    EXPECT_EQ(Dump(), before) << field;
    for (const std::string& line : EventsSince(events)) EXPECT_FALSE(line.starts_with("error")) << field << ": " << line;
  }
}

}  // namespace
