#include "support/browser.h"

#include "support/site_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {

// Moves fd to `target` in a child about to exec, whatever numbers the pipes were given.
void MoveFd(int fd, int target) {
  if (fd != target) dup2(fd, target);
}

std::string Base64(const std::string& in) {
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
    out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], t[v & 63]};
  }
  if (i + 1 == in.size()) {
    const unsigned v = (unsigned char)in[i] << 16;
    out += {t[v >> 18], t[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == in.size()) {
    const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
    out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], '='};
  }
  return out;
}

std::string ExceptionText(const Json& details) {
  std::string text = details.value("text", "");
  if (details.contains("exception") && details["exception"].contains("description"))
    text += " " + details["exception"]["description"].get<std::string>();
  return text;
}

}  // namespace

Browser& Browser::Shared() {
  static Browser browser;
  return browser;
}

Browser::Browser() {
  int commands[2], answers[2];
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> args{"/usr/bin/chromium",
                                "--headless",
                                "--no-sandbox",
                                "--disable-gpu",
                                "--disable-quic",
                                "--no-first-run",
                                "--disable-background-networking",
                                "--disable-component-update",
                                "--disable-sync",
                                // A page asking to capture its own tab gets it without a picker.
                                "--auto-accept-this-tab-capture",
                                "--user-data-dir=" + profile_.path().string(),
                                "--remote-debugging-pipe",
                                "about:blank"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    // Ends with the test program, even when that is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Out of the way of 3 and 4 first, then into place (dup2 clears close-on-exec).
    const int in = fcntl(commands[0], F_DUPFD, 10);
    const int out = fcntl(answers[1], F_DUPFD, 10);
    MoveFd(in, 3);
    MoveFd(out, 4);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(commands[0]);
  close(answers[1]);
  toBrowser_ = commands[1];
  fromBrowser_ = answers[0];
  reader_ = std::thread([this] { ReadLoop(); });
}

Browser::~Browser() {
  try {
    std::unique_lock lock(mutex_);
    if (!closed_) {
      lock.unlock();
      Send("Browser.close");
    }
  } catch (...) {
  }
  close(toBrowser_);
  int status = 0;
  for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) usleep(50000);
  if (waitpid(pid_, &status, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  if (reader_.joinable()) reader_.join();
  close(fromBrowser_);
}

void Browser::ReadLoop() {
  std::string pending;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fromBrowser_, buf, sizeof buf);
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\0')) != std::string::npos) {
      Json message = Json::parse(pending.substr(0, end), nullptr, false);
      pending.erase(0, end + 1);
      if (message.is_discarded() || !message.is_object()) continue;
      try {
        if (message.contains("id") && message["id"].is_number()) {
          const int id = message["id"].get<int>();
          std::lock_guard lock(mutex_);
          answers_[id] = std::move(message);
        } else {
          OnEvent(message);
        }
      } catch (const std::exception& e) {
        std::fprintf(stderr, "browser message not understood: %s: %s\n", e.what(), message.dump().substr(0, 300).c_str());
      }
      changed_.notify_all();
    }
  }
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

void Browser::OnEvent(const Json& message) {
  const std::string method = message.value("method", "");
  const std::string session = message.value("sessionId", "");
  const Json& params = message.contains("params") ? message["params"] : Json::object();
  if (method == "Page.javascriptDialogOpening") {
    {
      std::lock_guard lock(mutex_);
      events_[session].alerts.push_back(params.value("message", ""));
    }
    // Answered from here: the page is blocked until the dialog closes.
    Json cmd{{"id", 0}, {"method", "Page.handleJavaScriptDialog"}, {"params", {{"accept", true}}},
             {"sessionId", session}};
    {
      std::lock_guard lock(mutex_);
      cmd["id"] = nextId_++;
    }
    Write(cmd.dump());
    return;
  }
  if (method == "Fetch.requestPaused") {
    Answer(session, params);
    return;
  }
  std::lock_guard lock(mutex_);
  if (method == "Page.loadEventFired") {
    ++events_[session].loads;
  } else if (method == "Runtime.exceptionThrown") {
    events_[session].exceptions.push_back(ExceptionText(params["exceptionDetails"]));
  } else if (method == "Runtime.consoleAPICalled") {
    events_[session].console.push_back(params.value("type", ""));
  }
}

