#include "site/host.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <vector>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "brisquel/read_snapshot.h"
#include "site/routes.h"
#include "site/page_shell.h"
#include "site/sign_in.h"

namespace site {

using automation::Variant;
using Clock = std::chrono::steady_clock;

namespace {

// A body the form decoder could not read: the request is at fault, not the site.
struct MalformedBody {};

MenuWriter& MenuWriterSlot() {
  static MenuWriter writer;
  return writer;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && automation::EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// Scripts: our own files and the inline scripts and handlers the renderers write, and the
// controls' WebAssembly. The diagram editor's cursors are PNG data: URLs.
constexpr const char* kContentSecurityPolicy =
    "default-src 'self'; script-src 'self' 'unsafe-inline' 'wasm-unsafe-eval'; "
    "style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; object-src 'self'; "
    "frame-ancestors 'self'; form-action 'self'; base-uri 'self'";

void SetCommonHeaders(HttpResponse& res, bool behindTls) {
  res.SetHeader("Cache-Control", "no-store");
  res.SetHeader("X-Content-Type-Options", "nosniff");
  res.SetHeader("Content-Security-Policy", kContentSecurityPolicy);
  res.SetHeader("Referrer-Policy", "same-origin");
  if (behindTls) res.SetHeader("Strict-Transport-Security", "max-age=31536000");
}

// The control library's own files; nothing else of its folder is served.
bool IsControlFile(std::string_view name) {
  return name == "tamsolo.js" || name == "tamsolo.wasm" || name == "tamsolo-loader.js";
}

// A strong validator of a file's bytes: "\"" + 64-bit FNV-1a in hex + size + "\"".
std::string ContentTag(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char buf[48];
  std::snprintf(buf, sizeof buf, "\"%016llx-%zx\"", static_cast<unsigned long long>(h), bytes.size());
  return buf;
}

// The control files as last read, with their tags: a file is read and hashed again only when its
// size, change time or inode differ (a rebuilt module is taken at its next request).
class ControlFiles {
 public:
  struct File {
    std::shared_ptr<const std::string> bytes;
    std::string tag;
  };
  std::optional<File> Get(const std::filesystem::path& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const Stamp stamp{st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    std::lock_guard lock(mutex_);
    auto& entry = files_[path.string()];
    if (!entry.file.bytes || !(entry.stamp == stamp)) {
      std::ifstream in(path, std::ios::binary);
      if (!in) return std::nullopt;
      std::ostringstream s;
      s << in.rdbuf();
      auto bytes = std::make_shared<const std::string>(std::move(s).str());
      entry = {stamp, {bytes, ContentTag(*bytes)}};
    }
    return entry.file;
  }

 private:
  struct Stamp {
    ino_t inode;
    off_t size;
    time_t seconds;
    long nanoseconds;
    bool operator==(const Stamp&) const = default;
  };
  struct Entry {
    Stamp stamp{};
    File file;
  };
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> files_;
};

ControlFiles& TheControlFiles() {
  static ControlFiles files;
  return files;
}

// A page that failed on its way: whatever it had set is replaced by the error paragraph, without
// the menu (the failure may be the menu's own).
void SendFailure(PageContext& page, std::string_view title, const std::string& text, int status) {
  page.Response().SetHeader("Location", "");
  page.OmitMenu();
  page.SendPage(title, "<p class=ErrorText>" + text + "</p>", status);
}

// The number only: the source chain and the statements stay in the event log.
void SendUnexpectedError(PageContext& page, int32_t number) {
  SendFailure(page, "Error", "An unexpected error has occurred. (Error number: " + std::to_string(number) + ")",
              500);
}

// An answer the engine writes before any page runs (a request over a limit): a short page, and
// the connection closes after it.
std::string RefusalText(int status) {
  switch (status) {
    case 400: return "The request is malformed.";
    case 405: return "This method is not allowed here.";
    case 408: return "The request did not arrive in time.";
    case 413: return "The request is too large.";
    case 431: return "The request's headers are too large.";
    default: return "The request was refused.";
  }
}

std::string RefusalBody(int status) { return "<html><body><p>" + RefusalText(status) + "</p></body></html>\r\n"; }

// The whole answer as bytes, for a socket the engine no longer serves.
std::string RawRefusal(int status) {
  const std::string body = RefusalBody(status);
  return "HTTP/1.1 " + std::to_string(status) + " " + MHD_get_reason_phrase_for(static_cast<unsigned>(status)) +
         "\r\nConnection: close\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

void SetMenuWriter(MenuWriter writer) { MenuWriterSlot() = std::move(writer); }
const MenuWriter& GetMenuWriter() { return MenuWriterSlot(); }

// ---- PageContext

PageContext::PageContext(Host& host, HttpRequest& request, HttpResponse& response)
    : host_(host), request_(request), response_(response) {}

std::string PageContext::Query(std::string_view name) const {
  if (!query_) query_ = ParseUrlEncoded(QueryOf(request_.target));
  return FirstValue(*query_, name).value_or("");
}

bool PageContext::IsMultipart() const {
  return StartsWithNoCase(request_.Header("Content-Type"), "multipart/form-data");
}

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
    const bool urlEncoded = StartsWithNoCase(request_.Header("Content-Type"), "application/x-www-form-urlencoded");
    urlForm_ = urlEncoded ? ParseUrlEncoded(request_.BodyText()) : NameValues{};
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
  response_.status = status;
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

bool CheckPost(PageContext& page) {
  const HttpRequest& req = page.Request();
  if (req.HasHeader("Origin") && req.Header("Origin") != page.SiteHost().OwnOrigin(req)) {
    page.SendPage("Refused", "<p class=ErrorText>This form was sent from another site and has been refused.</p>", 403);
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

// ---- the engine

namespace {

// One connection, as the engine's notifications and the reaper see it. A request must arrive
// whole by `deadline`; the reaper answers 408 to one that has not and closes its connection.
// The fields a request's own thread sets are atomic: its callbacks take no lock, and the reaper
// reads them under the engine's lock, which keeps the state from going while it looks.
struct ConnectionState {
  ConnectionState(int f, Clock::time_point by, std::string a)
      : fd(f), deadline(by), waitingSince(Clock::now()), address(std::move(a)) {}
  // The next request is awaited from now until `by`.
  void Await(Clock::time_point by) {
    waitingSince = Clock::now();
    deadline = by;
    arriving = true;
  }
  int fd = -1;
  std::atomic<bool> arriving{true};  // false from a request's last byte until its answer is sent
  std::atomic<Clock::time_point> deadline;
  std::atomic<Clock::time_point> waitingSince;  // of the request awaited while arriving
  std::string address;
};

// One request on its way in, and its answer once made.
struct RequestState {
  HttpRequest request;
  HttpResponse response;
  bool headersRead = false;
  bool refused = false;
  bool handed = false;  // its answer is being made; by a page maker, it is ready when the engine asks again
};

// The threads that make the answers an engine thread does not make itself, each taking the next
// whole request whatever connection it came on. A connection belongs to one engine thread for its
// life, and two busy connections that happen to share one would otherwise be answered one after
// the other while other cores wait. The maker that became idle last is woken first: its caches and
// its kept database connection are the warmest.
class PageMakers {
 public:
  explicit PageMakers(unsigned count) : makers_(count) {
    for (Maker& m : makers_) m.thread = std::thread([this, &m] { Run(m); });
  }
  ~PageMakers() { Stop(); }
  PageMakers(const PageMakers&) = delete;
  PageMakers& operator=(const PageMakers&) = delete;

  void Post(std::function<void()> job) {
    std::unique_lock lock(mutex_);
    if (stopping_) {
      lock.unlock();
      job();
      return;
    }
    if (idle_.empty()) {
      waiting_.push_back(std::move(job));
      return;
    }
    Maker* m = idle_.back();
    idle_.pop_back();
    m->job = std::move(job);
    lock.unlock();
    m->wake.notify_one();
  }

  // Makes every answer asked for so far, then ends the threads; a later one is made at once.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    for (Maker& m : makers_) m.wake.notify_one();
    for (Maker& m : makers_)
      if (m.thread.joinable()) m.thread.join();
  }

 private:
  struct Maker {
    std::thread thread;
    std::condition_variable wake;
    std::function<void()> job;
  };

  void Run(Maker& m) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!m.job && !waiting_.empty()) {
        m.job = std::move(waiting_.front());
        waiting_.pop_front();
      }
      if (m.job) {
        std::function<void()> job = std::move(m.job);
        m.job = nullptr;
        lock.unlock();
        job();
        lock.lock();
        continue;
      }
      if (stopping_) return;
      idle_.push_back(&m);
      m.wake.wait(lock, [&] { return m.job || stopping_; });
      if (!m.job) std::erase(idle_, &m);
    }
  }

  std::mutex mutex_;
  std::deque<std::function<void()>> waiting_;  // asked for while every maker was busy
  std::vector<Maker*> idle_;
  bool stopping_ = false;
  std::vector<Maker> makers_;
};

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address == nullptr) return {};
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  }
  return text;
}

// A refusal page sent by the engine; the connection is closed after it.
MHD_Result QueueRefusal(MHD_Connection* connection, int status) {
  const std::string body = RefusalBody(status);
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  MHD_add_response_header(response, "Content-Type", "text/html; charset=utf-8");
  MHD_add_response_header(response, "Connection", "close");
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued;
}

}  // namespace

