// Headless Chromium for the page tests, driven over its DevTools protocol on
// --remote-debugging-pipe (NUL-ended JSON: commands on fd 3, answers and events on fd 4).
// One browser per test program; every Page has a browser context of its own (own cookies).
//
//   testsupport::SiteServer site;
//   auto page = testsupport::Browser::Shared().NewPage();
//   testsupport::SignIn(*page, site, "alice", "demo");
//   page->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
//   page->Type("#Summary", "text");
//   page->ClickAndWait("#Save");
//   EXPECT_TRUE(page->Exceptions().empty());
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace testsupport {

using Json = nlohmann::json;
class Page;

// The answer a test chooses for an intercepted request.
struct Reply {
  int status = 200;
  std::string body;
  std::string contentType = "text/plain; charset=utf-8";
};
// Sees the paused request (DevTools' Network.Request: url, method, headers, postData...).
using Interceptor = std::function<Reply(const Json& request)>;

class Browser {
 public:
  // The test program's browser, started at the first call.
  static Browser& Shared();
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // A new tab in a browser context of its own.
  std::unique_ptr<Page> NewPage();

  // A protocol command; the result, or a thrown error (with the command's error message).
  Json Send(const std::string& method, const Json& params = Json::object(), const std::string& sessionId = "");

  static constexpr std::chrono::seconds kTimeout{30};

 private:
  friend class Page;
  struct PageEvents {
    int loads = 0;
    std::vector<std::string> exceptions, alerts, console;
    Interceptor interceptor;
    int answering = 0;  // interceptor calls under way
  };
  void Answer(const std::string& session, const Json& params);
  Browser();
  void ReadLoop();
  void OnEvent(const Json& message);
  void Write(const std::string& text);

  TempDir profile_;
  pid_t pid_ = -1;
  int toBrowser_ = -1, fromBrowser_ = -1;
  std::thread reader_;
  std::mutex mutex_, writeMutex_;
  std::condition_variable changed_;
  int nextId_ = 1;
  bool closed_ = false;
  std::map<int, Json> answers_;
  std::map<std::string, PageEvents> events_;  // by session id
};

class Page {
 public:
  Page(Browser& browser, std::string contextId, std::string targetId, std::string sessionId);
  ~Page();
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // Goes to the URL and waits for its load event; the HTTP status of the document.
  int Navigate(const std::string& url);
  // A page written by the test (a data: URL), loaded and waited for.
  void Show(const std::string& html);
  // The value of a script expression (awaited when it is a promise); script errors throw.
  Json Evaluate(const std::string& expression);
  // Waits until the expression is true; false on timeout.
  bool WaitFor(const std::string& expression, std::chrono::milliseconds limit = Browser::kTimeout);
  // Focuses the element and types the text into it, as key presses would.
  void Type(const std::string& selector, const std::string& text);
  // A mouse click in the middle of the element.
  void Click(const std::string& selector);
  // From now on requests whose URL matches the pattern ("*" any text) are answered by `answer`
  // (on the browser's reader thread: it must not call back into the page).
  void Intercept(const std::string& urlPattern, Interceptor answer);
  // Script run in every document this page loads from now on, before the document's own.
  void AddInitScript(const std::string& source);
  // A left-button drag in page coordinates: press at the start, moves in steps, release at the end.
  void Drag(double x0, double y0, double x1, double y1);
  // A click that loads a new document; waits for its load event.
  void ClickAndWait(const std::string& selector);

  std::string Url();
  std::string Path();  // location.pathname
  std::string BodyText();
  // The cookies of this page's browser context.
  Json Cookies();
  // Sets a cookie in this page's browser context (for replaying an old sign-in).
  void SetCookie(const Json& cookie);

  std::vector<std::string> Exceptions();  // Runtime.exceptionThrown, as text
  std::vector<std::string> Alerts();      // texts of alert/confirm/prompt (all accepted)

 private:
  int Loads();
  void WaitForLoadAfter(int loadsBefore);
  Json Call(const std::string& method, const Json& params = Json::object());

  Browser& browser_;
  std::string contextId_, targetId_, sessionId_;
  int lastStatus_ = 0;
};

class SiteServer;
// Opens the site's sign-in page and signs in with the form, as a user would.
void SignIn(Page& page, const SiteServer& site, const std::string& userId, const std::string& password);
// The same on the sign-in form the page shows now.
void SubmitSignIn(Page& page, const std::string& userId, const std::string& password);

}  // namespace testsupport
