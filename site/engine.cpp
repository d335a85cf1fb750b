#include "site/engine.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "automation/text.h"
#include "site/page_makers.h"

namespace site {

using Clock = std::chrono::steady_clock;

namespace {

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

}  // namespace

std::string RefusalBody(int status) { return "<html><body><p>" + RefusalText(status) + "</p></body></html>\r\n"; }

namespace {

// A body whose end two readers could find in different places: a length beside a transfer coding,
// a length given twice (equal or not), or codings other than a single final "chunked". The library
// would take one reading, and what it did not take as the body would be read as the next request.
bool FramedTwoWays(const NameValues& headers) {
  int lengths = 0, codings = 0;
  bool chunked = true;
  for (const auto& [name, value] : headers) {
    if (automation::EqualsNoCase(name, "Content-Length")) {
      ++lengths;
    } else if (automation::EqualsNoCase(name, "Transfer-Encoding")) {
      std::string_view list = value;
      for (;;) {
        const size_t comma = list.find(',');
        std::string_view coding = list.substr(0, comma);
        while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t')) coding.remove_prefix(1);
        while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t')) coding.remove_suffix(1);
        ++codings;
        chunked = chunked && automation::EqualsNoCase(coding, "chunked");
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
      }
    }
  }
  return codings > 0 ? lengths > 0 || codings > 1 || !chunked : lengths > 1;
}

// The whole answer as bytes, for a socket the engine no longer serves.
std::string RawRefusal(int status) {
  const std::string body = RefusalBody(status);
  return "HTTP/1.1 " + std::to_string(status) + " " + MHD_get_reason_phrase_for(static_cast<unsigned>(status)) +
         "\r\nConnection: close\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

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

struct Engine::State {
  explicit State(RequestHandler h) : handler(std::move(h)) {}

  // One of the engine's threads with the connections given to it; the callbacks of its daemon are
  // called on it.
  struct Worker {
    State* engine = nullptr;
    MHD_Daemon* daemon = nullptr;
    std::atomic<int> connections{0};
    std::atomic<bool> making{false};  // an answer of its own: it takes no new connection meanwhile
  };

  RequestHandler handler;
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
      if (FramedTwoWays(req.headers)) return engine->Refuse(state, connection, 400);
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
      engine->handler(state->request, state->response);
      engine->MadeHere(*worker);
      return engine->Queue(connection, state->response);
    }
    MHD_suspend_connection(connection);
    engine->makers->Post([engine, state, connection] {
      engine->handler(state->request, state->response);
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


Engine::Engine(RequestHandler handler) : state_(std::make_unique<State>(std::move(handler))) {}

Engine::~Engine() {
  Stop();
  State& e = *state_;
  e.EndAccepting();
  if (e.makers) e.makers->Stop();
  for (auto& w : e.workers)
    if (w->daemon) MHD_stop_daemon(w->daemon);
  e.workers.clear();
  if (e.reaper.joinable()) e.reaper.join();
  if (e.stopAccepting >= 0) ::close(e.stopAccepting);
  if (e.listenFd >= 0) ::close(e.listenFd);
}

bool Engine::Bound() const { return state_->listenFd >= 0; }

int Engine::Bind(const std::string& address, int port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string portText = std::to_string(port);
  if (const int rc = getaddrinfo(address.c_str(), portText.c_str(), &hints, &found); rc != 0) {
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
      state_->listenFd = fd;
      state_->family = a->ai_family;
      break;
    }
    why = errno == EADDRINUSE ? "address already in use" : std::strerror(errno);
    ::close(fd);
  }
  freeaddrinfo(found);
  if (state_->listenFd < 0) {
    if (error) *error = why;
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  ::getsockname(state_->listenFd, reinterpret_cast<sockaddr*>(&bound), &size);
  return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

void Engine::Serve() {
  State& e = *state_;
  if (e.listenFd < 0) return;
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
    auto w = std::make_unique<State::Worker>();
    w->engine = &e;
    State::Worker* cls = w.get();
    w->daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &State::Access, cls,
        MHD_OPTION_CONNECTION_LIMIT, connections,
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(kRequestSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(kMaxHead + (32u << 10)),
        MHD_OPTION_URI_LOG_CALLBACK, &State::RequestLine, cls,
        MHD_OPTION_NOTIFY_CONNECTION, &State::Notify, cls,
        MHD_OPTION_NOTIFY_COMPLETED, &State::Completed, cls,
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

void Engine::Stop() {
  std::lock_guard lock(state_->mutex);
  state_->stopping = true;
  state_->changed.notify_all();
}

}  // namespace site
