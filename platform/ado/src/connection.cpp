#include "ado/connection.h"

#include <sodium.h>

#include <filesystem>
#include <mutex>

#include "ado/connection_string.h"
#include "ado/recordset.h"
#include "automation/vbdate.h"
#include "engine.h"

namespace ado {

using automation::Variant;

namespace {

constexpr const char* kSource = "ADODB.Connection";

void GetDateFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  std::string now = automation::FormatDbDate(automation::Now());
  sqlite3_result_text(ctx, now.data(), static_cast<int>(now.size()), SQLITE_TRANSIENT);
}

void RequireSodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) Raise(err::kFail, kSource, "The cryptographic library could not start.");
}

}  // namespace

void ConfigureEngine() noexcept {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_initialize();
  });
}

namespace {
// Before any caller's code can reach the engine.
const bool engineConfigured = (ConfigureEngine(), true);
}  // namespace

Connection::Connection() : errors_(std::make_shared<Errors>()), impl_(std::make_unique<Impl>()) {}

Connection::~Connection() {
  if (!db_) return;
  // Closing with a transaction pending abandons it: roll it back first.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  FinishClose();
}

sqlite3* Connection::RequireOpen(std::string_view source) const {
  if (!db_) Raise(err::kInvalidConnection, source);
  return db_;
}

void Connection::Open(const std::string& connectionString, const std::string& /*userId*/,
                      const std::string& /*password*/, int32_t /*options*/) {
  if (db_) Raise(err::kObjectOpen, kSource);
  errors_->Clear();
  if (!connectionString.empty()) connectionString_ = connectionString;
  std::string effective = ResolveConnectionString(connectionString_);
  auto items = ParseConnectionString(effective);
  auto source = ConnectionValue(items, "Data Source");
  if (!source || source->empty())
    Raise(err::kFail, kSource, "The connection string names no database (Data Source=<file>).");
  std::string mode = ConnectionValue(items, "Mode").value_or("");
  bool readOnly = automation::EqualsNoCase(mode, "Read");
  int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;

  ConfigureEngine();
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(source->c_str(), &db, flags, nullptr);
  auto fail = [&](int code) {
    ErrorInfo e = EngineError(db, code);
    e.description = "Cannot open the database \"" + *source + "\": " + e.description;
    sqlite3_close_v2(db);
    errors_->Add(e);
    Raise(e);
  };
  if (rc != SQLITE_OK) fail(rc);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, commandTimeout_ == 0 ? 24 * 3600 * 1000 : commandTimeout_ * 1000);
  std::string synchronous = ConnectionValue(items, "Synchronous").value_or("FULL");
  if (!automation::EqualsNoCase(synchronous, "NORMAL") && !automation::EqualsNoCase(synchronous, "OFF"))
    synchronous = "FULL";
  std::string pragmas = "PRAGMA foreign_keys=ON;";
  if (!readOnly) pragmas += "PRAGMA journal_mode=WAL;PRAGMA synchronous=" + synchronous + ";";
  rc = sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc);
  rc = sqlite3_create_function_v2(db, "GetDate", 0, SQLITE_UTF8, nullptr, GetDateFunction, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc);

  db_ = db;
  impl_->db = db;
  effective_ = effective;
  path_ = *source;
}

void Connection::Close() {
  if (!db_) Raise(err::kObjectClosed, kSource);
  if (InTransaction()) Raise(err::kInTransaction, kSource);
  FinishClose();
}

void Connection::FinishClose() {
  holdReads_ = snapshotOpen_ = false;
  impl_->Clear();
  impl_->db = nullptr;
  sqlite3_close_v2(db_);
  db_ = nullptr;
  secret_.clear();
  authorizer_ = nullptr;
  guard_ = {};
  guardInstalled_ = false;
  kept_.clear();
}

int32_t Connection::State() const { return db_ ? adStateOpen : adStateClosed; }

bool Connection::InTransaction() const { return db_ && !snapshotOpen_ && !sqlite3_get_autocommit(db_); }

namespace {
// Statements other than plain reads run on this thread's connections so far.
thread_local uint64_t tOtherStatements = 0;
}  // namespace

void Connection::HoldReadSnapshot() { holdReads_ = db_ != nullptr; }