struct Host::Engine {
  explicit Engine(Host& h) : host(h) {}

  // One of the engine's threads with the connections given to it; the callbacks of its daemon are
  // called on it.
  struct Worker {
    Engine* engine = nullptr;
    MHD_Daemon* daemon = nullptr;
    std::atomic<int> connections{0};
    std::atomic<bool> making{false};  // an answer of its own: it takes no new connection meanwhile
  };

  Host& host;
  int listenFd = -1;
  int family = AF_INET;
  std::vector<std::unique_ptr<Worker>> workers;
  unsigned connectionLimit = 0;
  std::atomic<int> connectionCount{0};
  int stopAccepting = -1;  // an eventfd: the acceptor ends when it is written
  std::thread acceptor;

  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  std::atomic<bool> draining{false};  // set once stopping: a request's end is then told
  std::atomic<int> requestsUnderWay{0};
  std::set<ConnectionState*> connections;
  std::unordered_map<std::string, std::set<ConnectionState*>> byAddress;
  std::thread reaper;
  std::unique_ptr<PageMakers> makers;
  // How many of the engine's threads are making an answer themselves, and how many may: one at
  // least is always left to move the bytes of the others' connections.
  std::atomic<int> makingHere{0};
  int mayMakeHere = 0;

  static void* RequestLine(void* cls, const char* uri, MHD_Connection* connection) {
    auto* engine = static_cast<Worker*>(cls)->engine;
    auto* state = new RequestState;
    state->request.target = uri ? uri : "";
    state->request.path = PathOf(state->request.target);
    ++engine->requestsUnderWay;
    if (auto* c = engine->Connection(connection)) c->Await(Clock::now() + std::chrono::seconds(kRequestSeconds));
    return state;
  }