// Fulfils a paused request with the test's reply; sent from the reader thread, unawaited.
void Browser::Answer(const std::string& session, const Json& params) {
  Interceptor interceptor;
  Json cmd{{"method", "Fetch.fulfillRequest"}, {"sessionId", session}};
  {
    std::lock_guard lock(mutex_);
    auto found = events_.find(session);
    if (found != events_.end() && found->second.interceptor) {
      interceptor = found->second.interceptor;
      ++found->second.answering;
    }
    cmd["id"] = nextId_++;
  }
  const Reply reply = interceptor ? interceptor(params["request"]) : Reply{404, "", "text/plain"};
  if (interceptor) {
    std::lock_guard lock(mutex_);
    --events_[session].answering;
    changed_.notify_all();
  }
  cmd["params"] = {{"requestId", params["requestId"]},
                   {"responseCode", reply.status},
                   {"responseHeaders", Json::array({{{"name", "Content-Type"}, {"value", reply.contentType}}})},
                   {"body", Base64(reply.body)}};
  Write(cmd.dump());
}

void Browser::Write(const std::string& text) {
  std::lock_guard lock(writeMutex_);
  std::string framed = text;
  framed += '\0';
  size_t done = 0;
  while (done < framed.size()) {
    const ssize_t n = write(toBrowser_, framed.data() + done, framed.size() - done);
    if (n <= 0) throw std::runtime_error("the browser's pipe is closed");
    done += static_cast<size_t>(n);
  }
}

Json Browser::Send(const std::string& method, const Json& params, const std::string& sessionId) {
  int id;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
  }
  Json cmd{{"id", id}, {"method", method}, {"params", params}};
  if (!sessionId.empty()) cmd["sessionId"] = sessionId;
  Write(cmd.dump());
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, kTimeout, [&] { return answers_.count(id) > 0 || closed_; }) || !answers_.count(id))
    throw std::runtime_error("no answer from the browser to " + method);
  Json answer = std::move(answers_[id]);
  answers_.erase(id);
  if (answer.contains("error")) throw std::runtime_error(method + ": " + answer["error"].dump());
  return answer.value("result", Json::object());
}

std::unique_ptr<Page> Browser::NewPage() {
  const std::string context = Send("Target.createBrowserContext", {{"disposeOnDetach", true}})["browserContextId"];
  const std::string target =
      Send("Target.createTarget", {{"url", "about:blank"}, {"browserContextId", context}})["targetId"];
  const std::string session = Send("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"];
  {
    std::lock_guard lock(mutex_);
    events_[session];
  }
  Send("Page.enable", Json::object(), session);
  Send("Runtime.enable", Json::object(), session);
  return std::make_unique<Page>(*this, context, target, session);
}

// ---- Page

Page::Page(Browser& browser, std::string contextId, std::string targetId, std::string sessionId)
    : browser_(browser), contextId_(std::move(contextId)), targetId_(std::move(targetId)),
      sessionId_(std::move(sessionId)) {}

Page::~Page() {
  // The test's interceptor sees its own objects, which go with the page: a request that pauses
  // from now on is refused, and one being answered is waited for.
  {
    std::unique_lock lock(browser_.mutex_);
    auto& events = browser_.events_[sessionId_];
    events.interceptor = nullptr;
    browser_.changed_.wait_for(lock, Browser::kTimeout, [&] { return events.answering == 0; });
  }
  try {
    browser_.Send("Target.closeTarget", {{"targetId", targetId_}});
    browser_.Send("Target.disposeBrowserContext", {{"browserContextId", contextId_}});
  } catch (...) {
  }
  std::lock_guard lock(browser_.mutex_);
  browser_.events_.erase(sessionId_);
}

Json Page::Call(const std::string& method, const Json& params) { return browser_.Send(method, params, sessionId_); }

int Page::Loads() {
  std::lock_guard lock(browser_.mutex_);
  return browser_.events_[sessionId_].loads;
}

void Page::WaitForLoadAfter(int loadsBefore) {
  std::unique_lock lock(browser_.mutex_);
  if (!browser_.changed_.wait_for(lock, Browser::kTimeout,
                                  [&] { return browser_.events_[sessionId_].loads > loadsBefore; }))
    throw std::runtime_error("the page did not load");
}

