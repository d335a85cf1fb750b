// An SMTP server for the tests: serves 127.0.0.1 on an ephemeral port from its own threads (one
// per connection), speaks EHLO/HELO, MAIL, RCPT, DATA, RSET, NOOP, VRFY, QUIT, STARTTLS (refused
// with 454: it has no TLS) and AUTH PLAIN/LOGIN, and records every message it accepts.
//
//   testsupport::SmtpServer server;                // or SmtpServer(options)
//   mailer.SetServerHost(server.Host()); mailer.SetServerPort(server.Port());
//   ... send ...
//   auto mails = server.Messages();                // envelope and raw data of each message
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct ReceivedMail {
  std::string from;                     // envelope sender, without the angle brackets
  std::vector<std::string> recipients;  // accepted envelope recipients, in order
  std::string data;  // as received: dot-unstuffing undone, line ends kept exactly as sent
  int session = 0;   // 1-based number of the connection that carried it
  std::string user;  // the authenticated user, or empty
};

class SmtpServer {
 public:
  struct Options {
    std::string user;      // non-empty: AUTH accepted with user and password
    std::string password;
    std::string mechanisms = "PLAIN LOGIN";  // as advertised and accepted
    bool advertiseAuth = true;   // list AUTH in the EHLO reply
    bool requireAuth = false;    // MAIL is answered 530 until the client authenticated
    bool offerStartTls = false;  // list STARTTLS (which is then answered 454)
    int greetingCode = 220;      // anything else: the server refuses the session
    bool silent = false;         // accept connections but never say a word (a hung server)
    // A free port from 20000 to 32767 instead of an ephemeral one (which is above 32767): what a
    // setting that holds a 16-bit port number, as the site's SMTP port does, can name.
    bool lowPort = false;
  };

  SmtpServer();
  explicit SmtpServer(Options options);
  ~SmtpServer();
  SmtpServer(const SmtpServer&) = delete;
  SmtpServer& operator=(const SmtpServer&) = delete;

  std::string Host() const { return "127.0.0.1"; }
  uint16_t Port() const { return port_; }

  // Replies to RCPT TO for this address (compared without regard to case).
  void RejectRecipient(const std::string& address, int code = 550,
                       const std::string& text = "5.1.1 Mailbox unavailable");
  void AcceptRecipient(const std::string& address);
  // The reply to the end of DATA (250 by default); a reply other than 2xx keeps nothing.
  void SetDataReply(int code, const std::string& text);

  std::vector<ReceivedMail> Messages() const;
  size_t MessageCount() const;
  int SessionCount() const;  // connections accepted so far
  // Every command line received, all sessions, in order of arrival (AUTH exchanges included).
  std::vector<std::string> Commands() const;
  // Waits until at least n messages are recorded; false on timeout.
  bool WaitForMessages(size_t n, int timeoutMs = 5000) const;

  // Closes every open client connection at once (as a server ending idle sessions would).
  void DropConnections();
  void Stop();  // also done by the destructor

 private:
  void AcceptLoop();
  void Serve(int fd, int session);

  Options options_;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  bool stopped_ = false;
  std::thread acceptThread_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::vector<std::thread> sessions_;
  std::set<int> openFds_;
  std::map<std::string, std::pair<int, std::string>> rejected_;  // lower-case address
  int dataCode_ = 250;
  std::string dataText_ = "2.0.0 Ok: queued";
  std::vector<ReceivedMail> messages_;
  std::vector<std::string> commands_;
  int sessionCount_ = 0;
};

}  // namespace testsupport
