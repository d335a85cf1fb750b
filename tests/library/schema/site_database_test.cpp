// Creating the site database file: refusals leave everything as it was, success leaves exactly
// one complete file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/password.h"
#include "schema/site_database.h"
#include "support/site_db.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using brisquel::schema::CheckAdministrator;
using brisquel::schema::CreateSiteDatabase;
using brisquel::schema::SetupError;

namespace {

size_t EntriesIn(const fs::path& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
  return n;
}

std::string ErrorOf(const fs::path& file, const std::string& id, const std::string& password) {
  try {
    CreateSiteDatabase(file, id, password, false);
  } catch (const SetupError& e) {
    return e.what();
  }
  return "";
}

TEST(SiteDatabaseTest, AnExistingPathIsNeverTouched) {
  testsupport::TempDir dir;
  fs::path file = dir / "site.db";
  testsupport::WriteFile(file, "not a database");
  std::string message = ErrorOf(file, "admin", "pw");
  EXPECT_NE(message.find("already exists"), std::string::npos) << message;
  EXPECT_EQ(testsupport::ReadFile(file), "not a database");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);  // no temporary file left either

  // A link, even one that points nowhere, is an existing name too.
  fs::create_symlink(dir / "nowhere.db", dir / "link.db");
  message = ErrorOf(dir / "link.db", "admin", "pw");
  EXPECT_NE(message.find("already exists"), std::string::npos) << message;
  EXPECT_FALSE(fs::exists(dir / "nowhere.db"));

  // A folder as well.
  fs::create_directory(dir / "folder.db");
  EXPECT_NE(ErrorOf(dir / "folder.db", "admin", "pw").find("already exists"), std::string::npos);
}

TEST(SiteDatabaseTest, RefusalsBeforeAnythingIsWritten) {
  testsupport::TempDir dir;
  EXPECT_EQ(ErrorOf(dir / "a.db", "", "pw"), "Id cannot be blank.");
  EXPECT_EQ(ErrorOf(dir / "a.db", "1admin", "pw"),
            "Id must begin with a letter, and only contain letters and digits.");
  EXPECT_EQ(ErrorOf(dir / "a.db", "site_admin", "pw"),
            "Id must begin with a letter, and only contain letters and digits.");
  EXPECT_EQ(ErrorOf(dir / "a.db", std::string(51, 'a'), "pw"), "Id cannot be longer than 50 characters.");
  EXPECT_EQ(ErrorOf(dir / "a.db", "admin", ""), "The site administrator's password cannot be blank.");
  EXPECT_EQ(ErrorOf(dir / "a.db", "admin", std::string(21, 'p')),
            "Password cannot be longer than 20 characters.");
  EXPECT_NE(ErrorOf(dir / "missing" / "a.db", "admin", "pw").find("does not exist"), std::string::npos);
  EXPECT_EQ(EntriesIn(dir.path()), 0u);
  // The limits themselves pass; characters, not bytes, are counted.
  EXPECT_EQ(CheckAdministrator(std::string(50, 'a'), std::string(20, 'p')), "");
  EXPECT_EQ(CheckAdministrator("a1", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
                                     "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"),
            "");
}

TEST(SiteDatabaseTest, ANewFileIsCompleteAndPrivate) {
  testsupport::TempDir dir;
  fs::path file = dir / "new.db";
  auto report = CreateSiteDatabase(file, "Boss", "pw", false);
  ASSERT_FALSE(report.empty());
  EXPECT_NE(report.front().find("1.11"), std::string::npos);
  // Only the database itself: no journal, log or temporary file.
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IRWXO, 0u) << "others must not read password hashes";

  sitedb::Db db(file);
  EXPECT_EQ(db.Text("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(db.Text("SELECT UserId FROM Users"), "Boss");
  EXPECT_EQ(db.Text("PRAGMA integrity_check"), "ok");
  // A second site gets a secret of its own.
  fs::path second = dir / "second.db";
  CreateSiteDatabase(second, "Boss", "pw", false);
  sitedb::Db other(second);
  EXPECT_NE(db.Text("SELECT hex(Value) FROM VantrelSecrets"), other.Text("SELECT hex(Value) FROM VantrelSecrets"));
}

TEST(SiteDatabaseTest, AnAdministratorNamedLikeADemoUserKeepsThePassword) {
  testsupport::TempDir dir;
  auto report = CreateSiteDatabase(dir / "demo.db", "Alice", "mine", true);
  EXPECT_NE(report.back().find("bob, carol, dave"), std::string::npos) << report.back();
  sitedb::Db db(dir / "demo.db");
  EXPECT_EQ(db.Rows("SELECT UserId, SiteAdministrator FROM Users WHERE UserId = 'alice'"),
            std::vector<std::string>{"Alice|1"});
  EXPECT_TRUE(brisquel::VerifySecret(db.Text("SELECT Password FROM Users WHERE UserId = 'alice'"), "mine"));
  EXPECT_EQ(db.Int("SELECT count(*) FROM SummaryLayouts WHERE UserId = 'alice'"), 1);
  EXPECT_EQ(db.Int("SELECT ProjectAdministrator FROM ProjectUsers WHERE UserId = 'alice'"), 1);
}

TEST(SiteDatabaseTest, BuildingOnADatabaseThatIsNotEmptyFails) {
  testsupport::TempDir dir;
  sitedb::Db db(dir / "used.db");
  db.Exec("CREATE TABLE Groups (GroupCode TEXT)");
  db.Exec("BEGIN");
  EXPECT_THROW(brisquel::schema::BuildSiteDatabase(db.handle(), "admin", "pw", false), SetupError);
  db.Exec("ROLLBACK");
  EXPECT_EQ(db.Int("SELECT count(*) FROM sqlite_schema"), 1);
}

}  // namespace
