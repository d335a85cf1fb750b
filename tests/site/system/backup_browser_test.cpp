// The backup and restore pages in Chromium: the administrator sets a daily backup (a missing
// folder is refused), runs one now through the real job agent, reads its report, is refused a
// damaged backup and restores the good one, after which the site shows what it held then.
#include <fstream>

#include "system_site.h"

namespace systemtest {
namespace {

class BackupBrowserTest : public SystemSite {
 protected:
  // Overwrites the root page of the Issues table in a copy of a backup: its header still reads,
  // its integrity check fails.
  static void Damage(const fs::path& file) {
    long long root = 0, size = 0;
    {
      sitedb::Db copy(file);
      root = copy.Int("select rootpage from sqlite_master where name = 'Issues'");
      size = copy.Int("PRAGMA page_size");
    }
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp((root - 1) * size);
    out << std::string(static_cast<size_t>(size), '\xA5');
  }
  const char* kSummary = "select Summary from Issues where IssueId = 1";
};

TEST_F(BackupBrowserTest, TheAdministratorBacksTheSiteUpAndRestoresIt) {
  testsupport::SignIn(*page, site, "admin", "Secret1");
  ASSERT_EQ(page->Navigate(site.Url("/Setup/SiteBackup.asp")), 200);
  EXPECT_EQ(Text("AgentSentence"),
            "The job agent (vantrel-agent) is not running: scheduled backups wait until it runs, and \"Back up now\" "
            "starts it.");
  SetChecked("BackupDatabase", true);
  SetValue("BackupFrequency", "Day");
  SetValue("BackupTime", "03:00");
  SetValue("BackupArchive", (dir / "missing").string());
  SetChecked("ExpireBackups", true);
  SetValue("BackupRetention", "2 Weeks");
  page->ClickAndWait("#cmdSave");
  EXPECT_EQ(Text("Message"), "Folder to store backups in does not exist (No such file or directory).");
  EXPECT_EQ(Eval("document.getElementsByName('BackupTime')[0].value"), "03:00");
  EXPECT_EQ(Sql("select BackupDatabase from SiteBackups"), "0");

  SetValue("BackupArchive", archive.string());
  page->ClickAndWait("#cmdSave");
  EXPECT_EQ(page->Path(), "/APP/Setup/SiteBackup.asp");
  EXPECT_EQ(sitedb::Db(site.DatabaseFile()).Rows("select BackupDatabase, BackupFrequency, BackupTime, BackupArchive "
                                                 "from SiteBackups"),
            std::vector<std::string>{"1|Day|03:00|" + archive.string()});
  auto job = agent::Store(store).FindJob(fs::weakly_canonical(site.DatabaseFile()).string(), "site Backup");
  ASSERT_TRUE(job);
  auto schedules = agent::Store(store).Schedules(job->id);
  ASSERT_EQ(schedules.size(), 1u);
  EXPECT_EQ(schedules[0].interval, 1);
  EXPECT_EQ(schedules[0].activeStartTime, 30000);

  // Back up now: the site starts the agent, which runs the job; the run and its report show.
  page->ClickAndWait("#cmdBackupNow");
  EXPECT_EQ(page->Evaluate("location.search"), "?Started=1");
  EXPECT_EQ(agent::Status(store), agent::kRunning);
  bool ran = false;
  for (int i = 0; i < 100 && !ran; ++i) {
    page->Navigate(site.Url("/Setup/SiteBackup.asp"));
    ran = page->Evaluate("!!document.querySelector('#BackupHistory a.ReportLink')").get<bool>();
    if (!ran) std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(ran);
  EXPECT_EQ(Text("AgentSentence"), "");
  EXPECT_EQ(page->Evaluate("document.querySelector('#BackupHistory tr:nth-child(2) td:nth-child(2)').innerText"),
            "Succeeded");
  const std::string backup =
      Eval("document.querySelector('#BackupHistory tr:nth-child(2) td:nth-child(4)').innerText");
  EXPECT_TRUE(fs::is_regular_file(archive / backup)) << backup;
  page->ClickAndWait("#BackupHistory a.ReportLink");
  EXPECT_NE(Text("BackupReport").find("Backed up to " + (archive / backup).string()), std::string::npos)
      << Text("BackupReport");

  // What the site holds after the backup, and a damaged copy of the backup beside it.
  const std::string before = Sql(kSummary);
  sitedb::Db(site.DatabaseFile()).Exec("update Issues set Summary = 'Changed after the backup' where IssueId = 1");
  fs::copy_file(archive / backup, archive / ("damaged-" + backup));
  Damage(archive / ("damaged-" + backup));

  page->Navigate(site.Url("/Setup/SiteRestore.asp"));
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#Backups tr td:first-child')].map(c => c.innerText)"),
            Json::array({"Backup file", "damaged-" + backup, backup}));
  page->ClickAndWait("#Backups tr:nth-child(2) a.RestoreLink");
  page->ClickAndWait("#cmdRestore");
  EXPECT_EQ(Text("Message").rfind("The backup failed its integrity check: ", 0), 0u) << Text("Message");
  EXPECT_EQ(Sql(kSummary), "Changed after the backup");

  page->ClickAndWait("#Backups tr:nth-child(3) a.RestoreLink");
  EXPECT_NE(Text("Confirmation").find("Restoring the backup " + backup), std::string::npos);
  EXPECT_NE(Text("Confirmation").find("replaces the whole content of this site"), std::string::npos);
  page->ClickAndWait("#cmdRestore");
  EXPECT_EQ(Text("Restored"), "The site was restored from " + backup + ".");
  EXPECT_NE(Text("RestoreMessages").find("Safety copy of the site before the restore: "), std::string::npos);
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
  EXPECT_EQ(Eval("document.getElementById('Summary').value"), before);
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

}  // namespace
}  // namespace systemtest

namespace systemtest {
namespace {

// A site with a registry, job store and unit folder of the test's own, where no vantrel-agent is
// to be found; with `blocked`, a file stands where the job store's folder would be made.
class NoAgentSite : public ::testing::Test {
 protected:
  explicit NoAgentSite(bool blocked) : store(blocked ? dir / "file" / "agent.db" : dir / "agent.db") {}
  std::string Text(const std::string& id) {
    return page->Evaluate("(document.getElementById(" + Json(id).dump() + ")?.innerText ?? '')").get<std::string>();
  }
  void SetValue(const std::string& name, const std::string& value) {
    page->Evaluate("document.getElementsByName(" + Json(name).dump() + ")[0].value = " + Json(value).dump());
  }

