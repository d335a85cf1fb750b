// vantrel-site: the web server and its pages. One Host serves one site folder; every request makes
// its own library objects (by ProgID, called by name) and nothing is kept between requests except
// the sign-ins. The host answers a request with the site's own files or a page of the route table;
// the HTTP engine (engine.h) brings it the requests.
#pragma once

#include <memory>
#include <string>

#include "site/command_line.h"
#include "site/page_context.h"
#include "site/request.h"
#include "site/sessions.h"
#include "site/throttle.h"

namespace site {

inline constexpr const char* kCookieName = "VantrelSignIn";

class Engine;

class Host {
 public:
  explicit Host(SiteOptions options);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Binds the address, alone: a port another process listens on is refused. The port taken (the
  // one asked for, or a free one for 0); -1 on failure, with the reason in `error`.
  int Bind(std::string* error = nullptr);
  // Serves until Stop; returns after the requests under way have ended.
  void Serve();
  void Stop();

  const SiteOptions& Options() const { return options_; }
  SessionStore& Sessions() { return sessions_; }
  SignInThrottle& Throttle() { return throttle_; }
  std::string ConnectionString() const;
  // The Set-Cookie value of a sign-in, and of its end.
  std::string SignInCookie(const Session& s) const;
  std::string SignOutCookie() const;
  // The origin a same-site request names ("http://host:port", https behind TLS).
  std::string OwnOrigin(const HttpRequest& request) const;

  // The whole answer to one request that has arrived (the engine calls it).
  void Handle(HttpRequest& request, HttpResponse& response);

 private:
  void Dispatch(PageContext& page, const struct PageSpec& spec);

  SiteOptions options_;
  SessionStore sessions_;
  SignInThrottle throttle_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace site
