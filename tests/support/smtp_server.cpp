#include "support/smtp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

#include "support/mime.h"

namespace testsupport {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Base64(const std::string& in) {
  static constexpr char k[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t n = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) n |= static_cast<uint8_t>(in[i + 1]) << 8;
    if (i + 2 < in.size()) n |= static_cast<uint8_t>(in[i + 2]);
    out += k[(n >> 18) & 63];
    out += k[(n >> 12) & 63];
    out += i + 1 < in.size() ? k[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? k[n & 63] : '=';
  }
  return out;
}

// The address inside "<...>" after a "FROM:" or "TO:" prefix; false when malformed.
bool PathArgument(const std::string& line, size_t prefixLen, std::string& address) {
  std::string rest = line.substr(prefixLen);
  size_t b = rest.find_first_not_of(' ');
  if (b == std::string::npos || rest[b] != '<') return false;
  size_t e = rest.find('>', b);
  if (e == std::string::npos) return false;
  address = rest.substr(b + 1, e - b - 1);
  return true;
}

// One client connection: buffered line reading that gives up when the server stops.
class Conn {
 public:
  Conn(int fd, int wake) : fd_(fd), wake_(wake) {}

  // A line with its terminator as received; false when the peer left or the server stops.
  bool ReadRaw(std::string& line) {
    for (;;) {
      size_t nl = buf_.find('\n');
      if (nl != std::string::npos) {
        line = buf_.substr(0, nl + 1);
        buf_.erase(0, nl + 1);
        return true;
      }
      pollfd p[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (p[1].revents) return false;
      char chunk[4096];
      ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buf_.append(chunk, static_cast<size_t>(n));
    }
  }

  bool ReadLine(std::string& line) {
    if (!ReadRaw(line)) return false;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return true;
  }

  void Reply(int code, const std::string& text) { Send(std::to_string(code) + " " + text + "\r\n"); }

  void Send(const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
      ssize_t n = send(fd_, s.data() + off, s.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return;
      off += static_cast<size_t>(n);
    }
  }

 private:
  int fd_;
  int wake_;
  std::string buf_;
};

}  // namespace

SmtpServer::SmtpServer() : SmtpServer(Options{}) {}

SmtpServer::SmtpServer(Options options) : options_(std::move(options)) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket failed");
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bool bound = false;
  if (options_.lowPort) {
    // Tried from a point of this process's own, so programs run side by side rarely meet.
    const int first = 20000 + static_cast<int>(getpid() % 12768);
    for (int i = 0; i < 12768 && !bound; ++i) {
      addr.sin_port = htons(static_cast<uint16_t>(20000 + (first - 20000 + i) % 12768));
      bound = bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
  } else {
    bound = bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  if (!bound || listen(listenFd_, 16) != 0) throw std::runtime_error("bind/listen failed");
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

SmtpServer::~SmtpServer() { Stop(); }

void SmtpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopped_) return;
    stopped_ = true;
  }
  char c = 'x';
  (void)!write(wakeWrite_, &c, 1);  // never read: every poll sees it from now on
  acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mu_);
    threads.swap(sessions_);
  }
  for (auto& t : threads) t.join();
  close(listenFd_);
  close(wakeRead_);
  close(wakeWrite_);
}

void SmtpServer::AcceptLoop() {
  for (;;) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mu_);
    int session = ++sessionCount_;
    openFds_.insert(fd);
    sessions_.emplace_back([this, fd, session] { Serve(fd, session); });
    changed_.notify_all();
  }
}

