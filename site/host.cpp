#include "site/host.h"

#include <chrono>
#include <optional>

#include "automation/text.h"
#include "brisquel/read_snapshot.h"
#include "site/engine.h"
#include "site/routes.h"
#include "site/static_files.h"

namespace site {

namespace {

// Scripts: our own files and the inline scripts and handlers the renderers write, and the
// controls' WebAssembly. The diagram editor's cursors are PNG data: URLs.
constexpr const char* kContentSecurityPolicy =
    "default-src 'self'; script-src 'self' 'unsafe-inline' 'wasm-unsafe-eval'; "
    "style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; object-src 'self'; "
    "frame-ancestors 'self'; form-action 'self'; base-uri 'self'";

void SetCommonHeaders(HttpResponse& res, bool behindTls) {
  res.SetHeader("Cache-Control", "no-store");
  res.SetHeader("X-Content-Type-Options", "nosniff");
  res.SetHeader("Content-Security-Policy", kContentSecurityPolicy);
  res.SetHeader("Referrer-Policy", "same-origin");
  if (behindTls) res.SetHeader("Strict-Transport-Security", "max-age=31536000");
}


// A page that failed on its way: whatever it had set is replaced by the error paragraph, without
// the menu (the failure may be the menu's own).
void SendFailure(PageContext& page, std::string_view title, const std::string& text, int status) {
  page.Response().SetHeader("Location", "");
  page.OmitMenu();
  page.SendPage(title, "<p class=ErrorText>" + text + "</p>", status);
}

// The number only: the source chain and the statements stay in the event log.
void SendUnexpectedError(PageContext& page, int32_t number) {
  SendFailure(page, "Error", "An unexpected error has occurred. (Error number: " + std::to_string(number) + ")",
              500);
}

}  // namespace

Host::Host(SiteOptions options)
    : options_(std::move(options)), sessions_(std::chrono::minutes(options_.idleMinutes)),
      engine_(std::make_unique<Engine>([this](HttpRequest& req, HttpResponse& res) { Handle(req, res); })) {}

Host::~Host() = default;

int Host::Bind(std::string* error) {
  const int port = engine_->Bind(options_.address, options_.port, error);
  if (port >= 0) options_.port = port;
  return port;
}

void Host::Serve() {
  if (!engine_->Bound() && Bind() < 0) return;
  engine_->Serve();
}

void Host::Stop() { engine_->Stop(); }

std::string Host::ConnectionString() const {
  return "File name=" + (options_.folder / "DbConnection.udl").string();
}

// Strict: a link from another site carries no sign-in, so it can change nothing.
std::string Host::SignInCookie(const Session& s) const {
  return std::string(kCookieName) + "=" + s.id + "; Path=" + options_.root + "/; HttpOnly; SameSite=Strict" +
         (options_.behindTls ? "; Secure" : "");
}

std::string Host::SignOutCookie() const {
  return std::string(kCookieName) + "=; Path=" + options_.root + "/; Max-Age=0; HttpOnly; SameSite=Strict" +
         (options_.behindTls ? "; Secure" : "");
}

std::string Host::OwnOrigin(const HttpRequest& request) const {
  std::string host = request.Header("Host");
  if (host.empty()) host = options_.address + ":" + std::to_string(options_.port);
  return (options_.behindTls ? "https://" : "http://") + host;
}

void Host::Handle(HttpRequest& req, HttpResponse& res) {
  SetCommonHeaders(res, options_.behindTls);
  const bool get = req.method == "GET" || req.method == "HEAD";
  if (!get && req.method != "POST") {
    res.status = 405;
    res.SetHeader("Allow", "GET, HEAD, POST");
    res.SetHeader("Content-Type", "text/html; charset=utf-8");
    res.body = RefusalBody(405);
    return;
  }
  if (ServeOwnFile(options_, req, res)) return;
  const std::string& root = options_.root;
  std::string_view path = req.path;
  PageContext page(*this, req, res);
  // The way in: the server's own root and the site's root, with or without its slash, lead to the
  // sign-in page.
  if (path == "/" || path == root || path == root + "/" ||
      (!root.empty() && automation::EqualsNoCase(path, "/Default.asp"))) {
    page.Redirect(page.Url("/Default.asp"));
    return;
  }
  const PageSpec* spec =
      path.starts_with(root + "/") ? RouteTable::Instance().Find(path.substr(root.size())) : nullptr;
  if (spec == nullptr) {
    page.SendPage("Not found", "<p class=ErrorText>The page cannot be found.</p>", 404);
    return;
  }
  if (auto id = CookieValue(req.Header("Cookie"), kCookieName)) page.SetSignIn(sessions_.Find(*id));
  // A page asked for reads the site as it was at its first read, in one snapshot.
  std::optional<brisquel::SharedReadSnapshot> snapshot;
  if (get) snapshot.emplace();
  Dispatch(page, *spec);
}

void Host::Dispatch(PageContext& page, const PageSpec& spec) {
  const bool post = page.Request().method == "POST";
  const PageFn& fn = post ? spec.post : spec.get;
  if (!fn) {
    page.SendPage("Not allowed", "<p class=ErrorText>This page cannot be posted to.</p>", 405);
    return;
  }
  try {
    if (post && !CheckPost(page, spec.form)) return;
    if (!spec.isPublic && !page.SignIn()) {
      GetSignInFormWriter()(page, page.Request().target);
      return;
    }
    fn(page);
  } catch (const MalformedBody&) {
    SendFailure(page, "Malformed form", "The form that was sent cannot be read: its body is malformed.", 400);
  } catch (const automation::ComError& e) {
    SendUnexpectedError(page, e.number);
  } catch (const std::exception&) {
    SendUnexpectedError(page, automation::vberr::kFail);
  }
}

}  // namespace site