  ConnectionState* Connection(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnectionState*>(info->socket_context) : nullptr;
  }

  static void Notify(void* cls, MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code) {
    auto* worker = static_cast<Worker*>(cls);
    auto* engine = worker->engine;
    std::lock_guard lock(engine->mutex);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      const MHD_ConnectionInfo* peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
      auto* c = new ConnectionState(info ? info->connect_fd : -1, Clock::now() + std::chrono::seconds(kRequestSeconds),
                                    AddressText(peer ? peer->client_addr : nullptr));
      engine->connections.insert(c);
      auto& same = engine->byAddress[c->address];
      same.insert(c);
      if (same.size() > kConnectionsPerAddress) engine->MakeRoom(same, c);
      *socketContext = c;
    } else if (auto* c = static_cast<ConnectionState*>(*socketContext)) {
      // Closed: the socket is closed after this returns, so the reaper never sees a reused number.
      --worker->connections;
      --engine->connectionCount;
      engine->connections.erase(c);
      if (auto it = engine->byAddress.find(c->address); it != engine->byAddress.end()) {
        it->second.erase(c);
        if (it->second.empty()) engine->byAddress.erase(it);
      }
      delete c;
      *socketContext = nullptr;
    }
  }

  // One address holds more connections than it may: the one of them that has waited longest for a
  // request to arrive is closed (an idle or trickling one, or one its client has left, never one
  // whose answer is being made), so a new request from that address still gets through. When
  // every one is busy, the newcomer is closed.
  static void MakeRoom(std::set<ConnectionState*>& same, ConnectionState* newcomer) {
    ConnectionState* victim = nullptr;
    for (ConnectionState* c : same)
      if (c != newcomer && c->arriving && c->fd >= 0 &&
          (!victim || c->waitingSince.load() < victim->waitingSince.load()))
        victim = c;
    if (victim == nullptr) victim = newcomer;
    ::shutdown(victim->fd, SHUT_RDWR);
    victim->fd = -1;
    same.erase(victim);
  }

  static void Completed(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
    auto* engine = static_cast<Worker*>(cls)->engine;
    delete static_cast<RequestState*>(*context);
    *context = nullptr;
    // A kept connection's next request: the idle time-out closes it first when none comes.
    if (auto* c = engine->Connection(connection)) c->Await(Clock::now() + std::chrono::seconds(2 * kRequestSeconds));
    if (--engine->requestsUnderWay <= 0 && engine->draining) {
      std::lock_guard lock(engine->mutex);
      engine->changed.notify_all();
    }
  }

  static MHD_Result Access(void* cls, MHD_Connection* connection, const char* /*url*/, const char* method,
                           const char* /*version*/, const char* upload, size_t* uploadSize, void** context) {
    auto* worker = static_cast<Worker*>(cls);
    auto* engine = worker->engine;
    auto* state = static_cast<RequestState*>(*context);
    if (state == nullptr) return MHD_NO;
    HttpRequest& req = state->request;
    if (!state->headersRead) {
      state->headersRead = true;
      req.method = method;
      size_t head = req.method.size() + req.target.size() + 12;
      MHD_get_connection_values(
          connection, MHD_HEADER_KIND,
          [](void* out, MHD_ValueKind, const char* name, const char* value) {
            static_cast<NameValues*>(out)->emplace_back(name, value ? value : "");
            return MHD_YES;
          },
          &req.headers);
      for (const auto& [name, value] : req.headers) head += name.size() + value.size() + 4;
      const MHD_ConnectionInfo* peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
      req.clientAddress = AddressText(peer ? peer->client_addr : nullptr);
      if (head > kMaxHead) return engine->Refuse(state, connection, 431);
      const std::string length = req.Header("Content-Length");
      if (!length.empty()) {
        uint64_t n = 0;
        auto [p, ec] = std::from_chars(length.data(), length.data() + length.size(), n);
        if (ec != std::errc() || p != length.data() + length.size()) return engine->Refuse(state, connection, 400);
        if (n > kMaxBody) return engine->Refuse(state, connection, 413);
        req.body.reserve(static_cast<size_t>(n));
      }
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      if (state->refused || req.body.size() + *uploadSize > kMaxBody) return engine->Refuse(state, connection, 413);
      req.body.insert(req.body.end(), upload, upload + *uploadSize);
      *uploadSize = 0;
      return MHD_YES;
    }
    if (state->refused) return MHD_NO;
    // Whole. An engine thread whose only connection this is makes the answer itself: nobody waits
    // behind it, and the request is not handed from thread to thread twice on its way. Otherwise a
    // page maker makes it while the connection waits, then hands it back.
    if (state->handed) return engine->Queue(connection, state->response);
    state->handed = true;
    ConnectionState* c = engine->Connection(connection);
    if (c) c->arriving = false;
    if (c && engine->MayMakeHere(*worker)) {
      engine->host.Handle(state->request, state->response);
      engine->MadeHere(*worker);
      return engine->Queue(connection, state->response);
    }
    MHD_suspend_connection(connection);
    engine->makers->Post([engine, state, connection] {
      engine->host.Handle(state->request, state->response);
      MHD_resume_connection(connection);
    });
    return MHD_YES;
  }

  // True when the worker holds no other connection and is not the last one free; it then counts as
  // making an answer itself. The worker says so before it looks at its connections, and the
  // acceptor counts a connection before it looks at that: of a new connection and an answer made
  // here, one at least sees the other.
  bool MayMakeHere(Worker& worker) {
    if (makingHere.fetch_add(1) >= mayMakeHere) {
      --makingHere;
      return false;
    }
    worker.making = true;
    if (worker.connections == 1) return true;
    MadeHere(worker);
    return false;
  }
  void MadeHere(Worker& worker) {
    worker.making = false;
    --makingHere;
  }

  // Refused before the request is whole: answered at once where the engine still can, else the
  // answer is written on the socket directly and the connection closed.
  MHD_Result Refuse(RequestState* state, MHD_Connection* connection, int status) {
    state->refused = true;
    if (QueueRefusal(connection, status) == MHD_YES) return MHD_YES;
    std::lock_guard lock(mutex);
    if (auto* c = Connection(connection)) WriteAndClose(*c, status);
    return MHD_NO;
  }

  static void WriteAndClose(ConnectionState& c, int status) {
    const std::string text = RawRefusal(status);
    [[maybe_unused]] ssize_t sent = ::send(c.fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(c.fd, SHUT_RDWR);
    c.arriving = false;
  }

  MHD_Result Queue(MHD_Connection* connection, HttpResponse& res) {
    MHD_Response* response = nullptr;
    if (res.stream) {
      auto* reader = new ChunkReader(std::move(res.stream));
      response = MHD_create_response_from_callback(
          res.streamLength, 64 * 1024,
          [](void* cls, uint64_t offset, char* buffer, size_t max) -> ssize_t {
            const size_t n = (*static_cast<ChunkReader*>(cls))(offset, buffer, max);
            return n == 0 ? MHD_CONTENT_READER_END_WITH_ERROR : static_cast<ssize_t>(n);
          },
          reader, [](void* cls) { delete static_cast<ChunkReader*>(cls); });
    } else {
      response = MHD_create_response_from_buffer(res.body.size(), res.body.data(), MHD_RESPMEM_MUST_COPY);
    }
    if (response == nullptr) return MHD_NO;
    for (const auto& [name, value] : res.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(res.status), response);
    MHD_destroy_response(response);
    return queued;
  }

  // Ends the acceptor, when it runs; new connections then wait in the listening socket's backlog.
  void EndAccepting() {
    if (!acceptor.joinable()) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(stopAccepting, &one, sizeof one);
    acceptor.join();
  }

  // Takes the new connections and gives each to the worker holding the fewest (the next one in turn
  // among equals), so that busy connections are spread over all threads. Ends when told to; the
  // listening socket stays open, so a client that comes meanwhile waits or is refused by the system.
  void Accept() {
    size_t turn = 0;
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopAccepting, POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        // Out of memory for the moment: the acceptor waits rather than ending for good.
        if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      if (fds[1].revents != 0) return;
      sockaddr_storage peer{};
      socklen_t size = sizeof peer;
      const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) {
        // Out of files or memory: the backlog waits a moment rather than the thread spinning.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      if (connectionCount >= static_cast<int>(connectionLimit)) {
        ::close(fd);
        continue;
      }
      Worker* chosen = Choose(turn);
      turn = (turn + 1) % workers.size();
      ++connectionCount;
      // The daemon closes the socket itself when it cannot take it.
      if (MHD_add_connection(chosen->daemon, fd, reinterpret_cast<sockaddr*>(&peer), size) != MHD_YES) {
        --chosen->connections;
        --connectionCount;
      }
    }
  }

  // The worker not making an answer of its own that holds the fewest connections, searched from
  // `turn` on, its count already raised. One that began making an answer meanwhile is passed over
  // and the search made again.
  Worker* Choose(size_t turn) {
    for (;;) {
      Worker* best = nullptr;
      for (size_t i = 0; i < workers.size(); ++i) {
        Worker* w = workers[(turn + i) % workers.size()].get();
        if (!w->making && (!best || w->connections < best->connections)) best = w;
      }
      // Every worker making an answer for a moment (one at least is always left free, so only a
      // race lost): the next in turn takes it all the same.
      if (best == nullptr) {
        best = workers[turn % workers.size()].get();
        ++best->connections;
        return best;
      }
      ++best->connections;
      if (!best->making) return best;
      --best->connections;
    }
  }

  void Reap() {
    std::unique_lock lock(mutex);
    while (!stopping) {
      changed.wait_for(lock, std::chrono::milliseconds(500));
      const auto now = Clock::now();
      for (ConnectionState* c : connections)
        if (c->arriving && c->deadline.load() < now && c->fd >= 0) WriteAndClose(*c, 408);
    }
  }
};

