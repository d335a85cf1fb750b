// The vantrel-site program: its first line, its answers, and its end on SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>

#include <regex>

#include "support/site_server.h"

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

TEST(SiteProgramTest, AWrongCommandLineIsRefusedWithTheUsage) {
  const std::string command = testsupport::SiteProgram().string() + " --listen nowhere 2>&1";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int status = pclose(p);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(out.find("Usage: vantrel-site SITE_FOLDER"), std::string::npos) << out;
}

}  // namespace