int Page::Navigate(const std::string& url) {
  const int before = Loads();
  Json r = Call("Page.navigate", {{"url", url}});
  if (r.contains("errorText")) throw std::runtime_error("navigation failed: " + r["errorText"].dump());
  WaitForLoadAfter(before);
  Json status = Evaluate("performance.getEntriesByType('navigation')[0]?.responseStatus ?? 0");
  return status.is_number() ? status.get<int>() : 0;
}

void Page::Show(const std::string& html) { Navigate("data:text/html;charset=utf-8;base64," + Base64(html)); }

Json Page::Evaluate(const std::string& expression) {
  Json r = Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
  if (r.contains("exceptionDetails")) throw std::runtime_error("script error: " + ExceptionText(r["exceptionDetails"]));
  return r["result"].value("value", Json());
}

bool Page::WaitFor(const std::string& expression, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    Json v = Evaluate("!!(" + expression + ")");
    if (v.is_boolean() && v.get<bool>()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Page::Type(const std::string& selector, const std::string& text) {
  Evaluate("document.querySelector(" + Json(selector).dump() + ").focus()");
  Call("Input.insertText", {{"text", text}});
}

void Page::Click(const std::string& selector) {
  Json box = Evaluate("(() => { const e = document.querySelector(" + Json(selector).dump() +
                      "); e.scrollIntoView(); const r = e.getBoundingClientRect(); "
                      "return [r.left + r.width / 2, r.top + r.height / 2]; })()");
  const double x = box[0], y = box[1];
  for (const char* type : {"mousePressed", "mouseReleased"})
    Call("Input.dispatchMouseEvent", {{"type", type}, {"x", x}, {"y", y}, {"button", "left"}, {"clickCount", 1}});
}

void Page::Intercept(const std::string& urlPattern, Interceptor answer) {
  {
    std::lock_guard lock(browser_.mutex_);
    browser_.events_[sessionId_].interceptor = std::move(answer);
  }
  Call("Fetch.enable", {{"patterns", Json::array({{{"urlPattern", urlPattern}}})}});
}

void Page::AddInitScript(const std::string& source) {
  Call("Page.addScriptToEvaluateOnNewDocument", {{"source", source}});
}

void Page::Drag(double x0, double y0, double x1, double y1) {
  Call("Input.dispatchMouseEvent", {{"type", "mousePressed"}, {"x", x0}, {"y", y0}, {"button", "left"},
                                     {"buttons", 1}, {"clickCount", 1}});
  for (int step = 1; step <= 4; ++step)
    Call("Input.dispatchMouseEvent", {{"type", "mouseMoved"}, {"x", x0 + (x1 - x0) * step / 4},
                                       {"y", y0 + (y1 - y0) * step / 4}, {"button", "left"}, {"buttons", 1}});
  Call("Input.dispatchMouseEvent", {{"type", "mouseReleased"}, {"x", x1}, {"y", y1}, {"button", "left"},
                                     {"buttons", 0}, {"clickCount", 1}});
}

void Page::ClickAndWait(const std::string& selector) {
  const int before = Loads();
  Click(selector);
  WaitForLoadAfter(before);
}

std::string Page::Url() { return Evaluate("location.href").get<std::string>(); }
std::string Page::Path() { return Evaluate("location.pathname").get<std::string>(); }
std::string Page::BodyText() { return Evaluate("document.body ? document.body.innerText : ''").get<std::string>(); }

Json Page::Cookies() { return browser_.Send("Storage.getCookies", {{"browserContextId", contextId_}})["cookies"]; }

void Page::SetCookie(const Json& cookie) {
  browser_.Send("Storage.setCookies", {{"browserContextId", contextId_}, {"cookies", Json::array({cookie})}});
}

std::vector<std::string> Page::Exceptions() {
  std::lock_guard lock(browser_.mutex_);
  return browser_.events_[sessionId_].exceptions;
}

std::vector<std::string> Page::Alerts() {
  std::lock_guard lock(browser_.mutex_);
  return browser_.events_[sessionId_].alerts;
}

void SubmitSignIn(Page& page, const std::string& userId, const std::string& password) {
  page.Type("#UserId", userId);
  page.Type("#Password", password);
  page.ClickAndWait("#SignIn");
}

void SignIn(Page& page, const SiteServer& site, const std::string& userId, const std::string& password) {
  page.Navigate(site.Url("/Default.asp"));
  SubmitSignIn(page, userId, password);
}

}  // namespace testsupport
