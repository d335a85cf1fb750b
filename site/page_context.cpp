#include "site/page_context.h"

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/page_shell.h"

namespace site {

using automation::Variant;

namespace {

MenuWriter& MenuWriterSlot() {
  static MenuWriter writer;
  return writer;
}

SignInFormWriter& SignInFormSlot() {
  static SignInFormWriter writer;
  return writer;
}

}  // namespace

void SetMenuWriter(MenuWriter writer) { MenuWriterSlot() = std::move(writer); }
const MenuWriter& GetMenuWriter() { return MenuWriterSlot(); }
void SetSignInFormWriter(SignInFormWriter writer) { SignInFormSlot() = std::move(writer); }
const SignInFormWriter& GetSignInFormWriter() { return SignInFormSlot(); }

// ---- PageContext

PageContext::PageContext(Host& host, HttpRequest& request, HttpResponse& response)
    : host_(host), request_(request), response_(response) {}

std::string PageContext::Query(std::string_view name) const {
  if (!query_) query_ = ParseUrlEncoded(QueryOf(request_.target));
  return FirstValue(*query_, name).value_or("");
}

bool PageContext::IsMultipart() const { return IsForm(FormType::Multipart); }

bool PageContext::IsForm(FormType type) const { return IsFormType(request_.Header("Content-Type"), type); }

std::shared_ptr<automation::Object> PageContext::FormData() {
  if (!IsMultipart()) return nullptr;
  if (!formRead_) {
    formRead_ = true;
    formData_ = Create("Brisquel.MultipartFormData");
    // The body's one buffer is handed over, not copied: the decoder reads it where it is.
    try {
      formData_->Put("BinaryData", Variant::Bytes(std::move(request_.body)));
    } catch (const automation::ComError&) {
      formData_.reset();
      throw MalformedBody{};
    }
  }
  if (!formData_) throw MalformedBody{};
  return formData_;
}

std::string PageContext::Form(std::string_view name) {
  std::vector<std::string> values = FormValues(name);
  return values.empty() ? std::string() : std::move(values.front());
}

std::vector<std::string> PageContext::FormValues(std::string_view name) {
  std::vector<std::string> out;
  if (IsMultipart()) {
    const Variant v = FormData()->Get("Fields").ToObject()->Get("Item", {Variant(std::string(name))});
    if (v.IsArray()) {
      for (const Variant& e : v.ToArray()) out.push_back(e.ToText());
    } else if (!v.IsEmpty()) {
      out.push_back(v.ToText());
    }
    return out;
  }
  if (!urlForm_) {
    urlForm_ = IsForm(FormType::UrlEncoded) ? ParseUrlEncoded(request_.BodyText()) : NameValues{};
  }
  for (const auto& [n, v] : *urlForm_)
    if (automation::EqualsNoCase(n, name)) out.push_back(v);
  return out;
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
  SendText("text/html; charset=utf-8", PageShell(*this, title, body), status);
}

bool PageContext::IsPost() const { return request_.method == "POST"; }
std::string PageContext::Target() const { return request_.target; }
std::string PageContext::Path() const { return request_.path; }
std::string PageContext::Header(std::string_view name) const { return request_.Header(name); }
std::string PageContext::ClientAddress() const { return request_.clientAddress; }

void PageContext::SendText(std::string_view contentType, std::string body, int status) {
  response_.status = heldStatus_.value_or(status);
  response_.SetHeader("Content-Type", contentType);
  response_.body = std::move(body);
  response_.stream = nullptr;
}

void PageContext::SetStatus(int status) { response_.status = status; }

void PageContext::SetHeader(std::string_view name, std::string_view value) {
  // Each sign-in cookie change is its own header line.
  if (automation::EqualsNoCase(name, "Set-Cookie"))
    response_.AddHeader(name, value);
  else
    response_.SetHeader(name, value);
}

void PageContext::SendStream(std::string_view contentType, uint64_t length, ChunkReader read) {
  response_.status = 200;
  response_.SetHeader("Content-Type", contentType);
  response_.body.clear();
  response_.streamLength = length;
  response_.stream = std::move(read);
}

void PageContext::Redirect(std::string_view location) {
  response_.status = request_.method == "POST" ? 303 : 302;
  response_.SetHeader("Location", location);
}

// ---- the forgery check

bool CheckPost(PageContext& page, FormType form) {
  const HttpRequest& req = page.Request();
  // Browsers name the page's origin on every form post; a post without it is not of our pages.
  if (!req.HasHeader("Origin") || req.Header("Origin") != page.SiteHost().OwnOrigin(req)) {
    page.SendPage("Refused", "<p class=ErrorText>This form was sent from another site and has been refused.</p>", 403);
    return false;
  }
  // Before any field is read: a body of another kind would read as a form without fields.
  if (!page.IsForm(form)) {
    page.SendPage("Form", "<p class=ErrorText>The form was not sent as a form.</p>", 400);
    return false;
  }
  // The workflow editor's upload carries no form field of its own: its page puts the token in
  // the query. Every other post carries it in its form.
  std::string token = page.Form("_token");
  if (token.empty() && automation::EqualsNoCase(req.path, page.Url("/Setup/WorkflowSave.asp")))
    token = page.Query("_token");
  if (page.SignIn() && !EqualInConstantTime(token, page.SignIn()->token)) {
    page.SendPage("Form expired", "<p class=ErrorText>This form has expired. Reload the page and try again.</p>",
                  403);
    return false;
  }
  return true;
}

}  // namespace site
