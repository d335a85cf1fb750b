#include "schema/site_database.h"

#include <fcntl.h>
#include <sodium.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "ado/row_version.h"
#include "core/buffer.h"
#include "core/password.h"
#include "schema/constraints.h"
#include "schema/sql_files.h"
#include "schema/text_search.h"

namespace brisquel::schema {

namespace {

namespace fs = std::filesystem;

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr) != SQLITE_OK) {
      throw SetupError("Preparing \"" + sql + "\" failed: " + sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int i, std::string_view text) {
    // A view without a pointer would bind NULL, not ''.
    sqlite3_bind_text(st_, i, text.data() ? text.data() : "", static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int i, int64_t value) {
    sqlite3_bind_int64(st_, i, value);
    return *this;
  }
  Statement& BindBlob(int i, const void* data, int size) {
    sqlite3_bind_blob(st_, i, data, size, SQLITE_TRANSIENT);
    return *this;
  }
  // True while a row is there; throws on an error.
  bool Step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw SetupError(std::string("A statement of the setup failed: ") + sqlite3_errmsg(db_));
  }
  void Run() {
    while (Step()) {
    }
    Reset();
  }
  void Reset() { sqlite3_reset(st_); }
  std::string Text(int i) const {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(st_, i));
    return p ? p : "";
  }
  int64_t Int(int i) const { return sqlite3_column_int64(st_, i); }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

void Exec(sqlite3* db, const std::string& sql, const std::string& what) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw SetupError(what + " failed: " + msg);
  }
}

// The schema files of one kind, in name order: '0' table definitions, '1' first rows.
void RunSqlFiles(sqlite3* db, char kind) {
  for (std::string_view name : SqlFileNames()) {
    if (name.empty() || name[0] != kind) continue;
    Exec(db, std::string(SqlFileText(name)), "The schema file " + std::string(name));
  }
}

void InstallRowVersions(sqlite3* db) {
  std::vector<std::string> tables;
  {
    Statement st(db,
                 "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
                 "ESCAPE '!' ORDER BY name");
    while (st.Step()) tables.push_back(st.Text(0));
  }
  for (const auto& table : tables) {
    if (!ado::HasRowVersion(db, table)) continue;
    try {
      ado::InstallRowVersion(db, table);
    } catch (const std::exception& e) {
      throw SetupError("Installing the row version of " + table + " failed: " + e.what());
    }
  }
}

void StartSodium() {
  if (sodium_init() < 0) throw SetupError("The cryptographic library could not be started.");
}

void InsertSecret(sqlite3* db) {
  unsigned char secret[32];
  randombytes_buf(secret, sizeof secret);
  Statement(db, "INSERT INTO VantrelSecrets (Name, Value) VALUES (?, ?)")
      .Bind(1, kRecordsetImageSecret)
      .BindBlob(2, secret, sizeof secret)
      .Run();
  sodium_memzero(secret, sizeof secret);
}

// The layout 'Default' every new user gets: row 1 holds the listed fields that exist, row 2 the
// summary.
void AddDefaultLayout(sqlite3* db, const std::string& userId) {
  Statement(db, "INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) VALUES (?, 'Default', 2)")
      .Bind(1, userId)
      .Run();
  Statement exists(db, "SELECT 1 FROM IssueFields WHERE FieldName = ?");
  Statement cell(db,
                 "INSERT INTO SummaryLayoutFields (UserId, LayoutName, RowNumber, DisplayOrder, "
                 "FieldName) VALUES (?, 'Default', ?, ?, ?)");
  auto add = [&](int row, int order, const char* field) {
    exists.Bind(1, field);
    bool found = exists.Step();
    exists.Reset();
    if (!found) return false;
    cell.Bind(1, userId).Bind(2, row).Bind(3, order).Bind(4, field).Run();
    return true;
  };
  int order = 1;
  for (const char* field : {"IssueId", "PriorityCode", "SeverityCode", "ProjectCode", "ModuleCode",
                            "ResolutionCode", "AssignedToUser", "StatusCode"}) {
    if (add(1, order, field)) ++order;
  }
  add(2, 1, "Summary");
}

void InsertAdministrator(sqlite3* db, const std::string& userId, const std::string& password) {
  Statement(db,
            "INSERT INTO Users (UserId, UserName, UserEMail, Password, SiteAdministrator, PublicUser, "
            "EMailEnabled, DefaultFilter) VALUES (?, 'Site administrator', '', ?, 1, 0, 1, ?)")
      .Bind(1, userId)
      .Bind(2, HashSecret(password))
      .Bind(3, "s:" + userId)
      .Run();
  // A member of the working groups, so that issues can be assigned to the administrator too.
  Exec(db,
       "INSERT INTO UserGroups (UserId, GroupCode) SELECT UserId, GroupCode FROM Users, Groups "
       "WHERE SiteAdministrator = 1 AND GroupCode IN ('Developers', 'Testers')",
       "Adding the site administrator to the groups");
  AddDefaultLayout(db, userId);
}

