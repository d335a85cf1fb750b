// The SMTP client as every sender of this library sets it up: a new client with the host, port,
// time-out and (when asked) the login, STARTTLS when offered, and the protocol dialogue collected
// from its Debug event into the debug log, each line ending in CRLF. Secrets never reach a text it
// hands out: AUTH lines are redacted as they arrive and the password is scrubbed from every
// failure text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace smtp {
class SmtpMailer;
}

namespace brisquel {

struct SmtpSettings {
  std::string host;
  int32_t port = 25;
  int16_t timeout = 30;
  bool login = false;  // log in with user and password while connecting
  std::string user;
  std::string password;
};

// The text without its final CRLF, when it ends in one.
std::string WithoutFinalCrLf(const std::string& s);

class SmtpSession {
 public:
  explicit SmtpSession(const SmtpSettings& settings);
  ~SmtpSession();  // disconnects; errors of the disconnect are ignored
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  // Connects: "" when connected, else the error text "Error: n (d)". Never raises.
  std::string Connect();
  smtp::SmtpMailer& Client() { return *client_; }

  const std::string& DebugLog() const { return log_; }
  void ClearLog() { log_.clear(); }
  // "Error: n (d)" of the client's last failure.
  std::string ClientError() const;
  // An error text with, when the debug log holds two characters or more, CRLF "Log details
  // follow:" CRLF and the log without its final CRLF; scrubbed.
  std::string WithLog(const std::string& error) const;
  // The text with the password masked wherever it stands.
  std::string Scrub(std::string text) const;

 private:
  void OnDebug(const std::string& line);

  std::shared_ptr<smtp::SmtpMailer> client_;
  std::string password_;
  std::string log_;
};

}  // namespace brisquel
