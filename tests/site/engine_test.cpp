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
#include <optional>
#include <regex>
#include <thread>

#include "site/engine.h"
#include "support/site_http.h"
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
  // Everything the server sends until it closes the connection; `closed` tells whether it did
  // before the receive time-out.
  std::string ReadToEnd(bool& closed) {
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = recv(fd_, buf, sizeof buf, 0)) > 0) all.append(buf, static_cast<size_t>(n));
    closed = n == 0 || (n < 0 && errno == ECONNRESET);
    return all;
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

std::string SignIn(httplib::Client& c, const SiteServer& site, const std::string& user, const std::string& password) {
  return testsupport::SignInOverHttp(c, site, user, password);
}

// The engine alone behind its one handler: a request reaches it whole (method, target, headers,
// body), its answer goes back as made, and Stop returns once the requests under way are answered.
TEST(SiteEngineTest, TheHandlerMakesEachAnswerAndStopWaitsForThoseUnderWay) {
  site::Engine engine([](site::HttpRequest& req, site::HttpResponse& res) {
    if (req.path == "/slow") std::this_thread::sleep_for(std::chrono::milliseconds(400));
    res.SetHeader("Content-Type", "text/plain");
    res.body = req.method + " " + req.target + " " + req.path + " " + req.Header("X-Name") + " " +
               std::string(req.BodyText());
  });
  const int port = engine.Bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  std::thread server([&] { engine.Serve(); });
  httplib::Client c("127.0.0.1", port);
  auto posted = c.Post("/a%20b?x=1", {{"X-Name", "n"}, {"Origin", "http://127.0.0.1:" + std::to_string(port)}},
                       "the body", "text/plain");
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->body, "POST /a%20b?x=1 /a b n the body");
  std::optional<int> status;
  std::thread slow([&] {
    httplib::Client s("127.0.0.1", port);
    if (auto r = s.Get("/slow")) status = r->status;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  engine.Stop();
  server.join();
  slow.join();
  EXPECT_EQ(status, 200);
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
  const std::string cookie = SignIn(c, site, "alice", "demo");
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
      auto r = c.Post("/APP/Default.asp", {{"Origin", site.Origin()}}, "UserId=alice&Password=demo",
                      "application/x-www-form-urlencoded");
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
       "POST /APP/Default.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: " + site.Origin() +
           "\r\nTransfer-Encoding: chunked\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\n\r\n",
       "100000\r\n" + mib + "\r\n", 413},
      {"announced body over the limit",
       "POST /APP/Default.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: " + site.Origin() +
           "\r\nContent-Length: 62914560\r\n\r\n",
       mib, 413},
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
  const std::string cookie = SignIn(c, site, "admin", "Secret1");
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
      auto r = u.Post("/APP/Issues/Issue.asp?IssueId=1", {{"Cookie", cookie}, {"Origin", site.Origin()}}, items);
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

// A body framed two ways (a length and a coding, two lengths, a coding other than a single final
// "chunked") is refused with 400 and its connection closed: whatever follows in the same bytes,
// here a second request that one of the readings would take as the next, is never answered.
TEST(SiteEngineTest, RequestsFramedTwoWaysAreRefusedAndTheirConnectionClosed) {
  SiteServer site;
  const std::string smuggled = "GET /APP/vantrel.css HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  const std::string post = "POST /APP/Logout.asp HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(site.Port()) +
                           "\r\nOrigin: " + site.Origin() + "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  const std::string chunked = "5\r\nx=1&y\r\n0\r\n\r\n";
  struct Case {
    const char* name;
    std::string framing;  // the header lines that frame the body
    std::string body;
    std::vector<int> statuses;  // of the answers on the connection, in order
  };
  const std::vector<Case> cases = {
      {"a coding and a length", "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", chunked, {400}},
      {"a length and a coding", "Content-Length: 20\r\nTransfer-Encoding: chunked\r\n", chunked, {400}},
      {"two equal lengths", "Content-Length: 5\r\nContent-Length: 5\r\n", "x=1&y", {400}},
      {"two different lengths", "Content-Length: 5\r\nContent-Length: 0\r\n", "x=1&y", {400}},
      {"gzip alone", "Transfer-Encoding: gzip\r\n", chunked, {400}},
      {"chunked, then gzip", "Transfer-Encoding: chunked, gzip\r\n", chunked, {400}},
      {"gzip, then chunked", "Transfer-Encoding: gzip, chunked\r\n", chunked, {400}},
      {"chunked twice", "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", chunked, {400}},
      {"chunked in a list of one field each", "Transfer-Encoding: identity\r\nTransfer-Encoding: chunked\r\n",
       chunked, {400}},
      // Framed one way only: both requests are answered.
      {"chunked", "Transfer-Encoding: CHUNKED\r\n", chunked, {303, 200}},
      {"one length", "Content-Length: 5\r\n", "x=1&y", {303, 200}},
  };
  // The bytes at once, and the body only after the head has been read.
  for (const Case& c : cases) {
    for (const bool apart : {false, true}) {
      Socket s(site.Port());
      ASSERT_TRUE(s.Connected()) << c.name;
      const std::string head = post + c.framing + "\r\n";
      if (apart) {
        s.Send(head);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        s.Send(c.body + smuggled);
      } else {
        s.Send(head + c.body + smuggled);
      }
      bool closed = false;
      const std::string answers = s.ReadToEnd(closed);
      std::vector<int> statuses;
      const std::regex status("(?:^|\r\n)HTTP/1\\.1 ([0-9]{3}) ");
      for (auto it = std::sregex_iterator(answers.begin(), answers.end(), status); it != std::sregex_iterator(); ++it)
        statuses.push_back(std::stoi((*it)[1]));
      EXPECT_EQ(statuses, c.statuses) << c.name << (apart ? ", body apart" : "");
      EXPECT_TRUE(closed) << c.name << (apart ? ", body apart" : "");
    }
  }
}

}  // namespace