void Connection::ReleaseReadSnapshot() noexcept {
  holdReads_ = false;
  if (!snapshotOpen_) return;
  snapshotOpen_ = false;
  // COMMIT, not ROLLBACK: a statement still reading keeps its rows (a rollback would abort it).
  if (db_ && !sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
}

void Connection::BeforeStatement(bool plainRead) {
  if (!plainRead) ++tOtherStatements;
  if (!holdReads_) return;
  if (snapshotOpen_ && (!plainRead || snapshotSince_ != tOtherStatements)) {
    snapshotOpen_ = false;
    if (!sqlite3_get_autocommit(db_)) detail::ExecAsIs(*this, "COMMIT");
  }
  if (!plainRead) {
    holdReads_ = false;
    return;
  }
  if (!snapshotOpen_ && sqlite3_get_autocommit(db_)) {
    detail::ExecAsIs(*this, "BEGIN");
    snapshotOpen_ = true;
    snapshotSince_ = tOtherStatements;
  }
}

std::string Connection::ConnectionString() const {
  if (!db_) return connectionString_;
  auto items = ParseConnectionString(effective_);
  std::string s = effective_;
  if (!ConnectionValue(items, "Initial Catalog")) {
    if (!s.empty() && s.back() != ';') s += ';';
    s += "Initial Catalog=" + DefaultDatabase();
  }
  return s;
}

void Connection::SetConnectionString(const std::string& s) {
  if (db_) Raise(err::kObjectOpen, kSource);
  connectionString_ = s;
}

void Connection::SetCommandTimeout(int32_t seconds) {
  commandTimeout_ = seconds < 0 ? 0 : seconds;
  if (db_) sqlite3_busy_timeout(db_, commandTimeout_ == 0 ? 24 * 3600 * 1000 : commandTimeout_ * 1000);
}

std::string Connection::DefaultDatabase() const {
  return path_.empty() ? std::string() : std::filesystem::path(path_).stem().string();
}

int32_t Connection::BeginTrans() {
  RequireOpen(kSource);
  errors_->Clear();
  if (InTransaction()) Raise(err::kTransactionActive, kSource);
  detail::Exec(*this, "BEGIN IMMEDIATE");
  return 1;
}

void Connection::CommitTrans() {
  RequireOpen(kSource);
  errors_->Clear();
  if (!InTransaction()) Raise(err::kNoTransaction, kSource);
  detail::Exec(*this, "COMMIT");
}

void Connection::RollbackTrans() {
  RequireOpen(kSource);
  errors_->Clear();
  if (!InTransaction()) Raise(err::kNoTransaction, kSource);
  detail::Exec(*this, "ROLLBACK");
}

bool Connection::ResetForReuse() noexcept {
  if (!db_) return false;
  try {
    // A kept guard stays installed, asking nobody: installing it again would expire every
    // statement the next holder finds prepared.
    if (authorizer_ || !guardInstalled_) {
      sqlite3_set_authorizer(db_, nullptr, nullptr);
      guardInstalled_ = false;
    }
    authorizer_ = nullptr;
    guard_ = {};
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    holdReads_ = snapshotOpen_ = false;
    if (!sqlite3_get_autocommit(db_) && sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK)
      return false;
    if (!sqlite3_get_autocommit(db_)) return false;
    // Keys on through the connection's flag rather than the pragma: the pragma expires every
    // prepared statement even when the keys are on already, and the next holder would prepare
    // them all again.
    int keysOn = 0;
    if (sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_FKEY, 1, &keysOn) != SQLITE_OK || keysOn != 1) return false;
    SetCommandTimeout(30);
    cursorLocation_ = adUseClient;
    secret_.clear();
    errors_->Clear();
    for (auto& [text, entry] : impl_->cache)
      if (entry->inUse) return false;
    return true;
  } catch (...) {
    return false;
  }
}

void Connection::SetGuard(Guard guard) {
  RequireOpen(kSource);
  if (!guardInstalled_ && guard.callback) {
    sqlite3_set_authorizer(
        db_,
        [](void* self, int action, const char* a, const char* b, const char* c, const char* d) {
          const Guard& g = static_cast<Connection*>(self)->guard_;
          return g.callback ? g.callback(g.context, action, a, b, c, d) : SQLITE_OK;
        },
        this);
    guardInstalled_ = true;
  }
  guard_ = std::move(guard);
}

void Connection::SetAuthorizer(Authorizer callback, void* context) {
  RequireOpen(kSource);
  sqlite3_set_authorizer(db_, callback, context);
  authorizer_ = callback;
  guard_ = {};
  guardInstalled_ = false;
}

