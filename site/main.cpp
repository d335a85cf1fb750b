// vantrel-site SITE_FOLDER [--listen 127.0.0.1:8080] [--root /APP] [--behind-tls] [--idle-minutes 20]
//              [--controls DIR]
// Serves the site's pages; SIGTERM (or SIGINT) ends it once the requests under way are answered.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "brisquel/setup.h"
#include "eventlog/eventlog.h"
#include "site/command_line.h"
#include "site/host.h"

namespace {

constexpr const char* kUsage =
    "Usage: vantrel-site SITE_FOLDER [--listen 127.0.0.1:8080] [--root /APP] [--behind-tls]\n"
    "                    [--idle-minutes 20] [--controls DIR]\n";

constexpr const char* kHelp =
    "Serves a site's pages over HTTP until SIGTERM or SIGINT.\n"
    "\n"
    "  SITE_FOLDER        the site's folder: its data link DbConnection.udl names the site database\n"
    "  --listen ADDR:PORT the address and port to listen on (127.0.0.1:8080; port 0 takes a free one)\n"
    "  --root PATH        the path the site answers under (/APP)\n"
    "  --behind-tls       a TLS proxy stands in front: cookies are Secure, answers carry HSTS\n"
    "  --idle-minutes N   a sign-in ends after N idle minutes (20)\n"
    "  --controls DIR     the browser controls' files, served under ROOT/controls/\n"
    "  --help             this text\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    }
  }
  std::string error;
  auto options = site::ParseArguments(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "vantrel-site: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (!brisquel::schema::IsSiteDatabaseNamedBy(options->folder / "DbConnection.udl")) {
    std::fprintf(stderr, "vantrel-site: no site database in %s\n", options->folder.c_str());
    return 1;
  }
  // Large buffers (uploads, downloads) go back to the system when freed, whatever came before.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  // What goes wrong shows where the site was started as well as in the event log.
  eventlog::CopyErrorsToStandardError(true);
  // The signals are taken by one thread of our own; every other thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  site::Host host(*options);
  const int port = host.Bind(&error);
  if (port < 0) {
    std::fprintf(stderr, "vantrel-site: cannot listen on %s:%d: %s\n", options->address.c_str(), options->port,
                 error.c_str());
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