// ---- Host

Host::Host(SiteOptions options)
    : options_(std::move(options)), sessions_(std::chrono::minutes(options_.idleMinutes)),
      engine_(std::make_unique<Engine>(*this)) {}

Host::~Host() {
  Stop();
  Engine& e = *engine_;
  e.EndAccepting();
  if (e.makers) e.makers->Stop();
  for (auto& w : e.workers)
    if (w->daemon) MHD_stop_daemon(w->daemon);
  e.workers.clear();
  if (e.reaper.joinable()) e.reaper.join();
  if (e.stopAccepting >= 0) ::close(e.stopAccepting);
  if (e.listenFd >= 0) ::close(e.listenFd);
}

int Host::Bind(std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options_.port);
  if (const int rc = getaddrinfo(options_.address.c_str(), port.c_str(), &hints, &found); rc != 0) {
    if (error) *error = gai_strerror(rc);
    return -1;
  }
  std::string why = "no address to listen on";
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    // Only a port left in TIME_WAIT may be taken again; never one that another socket listens on.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
      engine_->listenFd = fd;
      engine_->family = a->ai_family;
      break;
    }
    why = errno == EADDRINUSE ? "address already in use" : std::strerror(errno);
    ::close(fd);
  }
  freeaddrinfo(found);
  if (engine_->listenFd < 0) {
    if (error) *error = why;
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  ::getsockname(engine_->listenFd, reinterpret_cast<sockaddr*>(&bound), &size);
  options_.port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                    : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return options_.port;
}