void AddDemo(sqlite3* db, const std::string& adminUserId) {
  Exec(db, std::string(SqlFileText("demo.sql")), "The demo file demo.sql");
  std::vector<std::string> users;
  {
    Statement st(db, "SELECT UserId FROM Users WHERE Password = '' ORDER BY UserId");
    while (st.Step()) users.push_back(st.Text(0));
  }
  Statement setPassword(db, "UPDATE Users SET Password = ? WHERE UserId = ?");
  for (const auto& user : users) setPassword.Bind(1, HashSecret(kDemoPassword)).Bind(2, user).Run();
  {
    Statement st(db,
                 "SELECT UserId FROM Users WHERE NOT EXISTS (SELECT 1 FROM SummaryLayouts "
                 "WHERE SummaryLayouts.UserId = Users.UserId) ORDER BY UserId");
    std::vector<std::string> withoutLayout;
    while (st.Step()) withoutLayout.push_back(st.Text(0));
    for (const auto& user : withoutLayout) AddDefaultLayout(db, user);
  }
  Statement(db,
            "INSERT INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator) VALUES (1, ?, 1) "
            "ON CONFLICT (ProjectId, UserId) DO UPDATE SET ProjectAdministrator = 1")
      .Bind(1, adminUserId)
      .Run();
}

int64_t Count(sqlite3* db, const std::string& sql) {
  Statement st(db, sql);
  return st.Step() ? st.Int(0) : 0;
}

std::string List(sqlite3* db, const std::string& sql) {
  Statement st(db, sql);
  std::string out;
  while (st.Step()) {
    if (!out.empty()) out += ", ";
    out += st.Text(0);
  }
  return out;
}

// Removes the files of a database under construction unless it was moved into place.
class TemporaryDatabase {
 public:
  explicit TemporaryDatabase(fs::path path) : path_(std::move(path)) {}
  ~TemporaryDatabase() {
    if (db_) sqlite3_close_v2(db_);
    if (!keep_) {
      std::error_code ec;
      for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        fs::remove(fs::path(path_.string() + suffix), ec);
      }
    }
  }
  TemporaryDatabase(const TemporaryDatabase&) = delete;
  TemporaryDatabase& operator=(const TemporaryDatabase&) = delete;

  sqlite3* Open() {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      throw SetupError("The new database " + path_.string() + " could not be opened: " +
                       (db_ ? sqlite3_errmsg(db_) : "out of memory"));
    }
    sqlite3_extended_result_codes(db_, 1);
    return db_;
  }
  void Close() {
    if (sqlite3_close(db_) != SQLITE_OK) {
      throw SetupError(std::string("The new database could not be closed: ") + sqlite3_errmsg(db_));
    }
    db_ = nullptr;
  }
  void Keep() { keep_ = true; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  sqlite3* db_ = nullptr;
  bool keep_ = false;
};

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Moves from to to unless to exists; false when it does.
bool MoveIntoPlace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) {
    throw SetupError("The new database could not be moved to " + to.string() + ": " +
                     std::strerror(errno));
  }
  // A file system without RENAME_NOREPLACE: a hard link refuses an existing name just as well.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    throw SetupError("The new database could not be moved to " + to.string() + ": " +
                     std::strerror(errno));
  }
  ::unlink(from.c_str());
  return true;
}

void SyncFolder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string ExistsMessage(const fs::path& file) {
  return "The file " + file.string() +
         " already exists. vantrel-setup never overwrites a file: choose another name or remove "
         "the file first.";
}

}  // namespace

std::string CheckUserId(const std::string& userId) {
  if (userId.empty()) return "Id cannot be blank.";
  if (CharLength(userId) > 50) return "Id cannot be longer than 50 characters.";
  if (!IsAsciiLetter(userId[0])) {
    return "Id must begin with a letter, and only contain letters and digits.";
  }
  for (char c : userId) {
    if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9')) {
      return "Id must begin with a letter, and only contain letters and digits.";
    }
  }
  return "";
}

std::string CheckAdministrator(const std::string& userId, const std::string& password) {
  if (std::string problem = CheckUserId(userId); !problem.empty()) return problem;
  if (password.empty()) return "The site administrator's password cannot be blank.";
  if (CharLength(password) > 20) return "Password cannot be longer than 20 characters.";
  return "";
}

