// The site's HTTP engine against slow, large and hostile clients, on a real vantrel-site process.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <regex>
#include <thread>

#include "site/engine.h"
#include "support/site_server.h"

namespace {

using testsupport::SiteServer;

// Memory figures hold for the plain build; AddressSanitizer's shadow and quarantine are extra.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kPlainMemory = false;
#else
constexpr bool kPlainMemory = true;
#endif

// A kilobyte figure of /proc/PID/status ("VmRSS", "VmHWM").
long MemoryKb(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(name + ":")) return std::stol(line.substr(name.size() + 1));
  return -1;
}

// A raw connection from `source` (any 127.x address reaches the site on 127.0.0.1).
class Socket {
 public:
  explicit Socket(int port, const char* source = "127.0.0.1") : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in from{AF_INET, 0, {}, {}};
    inet_pton(AF_INET, source, &from.sin_addr);
    bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{AF_INET, htons(static_cast<uint16_t>(port)), {}, {}};
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    timeval limit{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~Socket() { close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  bool Connected() const { return connected_; }
  // False once the server has stopped taking bytes.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  // True once the server has closed the connection (whatever it sent before is read and dropped);
  // false when it is still open after the receive time-out.
  bool Closed() {
    char buf[4096];
    ssize_t n;
    while ((n = recv(fd_, buf, sizeof buf, 0)) > 0) {
    }
    return n == 0 || (n < 0 && errno == ECONNRESET);
  }
  // The status of the answer, 0 when none came.
  int Status() {
    std::string head;
    char buf[4096];
    while (head.find("\r\n") == std::string::npos) {
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      head.append(buf, static_cast<size_t>(n));
    }
    std::smatch m;
    return std::regex_search(head, m, std::regex("^HTTP/1\\.1 ([0-9]{3}) ")) ? std::stoi(m[1]) : 0;
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string SignIn(httplib::Client& c, const std::string& user, const std::string& password) {
  auto r = c.Post("/APP/Default.asp", "UserId=" + user + "&Password=" + password, "application/x-www-form-urlencoded");
  if (!r || r->status != 303) return {};
  const std::string cookie = r->get_header_value("Set-Cookie");
  return cookie.substr(0, cookie.find(';'));
}

TEST(SiteEngineTest, IdleAndTricklingConnectionsDoNotHoldUpASignedInPage) {
  SiteServer site;
  // 500 connections that send nothing, from the site's own address and from others; 40 that send
  // half a request and then a byte at a time.
  std::vector<std::unique_ptr<Socket>> idle, trickling;
  for (int i = 0; i < 500; ++i)
    idle.push_back(std::make_unique<Socket>(site.Port(), i % 2 ? "127.0.0.1" : "127.0.0.2"));
  for (int i = 0; i < 40; ++i) {
    trickling.push_back(std::make_unique<Socket>(site.Port(), "127.0.0.3"));
    trickling.back()->Send("GET /APP/Default.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
  }
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done) {
      for (auto& s : trickling) s->Send("x");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  // A worker per connection would leave this client waiting for many seconds.
  httplib::Client c("127.0.0.1", site.Port());
  c.set_connection_timeout(1);
  c.set_read_timeout(1);
  const std::string cookie = SignIn(c, "alice", "demo");
  EXPECT_FALSE(cookie.empty());
  auto page = c.Get("/APP/Issues/Issue.asp?IssueId=5", {{"Cookie", cookie}});
  done = true;
  trickle.join();
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
}

// Answers that wait (here for the database, locked by the test) hold up no other connection: not
// one given to the same engine thread, nor one that comes while each thread has an answer to wait
// for.
TEST(SiteEngineTest, AnswersThatWaitHoldUpNoOtherConnection) {
  SiteServer site;
  sqlite3* lock = nullptr;
  ASSERT_EQ(sqlite3_open(site.DatabaseFile().c_str(), &lock), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(lock, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const int waiting = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
  std::atomic<int> answered{0};
  std::vector<int> statuses(waiting, 0);
  std::vector<std::thread> signIns;
  for (int i = 0; i < waiting; ++i)
    signIns.emplace_back([&, i] {
      httplib::Client c("127.0.0.1", site.Port());
      c.set_read_timeout(60);
      auto r = c.Post("/APP/Default.asp", "UserId=alice&Password=demo", "application/x-www-form-urlencoded");
      statuses[i] = r ? r->status : 0;
      ++answered;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Twice as many connections as there are engine threads, each kept open after its answer.
  std::vector<std::unique_ptr<httplib::Client>> others;
  for (int i = 0; i < 2 * waiting; ++i) {
    others.push_back(std::make_unique<httplib::Client>("127.0.0.1", site.Port()));
    others.back()->set_keep_alive(true);
    others.back()->set_read_timeout(5);
    auto r = others.back()->Get("/APP/vantrel.css");
    ASSERT_TRUE(r) << "connection " << i;
    EXPECT_EQ(r->status, 200);
  }
  EXPECT_EQ(answered, 0) << "the database lock did not hold the sign-ins";
  sqlite3_close(lock);
  for (auto& t : signIns) t.join();
  for (int status : statuses) EXPECT_EQ(status, 303);
}

// An address at its limit of connections: the next one closes the connection idle longest (here a
// kept one after its answer), not one just opened whose request is on its way.
TEST(SiteEngineTest, RoomForANewConnectionIsMadeByTheOneIdleLongest) {
  SiteServer site;
  const std::string request = "GET /APP/Default.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  Socket kept(site.Port(), "127.0.0.5");
  ASSERT_TRUE(kept.Send(request));
  ASSERT_EQ(kept.Status(), 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<std::unique_ptr<Socket>> fresh;
  for (unsigned i = 1; i < site::kConnectionsPerAddress; ++i)
    fresh.push_back(std::make_unique<Socket>(site.Port(), "127.0.0.5"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Socket newcomer(site.Port(), "127.0.0.5");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(fresh.front()->Send(request));
  EXPECT_EQ(fresh.front()->Status(), 200);
  EXPECT_TRUE(kept.Closed());
}

TEST(SiteEngineTest, OversizedRequestsAreRefusedAtOnceAndKeepNoMemory) {
  SiteServer site;
  httplib::Client warm("127.0.0.1", site.Port());
  for (int i = 0; i < 20; ++i) warm.Get("/APP/Default.asp");
  const long before = MemoryKb(site.Pid(), "VmRSS");
  struct Case {
    const char* name;
    std::string head;
    std::string piece;  // sent again and again until the server stops taking it
    int status;
  };
  const std::string mib(1 << 20, 'x');
  const std::vector<Case> cases = {
      {"chunked body over the limit",
       "POST /APP/Default.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\n\r\n",
       "100000\r\n" + mib + "\r\n", 413},
      {"announced body over the limit",
       "POST /APP/Default.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 62914560\r\n\r\n", mib, 413},
      {"headers over the limit", "GET /APP/Default.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n",
       "X-Pad: " + std::string(1000, 'a') + "\r\n", 431},
  };
  for (const Case& c : cases) {
    Socket s(site.Port());
    ASSERT_TRUE(s.Send(c.head)) << c.name;
    // Up to 60 MB of body or of headers: the server stops taking them long before the end.
    const int pieces = static_cast<int>((60u << 20) / c.piece.size());
    int sent = 0;
    while (sent < pieces && s.Send(c.piece)) ++sent;
    EXPECT_LT(sent, pieces) << c.name;
    EXPECT_EQ(s.Status(), c.status) << c.name;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  if (kPlainMemory) {
    EXPECT_LT(MemoryKb(site.Pid(), "VmRSS") - before, 5 * 1024);
  }
}

TEST(SiteEngineTest, FourLargeUploadsAtOnceCostAboutTwiceTheirSize) {
  SiteServer site;
  httplib::Client c("127.0.0.1", site.Port());
  const std::string cookie = SignIn(c, "admin", "Secret1");
  auto form = c.Get("/APP/Issues/Issue.asp?IssueId=1", {{"Cookie", cookie}});
  ASSERT_TRUE(form);
  auto hidden = [&](const std::string& name) {
    std::smatch m;
    std::regex_search(form->body, m, std::regex("<input type=hidden name=" + name + " value=\"([^\"]*)\">"));
    return m.size() > 1 ? std::string(m[1]) : std::string();
  };
  std::string image = hidden("rsIssue");
  for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
           {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&#39;", "'"}, {"&amp;", "&"}})
    image = std::regex_replace(image, std::regex(entity), c);
  const std::string token = hidden("_token");
  ASSERT_FALSE(token.empty());
  const std::string file(19u << 20, 'u');
  std::vector<std::thread> uploads;
  std::atomic<int> answered{0};
  for (int i = 0; i < 4; ++i) {
    uploads.emplace_back([&, i] {
      httplib::Client u("127.0.0.1", site.Port());
      u.set_read_timeout(60);
      httplib::MultipartFormDataItems items{{"_token", token, "", ""},
                                            {"rsIssue", image, "", ""},
                                            {"PostBackReason", "", "", ""},
                                            {"Summary", "Upload " + std::to_string(i), "", ""},
                                            {"Attachment", file, "big" + std::to_string(i) + ".bin",
                                             "application/octet-stream"}};
      auto r = u.Post("/APP/Issues/Issue.asp?IssueId=1", {{"Cookie", cookie}}, items);
      if (r && r->status < 500) ++answered;
    });
  }
  for (auto& t : uploads) t.join();
  EXPECT_EQ(answered, 4);
  const long peak = MemoryKb(site.Pid(), "VmHWM");
  if (kPlainMemory) {
    EXPECT_LT(peak, 200 * 1024);
  }
}

}  // namespace