int64_t Connection::LastInsertRowId() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

std::shared_ptr<Recordset> Connection::Query(std::string_view sql, const Params& params, int32_t lockType) {
  ResultSet result;
  detail::Run(*this, sql, params, true, &result);
  auto rs = std::make_shared<Recordset>();
  if (result.meta) {
    auto self = std::static_pointer_cast<Connection>(weak_from_this().lock());
    rs->OpenResult(std::move(self), std::move(result), lockType, std::string(sql));
  }
  return rs;
}

ResultSet Connection::QueryRows(std::string_view sql, const Params& params) {
  ResultSet result;
  detail::Run(*this, sql, params, true, &result);
  return result;
}

int64_t Connection::ExecuteNonQuery(std::string_view sql, const Params& params) {
  return detail::Run(*this, sql, params, false, nullptr);
}

int64_t Connection::Each(std::string_view sql, const Params& params, const RowCallback& each) {
  return detail::RunEach(*this, sql, params, each);
}

std::shared_ptr<Recordset> Connection::Execute(const std::string& text, Variant& recordsAffected, int32_t options) {
  bool noRecords = options != -1 && (options & adExecuteNoRecords);
  if (noRecords) {
    recordsAffected = Variant(static_cast<int32_t>(ExecuteNonQuery(text)));
    return nullptr;
  }
  ResultSet result;
  int64_t n = detail::Run(*this, text, {}, true, &result);
  recordsAffected = Variant(static_cast<int32_t>(n));
  auto rs = std::make_shared<Recordset>();
  if (result.meta) {
    auto self = std::static_pointer_cast<Connection>(weak_from_this().lock());
    rs->OpenResult(std::move(self), std::move(result), adLockReadOnly, text);
  }
  return rs;
}

std::string Connection::SiteSecret() {
  if (!secret_.empty()) return secret_;
  sqlite3* db = RequireOpen(kSource);
  RequireSodium();
  auto read = [&]() -> std::string {
    sqlite3_stmt* st = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, "SELECT Value FROM VantrelSecrets WHERE Name = 'RecordsetImage'", -1, &st,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      auto p = static_cast<const char*>(sqlite3_column_blob(st, 0));
      value.assign(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    }
    sqlite3_finalize(st);
    return value;
  };
  std::string value = read();
  if (value.size() < 32) {
    bool own = !InTransaction();
    if (own) detail::Exec(*this, "BEGIN IMMEDIATE");
    try {
      detail::Exec(*this,
                   "CREATE TABLE IF NOT EXISTS VantrelSecrets (Name varchar(50) NOT NULL PRIMARY KEY COLLATE NOCASE, "
                   "Value blob NOT NULL)");
      uint8_t fresh[32];
      randombytes_buf(fresh, sizeof fresh);
      ExecuteNonQuery("INSERT OR IGNORE INTO VantrelSecrets (Name, Value) VALUES ('RecordsetImage', ?)",
                      {Param::Blob(Variant::Bytes(std::vector<uint8_t>(fresh, fresh + 32)), 32)});
      sodium_memzero(fresh, sizeof fresh);
      if (own) detail::Exec(*this, "COMMIT");
    } catch (...) {
      if (own && InTransaction()) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    value = read();
    if (value.size() < 32) Raise(err::kFail, kSource, "The site's secret could not be read or created.");
  }
  secret_ = value;
  return secret_;
}

namespace {

automation::Register<Connection> reg("Connection", "ADODB.Connection", [](auto& c) {
  using C = Connection;
  c.Method("Open", &C::Open, {Variant(""), Variant(""), Variant(""), Variant(-1)});
  c.Method("Close", &C::Close);
  c.Property("State", &C::State);
  c.Property("ConnectionString", &C::ConnectionString, &C::SetConnectionString);
  c.Property("CursorLocation", &C::CursorLocation, &C::SetCursorLocation);
  c.Property("CommandTimeout", &C::CommandTimeout, &C::SetCommandTimeout);
  c.Property("DefaultDatabase", &C::DefaultDatabase);
  c.Method("BeginTrans", &C::BeginTrans);
  c.Method("CommitTrans", &C::CommitTrans);
  c.Method("RollbackTrans", &C::RollbackTrans);
  c.Method("Execute", &C::Execute, {Variant(), Variant(-1)});
  c.Property("Errors", &C::GetErrors);
  c.Default("ConnectionString");
});

}  // namespace

}  // namespace ado
