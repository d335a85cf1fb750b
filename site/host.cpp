#include "site/host.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/routes.h"
#include "site/page_shell.h"
#include "site/sign_in.h"

namespace site {

using automation::Variant;

namespace {

constexpr const char* kRenamedContentType = "X-Vantrel-Content-Type";

MenuWriter& MenuWriterSlot() {
  static MenuWriter writer;
  return writer;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && automation::EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

void SetCommonHeaders(httplib::Response& res) {
  res.set_header("Cache-Control", "no-store");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Content-Security-Policy", "frame-ancestors 'self'");
}

// A file name of the control library: letters, digits, "-", "_" and "." only, never "..".
bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name.find("..") != std::string_view::npos) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A strong validator of a file's bytes: "\"" + 64-bit FNV-1a in hex + size + "\"".
std::string ContentTag(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char buf[48];
  std::snprintf(buf, sizeof buf, "\"%016llx-%zx\"", static_cast<unsigned long long>(h), bytes.size());
  return buf;
}

// cpp-httplib reads multipart bodies into its own parts and hands a handler no raw body; the
// pages give the raw bytes to MultipartFormData, so the type is renamed before the body is read.
httplib::Server::HandlerResponse KeepMultipartRaw(const httplib::Request& req, httplib::Response&) {
  auto& r = const_cast<httplib::Request&>(req);
  auto it = r.headers.find("Content-Type");
  if (it != r.headers.end() && StartsWithNoCase(it->second, "multipart/form-data")) {
    std::string type = it->second;
    r.headers.erase(it);
    r.headers.emplace(kRenamedContentType, type);
    r.headers.emplace("Content-Type", "application/octet-stream");
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

// The number only: the source chain and the statements stay in the event log.
void SendUnexpectedError(PageContext& page, int32_t number) {
  page.Response().headers.erase("Location");
  // The failure may be the menu's own.
  page.OmitMenu();
  page.SendPage("Error",
                "<p class=ErrorText>An unexpected error has occurred. (Error number: " + std::to_string(number) +
                    ")</p>",
                500);
}

}  // namespace

void SetMenuWriter(MenuWriter writer) { MenuWriterSlot() = std::move(writer); }
const MenuWriter& GetMenuWriter() { return MenuWriterSlot(); }

// ---- PageContext

PageContext::PageContext(Host& host, const httplib::Request& request, httplib::Response& response)
    : host_(host), request_(request), response_(response) {}

std::string PageContext::Query(std::string_view name) const {
  if (!query_) query_ = ParseUrlEncoded(QueryOf(request_.target));
  return FirstValue(*query_, name).value_or("");
}

bool PageContext::IsMultipart() const { return request_.has_header(kRenamedContentType); }

std::shared_ptr<automation::Object> PageContext::FormData() {
  if (!IsMultipart()) return nullptr;
  if (!formRead_) {
    formRead_ = true;
    formData_ = Create("Brisquel.MultipartFormData");
    std::vector<uint8_t> bytes(request_.body.begin(), request_.body.end());
    formData_->Put("BinaryData", Variant::Bytes(std::move(bytes)));
  }
  return formData_;
}

std::string PageContext::Form(std::string_view name) {
  if (IsMultipart()) {
    Variant v = FormData()->Get("Fields").ToObject()->Get("Item", {Variant(std::string(name))});
    if (v.IsArray()) return v.ToArray().empty() ? std::string() : v.ToArray().front().ToText();
    return v.IsEmpty() ? std::string() : v.ToText();
  }
  if (!urlForm_) {
    const bool urlEncoded =
        StartsWithNoCase(request_.get_header_value("Content-Type"), "application/x-www-form-urlencoded");
    urlForm_ = urlEncoded ? ParseUrlEncoded(request_.body) : NameValues{};
  }
  return FirstValue(*urlForm_, name).value_or("");
}

std::shared_ptr<automation::Object> PageContext::Create(std::string_view progId) {
  return automation::CreateObject(progId);
}

std::shared_ptr<automation::Object> PageContext::Database() {
  if (!database_) {
    database_ = Create("Brisquel.Database");
    database_->Put("ConnectionString", Variant(host_.ConnectionString()));
  }
  return database_;
}

std::string PageContext::Url(std::string_view path) const { return host_.Options().root + std::string(path); }

std::string PageContext::TokenField() const {
  if (!session_) return {};
  return "<input type=hidden name=_token value=\"" + brisquel::encode::HtmlAttribute(session_->token) + "\">";
}

void PageContext::SendPage(std::string_view title, std::string_view body, int status) {
  response_.status = status;
  response_.set_content(PageShell(*this, title, body), "text/html; charset=utf-8");
}

bool PageContext::IsPost() const { return request_.method == "POST"; }
std::string PageContext::Target() const { return request_.target; }
std::string PageContext::Path() const { return request_.path; }
std::string PageContext::Header(std::string_view name) const { return request_.get_header_value(std::string(name)); }

std::string PageContext::ClientAddress() const { return request_.remote_addr; }

void PageContext::SendText(std::string_view contentType, std::string body, int status) {
  response_.status = status;
  response_.set_content(std::move(body), std::string(contentType));
}

void PageContext::SetStatus(int status) { response_.status = status; }

void PageContext::SetHeader(std::string_view name, std::string_view value) {
  response_.set_header(std::string(name), std::string(value));
}

void PageContext::SendStream(std::string_view contentType, uint64_t length, ChunkReader read) {
  response_.status = 200;
  response_.set_content_provider(static_cast<size_t>(length), std::string(contentType),
                                 [read = std::move(read)](size_t offset, size_t wanted, httplib::DataSink& sink) {
                                   char buffer[64 * 1024];
                                   const size_t n = read(offset, buffer, std::min(wanted, sizeof buffer));
                                   if (n == 0) return false;
                                   sink.write(buffer, n);
                                   return true;
                                 });
}

void PageContext::Redirect(std::string_view location) {
  response_.status = request_.method == "POST" ? 303 : 302;
  response_.set_header("Location", std::string(location));
}

// ---- the forgery check

bool CheckPost(PageContext& page) {
  const httplib::Request& req = page.Request();
  if (req.has_header("Origin") && req.get_header_value("Origin") != page.SiteHost().OwnOrigin(req)) {
    page.SendPage("Refused", "<p class=ErrorText>This form was sent from another site and has been refused.</p>", 403);
    return false;
  }
  // A control's post carries no form field of its own: its page puts the token in the query.
  std::string token = page.Form("_token");
  if (token.empty()) token = page.Query("_token");
  if (page.SignIn() && !EqualInConstantTime(token, page.SignIn()->token)) {
    page.SendPage("Form expired", "<p class=ErrorText>This form has expired. Reload the page and try again.</p>",
                  403);
    return false;
  }
  return true;
}

// ---- Host

Host::Host(SiteOptions options)
    : options_(std::move(options)), sessions_(std::chrono::minutes(options_.idleMinutes)) {
  // Browsers keep connections open; enough workers that idle keep-alive connections never hold
  // up a request.
  server_.new_task_queue = [] { return new httplib::ThreadPool(32); };
  server_.set_keep_alive_timeout(2);
  // Headers and body go out in separate writes: without this, delayed acknowledgements hold each
  // answer up by tens of milliseconds.
  server_.set_tcp_nodelay(true);
  server_.set_payload_max_length(kMaxBody);
  server_.set_pre_routing_handler(KeepMultipartRaw);
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); };
  server_.Get(".*", handler);
  server_.Post(".*", handler);
}

Host::~Host() = default;

int Host::Bind() {
  const int port = options_.port == 0 ? server_.bind_to_any_port(options_.address)
                                      : (server_.bind_to_port(options_.address, options_.port) ? options_.port : -1);
  if (port > 0) options_.port = port;
  return port;
}

void Host::Serve() { server_.listen_after_bind(); }
void Host::Stop() { server_.stop(); }

std::string Host::ConnectionString() const {
  return "File name=" + (options_.folder / "DbConnection.udl").string();
}

std::string Host::SignInCookie(const Session& s) const {
  return std::string(kCookieName) + "=" + s.id + "; Path=" + options_.root + "/; HttpOnly; SameSite=Lax" +
         (options_.behindTls ? "; Secure" : "");
}

std::string Host::SignOutCookie() const {
  return std::string(kCookieName) + "=; Path=" + options_.root + "/; Max-Age=0; HttpOnly; SameSite=Lax" +
         (options_.behindTls ? "; Secure" : "");
}

std::string Host::OwnOrigin(const httplib::Request& request) const {
  std::string host = request.get_header_value("Host");
  if (host.empty()) host = options_.address + ":" + std::to_string(options_.port);
  return (options_.behindTls ? "https://" : "http://") + host;
}

void Host::Handle(const httplib::Request& req, httplib::Response& res) {
  SetCommonHeaders(res);
  const std::string& root = options_.root;
  std::string_view path = req.path;
  // The site's own files: stylesheet, script, images (also at /images/ for "../images/" links).
  for (std::string_view prefix : {std::string_view(root), std::string_view("")}) {
    if (!path.starts_with(prefix) || path.size() <= prefix.size() || path[prefix.size()] != '/') continue;
    std::string_view name = path.substr(prefix.size() + 1);
    if (!prefix.empty() || name.starts_with("images/")) {
      if (const StaticFile* f = FindStaticFile(name); f && req.method != "POST") {
        res.set_content(std::string(f->bytes), std::string(ContentTypeOf(name)));
        return;
      }
    }
  }
  const std::string controls = root + "/controls/";
  if (path.starts_with(controls) && !options_.controls.empty() && req.method != "POST") {
    std::string_view name = path.substr(controls.size());
    if (auto bytes = IsPlainFileName(name) ? ReadWholeFile(options_.controls / name) : std::nullopt) {
      // Checked at every use (a rebuilt module is taken at once), answered 304 while unchanged.
      const std::string tag = ContentTag(*bytes);
      res.headers.erase("Cache-Control");
      res.set_header("Cache-Control", "no-cache");
      res.set_header("ETag", tag);
      if (req.get_header_value("If-None-Match") == tag) {
        res.status = 304;
        return;
      }
      res.set_content(std::move(*bytes), std::string(ContentTypeOf(name)));
      return;
    }
  }
  PageContext page(*this, req, res);
  // The way in: the server's own root and a root without its slash lead to the sign-in page.
  if (path == "/" || path == root || (!root.empty() && automation::EqualsNoCase(path, "/Default.asp"))) {
    page.Redirect(page.Url("/Default.asp"));
    return;
  }
  const PageSpec* spec =
      path.starts_with(root + "/") ? RouteTable::Instance().Find(path.substr(root.size())) : nullptr;
  if (spec == nullptr) {
    page.SendPage("Not found", "<p class=ErrorText>The page cannot be found.</p>", 404);
    return;
  }
  if (auto id = CookieValue(req.get_header_value("Cookie"), kCookieName)) page.SetSignIn(sessions_.Find(*id));
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
    if (post && !CheckPost(page)) return;
    if (!spec.isPublic && !page.SignIn()) {
      SendSignInForm(page, page.Request().target, "");
      return;
    }
    fn(page);
  } catch (const automation::ComError& e) {
    SendUnexpectedError(page, e.number);
  } catch (const std::exception&) {
    SendUnexpectedError(page, automation::vberr::kFail);
  }
}

