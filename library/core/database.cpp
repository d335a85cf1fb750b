#include "core/database.h"

#include <sys/stat.h>

#include <cctype>
#include <deque>
#include <vector>

#include "automation/text.h"
#include "brisquel/read_snapshot.h"
#include "core/error_protocol.h"

namespace brisquel {

using automation::EqualsNoCase;

using automation::Variant;

namespace {

constexpr std::string_view kClass = "Database";


// Closes a connection, rolling back a transaction it still has; errors are swallowed.
void CloseQuietly(ado::Connection& c) noexcept {
  try {
    if (c.State() == ado::adStateClosed) return;
    try {
      c.Close();
    } catch (const automation::ComError& e) {
      if (e.number != ado::err::kInTransaction) return;
      try {
        c.RollbackTrans();
      } catch (...) {
      }
      try {
        c.Close();
      } catch (...) {
      }
    }
  } catch (...) {
  }
}

// The connections a thread's Database objects opened and let go, kept open so that the next
// object on the same thread and file finds the schema parsed and its statements prepared. A
// connection is keyed by its connection string and the file's device and inode as they were when
// it was taken: a file deleted and made anew, or put in the old one's place, is another key, and
// a kept connection to the old file is never handed out again.
class KeptConnections {
 public:
  static KeptConnections& ThisThread() {
    static thread_local KeptConnections kept;
    return kept;
  }

