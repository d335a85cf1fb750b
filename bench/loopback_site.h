// The site host serving one database on a free loopback port from a thread of its own, a user
// signed in, and a keep-alive client that sends that user's cookie: what the benchmarks of whole
// pages share. The server stops when the object goes.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <string>
#include <thread>

#include "site/host.h"
#include "support/temp_dir.h"

namespace benchsite {

class LoopbackSite {
 public:
  // `controls`: a folder of control files to serve under /APP/controls/ (none when empty).
  LoopbackSite(const std::filesystem::path& database, const std::string& user,
               const std::filesystem::path& controls = {})
      : host_(Options(dir_, database, controls)), port_(host_.Bind()), server_([this] { host_.Serve(); }),
        cookie_(std::string(site::kCookieName) + "=" + host_.Sessions().Start(user).id),
        client_("127.0.0.1", port_) {
    client_.set_keep_alive(true);
    client_.set_tcp_nodelay(true);
  }
  ~LoopbackSite() {
    host_.Stop();
    server_.join();
  }
  LoopbackSite(const LoopbackSite&) = delete;
  LoopbackSite& operator=(const LoopbackSite&) = delete;

  // A page of the site, as the signed-in user asks for it, with more headers if given.
  httplib::Result Get(const std::string& path, httplib::Headers headers = {}) {
    headers.emplace("Cookie", cookie_);
    return client_.Get(path, headers);
  }

  // For clients of their own: the port and the signed-in user's cookie ("name=id").
  int Port() const { return port_; }
  const std::string& Cookie() const { return cookie_; }

 private:
  // The folder's DbConnection.udl names the database.
  static site::SiteOptions Options(const testsupport::TempDir& dir, const std::filesystem::path& database,
                                   const std::filesystem::path& controls) {
    testsupport::WriteFile(dir / "DbConnection.udl", "Data Source=" + database.string());
    site::SiteOptions o;
    o.folder = dir.path();
    o.port = 0;
    o.controls = controls;
    return o;
  }

  // In this order: each is made from the ones before it.
  testsupport::TempDir dir_;
  site::Host host_;
  int port_;
  std::thread server_;
  std::string cookie_;
  httplib::Client client_;
};

}  // namespace benchsite