void SmtpServer::Serve(int fd, int session) {
  Conn conn(fd, wakeRead_);
  auto log = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    commands_.push_back(line);
  };
  std::string line;
  if (options_.silent) {
    while (conn.ReadLine(line)) log(line);
    std::lock_guard<std::mutex> lock(mu_);
    openFds_.erase(fd);
    close(fd);
    return;
  }
  bool refused = options_.greetingCode != 220;
  conn.Reply(options_.greetingCode, refused ? "5.3.2 Service not available" : "vantrel-test ESMTP ready");

  bool greeted = false;
  std::string user;  // authenticated
  bool inMail = false;
  std::string from;
  std::vector<std::string> rcpts;
  auto reset = [&] {
    inMail = false;
    from.clear();
    rcpts.clear();
  };
  bool authAvailable = !options_.user.empty();
  std::string mechs = Upper(options_.mechanisms);
  auto offers = [&](const std::string& m) { return (" " + mechs + " ").find(" " + m + " ") != std::string::npos; };

  while (conn.ReadLine(line)) {
    log(line);
    std::string upper = Upper(line);
    std::string verb = upper.substr(0, upper.find(' '));
    if (verb == "QUIT") {
      conn.Reply(221, "2.0.0 Bye");
      break;
    }
    if (refused) {
      conn.Reply(503, "5.5.1 Bad sequence of commands");
      continue;
    }
    if (verb == "EHLO") {
      greeted = true;
      reset();
      std::vector<std::string> ext = {"vantrel-test greets " + line.substr(std::min(line.size(), size_t{5})),
                                      "8BITMIME", "SIZE 10485760"};
      if (options_.offerStartTls) ext.push_back("STARTTLS");
      if (authAvailable && options_.advertiseAuth) ext.push_back("AUTH " + mechs);
      for (size_t i = 0; i < ext.size(); ++i) {
        conn.Send("250" + std::string(i + 1 < ext.size() ? "-" : " ") + ext[i] + "\r\n");
      }
    } else if (verb == "HELO") {
      greeted = true;
      reset();
      conn.Reply(250, "vantrel-test");
    } else if (verb == "NOOP") {
      conn.Reply(250, "2.0.0 Ok");
    } else if (verb == "RSET") {
      reset();
      conn.Reply(250, "2.0.0 Ok");
    } else if (verb == "VRFY") {
      conn.Reply(252, "2.0.0 Cannot verify");
    } else if (verb == "STARTTLS") {
      conn.Reply(options_.offerStartTls ? 454 : 502, "4.7.0 TLS not available");
    } else if (verb == "AUTH") {
      std::vector<std::string> words;
      for (size_t p = 0; p < line.size();) {
        size_t q = line.find(' ', p);
        if (q == std::string::npos) q = line.size();
        if (q > p) words.push_back(line.substr(p, q - p));
        p = q + 1;
      }
      std::string mech = words.size() > 1 ? Upper(words[1]) : "";
      if (!authAvailable || !offers(mech)) {
        conn.Reply(504, "5.5.4 Unrecognized authentication type");
        continue;
      }
      if (!user.empty()) {
        conn.Reply(503, "5.5.1 Already authenticated");
        continue;
      }
      // Each step's client response: the initial one if given, else after a 334 challenge.
      auto response = [&](const std::string& challenge, size_t index, std::string& out) {
        if (words.size() > index) {
          out = words[index];
          return true;
        }
        conn.Send("334 " + challenge + "\r\n");
        if (!conn.ReadLine(out)) return false;
        log(out);
        return true;
      };
      std::string givenUser, givenPassword, r;
      bool ok = true;
      if (mech == "PLAIN") {
        ok = response("", 2, r);
        std::string plain;
        try {
          plain = mime::DecodeBase64(r);
        } catch (const std::exception&) {
          ok = false;
        }
        size_t a = plain.find('\0');
        size_t b = a == std::string::npos ? a : plain.find('\0', a + 1);
        if (b == std::string::npos) {
          ok = false;
        } else {
          givenUser = plain.substr(a + 1, b - a - 1);
          givenPassword = plain.substr(b + 1);
        }
      } else {  // LOGIN
        try {
          ok = response(Base64("Username:"), 2, r);
          givenUser = mime::DecodeBase64(r);
          ok = ok && response(Base64("Password:"), 99, r);
          givenPassword = mime::DecodeBase64(r);
        } catch (const std::exception&) {
          ok = false;
        }
      }
      if (r == "*") {
        conn.Reply(501, "5.7.0 Authentication cancelled");
      } else if (ok && givenUser == options_.user && givenPassword == options_.password) {
        user = givenUser;
        conn.Reply(235, "2.7.0 Authentication successful");
      } else {
        conn.Reply(535, "5.7.8 Authentication credentials invalid");
      }
    } else if (verb == "MAIL") {
      std::string address;
      if (!greeted) {
        conn.Reply(503, "5.5.1 Send EHLO first");
      } else if (options_.requireAuth && user.empty()) {
        conn.Reply(530, "5.7.0 Authentication required");
      } else if (inMail) {
        conn.Reply(503, "5.5.1 Nested MAIL command");
      } else if (upper.rfind("MAIL FROM:", 0) != 0 || !PathArgument(line, 10, address)) {
        conn.Reply(501, "5.5.4 Syntax: MAIL FROM:<address>");
      } else {
        inMail = true;
        from = address;
        conn.Reply(250, "2.1.0 Ok");
      }
    } else if (verb == "RCPT") {
      std::string address;
      if (!inMail) {
        conn.Reply(503, "5.5.1 Need MAIL before RCPT");
      } else if (upper.rfind("RCPT TO:", 0) != 0 || !PathArgument(line, 8, address)) {
        conn.Reply(501, "5.5.4 Syntax: RCPT TO:<address>");
      } else {
        std::unique_lock<std::mutex> lock(mu_);
        auto it = rejected_.find(Lower(address));
        if (it != rejected_.end()) {
          auto [code, text] = it->second;
          lock.unlock();
          conn.Reply(code, text);
        } else {
          lock.unlock();
          rcpts.push_back(address);
          conn.Reply(250, "2.1.5 Ok");
        }
      }
    } else if (verb == "DATA") {
      if (!inMail || rcpts.empty()) {
        conn.Reply(inMail ? 554 : 503, inMail ? "5.5.1 No valid recipients" : "5.5.1 Need RCPT first");
        continue;
      }
      conn.Reply(354, "End data with <CR><LF>.<CR><LF>");
      std::string data, raw;
      bool complete = false;
      while (conn.ReadRaw(raw)) {
        if (raw == ".\r\n" || raw == ".\n") {
          complete = true;
          break;
        }
        if (raw[0] == '.') raw.erase(0, 1);
        data += raw;
      }
      if (!complete) break;  // the client went away inside DATA: nothing is kept
      int code;
      std::string text;
      {
        std::lock_guard<std::mutex> lock(mu_);
        code = dataCode_;
        text = dataText_;
        if (code / 100 == 2) {
          messages_.push_back({from, rcpts, data, session, user});
          changed_.notify_all();
        }
      }
      reset();
      conn.Reply(code, text);
    } else {
      conn.Reply(500, "5.5.2 Command not recognized");
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  openFds_.erase(fd);
  close(fd);
}

void SmtpServer::RejectRecipient(const std::string& address, int code, const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  rejected_[Lower(address)] = {code, text};
}

void SmtpServer::AcceptRecipient(const std::string& address) {
  std::lock_guard<std::mutex> lock(mu_);
  rejected_.erase(Lower(address));
}

void SmtpServer::SetDataReply(int code, const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  dataCode_ = code;
  dataText_ = text;
}

std::vector<ReceivedMail> SmtpServer::Messages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return messages_;
}

size_t SmtpServer::MessageCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return messages_.size();
}

int SmtpServer::SessionCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sessionCount_;
}

std::vector<std::string> SmtpServer::Commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

bool SmtpServer::WaitForMessages(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= n; });
}

void SmtpServer::DropConnections() {
  std::lock_guard<std::mutex> lock(mu_);
  for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
}

}  // namespace testsupport
