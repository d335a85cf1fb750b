// What the sending tests share: the columns that point a site at the loopback SMTP server, a
// server that takes mail only after a login, and the search for a credential in a stored text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

#include "support/mime.h"
#include "support/smtp_server.h"

namespace loopbackmail {

// EMailConfiguration columns: the loopback server on `port`, sending as tracker@example.com.
inline std::string ServerColumns(int port) {
  return "SmtpHost = '127.0.0.1', SmtpPort = " + std::to_string(port) +
         ", SendTimeout = 5, FromEMailAddress = 'tracker@example.com'";
}
inline std::string LoginColumns(const std::string& user, const std::string& password) {
  return "SmtpUserId = '" + user + "', SmtpPassword = '" + password + "'";
}
inline testsupport::SmtpServer::Options RequiringLogin(const std::string& user, const std::string& password) {
  testsupport::SmtpServer::Options o;
  o.user = user, o.password = password, o.requireAuth = true;
  return o;
}

// The test's own encoder, so that a fault of the library's cannot hide a leak.
inline std::string Base64(const std::string& in) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t n = uint8_t(in[i]) << 16;
    if (i + 1 < in.size()) n |= uint8_t(in[i + 1]) << 8;
    if (i + 2 < in.size()) n |= uint8_t(in[i + 2]);
    for (size_t j = 0; j < 4; ++j) out += i + j <= in.size() ? k[(n >> (18 - 6 * j)) & 63] : '=';
  }
  return out;
}

// The first credential found in `text` ("" when there is none): the password, the base64 forms
// of the password, of a PLAIN login and of the user id, or a word whose decoding holds the password.
inline std::string Leak(const std::string& text, const std::string& user, const std::string& password) {
  for (const std::string& secret :
       {password, Base64(password), Base64(std::string(1, '\0') + user + '\0' + password), Base64(user)})
    if (text.find(secret) != std::string::npos) return secret;
  for (size_t at = 0, end; at <= text.size(); at = end + 1) {
    end = std::min(text.find(' ', at), text.size());
    try {
      if (testsupport::mime::DecodeBase64(text.substr(at, end - at)).find(password) != std::string::npos)
        return text.substr(at, end - at);
    } catch (const std::exception&) {
    }
  }
  return "";
}

}  // namespace loopbackmail