void Host::Serve() {
  Engine& e = *engine_;
  if (e.listenFd < 0 && Bind() < 0) return;
  // Every connection is a socket of ours: as many as the process may open, less a reserve.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  const unsigned connections =
      static_cast<unsigned>(std::clamp<rlim_t>(files.rlim_cur > 256 ? files.rlim_cur - 128 : 128, 128, 60000));
  const unsigned threads = std::max(4u, 2 * std::thread::hardware_concurrency());
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_NO_LISTEN_SOCKET | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME;
  if (e.family == AF_INET6) flags |= MHD_USE_IPv6;
  {
    std::lock_guard lock(e.mutex);
    if (e.stopping) return;
  }
  e.makers = std::make_unique<PageMakers>(threads);
  const unsigned engineThreads = std::max(2u, std::thread::hardware_concurrency());
  e.mayMakeHere = static_cast<int>(engineThreads) - 1;
  e.connectionLimit = connections;
  for (unsigned i = 0; i < engineThreads; ++i) {
    auto w = std::make_unique<Engine::Worker>();
    w->engine = &e;
    Engine::Worker* cls = w.get();
    w->daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Engine::Access, cls,
        MHD_OPTION_CONNECTION_LIMIT, connections,
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(kRequestSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(kMaxHead + (32u << 10)),
        MHD_OPTION_URI_LOG_CALLBACK, &Engine::RequestLine, cls,
        MHD_OPTION_NOTIFY_CONNECTION, &Engine::Notify, cls,
        MHD_OPTION_NOTIFY_COMPLETED, &Engine::Completed, cls,
        MHD_OPTION_END);
    if (w->daemon == nullptr) {
      std::fprintf(stderr, "vantrel-site: the HTTP engine did not start\n");
      for (auto& started : e.workers) MHD_stop_daemon(started->daemon);
      e.workers.clear();
      return;
    }
    e.workers.push_back(std::move(w));
  }
  e.stopAccepting = ::eventfd(0, EFD_CLOEXEC);
  e.acceptor = std::thread([&e] { e.Accept(); });
  e.reaper = std::thread([&e] { e.Reap(); });
  std::unique_lock lock(e.mutex);
  e.changed.wait(lock, [&] { return e.stopping; });
  // No new connections; the requests under way are answered before the engine stops.
  lock.unlock();
  e.EndAccepting();
  lock.lock();
  e.draining = true;
  e.changed.wait_for(lock, std::chrono::seconds(30), [&] { return e.requestsUnderWay <= 0; });
  lock.unlock();
  // Every suspended connection is resumed before the engine goes.
  e.makers->Stop();
  for (auto& w : e.workers) MHD_stop_daemon(w->daemon);
  e.workers.clear();
  ::close(e.listenFd);
  e.listenFd = -1;
  ::close(e.stopAccepting);
  e.stopAccepting = -1;
  e.reaper.join();
}

