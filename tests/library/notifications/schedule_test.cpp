#include <gtest/gtest.h>

#include <string>

#include "mail_site.h"

namespace brisquel::mailtest {
namespace {

using automation::Variant;

class ScheduleTest : public MailSite {
 protected:
  std::shared_ptr<MultipartFormData> Settings(const std::string& enabled, const std::string& frequency = "15") {
    return Form({{"EMailEnabled", enabled},
                 {"SmtpHost", "mail.example.com"},
                 {"SmtpPort", "25"},
                 {"WebsiteURL", "http://tracker.example.com"},
                 {"SendTimeout", "30"},
                 {"MaximumDeliveryAttempts", "3"},
                 {"DeliveryFrequency", frequency}});
  }
  bool Save(Database& d, const std::string& enabled, const std::string& frequency = "15",
            const std::string& folder = {}) {
    return UpdateEMailConfig(d, "admin", folder.empty() ? site.string() : folder, GetEMailConfigRs(d),
                             Settings(enabled, frequency));
  }
  std::string DataLink() const { return "File name=" + (site / "DbConnection.udl").string(); }
  std::shared_ptr<Database> OpenWith(const std::string& connectionString) {
    auto d = std::make_shared<Database>();
    d->SetConnectionString(connectionString);
    return d;
  }

