// vantrel-site SITE_FOLDER [--listen 127.0.0.1:8080] [--root /APP] [--behind-tls] [--idle-minutes 20]
//              [--controls DIR]
// Serves the site's pages; SIGTERM (or SIGINT) ends it once the requests under way are answered.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

#include "site/host.h"

int main(int argc, char** argv) {
  std::string error;
  auto options = site::ParseArguments(argc, argv, error);
  if (!options) {
    std::fprintf(stderr,
                 "vantrel-site: %s\n"
                 "Usage: vantrel-site SITE_FOLDER [--listen 127.0.0.1:8080] [--root /APP] [--behind-tls]\n"
                 "                    [--idle-minutes 20] [--controls DIR]\n",
                 error.c_str());
    return 2;
  }
  // The signals are taken by one thread of our own; every other thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  site::Host host(*options);
  const int port = host.Bind();
  if (port < 0) {
    std::fprintf(stderr, "vantrel-site: cannot listen on %s:%d\n", options->address.c_str(), options->port);
    return 1;
  }
  std::printf("Listening on http://%s:%d%s/Default.asp\n", options->address.c_str(), port, options->root.c_str());
  std::fflush(stdout);
  std::thread([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    host.Stop();
  }).detach();
  host.Serve();
  return 0;
}
