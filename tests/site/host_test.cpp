// The site host in this process, on a real demo site, over loopback.
#include "site/host.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <regex>
#include <thread>

#include "automation/automation.h"
#include "common/diagram_text_sample.h"
#include "common/diagram_text.h"
#include "core/password.h"
#include "site/routes.h"
#include "support/site_db.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;

// Pages of this test program only.
void EchoGet(site::PageContext& page) { page.SendPage("Echo", page.TokenField()); }
void EchoPost(site::PageContext& page) {
  std::string files = page.FormData() ? page.FormData()->Get("Files").ToObject()->Get("Count").ToString() : "-";
  page.SendPage("Echo", "[" + page.UserId() + "|" + page.Form("Name") + "|" + files + "]");
}
void Slow(site::PageContext& page) {
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  page.SendPage("Slow", "done");
}
void Fails(site::PageContext& page) { page.Database()->Call("NoSuchMember"); }
site::AddPage echo("/Test/Echo.asp", {.get = EchoGet, .post = EchoPost, .form = site::FormType::Either});
site::AddPage slow("/Test/Slow.asp", {.get = Slow});
site::AddPage fails("/Test/Fails.asp", {.get = Fails});

class HostTest : public ::testing::Test {
 protected:
  void Start(bool behindTls = false, std::filesystem::path controls = {}, std::string root = "/APP") {
    std::filesystem::copy_file(sitedb::FreshSite(true), dir / "site.db");
    testsupport::WriteFile(dir / "DbConnection.udl", "Data Source=" + (dir / "site.db").string());
    site::SiteOptions o;
    o.folder = dir.path();
    o.port = 0;
    o.behindTls = behindTls;
    o.controls = controls;
    o.root = root;
    host = std::make_unique<site::Host>(o);
    port = host->Bind();
    ASSERT_GT(port, 0);
    server = std::thread([this] { host->Serve(); });
  }
  void TearDown() override {
    if (host) host->Stop();
    if (server.joinable()) server.join();
  }
  httplib::Client Client() {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30);
    return c;
  }
  // The headers of a post from the site's own pages: its Origin, and `more`.
  httplib::Headers Own(httplib::Headers more = {}) {
    more.emplace("Origin", "http://127.0.0.1:" + std::to_string(port));
    return more;
  }
  // Signs in; the cookie header value ("VantrelSignIn=...").
  std::string SignIn(const std::string& user, const std::string& password, std::string* setCookie = nullptr) {
    auto r = Client().Post(host->Options().root + "/Default.asp", Own(), "UserId=" + user + "&Password=" + password,
                           "application/x-www-form-urlencoded");
    if (!r || r->status != 303) return "";
    const std::string header = r->get_header_value("Set-Cookie");
    if (setCookie) *setCookie = header;
    return header.substr(0, header.find(';'));
  }
  std::string TokenOf(const std::string& cookie) {
    auto r = Client().Get("/APP/Test/Echo.asp", {{"Cookie", cookie}});
    std::smatch m;
    std::regex_search(r->body, m, std::regex("name=_token value=\"([0-9a-f]{64})\""));
    return m[1];
  }

  TempDir dir;
  std::unique_ptr<site::Host> host;
  std::thread server;
  int port = 0;
};