void Host::Stop() {
  std::lock_guard lock(engine_->mutex);
  engine_->stopping = true;
  engine_->changed.notify_all();
}

std::string Host::ConnectionString() const {
  return "File name=" + (options_.folder / "DbConnection.udl").string();
}

// Strict: a link from another site carries no sign-in, so it can change nothing.
std::string Host::SignInCookie(const Session& s) const {
  return std::string(kCookieName) + "=" + s.id + "; Path=" + options_.root + "/; HttpOnly; SameSite=Strict" +
         (options_.behindTls ? "; Secure" : "");
}

std::string Host::SignOutCookie() const {
  return std::string(kCookieName) + "=; Path=" + options_.root + "/; Max-Age=0; HttpOnly; SameSite=Strict" +
         (options_.behindTls ? "; Secure" : "");
}

std::string Host::OwnOrigin(const HttpRequest& request) const {
  std::string host = request.Header("Host");
  if (host.empty()) host = options_.address + ":" + std::to_string(options_.port);
  return (options_.behindTls ? "https://" : "http://") + host;
}

void Host::Handle(HttpRequest& req, HttpResponse& res) {
  SetCommonHeaders(res, options_.behindTls);
  const bool get = req.method == "GET" || req.method == "HEAD";
  if (!get && req.method != "POST") {
    res.status = 405;
    res.SetHeader("Allow", "GET, HEAD, POST");
    res.SetHeader("Content-Type", "text/html; charset=utf-8");
    res.body = RefusalBody(405);
    return;
  }
  const std::string& root = options_.root;
  std::string_view path = req.path;
  // The site's own files: stylesheet, script, images (also at /images/ for "../images/" links).
  for (std::string_view prefix : {std::string_view(root), std::string_view("")}) {
    if (!path.starts_with(prefix) || path.size() <= prefix.size() || path[prefix.size()] != '/') continue;
    std::string_view name = path.substr(prefix.size() + 1);
    if (!prefix.empty() || name.starts_with("images/")) {
      if (const StaticFile* f = FindStaticFile(name); f && get) {
        res.SetHeader("Content-Type", ContentTypeOf(name));
        res.body = std::string(f->bytes);
        return;
      }
    }
  }
  const std::string controls = root + "/controls/";
  if (path.starts_with(controls) && !options_.controls.empty() && get) {
    std::string_view name = path.substr(controls.size());
    if (auto file = IsControlFile(name) ? TheControlFiles().Get(options_.controls / name) : std::nullopt) {
      // Checked at every use (a rebuilt module is taken at once), answered 304 while unchanged.
      res.SetHeader("Cache-Control", "no-cache");
      res.SetHeader("ETag", file->tag);
      if (req.Header("If-None-Match") == file->tag) {
        res.status = 304;
        return;
      }
      res.SetHeader("Content-Type", ContentTypeOf(name));
      res.body = *file->bytes;
      return;
    }
  }
  PageContext page(*this, req, res);
  // The way in: the server's own root and a root without its slash lead to the sign-in page.
  if (path == "/" || path == root || (!root.empty() && automation::EqualsNoCase(path, "/Default.asp"))) {
    page.Redirect(page.Url("/Default.asp"));
    return;
  }
  const PageSpec* spec =
      path.starts_with(root + "/") ? RouteTable::Instance().Find(path.substr(root.size())) : nullptr;
  if (spec == nullptr) {
    page.SendPage("Not found", "<p class=ErrorText>The page cannot be found.</p>", 404);
    return;
  }
  if (auto id = CookieValue(req.Header("Cookie"), kCookieName)) page.SetSignIn(sessions_.Find(*id));
  // A page asked for reads the site as it was at its first read, in one snapshot.
  std::optional<brisquel::SharedReadSnapshot> snapshot;
  if (get) snapshot.emplace();
  Dispatch(page, *spec);
}

