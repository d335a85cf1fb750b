// The service with the real sender: orlenta starts kesprin for a registered site database with
// pending notifications, and the SMTP server on loopback receives them in that one pass.
#include <signal.h>

#include <algorithm>

#include "harness.h"
#include "registry/registry.h"
#include "support/mime.h"
#include "support/site_db.h"
#include "support/smtp_server.h"

namespace orlentatest {
namespace {

class EndToEnd : public OrlentaTest {
 protected:
  EndToEnd() { RegisterAppId(); }
};

TEST_F(EndToEnd, OnePassDeliversTheSitesPendingNotifications) {
  testsupport::SmtpServer server;
  // The service keeps connection strings short: the site goes into the test's own folder.
  std::filesystem::path site = dir / "site.db";
  std::filesystem::copy_file(sitedb::FreshSite(true), site);
  {
    sitedb::Db sql(site);
    sql.Exec("update EMailConfiguration set EMailEnabled = 1, SmtpHost = '127.0.0.1', SmtpPort = " +
             std::to_string(server.Port()) +
             ", SendTimeout = 5, FromEMailAddress = 'tracker@example.com', ServerLoginRequired = 0");
    sql.Exec("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values "
             "('alice@example.com', 5, 'Assignment Notice'), ('carol@example.com', 2, 'Assignment Notice')");
  }
  StandardSetup();
  // The real sender, where it was built.
  SetProductValue("INSTALLDIR", std::filesystem::path(KESPRIN_PATH).parent_path().string());
  AddDatabase("Issues", sitedb::ConnectionString(site));

  auto orlenta = Start();
  ASSERT_TRUE(WaitForText("Orlenta.exe::ProcessEachDatabase finished")) << testsupport::ReadFile(eventFile);
  // Delivered within the first pass, before it ended.
  EXPECT_EQ(server.MessageCount(), 2u);
  orlenta->Signal(SIGTERM);
  EXPECT_EQ(orlenta->WaitExit(), 0);

  std::vector<std::string> to;
  for (const auto& mail : server.Messages()) {
    auto m = testsupport::mime::Parse(mail.data);
    EXPECT_EQ(m.MediaType(), "multipart/alternative");
    to.insert(to.end(), mail.recipients.begin(), mail.recipients.end());
  }
  std::sort(to.begin(), to.end());
  EXPECT_EQ(to, (std::vector<std::string>{"alice@example.com", "carol@example.com"}));
  sitedb::Db sql(site);
  EXPECT_EQ(sql.Int("select count(*) from EMailNotifications where StatusCode = 'Sent'"), 2);
  EXPECT_GE(Count("Kesprin.exe::SendNotifications completed successfully."), 1u);
  EXPECT_GE(Count("Orlenta.exe::ProcessEachDatabase - Invoking kesprin " + sitedb::ConnectionString(site)), 1u);
  EXPECT_EQ(server.MessageCount(), 2u);  // later passes find nothing more to send
}

}  // namespace
}  // namespace orlentatest
