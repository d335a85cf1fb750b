// Database: the object the pages create per request. It holds one connection and the three
// connection-state properties, and carries the reader, single-answer and writer patterns that the
// method families (in their own folders, registered into Database's by-name table from their own
// files) call with their SQL and parameters:
//
//   std::shared_ptr<ado::Recordset> GetIssueRs(Database& db, int32_t issueId) {
//     return Procedure("Database", "GetIssueRs", [&] {
//       return db.Read("select * from Issues where IssueId = ?", {ado::Param::Long(issueId)});
//     });
//   }
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/sql.h"

namespace brisquel {

// How the reader pattern hands its recordset out. The defaults are the rule: batch-optimistic,
// "Update Criteria" the row version, detached.
struct ReadOptions {
  static constexpr int32_t kDefaultCriteria = -1;  // leave the recordset's own update criteria
  static constexpr int32_t kDefaultPageSize = 0;   // leave the recordset's own page size
  int32_t lockType = ado::adLockBatchOptimistic;
  int32_t updateCriteria = ado::adCriteriaTimeStamp;  // kDefaultCriteria: leave the recordset's default
  bool detach = true;
  int32_t pageSize = kDefaultPageSize;
};
// Rows only read (never taken back), detached.
inline constexpr ReadOptions kReadOnlyRows{ado::adLockReadOnly, ReadOptions::kDefaultCriteria, true,
                                           ReadOptions::kDefaultPageSize};
// Rows a writer takes back without a row-version test (the recordset's own criteria), detached.
inline constexpr ReadOptions kDefaultCriteriaRows{ado::adLockBatchOptimistic, ReadOptions::kDefaultCriteria, true,
                                                  ReadOptions::kDefaultPageSize};

class Database : public automation::Dispatchable<Database> {
 public:
  Database() = default;
  // The terminate step: a connection this object opened is closed, a pending transaction on it
  // rolled back; nothing escapes. An adopted one is left to its owner (and closes itself, rolling
  // back, when this object held it last).
  ~Database() override;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // ---- the properties (by name: ActiveConnection, ConnectionString, LastErrorMessage)
  std::shared_ptr<ado::Connection> GetActiveConnection();
  // Adopts a connection. A held connection is closed first when its connection string differs
  // (without regard to case) and this object opened it: a connection adopted from its owner is
  // never closed by a helper that adopted it (ownership is the flag owned_, not a use count).
  void SetActiveConnection(std::shared_ptr<ado::Connection> c);
  std::string GetConnectionString();
  // Takes a kept connection to the same file (this thread's, reset as a fresh one would be) or
  // opens a new one (client-side cursors), and clears LastErrorMessage. A failure is logged with
  // the connection string, its password masked.
  void SetConnectionString(const std::string& s);
  std::string GetLastErrorMessage();
  void SetLastErrorMessage(const std::string& s);

  // ---- for the method families
  const std::string& LastErrorMessage() const { return lastErrorMessage_; }
  // An expected failure: keeps the sentence and returns false.
  bool Fail(std::string sentence);
  // The held connection, open; ADO's 3709 otherwise.
  ado::Connection& Connection();
  std::shared_ptr<ado::Connection> ConnectionPtr();

  // The reader pattern: the rows of `sql` ("?" placeholders, `params` in order) as a client-side
  // static recordset the caller owns.
  std::shared_ptr<ado::Recordset> Read(std::string_view sql, const ado::Params& params = {},
                                       const ReadOptions& options = {});
  // The single-answer pattern: whether `sql` gives a row; the first column of its first row
  // (Empty when there is none).
  bool Exists(std::string_view sql, const ado::Params& params = {});
  automation::Variant Scalar(std::string_view sql, const ado::Params& params = {});
  // Runs statements on the held connection; the rows changed (-1 when none changes data).
  int64_t Execute(std::string_view sql, const ado::Params& params = {});

  // ---- the typed layer (core/sql.h): rows straight off the held connection, no recordset
  // Calls `fn` with each row of `sql`. Do not write to the tables being read from inside `fn`.
  template <class Fn>
  void Each(std::string_view sql, const ado::Params& params, Fn&& fn) {
    Connection().Each(sql, params, [&](sqlite3_stmt* st) { fn(sql::Row(st)); });
  }
  // The first column of the first row as T; empty when there is no row or the value is Null.
  template <class T>
  std::optional<T> One(std::string_view sql, const ado::Params& params = {}) {
    std::optional<T> out;
    Connection().Each(sql, params, [&](sqlite3_stmt* st) {
      sql::Row r(st);
      if (!out && !r.IsNull(0)) out = r.As<T>(0);
    });
    return out;
  }
  // Runs statements; the rows changed (0 when none changed).
  int64_t Exec(std::string_view sql, const ado::Params& params = {}) {
    return std::max<int64_t>(0, Connection().ExecuteNonQuery(sql, params));
  }
  // The writer pattern: attaches a recordset a caller handed back, writes all its pending
  // changes (UpdateBatch over all rows) and detaches it again, also when the write fails.
  void WriteBack(ado::Recordset& rs);

  // ---- trapped statements inside a writer
  // Runs `body`; an error leaving it is returned (as Err would hold it) instead of raised.
  std::optional<automation::LastError> Trap(const std::function<void()>& body);
  // The first entry of the held connection's error list (number 0 when empty or no connection).
  ado::ErrorInfo FirstError();
  // The first error is the write conflict (&H80040E38): the row changed since it was read.
  bool IsConflict();
  // "An unexpected error has occurred." with the connection's errors (or `e`), as writers store it.
  std::string UnexpectedReport(const automation::LastError& e);

  // A writer's transaction on the held connection: begun here, rolled back when it is left
  // without Commit (an error, an early return), so nothing half-written can be committed later.
  class Transaction {
   public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();
    void Rollback();
    bool Active() const { return active_; }

   private:
    std::shared_ptr<ado::Connection> connection_;
    bool active_ = false;
  };

 private:
  void Release() noexcept;

  std::string connectionString_;
  std::shared_ptr<ado::Connection> connection_;
  bool owned_ = false;  // opened by this object (ConnectionString), not adopted
  std::string keptKey_;  // the kept connections' key it was taken under; empty: not to be kept
  std::string lastErrorMessage_;
};

}  // namespace brisquel