  fs::path site = [this] {
    fs::create_directory(dir / "www");
    return dir / "www";
  }();
};

TEST_F(ScheduleTest, EnabledSaveRegistersTheDatabaseAndItsFrequency) {
  ASSERT_TRUE(Save(*db, "1", "15")) << db->LastErrorMessage();
  EXPECT_EQ(Registered("Issues"), DataLink());
  EXPECT_EQ(Schedule(), "15");
  // Saved again with another frequency: one value, the newest frequency.
  ASSERT_TRUE(Save(*db, "1", "60"));
  EXPECT_EQ(Schedule(), "60");
  EXPECT_EQ(registry::ReadValues(registry::kDatabasesKey).size(), 1u);
}

TEST_F(ScheduleTest, TheRegisteredDataOpensTheSite) {
  ASSERT_TRUE(Save(*db, "1"));
  // The site's data-link file holds its connection string; the sender opens what the service
  // hands it from the registry.
  testsupport::WriteFile(site / "DbConnection.udl", sitedb::ConnectionString(file));
  auto sender = OpenWith(*Registered("Issues"));
  EXPECT_EQ(GetEMailConfigRs(*sender)->Value("DeliveryFrequency").ToLong(), 15);
}

TEST_F(ScheduleTest, MovedSiteIsRegisteredWithItsNewFolder) {
  ASSERT_TRUE(Save(*db, "1"));
  fs::create_directory(dir / "moved");
  ASSERT_TRUE(Save(*db, "1", "15", (dir / "moved/").string()));
  EXPECT_EQ(Registered("Issues"), "File name=" + (dir / "moved" / "DbConnection.udl").string());
  EXPECT_EQ(registry::ReadValues(registry::kDatabasesKey).size(), 1u);
}

TEST_F(ScheduleTest, DisabledSaveRemovesTheDatabaseAndStopsTheLastOne) {
  ASSERT_TRUE(Save(*db, "1"));
  ASSERT_TRUE(Save(*db, "0"));
  EXPECT_FALSE(Registered("Issues").has_value());
  EXPECT_EQ(Schedule(), "0");
  // Nothing left to delete: still a success.
  ASSERT_TRUE(Save(*db, "0")) << db->LastErrorMessage();
  EXPECT_EQ(Schedule(), "0");
  EXPECT_EQ(db->LastErrorMessage(), "");
}

TEST_F(ScheduleTest, OneSiteSwitchingOffLeavesTheOthersServed) {
  registry::WriteValue(registry::kDatabasesKey, "Other", "File name=/srv/other/DbConnection.udl");
  registry::WriteValue(registry::kVantrelKey, "EMailSchedule", "5");
  ASSERT_TRUE(Save(*db, "1", "10"));
  EXPECT_EQ(Schedule(), "10");
  ASSERT_TRUE(Save(*db, "0"));
  EXPECT_FALSE(Registered("Issues").has_value());
  EXPECT_EQ(Registered("Other"), "File name=/srv/other/DbConnection.udl");
  EXPECT_EQ(Schedule(), "10");
}

TEST_F(ScheduleTest, DatabaseNameComesFromTheCatalogueItemInAnyCase) {
  auto n = std::make_shared<Notifications>();
  EXPECT_EQ(GetDbName(*n, *db), "Issues");  // the connection reports its file stem
  for (const std::string item : {"Initial Catalog=Issues", "initial catalog=Issues", "INITIAL CATALOG=Issues"}) {
    auto d = OpenWith(sitedb::ConnectionString(file) + ";" + item);
    EXPECT_EQ(GetDbName(*n, *d), "Issues") << item;
  }
  // The first item counts and its value is taken as it is.
  auto d = OpenWith(sitedb::ConnectionString(file) + ";Initial Catalog= Tracker ;Initial Catalog=Second");
  EXPECT_EQ(GetDbName(*n, *d), " Tracker ");
  // By name, with the Database object itself.
  auto byName = automation::CreateObject("Brisquel.Notifications");
  EXPECT_EQ(byName->Call("GetDbName", {Variant(db)}).ToString(), "Issues");
}

TEST_F(ScheduleTest, UpdateEMailJobByNameReflectsTheStoredConfiguration) {
  raw.Exec("update EMailConfiguration set EMailEnabled = 1, DeliveryFrequency = 30");
  auto n = automation::CreateObject("Brisquel.Notifications");
  EXPECT_TRUE(n->Call("UpdateEMailJob", {Variant(db), Variant(site.string())}).ToBool());
  EXPECT_EQ(Registered("Issues"), DataLink());
  EXPECT_EQ(Schedule(), "30");
  EXPECT_THROW(n->Call("UpdateEMailJob", {Variant(std::shared_ptr<automation::Object>()), Variant("x")}),
               automation::ComError);
}

TEST_F(ScheduleTest, WithoutADatabaseNameNoRegistrationIsTouched) {
  registry::WriteValue(registry::kDatabasesKey, "Other", "File name=/srv/other/DbConnection.udl");
  registry::WriteValue(registry::kDatabasesKey, "", "default value of the key");
  registry::WriteValue(registry::kVantrelKey, "EMailSchedule", "5");
  auto nameless = OpenWith(sitedb::ConnectionString(file) + ";Initial Catalog=");
  auto n = std::make_shared<Notifications>();
  ASSERT_EQ(GetDbName(*n, *nameless), "");

  // Switching on cannot register the site: refused before anything is saved.
  EXPECT_FALSE(Save(*nameless, "1"));
  EXPECT_EQ(nameless->LastErrorMessage(),
            "The database name cannot be read from the connection, so the notification service cannot serve this "
            "site. The settings were not saved.");
  EXPECT_EQ(raw.Text("select EMailEnabled from EMailConfiguration"), "0");

  // Switching off removes nothing and keeps the other sites' schedule.
  ASSERT_TRUE(Save(*nameless, "0")) << nameless->LastErrorMessage();
  EXPECT_EQ(Registered("Other"), "File name=/srv/other/DbConnection.udl");
  EXPECT_EQ(Registered(""), "default value of the key");
  EXPECT_EQ(Schedule(), "5");

  // Called directly on an enabled configuration it reports the problem and writes nothing.
  raw.Exec("update EMailConfiguration set EMailEnabled = 1");
  EXPECT_FALSE(UpdateEMailJob(*n, *nameless, site.string()));
  EXPECT_NE(n->GetLastErrorMessage(), "");
  EXPECT_EQ(registry::ReadValues(registry::kDatabasesKey).size(), 2u);
  EXPECT_EQ(Schedule(), "5");
}

TEST_F(ScheduleTest, AFailedSaveNeverReachesTheRegistry) {
  auto stale = GetEMailConfigRs(*db);
  ASSERT_TRUE(Save(*db, "0"));
  ASSERT_FALSE(registry::ReadValue(registry::kDatabasesKey, "Issues").has_value());
  // The stale recordset's save of "on" is refused: the service must not learn of it.
  EXPECT_FALSE(UpdateEMailConfig(*db, "admin", site.string(), stale, Settings("1")));
  EXPECT_EQ(db->LastErrorMessage(), "Another session has changed this information. You must cancel your changes.");
  EXPECT_FALSE(Registered("Issues").has_value());
  EXPECT_EQ(Schedule(), "0");
  // A non-administrator's save never reaches it either.
  EXPECT_FALSE(UpdateEMailConfig(*db, "bob", site.string(), GetEMailConfigRs(*db), Settings("1")));
  EXPECT_FALSE(Registered("Issues").has_value());
}

TEST_F(ScheduleTest, RegistryFailureIsRaisedAndLeavesTheSettingsAsTheyWere) {
  // The registry's folder cannot exist (a file is in the way): writing fails.
  testsupport::WriteFile(dir / "not-a-folder", "");
  testsupport::ScopedEnv broken("VANTREL_REGISTRY", (dir / "not-a-folder" / "registry").string());
  try {
    Save(*db, "1");
    ADD_FAILURE() << "no error raised";
  } catch (const automation::ComError& e) {
    EXPECT_NE(e.source.find("Notifications.UpdateEMailJob"), std::string::npos) << e.source;
  }
  // The connection is left usable, with no transaction open, and the settings are not saved.
  EXPECT_FALSE(db->Connection().InTransaction());
  EXPECT_EQ(raw.Text("select EMailEnabled from EMailConfiguration"), "0");
}

TEST_F(ScheduleTest, AWriteOrCommitFailingPutsTheEarlierRegistrationBack) {
  ASSERT_TRUE(Save(*db, "1", "15")) << db->LastErrorMessage();
  // The old registration is removed before the new one is written; a folder the registry cannot
  // hold (a line break) fails that write.
  EXPECT_THROW(Save(*db, "1", "60", (dir / "www\nother").string()), automation::ComError);
  EXPECT_EQ(Registered("Issues"), DataLink());
  EXPECT_EQ(Schedule(), "15");
  EXPECT_EQ(raw.Text("select DeliveryFrequency from EMailConfiguration"), "15");

  // The registry is written, then the commit fails (a deferred reference the save leaves broken):
  // the registry is put back as it was and the settings stay unsaved.
  raw.Exec("CREATE TABLE CommitProbe (Ref INTEGER REFERENCES Issues (IssueId) DEFERRABLE INITIALLY DEFERRED);"
           "CREATE TRIGGER CommitProbeOnSave AFTER UPDATE ON EMailConfiguration "
           "BEGIN INSERT INTO CommitProbe VALUES (-1); END");
  const fs::path moved = dir / "moved";
  fs::create_directory(moved);
  try {
    Save(*db, "1", "60", moved.string());
    ADD_FAILURE() << "no error raised";
  } catch (const automation::ComError& e) {
    EXPECT_NE(e.description.find("FOREIGN KEY"), std::string::npos) << e.description;
  }
  EXPECT_FALSE(db->Connection().InTransaction());
  EXPECT_EQ(Registered("Issues"), DataLink());
  EXPECT_EQ(Schedule(), "15");
  EXPECT_EQ(raw.Text("select DeliveryFrequency from EMailConfiguration"), "15");
  EXPECT_EQ(raw.Int("select count(*) from CommitProbe"), 0);
}

}  // namespace
}  // namespace brisquel::mailtest
