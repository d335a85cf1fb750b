// Connection: one SQLite database file, opened from a connection string. Foreign keys on, WAL,
// a busy timeout, extended result codes, synchronous=FULL unless the connection string says
// "Synchronous=Normal". Writer transactions start with BEGIN IMMEDIATE. Every connection has the
// SQL function GetDate() (local now as "YYYY-MM-DD HH:MM:SS.SSS", from automation::Now()).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "ado/errors.h"
#include "ado/types.h"
#include "automation/automation.h"

namespace ado {

class Recordset;
struct ResultSet;

// Called with the statement positioned on each row of a typed read (Connection::Each).
using RowCallback = std::function<void(sqlite3_stmt*)>;
// Column `col` of the row `st` is on, as a recordset reads it: decoded by the column's declared
// type (a DATETIME text as a Date, a BIT as a Boolean), Null as Null.
automation::Variant ColumnValue(sqlite3_stmt* st, int col);

// Sets the engine's process-wide options, once, before it starts: its memory statistics off (kept,
// every allocation would take one process-wide mutex). Runs when the library loads and again,
// harmlessly, before every open.
void ConfigureEngine() noexcept;

class Connection : public automation::Dispatchable<Connection> {
 public:
  Connection();
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the connection (the string given, or the ConnectionString property when empty).
  void Open(const std::string& connectionString, const std::string& userId = {},
            const std::string& password = {}, int32_t options = -1);
  // Refused with 3246 inside a transaction (the caller must end it first).
  void Close();
  int32_t State() const;

  // While open: the effective string (after "File name=" indirection) with "Initial Catalog=<file
  // stem>" added when it has none. Closed: the text last assigned.
  std::string ConnectionString() const;
  void SetConnectionString(const std::string& s);
  // The text last assigned or opened with, open or closed.
  const std::string& AssignedConnectionString() const { return connectionString_; }
  int32_t CursorLocation() const { return cursorLocation_; }
  void SetCursorLocation(int32_t v) { cursorLocation_ = v; }
  // Seconds a statement waits for another writer's lock before failing.
  int32_t CommandTimeout() const { return commandTimeout_; }
  void SetCommandTimeout(int32_t seconds);
  std::string DefaultDatabase() const;  // the file stem
  const std::string& DatabasePath() const { return path_; }

  int32_t BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const;

  // By-name Execute: a text of one or more statements; the last result set, or a closed
  // recordset when no statement returns rows (nothing with adExecuteNoRecords).
  std::shared_ptr<Recordset> Execute(const std::string& text, automation::Variant& recordsAffected,
                                     int32_t options = -1);

  // Typed API. Query returns a client-side static recordset attached to this connection.
  std::shared_ptr<Recordset> Query(std::string_view sql, const Params& params = {},
                                   int32_t lockType = adLockReadOnly);
  // The rows of the last statement that returns rows, as a recordset would adopt them.
  ResultSet QueryRows(std::string_view sql, const Params& params = {});
  // Runs the statements and returns the rows changed (-1 when none changes data).
  int64_t ExecuteNonQuery(std::string_view sql, const Params& params = {});
  // Runs the statements, calling `each` on every row of those that return rows (no recordset is
  // built); the same statement cache, parameter widths and error numbers as Query. Returns the
  // rows changed (-1 when none changes data).
  int64_t Each(std::string_view sql, const Params& params, const RowCallback& each);

  std::shared_ptr<Errors> GetErrors() const { return errors_; }
  Errors& ErrorList() { return *errors_; }
  // The engine's handle, for library code that installs an authorizer or functions; nullptr
  // while closed.
  sqlite3* Handle() const { return db_; }
  int64_t LastInsertRowId() const;
  // Installs (nullptr: removes) an authorizer. Use this rather than sqlite3_set_authorizer: the
  // engine checks an authorizer when it prepares a statement, so while one is set statements are
  // prepared afresh and never taken from, or put into, the statement cache.
  using Authorizer = int (*)(void*, int, const char*, const char*, const char*, const char*);
  void SetAuthorizer(Authorizer callback, void* context);
  bool HasAuthorizer() const { return authorizer_ != nullptr; }

  // A guard asked while statements are prepared, without the cost of an authorizer set and
  // removed each time (the engine expires every prepared statement of the connection when its
  // authorizer changes): the first guard installs one that stays, and asks `callback` with
  // `context` (none: every action allowed). Statements are cached under `tag` with their text, so
  // a statement the guard allowed is used again only under a guard of the same tag, which must
  // name everything its decisions depend on. Not with SetAuthorizer.
  struct Guard {
    Authorizer callback = nullptr;
    void* context = nullptr;
    std::string tag;
  };
  void SetGuard(Guard guard);
  const Guard& CurrentGuard() const { return guard_; }

  // The per-site secret that signs recordset images (32 random bytes kept in VantrelSecrets,
  // created on first need).
  std::string SiteSecret();

  // Data that library code derives from this connection and keeps with it (a catalogue of its
  // tables), by key; dropped when the connection closes.
  std::shared_ptr<void>& Kept(const std::string& key) { return kept_[key]; }

  // Makes an open connection fit to be handed to a new user, as a fresh one would be (its
  // statement cache and kept data stay): a pending transaction rolled back, no authorizer or
  // progress handler, foreign keys on, the default command timeout, errors and the cached site
  // secret cleared. False when it is not open or cannot be made fit.
  bool ResetForReuse() noexcept;

  // From now on the connection's plain reads (statements that begin with SELECT, WITH or VALUES
  // and change nothing) share one read transaction, begun by the first of them: a request that
  // only reads pays for one snapshot instead of one per statement, and sees the site as it was at
  // its first read. The shared transaction ends, and the holding with it, before any statement
  // of another kind on this connection runs; it ends and begins anew when a statement of another
  // kind has run on any connection of this thread since it began (so a write made on this thread
  // is seen). InTransaction() stays false while only the shared read transaction is open.
  void HoldReadSnapshot();
  bool HoldsReadSnapshot() const { return holdReads_; }
  // Ends the shared read transaction and the holding (statements still reading keep their rows).
  void ReleaseReadSnapshot() noexcept;
  // Told by the layer before each statement runs on this connection.
  void BeforeStatement(bool plainRead);

  // Raises 3709 unless open.
  sqlite3* RequireOpen(std::string_view source) const;

  struct Impl;  // statement cache and table catalogue (src/engine.h)
  Impl& Internals() { return *impl_; }

 private:
  void FinishClose();

  sqlite3* db_ = nullptr;
  std::string connectionString_;  // as assigned
  std::string effective_;         // after indirection
  std::string path_;
  int32_t cursorLocation_ = adUseServer;
  int32_t commandTimeout_ = 30;
  std::string secret_;
  Authorizer authorizer_ = nullptr;
  Guard guard_;
  bool guardInstalled_ = false;
  bool holdReads_ = false;
  bool snapshotOpen_ = false;
  uint64_t snapshotSince_ = 0;  // this thread's count of other statements when it began
  std::map<std::string, std::shared_ptr<void>> kept_;
  std::shared_ptr<Errors> errors_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ado