TEST_F(HostTest, EveryAnswerCarriesTheSafetyHeadersAndUnknownPathsAre404) {
  Start();
  auto c = Client();
  for (const char* path : {"/APP/Nowhere.asp", "/elsewhere", "/APP/images/none.gif"}) {
    auto r = c.Get(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << path;
    EXPECT_EQ(r->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(r->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(r->get_header_value("Content-Security-Policy"),
              "default-src 'self'; script-src 'self' 'unsafe-inline' 'wasm-unsafe-eval'; "
              "style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; object-src 'self'; "
              "frame-ancestors 'self'; form-action 'self'; base-uri 'self'");
    EXPECT_EQ(r->get_header_value("Referrer-Policy"), "same-origin");
    EXPECT_FALSE(r->has_header("Strict-Transport-Security"));
  }
  for (const char* path : {"/APP/images/spacer.gif", "/images/spacer.gif", "/APP/images/LargeLogo.jpg",
                           "/APP/images/CaptureCtl.png", "/APP/vantrel.css", "/APP/vantrel.js"}) {
    auto r = c.Get(path);
    EXPECT_EQ(r->status, 200) << path;
  }
  EXPECT_EQ(c.Get("/")->get_header_value("Location"), "/APP/Default.asp");
}

// What a browser asks for on its own: the icon, at the server's root and the site's; the site's
// root with its slash leads in as the root without it does.
TEST_F(HostTest, TheIconIsServedAndTheRootWithItsSlashLeadsIn) {
  Start();
  auto c = Client();
  for (const char* path : {"/favicon.ico", "/APP/favicon.ico"}) {
    auto icon = c.Get(path);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->status, 200) << path;
    EXPECT_EQ(icon->get_header_value("Content-Type"), "image/x-icon") << path;
    EXPECT_EQ(icon->body.substr(0, 4), std::string("\0\0\1\0", 4)) << path;
  }
  for (const char* path : {"/APP", "/APP/"}) {
    auto in = c.Get(path);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->status, 302) << path;
    EXPECT_EQ(in->get_header_value("Location"), "/APP/Default.asp") << path;
  }
}

TEST_F(HostTest, TheShellHasNoDoctypeAndLinksTheStylesheetAndScript) {
  Start();
  auto r = Client().Get("/APP/Default.asp");
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_TRUE(r->body.starts_with("<html>\r\n<head>\r\n")) << r->body;
  EXPECT_NE(r->body.find("<link rel=\"stylesheet\" type=\"text/css\" href=\"/APP/vantrel.css\">"), std::string::npos);
  EXPECT_NE(r->body.find("<script src=\"/APP/vantrel.js\" data-max-body=20971520></script>"), std::string::npos);
}

TEST_F(HostTest, TheControlLibraryIsServedAndItsLoaderLinkedWhenItIsThere) {
  TempDir controls;
  testsupport::WriteFile(controls / "tamsolo-loader.js", "// loader");
  testsupport::WriteFile(controls / "tamsolo.wasm", "\0asm");
  testsupport::WriteFile(controls / "tamsolo.js", "// module");
  Start(false, controls.path());
  auto c = Client();
  auto loader = c.Get("/APP/controls/tamsolo-loader.js");
  EXPECT_EQ(loader->status, 200);
  EXPECT_EQ(loader->body, "// loader");
  EXPECT_EQ(loader->get_header_value("Cache-Control"), "no-cache");
  const std::string tag = loader->get_header_value("ETag");
  EXPECT_TRUE(std::regex_match(tag, std::regex("\"[0-9a-f]{16}-9\""))) << tag;
  auto again = c.Get("/APP/controls/tamsolo-loader.js", {{"If-None-Match", tag}});
  EXPECT_EQ(again->status, 304);
  EXPECT_EQ(again->body, "");
  EXPECT_EQ(c.Get("/APP/controls/tamsolo.wasm")->get_header_value("Content-Type"), "application/wasm");
  // Only the module's own files: nothing else that lies in its folder.
  testsupport::WriteFile(controls / ".env", "secret");
  testsupport::WriteFile(controls / "notes.txt", "notes");
  for (const char* other : {"/APP/controls/..%2Fsite.db", "/APP/controls/.env", "/APP/controls/notes.txt"})
    EXPECT_EQ(c.Get(other)->status, 404) << other;
  // The sign-in page has no controls; a signed-in page ends with them after its content.
  EXPECT_EQ(c.Get("/APP/Default.asp")->body.find("/controls/"), std::string::npos);
  const std::string cookie = SignIn("alice", "demo");
  const std::string page = c.Get("/APP/Issues/Issue.asp?IssueId=5", {{"Cookie", cookie}})->body;
  EXPECT_TRUE(page.ends_with("</script>\r\n</div><script src='/APP/controls/tamsolo.js'></script>"
                             "<script src='/APP/controls/tamsolo-loader.js'></script>\r\n</body>\r\n</html>\r\n"))
      << page.substr(page.size() - std::min<size_t>(page.size(), 300));
  // The menu before the content is MenuSystem.Menu's own output for the request, byte for byte.
  using automation::Variant;
  auto db = automation::CreateObject("Brisquel.Database");
  db->Put("ConnectionString", Variant(host->ConnectionString()));
  auto menu = automation::CreateObject("Brisquel.MenuSystem");
  menu->Put("MetaDataPath", Variant("/LM/W3SVC/1/Root/APP"));
  menu->Put("InstanceMetaDataPath", Variant("/LM/W3SVC/1"));
  menu->Put("HttpHost", Variant("127.0.0.1:" + std::to_string(port)));
  menu->Put("RequestURL", Variant("/APP/Issues/Issue.asp"));
  menu->Put("RequestScriptName", Variant("/APP/Issues/Issue.asp"));
  menu->Put("RequestQueryString", Variant("IssueId=5"));
  menu->Put("UserIsSiteAdmin", db->Call("UserIsSiteAdmin", {Variant("alice")}));
  menu->Put("UserCanAdmin", db->Call("UserCanAdmin", {Variant("alice")}));
  menu->Put("IssuePrinterFriendlyUrl", Variant("/APP/Issues/IssuePrinterFriendly.asp?IssueId=5"));
  const int32_t project = std::stoi(sitedb::Db(dir / "site.db").Text("select ProjectId from Issues where IssueId = 5"));
  const std::string written = menu->Call("Menu", {Variant(db), Variant("alice"), Variant(project)}).ToString();
  EXPECT_NE(written.find("ID = 'CaptureCtl'"), std::string::npos);
  EXPECT_NE(page.find("</head>\r\n<body>\r\n" + written + "<div id=PageContent>"), std::string::npos);
}

TEST_F(HostTest, SignedInPagesBeginWithTheMenuOfTheSiteAtItsRoot) {
  Start(false, {}, "");
  const std::string cookie = SignIn("bob", "demo");
  ASSERT_FALSE(cookie.empty());
  struct Case {
    std::string path;
    int status;
    bool menu;
  };
  const Case cases[] = {
      {"/User/MyInfo.asp", 200, true},
      {"/Issues/Issue.asp?IssueId=5", 200, true},
      {"/Issues/IssuePrinterFriendly.asp?IssueId=5", 200, false},
      // A help page has its own window: no menu, so no Help link to a help page of itself.
      {"/Help/Issues/Issue.asp", 200, false},
      {"/Test/Fails.asp", 500, false},
  };
  for (const Case& c : cases) {
    auto r = Client().Get(c.path, {{"Cookie", cookie}});
    EXPECT_EQ(r->status, c.status) << c.path;
    EXPECT_EQ(r->body.find("</head>\r\n<body>\r\n<div id='LeftMenu' ") != std::string::npos, c.menu) << c.path;
    EXPECT_EQ(r->body.find("<div id=PageContent>") != std::string::npos, c.menu) << c.path;
  }
  const std::string menu = Client().Get("/User/MyInfo.asp", {{"Cookie", cookie}})->body;
  for (const char* link : {"<A tabindex=-1 class=menulink href='/Default.asp'>Home</A>",
                           "href='/Issues/Issue.asp?IssueId=New'>New Issue</A>",
                           "<a tabindex=-1 class=MenuItem href='/Search/Search.asp'>&nbsp;&nbsp;Search</a>",
                           "<td class=CurrentMenuItem>&nbsp;&nbsp;My Info</td>", ">Logoff bob</A>"})
    EXPECT_NE(menu.find(link), std::string::npos) << link;
  // Signed out there is no menu.
  EXPECT_EQ(Client().Get("/Default.asp")->body.find("LeftMenu"), std::string::npos);
}

TEST_F(HostTest, AUserWithoutProjectsCannotOpenANewIssueNorIssuesOfOthers) {
  Start();
  sitedb::Db(dir / "site.db")
      .Exec("INSERT INTO Users (UserId, UserName, UserEMail, Password, SiteAdministrator, PublicUser) VALUES"
            " ('erin', 'Erin', 'erin@example.com', '" +
            brisquel::HashSecret("demo") + "', 0, 0)");
  const std::string cookie = SignIn("erin", "demo");
  ASSERT_FALSE(cookie.empty());
  struct Case {
    std::string path;
    int status;
    std::string text;
  };
  const Case cases[] = {
      {"/APP/Issues/Issue.asp?IssueId=New", 403,
       "<p class=ErrorText>You are not authorized to create issues (must be a member of a project).</p>"},
      {"/APP/Issues/Issue.asp?IssueId=1", 404, "<p class=ErrorText>The issue cannot be found.</p>"},
      {"/APP/Issues/Issue.asp?IssueId=1x", 404, "The issue cannot be found."},
      {"/APP/Issues/IssuePrinterFriendly.asp?IssueId=1", 404, "The issue cannot be found."},
      {"/APP/User/MyInfo.asp", 200,
       "<A tabindex=-1 class=menulink href=\"javascript:alert('You are not authorized to create issues (must be a "
       "member of a project).');\">New Issue</A>"},
  };
  for (const Case& c : cases) {
    auto r = Client().Get(c.path, {{"Cookie", cookie}});
    EXPECT_EQ(r->status, c.status) << c.path;
    EXPECT_NE(r->body.find(c.text), std::string::npos) << c.path;
  }
}

TEST_F(HostTest, TheFilterPageOfANameNoFilterHasIs404) {
  Start();
  const std::string cookie = SignIn("alice", "demo");
  ASSERT_FALSE(cookie.empty());
  const std::string fifty(50, 'x');
  struct Case {
    std::string name;  // as the query carries it
    int status;
    std::string text;
  };
  const Case cases[] = {
      {"Urgent%20issues", 200, "value=\"Urgent issues\""},
      {fifty, 404, "The filter '" + fifty + "' does not exist."},
      // Longer than any saved name: the reader is not asked.
      {fifty + "x", 404, "The filter '" + fifty + "x' does not exist."},
      {std::string(5000, 'y'), 404, "does not exist."},
      {[] { std::string s; for (int i = 0; i < 50; ++i) s += "%C3%BC"; return s; }(), 404, "does not exist."},
      {"%C3%BC" + std::string(50, 'u'), 404, "The filter '\u00fc" + std::string(50, 'u') + "' does not exist."},
  };
  for (const Case& c : cases) {
    auto r = Client().Get("/APP/User/Filter.asp?FilterName=" + c.name, {{"Cookie", cookie}});
    EXPECT_EQ(r->status, c.status) << c.name;
    EXPECT_NE(r->body.find(c.text), std::string::npos) << c.name;
  }
}

TEST_F(HostTest, TheCookieIsSecureOnlyBehindTls) {
  Start(true);
  std::string setCookie;
  httplib::Headers https{{"Origin", "https://127.0.0.1:" + std::to_string(port)}};
  auto r = Client().Post("/APP/Default.asp", https, "UserId=alice&Password=demo", "application/x-www-form-urlencoded");
  ASSERT_EQ(r->status, 303);
  EXPECT_TRUE(std::regex_match(r->get_header_value("Set-Cookie"),
                               std::regex("VantrelSignIn=[0-9a-f]{64}; Path=/APP/; HttpOnly; SameSite=Strict; Secure")));
  EXPECT_EQ(r->get_header_value("Strict-Transport-Security"), "max-age=31536000");
  // Behind TLS a plain-http origin is another origin.
  httplib::Headers http{{"Origin", "http://127.0.0.1:" + std::to_string(port)}};
  EXPECT_EQ(Client().Post("/APP/Default.asp", http, "UserId=alice&Password=demo", "application/x-www-form-urlencoded")->status,
            403);
}

// A post carries its page's own origin, or it is refused before the page runs: the sign-in, the
// sign-up and a signed-in page alike, with or without its token.
TEST_F(HostTest, APostWithoutTheSiteOwnOriginIsRefused) {
  Start();
  const std::string cookie = SignIn("alice", "demo");
  const std::string token = TokenOf(cookie);
  const std::string own = "http://127.0.0.1:" + std::to_string(port);
  for (const std::string path : {"/APP/Default.asp", "/APP/User/SignUp.asp", "/APP/Test/Echo.asp"}) {
    for (const std::optional<std::string>& origin :
         {std::optional<std::string>(), std::optional<std::string>("null"),
          std::optional<std::string>("http://evil.example"), std::optional<std::string>(own + "0")}) {
      httplib::Headers headers{{"Cookie", path.ends_with("Echo.asp") ? cookie : ""}};
      if (origin) headers.emplace("Origin", *origin);
      auto r = Client().Post(path, headers, "UserId=bob&Password=demo&Name=x&_token=" + token,
                             "application/x-www-form-urlencoded");
      ASSERT_TRUE(r);
      EXPECT_EQ(r->status, 403) << path << " " << origin.value_or("(none)");
      EXPECT_NE(r->body.find("<p class=ErrorText>This form was sent from another site and has been refused.</p>"),
                std::string::npos)
          << path;
      EXPECT_FALSE(r->has_header("Set-Cookie")) << path;
    }
  }
  // With its own origin the same post goes through.
  auto ok = Client().Post("/APP/Test/Echo.asp", Own({{"Cookie", cookie}}), "Name=x&_token=" + token,
                          "application/x-www-form-urlencoded");
  EXPECT_NE(ok->body.find("[alice|x|-]"), std::string::npos);
}

TEST_F(HostTest, ReturnToGoesOnlyToLocalPaths) {
  Start();
  for (auto [returnTo, location] : std::vector<std::pair<std::string, std::string>>{
           {"%2FAPP%2FSetup%2FUsers.asp%3Fx%3D1", "/APP/Setup/Users.asp?x=1"},
           {"http%3A%2F%2Fevil.example%2F", "/APP/Assignments/MyAssignments.asp"},
           {"%2F%2Fevil.example%2FAPP%2F", "/APP/Assignments/MyAssignments.asp"}}) {
    auto r = Client().Post("/APP/Default.asp", Own(), "UserId=bob&Password=demo&ReturnTo=" + returnTo,
                           "application/x-www-form-urlencoded");
    EXPECT_EQ(r->get_header_value("Location"), location) << returnTo;
  }
}

// The sign-in takes the user id as stored: the pages see carol.
TEST_F(HostTest, APostOfASignInNeedsItsTokenAndMultipartBodiesReachTheFormDecoderWhole) {
  Start();
  const std::string cookie = SignIn("CaRoL", "demo");
  const std::string token = TokenOf(cookie);
  ASSERT_EQ(token.size(), 64u);
  httplib::MultipartFormDataItems items{{"Name", "Zoë & co", "", ""}, {"_token", token, "", ""},
                                        {"File", std::string("\0\1binary", 8), "a.bin", "application/octet-stream"}};
  auto ok = Client().Post("/APP/Test/Echo.asp", Own({{"Cookie", cookie}}), items);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_NE(ok->body.find("[carol|Zoë & co|1]"), std::string::npos) << ok->body;

  auto urlEncoded = Client().Post("/APP/Test/Echo.asp", Own({{"Cookie", cookie}}), "Name=x&_token=" + token,
                                  "application/x-www-form-urlencoded");
  EXPECT_NE(urlEncoded->body.find("[carol|x|-]"), std::string::npos) << urlEncoded->body;

  for (const std::string& bad : {std::string(), std::string(64, '0'), token.substr(1)}) {
    auto r = Client().Post("/APP/Test/Echo.asp", Own({{"Cookie", cookie}}), "Name=x&_token=" + bad,
                           "application/x-www-form-urlencoded");
    EXPECT_EQ(r->status, 403);
    EXPECT_NE(r->body.find("This form has expired. Reload the page and try again."), std::string::npos);
  }
  // Only the workflow editor's upload may carry the token in its query.
  auto inQuery = Client().Post("/APP/Test/Echo.asp?_token=" + token, Own({{"Cookie", cookie}}), "Name=x",
                               "application/x-www-form-urlencoded");
  EXPECT_EQ(inQuery->status, 403);
}

TEST_F(HostTest, AMalformedFormBodyIs400WithASentence) {
  Start();
  const std::string cookie = SignIn("alice", "demo");
  auto r = Client().Post("/APP/Test/Echo.asp", Own({{"Cookie", cookie}}), "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n",
                         "multipart/form-data; boundary=b");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 400);
  EXPECT_NE(r->body.find("<p class=ErrorText>The form that was sent cannot be read: its body is malformed.</p>"),
            std::string::npos)
      << r->body;
  for (const char* method : {"PUT", "DELETE", "OPTIONS"}) {
    httplib::Request req;
    req.method = method;
    req.path = "/APP/Default.asp";
    auto other = Client().send(req);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 405) << method;
  }
}

