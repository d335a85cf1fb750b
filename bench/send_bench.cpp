// Notification delivery: 1,000 pending notifications composed from the seeded template and sent
// to an SMTP server on loopback in one SendNotifications run; and composing alone (message built
// and written, nothing sent), to tell the composer's share from the transport's. Each outcome is
// committed as it happens (a sent message is never sent twice), so the delivery rate depends on
// the database's synchronous setting: measured with the default (FULL) and with NORMAL.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/database.h"
#include "core/lookups.h"
#include "notifications/compose.h"
#include "notifications/email_config.h"
#include "notifications/notifications.h"
#include "smtp/smtp.h"
#include "support/site_db.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace {

constexpr int kNotifications = 1000;

struct Site {
  testsupport::TempDir dir;
  testsupport::SmtpServer server;
  std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<brisquel::Database> db;
  explicit Site(const std::string& connectionOptions = "") {
    // No registry: no trace lines.
    setenv("VANTREL_REGISTRY", (dir / "registry").c_str(), 1);
    sitedb::Db sql(file);
    sql.Exec("update EMailConfiguration set EMailEnabled = 1, SmtpHost = '127.0.0.1', SmtpPort = " +
             std::to_string(server.Port()) +
             ", SendTimeout = 5, FromEMailAddress = 'tracker@example.com', ServerLoginRequired = 0, "
             "WebSiteURL = 'http://tracker.example.com/'");
    db = std::make_shared<brisquel::Database>();
    db->SetConnectionString(sitedb::ConnectionString(file) + connectionOptions);
  }
  void Queue() {
    sitedb::Db sql(file);
    sql.Exec("delete from EMailNotifications");
    sql.Exec("begin");
    for (int i = 0; i < kNotifications; ++i)
      sql.Exec("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values ('user" +
               std::to_string(i) + "@example.com', " + std::to_string(1 + i % 6) + ", 'Assignment Notice')");
    sql.Exec("commit");
  }
};

void SendPendingNotifications(benchmark::State& state, const std::string& connectionOptions) {
  Site site(connectionOptions);
  size_t before = 0;
  for (auto _ : state) {
    state.PauseTiming();
    site.Queue();
    before = site.server.MessageCount();
    state.ResumeTiming();
    brisquel::SendNotifications(*site.db);
  }
  if (site.server.MessageCount() - before != kNotifications) state.SkipWithError("not every notification arrived");
  state.SetItemsProcessed(state.iterations() * kNotifications);
}
BENCHMARK_CAPTURE(SendPendingNotifications, SynchronousFull, std::string())
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);
BENCHMARK_CAPTURE(SendPendingNotifications, SynchronousNormal, std::string(";Synchronous=NORMAL"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void BM_ComposeNotifications(benchmark::State& state) {
  Site site;
  auto& db = *site.db;
  auto config = brisquel::GetEMailConfigRs(db);
  auto tmpl = brisquel::GetEMailTemplateRs(db, "Assignment Notice");
  auto type = brisquel::GetEMailTemplateTypeRs(db, "HTML");
  auto headers = brisquel::GetTemplateTypeHeadersRs(db, "HTML");
  auto parts = brisquel::GetTemplateTypePartsRs(db, "HTML");
  for (auto _ : state) {
    brisquel::MessageComposer composer(db, "http://tracker.example.com/", brisquel::ReadFieldRepresentations(db));
    for (int i = 0; i < kNotifications; ++i) {
      auto issue = brisquel::GetIssueRs(db, 1 + i % 6);
      auto message = composer.BuildMailMessage(*config, "user" + std::to_string(i) + "@example.com", *issue, *tmpl,
                                               *type, headers.get(), *parts);
      smtp::RenderedMessage out;
      std::string error;
      if (!smtp::RenderMessage(*message, out, error)) state.SkipWithError(error.c_str());
      benchmark::DoNotOptimize(out.data.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kNotifications);
}
BENCHMARK(BM_ComposeNotifications)->Unit(benchmark::kMillisecond);

}  // namespace
