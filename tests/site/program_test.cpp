// The vantrel-site program: its first line, its answers, and its end on SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>

#include <regex>

#include "support/site_server.h"
#include "support/temp_dir.h"

namespace {

TEST(SiteProgramTest, ListensOnAFreePortAndEndsCleanlyOnSigterm) {
  testsupport::SiteServer site;
  EXPECT_TRUE(std::regex_match(site.Base(), std::regex("http://127\\.0\\.0\\.1:[0-9]+/APP")));
  httplib::Client c("127.0.0.1", site.Port());
  auto r = c.Get("/APP/Default.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  const int status = site.Stop();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The program's exit status and what it printed (both streams).
std::pair<int, std::string> RunProgram(const std::string& arguments) {
  const std::string command = testsupport::SiteProgram().string() + " " + arguments + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  return {WEXITSTATUS(pclose(p)), out};
}

TEST(SiteProgramTest, RefusalsAndHelpSayWhatIsWrong) {
  testsupport::SiteServer site;
  testsupport::TempDir empty;
  const std::string folder = site.Folder().string();
  const struct {
    std::string arguments;
    int status;
    std::string says;
  } cases[] = {
      {folder + " --listen nowhere", 2, "Usage: vantrel-site SITE_FOLDER"},
      {"--help", 0, "  --behind-tls       a TLS proxy stands in front"},
      {empty.path().string(), 1, "vantrel-site: no site database in " + empty.path().string()},
      // The port is the running site's: a second site there would split the sign-ins.
      {folder + " --listen 127.0.0.1:" + std::to_string(site.Port()), 1,
       "vantrel-site: cannot listen on 127.0.0.1:" + std::to_string(site.Port()) + ": address already in use"},
  };
  for (const auto& c : cases) {
    const auto [status, out] = RunProgram(c.arguments);
    EXPECT_EQ(status, c.status) << c.arguments;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
  }
}

}  // namespace
