// The site's HTTP engine (GNU libmicrohttpd, known here and in engine.cpp only): an acceptor that
// spreads the connections over the engine's threads, page makers for the answers an engine thread
// does not make itself, and a reaper of requests that do not arrive in time. Every request that
// arrives whole goes to one handler, which fills its answer.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "site/request.h"

namespace site {

// What one request may bring: its body (whatever its framing), its request line and headers
// together, the time it may take to arrive whole; and the connections one address may hold.
inline constexpr size_t kMaxBody = 20u << 20;
inline constexpr size_t kMaxHead = 64u << 10;
inline constexpr int kRequestSeconds = 30;
inline constexpr unsigned kConnectionsPerAddress = 64;

// The whole answer to one request that has arrived; called on any of the engine's threads.
using RequestHandler = std::function<void(HttpRequest&, HttpResponse&)>;

// The short page of a request refused as it stands (400, 405, 408, 413, 431).
std::string RefusalBody(int status);

class Engine {
 public:
  explicit Engine(RequestHandler handler);  // not copied: it owns its threads
  ~Engine();

  // Binds the address, alone: a port another process listens on is refused. The port taken (the
  // one asked for, or a free one for 0); -1 on failure, with the reason in `error`.
  int Bind(const std::string& address, int port, std::string* error = nullptr);
  bool Bound() const;
  // Serves until Stop; returns after the requests under way have ended.
  void Serve();
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace site