  testsupport::TempDir dir;
  fs::path store;
  bool prepared = [this] {
    testsupport::WriteFile(dir / "file", "");
    fs::create_directories(dir / "units");
    fs::create_directories(dir / "empty");
    testsupport::WriteFile(dir / "registry", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel]\nINSTALLDIR=" +
                                                 (dir / "empty").string() + "\n");
    return true;
  }();
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  testsupport::ScopedEnv storeEnv{"VANTREL_AGENT_STORE", store.string()};
  testsupport::ScopedEnv unitEnv{"VANTREL_UNIT_DIR", (dir / "units").string()};
  testsupport::ScopedEnv pathEnv{"PATH", (dir / "empty").string()};
  testsupport::SiteServer site;
  std::unique_ptr<testsupport::Page> page = testsupport::Browser::Shared().NewPage();
};

class UnusableStoreTest : public NoAgentSite {
 protected:
  UnusableStoreTest() : NoAgentSite(true) {}
};

class AgentNotFoundTest : public NoAgentSite {
 protected:
  AgentNotFoundTest() : NoAgentSite(false) {}
};

TEST_F(UnusableStoreTest, TheStoreIsNamedInASentenceAndTheFormIsKept) {
  const std::string sentence = "The job store " + store.string() + " cannot be created: its folder " +
                               (dir / "file").string() +
                               " is missing and cannot be made (Not a directory). Make the folder, writable by the "
                               "site host and the agent, or set VANTREL_AGENT_STORE to a file in a folder they can "
                               "write.";
  testsupport::SignIn(*page, site, "admin", "Secret1");
  ASSERT_EQ(page->Navigate(site.Url("/Setup/SiteBackup.asp")), 200);
  EXPECT_EQ(Text("AgentSentence"), sentence);
  EXPECT_EQ(page->Evaluate("!!document.getElementById('BackupHistory')"), false);
  SetValue("BackupArchive", (dir / "empty").string());
  SetValue("BackupTime", "05:00");
  page->ClickAndWait("#cmdSave");
  EXPECT_EQ(Text("Message"), sentence);
  EXPECT_EQ(page->Evaluate("[document.getElementsByName('BackupArchive')[0].value,"
                           " document.getElementsByName('BackupTime')[0].value]"),
            Json::array({(dir / "empty").string(), "05:00"}));
  page->ClickAndWait("#cmdBackupNow");
  EXPECT_EQ(Text("Message"), sentence);
  EXPECT_TRUE(page->Evaluate("!!document.getElementById('cmdSave')").get<bool>());

  ASSERT_EQ(page->Navigate(site.Url("/Setup/SiteRestore.asp")), 200);
  EXPECT_EQ(Text("AgentSentence"), sentence);
  EXPECT_EQ(page->BodyText().find("An unexpected error has occurred"), std::string::npos) << page->BodyText();
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(AgentNotFoundTest, TheMessageNamesWhereTheAgentWasLookedForWithItsListItem) {
  testsupport::SignIn(*page, site, "admin", "Secret1");
  ASSERT_EQ(page->Navigate(site.Url("/Setup/SiteBackup.asp")), 200);
  SetValue("BackupArchive", (dir / "empty").string());
  page->ClickAndWait("#cmdSave");
  ASSERT_EQ(Text("Message"), "");
  page->ClickAndWait("#cmdBackupNow");
  const std::string looked = (testsupport::SiteProgram().parent_path() / "vantrel-agent").string() + ", " +
                             (dir / "empty" / "vantrel-agent").string() + ", " +
                             (dir / "empty" / "vantrel-agent").string();
  // The line break and the list item are markup; the text around them stays text.
  EXPECT_EQ(page->Evaluate("[...document.getElementById('Message').childNodes].map(n => n.nodeName)"),
            Json::parse(R"(["#text", "BR", "#text", "LI"])"));
  EXPECT_EQ(Text("Message"),
            "The SQL Agent could not be configured to automatically start at boot time (fyi only).\n"
            "The SQL Agent could not be started due to an error (vantrel-agent cannot be started: No such file or "
            "directory; it was looked for as " + looked + " (beside this program, in the registry's INSTALLDIR, then "
            "on PATH)).\nThis is typically caused by an incorrect user/password configuration for the SQL Agent "
            "service startup account.");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

}  // namespace
}  // namespace systemtest
