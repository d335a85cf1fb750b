// What a page function works with (PageContext), the forgery check of its posts, and the writers
// that pages set once for the host: the menu of every page and the sign-in form.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "site/request.h"
#include "site/sessions.h"

namespace site {

class Host;

// What a page function works with: its request, its response, the sign-in, and the helpers that
// every page uses the same way.
class PageContext {
 public:
  PageContext(Host& host, HttpRequest& request, HttpResponse& response);

  // Pages read the request and write the answer through the members below.
  const HttpRequest& Request() const { return request_; }   // the host's own use
  HttpResponse& Response() { return response_; }             // the host's own use
  Host& SiteHost() { return host_; }

  bool IsPost() const;
  // The path and query as the request line names them, the path alone, and a request header ("" when absent).
  std::string Target() const;
  std::string Path() const;
  std::string Header(std::string_view name) const;
  // The address of the client's end of the connection ("127.0.0.1", "::1").
  std::string ClientAddress() const;

  // The signed-in user; "" on a public page without a sign-in.
  const std::string& UserId() const { return session_ ? session_->userId : empty_; }
  const std::optional<Session>& SignIn() const { return session_; }
  void SetSignIn(std::optional<Session> s) { session_ = std::move(s); }

  // A query parameter ("" when absent).
  std::string Query(std::string_view name) const;
  // A posted field of a url-encoded or multipart body ("" when absent), and every value of it in
  // the order posted.
  std::string Form(std::string_view name);
  std::vector<std::string> FormValues(std::string_view name);
  // The posted multipart body as Brisquel.MultipartFormData (Nothing for other bodies).
  std::shared_ptr<automation::Object> FormData();
  bool IsMultipart() const;
  // Whether the request's body is of the type the page reads (its Content-Type).
  bool IsForm(FormType type) const;

  // A library object by ProgID, and Brisquel.Database connected to the site: one per request, made
  // at its first use (a connection's first statement reads the whole schema), shared by the page
  // and its menu.
  std::shared_ptr<automation::Object> Create(std::string_view progId);
  std::shared_ptr<automation::Object> Database();

  // A path of the site: the root before it ("/Default.asp" gives "/APP/Default.asp").
  std::string Url(std::string_view path) const;
  // The hidden "_token" field every form of a signed-in page carries.
  std::string TokenField() const;

  // The page in the shell (title HTML-encoded here; body as given).
  void SendPage(std::string_view title, std::string_view body, int status = 200);
  // Pages for printing, and the error page of a failed menu, go out without the menu.
  void OmitMenu() { withMenu_ = false; }
  bool WithMenu() const { return withMenu_ && session_.has_value(); }
  // The project the page shows (an issue's project): the menu's project links name it.
  void SetProjectId(int32_t id) { projectId_ = id; }
  std::optional<int32_t> ProjectId() const { return projectId_; }
  void Redirect(std::string_view location);
  // An answer that is not a page: its status, type and bytes.
  void SendText(std::string_view contentType, std::string body, int status = 200);
  void SetStatus(int status);
  // The status of the page sent next, whatever status it is sent with: a refusal found before the
  // page that shows it is made (a writer refused the row image it was handed).
  void HoldStatus(int status) { heldStatus_ = status; }
  void SetHeader(std::string_view name, std::string_view value);
  void SendStream(std::string_view contentType, uint64_t length, ChunkReader read);

 private:
  Host& host_;
  HttpRequest& request_;
  HttpResponse& response_;
  std::optional<Session> session_;
  mutable std::optional<NameValues> query_;
  std::optional<NameValues> urlForm_;
  std::shared_ptr<automation::Object> formData_;
  std::shared_ptr<automation::Object> database_;
  bool formRead_ = false;
  bool withMenu_ = true;
  std::optional<int32_t> projectId_;
  std::optional<int> heldStatus_;
  std::string empty_;
};

// Writes the menu of a page (the left menu and top bar); set once by the menu's file.
using MenuWriter = std::function<std::string(PageContext&)>;
void SetMenuWriter(MenuWriter writer);
const MenuWriter& GetMenuWriter();

// Answers a page asked for without a sign-in: the sign-in form, which goes back to `returnTo`
// after it. Set once by the sign-in page's file.
using SignInFormWriter = std::function<void(PageContext&, std::string_view returnTo)>;
void SetSignInFormWriter(SignInFormWriter writer);
const SignInFormWriter& GetSignInFormWriter();

// A body the form decoder could not read (thrown by Form, FormValues and FormData): the request
// is at fault, not the site.
struct MalformedBody {};

// The check of every POST before its page runs: a foreign or missing Origin answers 403; a body
// that is not the form the page reads (`form`) answers 400 with a sentence; a signed-in post
// without its sign-in's "_token" answers 403. True when the post may go on.
bool CheckPost(PageContext& page, FormType form);

}  // namespace site