void Host::Dispatch(PageContext& page, const PageSpec& spec) {
  const bool post = page.Request().method == "POST";
  const PageFn& fn = post ? spec.post : spec.get;
  if (!fn) {
    page.SendPage("Not allowed", "<p class=ErrorText>This page cannot be posted to.</p>", 405);
    return;
  }
  try {
    if (post && !CheckPost(page)) return;
    if (!spec.isPublic && !page.SignIn()) {
      SendSignInForm(page, page.Request().target, "");
      return;
    }
    fn(page);
  } catch (const MalformedBody&) {
    SendFailure(page, "Malformed form", "The form that was sent cannot be read: its body is malformed.", 400);
  } catch (const automation::ComError& e) {
    SendUnexpectedError(page, e.number);
  } catch (const std::exception&) {
    SendUnexpectedError(page, automation::vberr::kFail);
  }
}

// ---- the command line

std::optional<SiteOptions> ParseArguments(int argc, char** argv, std::string& error) {
  SiteOptions o;
#ifdef VANTREL_DEFAULT_CONTROLS
  o.controls = VANTREL_DEFAULT_CONTROLS;
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  auto value = [&](size_t& i) -> std::optional<std::string> {
    if (i + 1 >= args.size()) return std::nullopt;
    return args[++i];
  };
  auto number = [](const std::string& s, int& out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::optional<std::string> v;
    if (a == "--behind-tls") {
      o.behindTls = true;
    } else if (a == "--listen" && (v = value(i))) {
      const size_t colon = v->rfind(':');
      if (colon == std::string::npos || !number(v->substr(colon + 1), o.port) || o.port < 0 || o.port > 65535) {
        error = "--listen takes ADDRESS:PORT";
        return std::nullopt;
      }
      o.address = v->substr(0, colon);
    } else if (a == "--root" && (v = value(i))) {
      if (!v->starts_with("/")) {
        error = "--root takes a path that starts with /";
        return std::nullopt;
      }
      while (v->ends_with("/")) v->pop_back();
      o.root = *v;
    } else if (a == "--idle-minutes" && (v = value(i))) {
      if (!number(*v, o.idleMinutes) || o.idleMinutes < 1) {
        error = "--idle-minutes takes a whole number of minutes";
        return std::nullopt;
      }
    } else if (a == "--controls" && (v = value(i))) {
      o.controls = *v;
    } else if (!a.starts_with("--") && o.folder.empty()) {
      o.folder = a;
    } else {
      error = "unknown or incomplete argument " + a;
      return std::nullopt;
    }
  }
  if (o.folder.empty()) {
    error = "the site folder is missing";
    return std::nullopt;
  }
  return o;
}

}  // namespace site