  // The key of the file a connection string names as it is now; empty when it cannot be told
  // (no such file yet, an unreadable indirection): such a connection is not kept.
  static std::string KeyOf(const std::string& connectionString) {
    try {
      auto items = ado::ParseConnectionString(ado::ResolveConnectionString(connectionString));
      auto source = ado::ConnectionValue(items, "Data Source");
      struct stat st {};
      if (!source || source->empty() || ::stat(source->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
      return connectionString + "\n" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    } catch (...) {
      return {};
    }
  }

  std::shared_ptr<ado::Connection> Take(const std::string& key) {
    for (auto it = idle_.begin(); it != idle_.end(); ++it) {
      if (it->key != key) continue;
      std::shared_ptr<ado::Connection> c = std::move(it->connection);
      idle_.erase(it);
      if (c->State() == ado::adStateOpen && !c->InTransaction()) return c;
      return nullptr;
    }
    return nullptr;
  }

  // Keeps `c` when nobody else holds it, it can be reset, and its file is still the one of `key`;
  // otherwise it is closed (rolling back).
  void GiveBack(std::shared_ptr<ado::Connection> c, const std::string& key) noexcept {
    try {
      if (c.use_count() == 1 && !key.empty() && c->ResetForReuse() && KeyOf(c->AssignedConnectionString()) == key) {
        idle_.push_back({key, std::move(c)});
        if (idle_.size() > kKept) {
          std::shared_ptr<ado::Connection> oldest = std::move(idle_.front().connection);
          idle_.pop_front();
          CloseQuietly(*oldest);
        }
        return;
      }
      CloseQuietly(*c);
    } catch (...) {
    }
  }

 private:
  struct Idle {
    std::string key;
    std::shared_ptr<ado::Connection> connection;
  };
  static constexpr size_t kKept = 8;
  std::deque<Idle> idle_;
};

// The connections taken on this thread while a SharedReadSnapshot lives.
struct SharedReads {
  int depth = 0;
  std::vector<std::weak_ptr<ado::Connection>> held;
  static SharedReads& ThisThread() {
    static thread_local SharedReads shared;
    return shared;
  }
};

}  // namespace

SharedReadSnapshot::SharedReadSnapshot() { ++SharedReads::ThisThread().depth; }

SharedReadSnapshot::~SharedReadSnapshot() {
  SharedReads& shared = SharedReads::ThisThread();
  if (--shared.depth > 0) return;
  for (auto& weak : shared.held)
    if (auto c = weak.lock()) c->ReleaseReadSnapshot();
  shared.held.clear();
}

Database::~Database() { Release(); }

void Database::Release() noexcept {
  if (!connection_) return;
  // A connection adopted from another object is its owner's to close; one nobody else holds any
  // more closes itself (rolling back) as it goes. One this object opened is kept for the next
  // object on this thread, reset, when nobody else holds it.
  if (owned_) {
    KeptConnections::ThisThread().GiveBack(std::move(connection_), keptKey_);
    keptKey_.clear();
  }
  connection_.reset();
}

std::shared_ptr<ado::Connection> Database::GetActiveConnection() {
  return Procedure(kClass, "Get_ActiveConnection", [&] { return connection_; });
}

void Database::SetActiveConnection(std::shared_ptr<ado::Connection> c) {
  Procedure(kClass, "Set_ActiveConnection", [&] {
    if (connection_ && c != connection_) {
      if (!c) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
      if (!EqualsNoCase(connection_->ConnectionString(), c->ConnectionString()) &&
          connection_->State() != ado::adStateClosed && owned_)
        connection_->Close();
    }
    if (c != connection_) {
      connection_ = std::move(c);
      owned_ = false;
    }
  });
}

std::string Database::GetConnectionString() {
  return Procedure(kClass, "Get_ConnectionString", [&] { return connectionString_; });
}

void Database::SetConnectionString(const std::string& s) {
  Procedure(
      kClass, "Let_ConnectionString",
      [&](UnexpectedErrorManager& m) { m.LogMessage("ConnectionString = \"" + ado::MaskConnectionString(s) + "\""); },
      [&] {
        lastErrorMessage_.clear();
        connectionString_ = s;
        // The connection held before is let go: kept when this object opened it and nobody else
        // holds it, otherwise left to its holders.
        if (owned_ && connection_ && connection_.use_count() == 1) Release();
        connection_.reset();
        owned_ = false;
        keptKey_ = KeptConnections::KeyOf(s);
        if (!keptKey_.empty()) connection_ = KeptConnections::ThisThread().Take(keptKey_);
        if (!connection_) {
          auto fresh = std::make_shared<ado::Connection>();
          fresh->SetCursorLocation(ado::adUseClient);
          fresh->Open(s);
          // A file the open made is known by its key only now.
          if (keptKey_.empty()) keptKey_ = KeptConnections::KeyOf(s);
          connection_ = std::move(fresh);
        }
        owned_ = true;
        if (SharedReads& shared = SharedReads::ThisThread(); shared.depth > 0) {
          connection_->HoldReadSnapshot();
          shared.held.push_back(connection_);
        }
      });
}

std::string Database::GetLastErrorMessage() {
  return Procedure(kClass, "Get_LastErrorMessage", [&] { return lastErrorMessage_; });
}

void Database::SetLastErrorMessage(const std::string& s) {
  Procedure(kClass, "Let_LastErrorMessage", [&] { lastErrorMessage_ = s; });
}

bool Database::Fail(std::string sentence) {
  lastErrorMessage_ = std::move(sentence);
  return false;
}

std::shared_ptr<ado::Connection> Database::ConnectionPtr() {
  if (!connection_ || connection_->State() == ado::adStateClosed)
    ado::Raise(ado::err::kInvalidConnection, "ADODB.Command");
  return connection_;
}

ado::Connection& Database::Connection() { return *ConnectionPtr(); }

std::shared_ptr<ado::Recordset> Database::Read(std::string_view sql, const ado::Params& params,
                                               const ReadOptions& options) {
  auto rs = ConnectionPtr()->Query(sql, params, options.lockType);
  if (rs->State() == ado::adStateOpen) {
    if (options.updateCriteria != ReadOptions::kDefaultCriteria) rs->SetUpdateCriteria(options.updateCriteria);
    if (options.pageSize > ReadOptions::kDefaultPageSize) rs->SetPageSize(options.pageSize);
  }
  if (options.detach) rs->SetActiveConnection(nullptr);
  return rs;
}

bool Database::Exists(std::string_view sql, const ado::Params& params) {
  bool found = false;
  Connection().Each(sql, params, [&](sqlite3_stmt*) { found = true; });
  return found;
}

Variant Database::Scalar(std::string_view sql, const ado::Params& params) {
  auto rs = ConnectionPtr()->Query(sql, params, ado::adLockReadOnly);
  if (rs->State() != ado::adStateOpen || rs->IsEOF()) return Variant();
  return rs->Value(size_t{0});
}

int64_t Database::Execute(std::string_view sql, const ado::Params& params) {
  return ConnectionPtr()->ExecuteNonQuery(sql, params);
}

void Database::WriteBack(ado::Recordset& rs) {
  rs.SetActiveConnection(ConnectionPtr());
  try {
    rs.UpdateBatch(ado::adAffectAll);
  } catch (...) {
    rs.SetActiveConnection(nullptr);
    throw;
  }
  rs.SetActiveConnection(nullptr);
}

std::optional<automation::LastError> Database::Trap(const std::function<void()>& body) {
  try {
    body();
    return std::nullopt;
  } catch (...) {
    automation::LastError e = CurrentError();
    automation::SetErr(automation::ComError(e.number, e.source, e.description, e.line));
    return e;
  }
}

ado::ErrorInfo Database::FirstError() {
  if (!connection_) return {};
  const ado::ErrorInfo* e = connection_->ErrorList().First();
  return e ? *e : ado::ErrorInfo{};
}

bool Database::IsConflict() { return FirstError().number == ado::err::kWriteConflict; }

std::string Database::UnexpectedReport(const automation::LastError& e) {
  return UnexpectedErrorReport(connection_, e);
}

Database::Transaction::Transaction(Database& db) : connection_(db.ConnectionPtr()) {
  connection_->BeginTrans();
  active_ = true;
}

Database::Transaction::~Transaction() {
  if (!active_) return;
  try {
    if (connection_->InTransaction()) connection_->RollbackTrans();
  } catch (...) {
  }
}

void Database::Transaction::Commit() {
  if (!active_) return;
  connection_->CommitTrans();
  active_ = false;
}

void Database::Transaction::Rollback() {
  if (!active_) return;
  active_ = false;
  if (connection_->InTransaction()) connection_->RollbackTrans();
}

namespace {

automation::Register<Database> reg("Database", "Brisquel.Database", [](auto& c) {
  c.PropertyRef("ActiveConnection", &Database::GetActiveConnection, &Database::SetActiveConnection);
  c.Property("ConnectionString", &Database::GetConnectionString, &Database::SetConnectionString);
  c.Property("LastErrorMessage", &Database::GetLastErrorMessage, &Database::SetLastErrorMessage);
});

}  // namespace

}  // namespace brisquel