TEST_F(HostTest, AnErrorOfTheLibraryShowsItsNumberOnly) {
  Start();
  auto r = Client().Get("/APP/Test/Fails.asp", {{"Cookie", SignIn("alice", "demo")}});
  EXPECT_EQ(r->status, 500);
  EXPECT_NE(r->body.find("<p class=ErrorText>An unexpected error has occurred. (Error number: 438)</p>"),
            std::string::npos)
      << r->body;
  EXPECT_EQ(r->body.find("Brisquel"), std::string::npos);
}

TEST_F(HostTest, StoppingWaitsForTheRequestsUnderWay) {
  Start();
  const std::string cookie = SignIn("alice", "demo");
  std::optional<int> status;
  std::thread slowClient([&] {
    auto r = Client().Get("/APP/Test/Slow.asp", {{"Cookie", cookie}});
    if (r) status = r->status;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  host->Stop();
  server.join();
  slowClient.join();
  EXPECT_EQ(status, 200);
}

TEST_F(HostTest, EightClientsAtOnceEachGetTheirOwnRightAnswers) {
  Start();
  constexpr int kClients = 8, kRequests = 100;
  std::vector<std::string> users{"alice", "bob", "carol", "alice", "bob", "carol", "alice", "bob"};
  std::vector<std::string> cookies, tokens;
  for (const auto& u : users) {
    cookies.push_back(SignIn(u, "demo"));
    tokens.push_back(TokenOf(cookies.back()));
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      auto c = Client();
      for (int n = 0; n < kRequests; ++n) {
        const std::string name = "c" + std::to_string(i) + "n" + std::to_string(n);
        auto r = n % 2 ? c.Get("/APP/User/MyInfo.asp", {{"Cookie", cookies[i]}})
                       : c.Post("/APP/Test/Echo.asp", Own({{"Cookie", cookies[i]}}), "Name=" + name + "&_token=" + tokens[i],
                                "application/x-www-form-urlencoded");
        const bool right = r && (n % 2 ? r->status == 200 &&
                                             r->body.find("<span id=UserId>" + users[i] + "</span>") != std::string::npos
                                       : r->status == 200 &&
                                             r->body.find("[" + users[i] + "|" + name + "|-]") != std::string::npos);
        if (!right) ++wrong;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(SessionStoreTest, ASignInEndsAfterItsIdleTimeAndOnLogout) {
  site::SessionStore store(std::chrono::minutes(20));
  const auto s = store.Start("alice");
  const auto now = site::SessionStore::Clock::now();
  EXPECT_EQ(store.Find(s.id, now + std::chrono::minutes(19))->userId, "alice");
  // The last use moved on: 19 more minutes are fine, 21 after that are not.
  EXPECT_TRUE(store.Find(s.id, now + std::chrono::minutes(38)));
  EXPECT_FALSE(store.Find(s.id, now + std::chrono::minutes(60)));
  const auto t = store.Start("bob");
  EXPECT_NE(t.id, t.token);
  store.End(t.id);
  EXPECT_FALSE(store.Find(t.id));
}

TEST(SiteArgumentsTest, CommandLine) {
  auto parse = [](std::vector<std::string> args, std::string& error) {
    args.insert(args.begin(), "vantrel-site");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return site::ParseArguments(static_cast<int>(argv.size()), argv.data(), error);
  };
  std::string error;
  auto o = parse({"/srv/site", "--listen", "0.0.0.0:0", "--root", "/", "--behind-tls", "--idle-minutes", "5"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->folder, "/srv/site");
  EXPECT_EQ(o->address, "0.0.0.0");
  EXPECT_EQ(o->port, 0);
  EXPECT_EQ(o->root, "");
  EXPECT_TRUE(o->behindTls);
  EXPECT_EQ(o->idleMinutes, 5);
  auto d = parse({"/srv/site"}, error);
  EXPECT_EQ(d->root, "/APP");
  EXPECT_EQ(d->port, 8080);
  EXPECT_EQ(d->idleMinutes, 20);
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {}, {"/s", "--listen", "x"}, {"/s", "--root", "APP"}, {"/s", "--idle-minutes", "0"}, {"/s", "--what"}}) {
    EXPECT_FALSE(parse(bad, error));
  }
}

}  // namespace

namespace {

// The workflow editor's two pages as the editor calls them: the loads, and saves refused or stored.
TEST_F(HostTest, TheWorkflowDataAndSavePagesAnswerTheEditor) {
  Start();
  const std::string admin = SignIn("admin", "Secret1"), bob = SignIn("bob", "demo");
  const std::string token = "?_token=" + TokenOf(admin);
  auto load = [&](const std::string& text) {
    auto r = Client().Get("/APP/Setup/WorkflowData.asp?Text=" + text, {{"Cookie", admin}});
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    return r->body;
  };
  std::string body;
  auto save = [&](const std::string& cookie, const std::string& query) {
    auto r = Client().Post("/APP/Setup/WorkflowSave.asp" + query, Own({{"Cookie", cookie}}), body,
                           tamsolo::diagram::kContentType);
    return std::to_string(r->status) + (r->status == 200 ? " " + r->body : "");
  };
  namespace diagram = tamsolo::diagram;
  EXPECT_EQ(save(admin, token), "200 error\r\n0\r\nReload the workflow before saving it.\r\n");

  // A blank group code offers nothing to choose: the lists leave it out.
  sitedb::Db(dir / "site.db").Exec("INSERT INTO Groups (GroupCode) VALUES ('')");
  diagram::ChoiceLists lists;
  diagram::ReadChoiceLists(load("lists"), lists);
  EXPECT_EQ(lists.groups, (diagram::Texts{"Customers", "Developers", "Testers"}));
  EXPECT_EQ(lists.statuses, (diagram::Texts{"Open", "Closed"}));
  EXPECT_EQ(lists.fieldKeys.size(), lists.fieldCaptions.size());
  EXPECT_NE(std::find(lists.fieldKeys.begin(), lists.fieldKeys.end(), "Summary"), lists.fieldKeys.end());

  const std::string text = load("diagram");
  EXPECT_TRUE(text.starts_with("1\r\n1\r\n7\r\n")) << text;
  diagram::Diagram d = diagram::ReadDiagram(text);
  EXPECT_EQ(d.actions.size(), 11u);
  EXPECT_TRUE(d.unplaceable.empty());
  for (const diagram::DiagramState& s : d.states) {
    if (s.name == "New") {
      EXPECT_EQ(s.reassignGroups, (diagram::Texts{"Developers"}));
    }
  }
  body = diagram::SaveBody(tamsolo::diagramtest::Walk(d));

  const std::vector<std::pair<std::pair<std::string, std::string>, std::string>> posts = {
      {{admin, ""}, "403"},
      {{bob, "?_token=" + TokenOf(bob)}, "200 error\r\n0\r\nPermission denied.\r\n"},
      {{admin, token}, "200 ok\r\n"},
      {{admin, token},
       "200 error\r\n0\r\nAnother user has changed the workflow information. You must cancel your changes.\r\n"},
  };
  for (const auto& [who, answer] : posts) EXPECT_EQ(save(who.first, who.second), answer);
  // A body that is not the editor's multipart form is refused before the save reads it.
  auto r = Client().Post("/APP/Setup/WorkflowSave.asp" + token, Own({{"Cookie", admin}}), "x", "text/plain");
  EXPECT_EQ(r->status, 400);
  EXPECT_NE(r->body.find("<p class=ErrorText>The form was not sent as a form.</p>"), std::string::npos) << r->body;

  // The editor's page: editable with the token in the upload URL for an administrator only.
  const std::string page = Client().Get("/APP/Setup/SiteWorkflow.asp", {{"Cookie", admin}})->body;
  EXPECT_NE(page.find("<param name=\"UploadURL\" value=\"/APP/Setup/WorkflowSave.asp" + token + "\">"),
            std::string::npos);
  EXPECT_NE(page.find("<script language=javascript for=Workflow event=ReadyToSave>"), std::string::npos);
  for (const char* path : {"/APP/Setup/SiteWorkflow.asp", "/APP/Setup/SiteWorkflowInquiry.asp"}) {
    const std::string inquiry = Client().Get(path, {{"Cookie", bob}})->body;
    EXPECT_NE(inquiry.find("<param name=\"InquiryMode\" value=\"True\">"), std::string::npos) << path;
    EXPECT_NE(inquiry.find("<param name=\"DownloadURL\" value=\"/APP/Setup/WorkflowData.asp?Text=diagram\">"),
              std::string::npos);
    EXPECT_EQ(inquiry.find("UploadURL"), std::string::npos);
    EXPECT_EQ(inquiry.find("id=Save"), std::string::npos);
  }
}

}  // namespace