// ---- the command line

std::optional<SiteOptions> ParseArguments(int argc, char** argv, std::string& error) {
  SiteOptions o;
#ifdef VANTREL_DEFAULT_CONTROLS
  o.controls = VANTREL_DEFAULT_CONTROLS;
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  auto value = [&](size_t& i) -> std::optional<std::string> {
    if (i + 1 >= args.size()) return std::nullopt;
    return args[++i];
  };
  auto number = [](const std::string& s, int& out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::optional<std::string> v;
    if (a == "--behind-tls") {
      o.behindTls = true;
    } else if (a == "--listen" && (v = value(i))) {
      const size_t colon = v->rfind(':');
      if (colon == std::string::npos || !number(v->substr(colon + 1), o.port) || o.port < 0 || o.port > 65535) {
        error = "--listen takes ADDRESS:PORT";
        return std::nullopt;
      }
      o.address = v->substr(0, colon);
    } else if (a == "--root" && (v = value(i))) {
      if (!v->starts_with("/")) {
        error = "--root takes a path that starts with /";
        return std::nullopt;
      }
      while (v->ends_with("/")) v->pop_back();
      o.root = *v;
    } else if (a == "--idle-minutes" && (v = value(i))) {
      if (!number(*v, o.idleMinutes) || o.idleMinutes < 1) {
        error = "--idle-minutes takes a whole number of minutes";
        return std::nullopt;
      }
    } else if (a == "--controls" && (v = value(i))) {
      o.controls = *v;
    } else if (!a.starts_with("--") && o.folder.empty()) {
      o.folder = a;
    } else {
      error = "unknown or incomplete argument " + a;
      return std::nullopt;
    }
  }
  if (o.folder.empty()) {
    error = "the site folder is missing";
    return std::nullopt;
  }
  return o;
}

}  // namespace site
