// Talking to a test's vantrel-site over HTTP as the pages' forms do.
#pragma once
#include <httplib.h>

#include <string>

#include "support/site_server.h"

namespace testsupport {

// Signs in through the sign-in form (with the site's own Origin); the Cookie header value
// ("VantrelSignIn=..."), or "" when the sign-in was refused.
inline std::string SignInOverHttp(httplib::Client& client, const SiteServer& site, const std::string& user,
                                  const std::string& password) {
  auto r = client.Post("/APP/Default.asp", {{"Origin", site.Origin()}}, "UserId=" + user + "&Password=" + password,
                       "application/x-www-form-urlencoded");
  if (!r || r->status != 303) return {};
  const std::string header = r->get_header_value("Set-Cookie");
  return header.substr(0, header.find(';'));
}

}  // namespace testsupport