void BuildSiteDatabase(sqlite3* db, const std::string& adminUserId, const std::string& adminPassword,
                       bool demo) {
  std::string problem = CheckAdministrator(adminUserId, adminPassword);
  if (!problem.empty()) throw SetupError(problem);
  StartSodium();
  RunSqlFiles(db, '0');
  // Triggers first, so that every first row gets a row version and passes the emulated keys.
  InstallRowVersions(db);
  try {
    InstallTriggerForeignKeys(db);
  } catch (const std::exception& e) {
    throw SetupError(std::string("Installing the foreign key triggers failed: ") + e.what());
  }
  RunSqlFiles(db, '1');
  // The search indexes of the text fields the first rows declare.
  try {
    textsearch::FollowTextFields(db);
  } catch (const std::exception& e) {
    throw SetupError(std::string("Making the word search's indexes failed: ") + e.what());
  }
  InsertSecret(db);
  InsertAdministrator(db, adminUserId, adminPassword);
  if (demo) AddDemo(db, adminUserId);
}

std::vector<std::string> CreateSiteDatabase(const fs::path& file, const std::string& adminUserId,
                                            const std::string& adminPassword, bool demo) {
  if (file.empty()) throw SetupError("No database file was given.");
  std::string problem = CheckAdministrator(adminUserId, adminPassword);
  if (!problem.empty()) throw SetupError(problem);
  std::error_code ec;
  fs::file_type type = fs::symlink_status(file, ec).type();
  if (type == fs::file_type::none) {
    throw SetupError("The path " + file.string() + " cannot be examined: " + ec.message());
  }
  if (type != fs::file_type::not_found) throw SetupError(ExistsMessage(file));
  if (file.filename().empty()) throw SetupError("The name " + file.string() + " names no file.");
  fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  if (!fs::is_directory(folder, ec)) {
    throw SetupError("The folder " + folder.string() + " does not exist.");
  }

  std::string pattern = (folder / ("." + file.filename().string() + ".setup-XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    throw SetupError("A temporary file could not be created in " + folder.string() + ": " +
                     std::strerror(errno));
  }
  // The database holds password hashes and the site's secret: owner and group only.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0660 & ~mask);
  ::close(fd);
  TemporaryDatabase temp(pattern);

  sqlite3* db = temp.Open();
  Exec(db, "PRAGMA foreign_keys = ON", "Switching foreign keys on");
  Exec(db, "BEGIN IMMEDIATE", "Starting the transaction");
  BuildSiteDatabase(db, adminUserId, adminPassword, demo);
  Exec(db, "COMMIT", "Committing the new database");
  if (Count(db, "SELECT count(*) FROM pragma_foreign_key_check") != 0) {
    throw SetupError("The first rows break a foreign key of the schema.");
  }

  std::vector<std::string> report;
  report.push_back("Created the site database " + file.string() + " at schema version " +
                   std::string(kDatabaseVersion) + ".");
  report.push_back("Site administrator: " + adminUserId + ".");
  report.push_back("Site workflow 1: " + std::to_string(Count(db, "SELECT count(*) FROM WorkflowStates")) +
                   " states and " + std::to_string(Count(db, "SELECT count(*) FROM WorkflowActions")) +
                   " actions.");
  report.push_back("Status codes: " +
                   List(db, "SELECT StatusCode FROM StatusCodes WHERE StatusCode <> '' ORDER BY SortOrder") +
                   ".");
  report.push_back("Resolutions: " +
                   List(db, "SELECT ResolutionCode FROM Resolutions WHERE ResolutionCode <> '' "
                            "ORDER BY SortOrder") +
                   ".");
  report.push_back("Groups: " + List(db, "SELECT GroupCode FROM Groups ORDER BY GroupCode") + ".");
  report.push_back("E-mail notifications are switched off until they are configured.");
  if (demo) {
    report.push_back("Demo project 'Demo' with " +
                     std::to_string(Count(db, "SELECT count(*) FROM Issues")) + " issues; demo users " +
                     List(db, "SELECT UserId FROM Users WHERE SiteAdministrator = 0 ORDER BY UserId") +
                     " with the password '" + std::string(kDemoPassword) + "'.");
  }
  Exec(db, "PRAGMA journal_mode = WAL", "Switching to the write-ahead log");
  temp.Close();

  if (!MoveIntoPlace(temp.path(), file)) throw SetupError(ExistsMessage(file));
  temp.Keep();
  SyncFolder(folder);
  return report;
}

}  // namespace brisquel::schema
