#include "issues/paged_list.h"

#include <sys/stat.h>

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "core/database.h"

namespace brisquel {

namespace {

// The file a connection string names as it is now: a restore puts a new file in the old one's
// place, and a connection opened before still reads the old one.
std::string FileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

// Reader connections not in use, by connection string and file, shared by every Database of the
// process (the site makes one per request): a list takes one, or opens one, and gives it back
// when it ends. A few are kept, the oldest let go first.
class Readers {
 public:
  // Never destroyed: a list may end while the process exits.
  static Readers& Instance() {
    static Readers* readers = new Readers;
    return *readers;
  }

  std::shared_ptr<ado::Connection> Take(ado::Connection& main) {
    const std::string key = main.ConnectionString() + "|" + FileIdentity(main.DatabasePath());
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto it = idle_.begin(); it != idle_.end(); ++it) {
        if (it->key != key) continue;
        std::shared_ptr<ado::Connection> reader = std::move(it->reader);
        idle_.erase(it);
        if (reader->State() != ado::adStateOpen || reader->InTransaction()) break;
        keys_[reader.get()] = key;
        return reader;
      }
    }
    auto reader = std::make_shared<ado::Connection>();
    reader->SetCursorLocation(ado::adUseClient);
    reader->Open(main.ConnectionString());
    std::lock_guard<std::mutex> lock(mutex_);
    keys_[reader.get()] = key;
    return reader;
  }

  // Every reader taken comes back here, also one that is not fit to be kept (closed, or left in a
  // transaction): its entry goes either way.
  void GiveBack(std::shared_ptr<ado::Connection> reader) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto key = keys_.find(reader.get());
    if (key == keys_.end()) return;
    std::string taken = std::move(key->second);
    keys_.erase(key);
    if (reader->State() != ado::adStateOpen || reader->InTransaction()) return;
    idle_.push_back({std::move(taken), std::move(reader)});
    if (idle_.size() > kKept) idle_.pop_front();
  }

 private:
  struct Idle {
    std::string key;
    std::shared_ptr<ado::Connection> reader;
  };
  static constexpr size_t kKept = 8;
  std::mutex mutex_;
  std::deque<Idle> idle_;
  std::map<const ado::Connection*, std::string> keys_;  // the key each reader in use was taken under
};

// The rows of one list inside the read transaction begun when it was opened.
class ListRows : public ado::RowSource {
 public:
  ListRows(std::shared_ptr<ado::Connection> reader, const PagedQuery& query)
      : reader_(std::move(reader)), query_(query) {
    try {
      reader_->ExecuteNonQuery("BEGIN");
    } catch (...) {
      Readers::Instance().GiveBack(std::move(reader_));
      throw;
    }
  }
  ~ListRows() override {
    try {
      wholeWalk_.cursor.reset();
      fieldsWalk_.cursor.reset();
      if (reader_->InTransaction()) reader_->ExecuteNonQuery("COMMIT");
      Readers::Instance().GiveBack(std::move(reader_));
    } catch (...) {
    }
  }
  ListRows(const ListRows&) = delete;
  ListRows& operator=(const ListRows&) = delete;

  ado::ResultSet Fetch(size_t first, size_t count) override {
    bool timedOut = false;
    return Rows(first, count, timedOut);
  }

  // Only some columns of the list: the same statement with those columns (each a column of a
  // table the list reads under its own name) in place of the list's.
  ado::ResultSet FetchFields(size_t first, size_t count, const std::vector<const ado::FieldInfo*>& fields) override {
    if (query_.rowsFrom.empty() || !fieldsApart_) return {};
    std::string columns;
    for (const ado::FieldInfo* f : fields) {
      if (f->baseTable.empty() || f->baseColumn.empty()) return {};
      columns += columns.empty() ? "SELECT " : ", ";
      columns += ado::QuoteIdentifier(f->baseTable) + "." + ado::QuoteIdentifier(f->baseColumn);
    }
    if (columns.empty()) return {};
    bool timedOut = false, unpreparable = false;
    ado::ResultSet rows = Continue(fieldsWalk_, columns + query_.rowsFrom, first, count, timedOut, &unpreparable);
    // A name of the order or the condition that only the list's own columns made plain.
    if (unpreparable) fieldsApart_ = false;
    return rows;
  }

  ado::ResultSet Rows(size_t first, size_t count, bool& timedOut) {
    // A stretch that begins where the last one ended is a walk through the list (a printed list, a
    // download): its statement stays open and goes on from there.
    const bool walking = count > 0 && first > 0 && first == end_;
    ado::ResultSet rows = walking ? Walk(first, count, timedOut) : Stretch(first, count, timedOut);
    end_ = first + rows.rows;
    return rows;
  }

  size_t Count(bool& timedOut) {
    ado::ResultSet r = Bounded(timedOut, [&] { return reader_->QueryRows(query_.count, query_.countParams); });
    return r.rows == 1 ? static_cast<size_t>(r.cells.IntegerAt(0)) : 0;
  }

  // The engine's refusal of the last statement's text (an SQL error or the scope's denial), or none.
  std::optional<std::string> Refusal() const {
    const ado::ErrorInfo* e = reader_->ErrorList().First();
    if (!e || ((e->engineCode & 0xFF) != SQLITE_ERROR && (e->engineCode & 0xFF) != SQLITE_AUTH)) return std::nullopt;
    return e->description;
  }

 private:
  // An open statement read a stretch at a time, and the row it stopped before.
  struct Walker {
    std::unique_ptr<ado::RowCursor> cursor;
    std::string sql;
    size_t at = 0;
  };

  // The next `count` rows of `select` from row `first`: the walker's statement goes on when it
  // stopped there, otherwise a new one starts at `first`. Without `unpreparable`, a statement the
  // engine refuses raises; with it, it is told there and nothing is read.
  ado::ResultSet Continue(Walker& w, const std::string& select, size_t first, size_t count, bool& timedOut,
                          bool* unpreparable = nullptr) {
    try {
      return Bounded(timedOut, [&] {
        if (!w.cursor || w.sql != select || w.at != first) {
          w.cursor.reset();
          ado::Params params = query_.params;
          params.push_back(ado::Param::Long(static_cast<int32_t>(first)));
          try {
            w.cursor = std::make_unique<ado::RowCursor>(*reader_, select + " limit -1 offset ?", params);
          } catch (...) {
            if (!unpreparable) throw;
            *unpreparable = true;
            return ado::ResultSet{};
          }
          w.sql = select;
          w.at = first;
        }
        ado::ResultSet rows = w.cursor->Next(count);
        w.at += rows.rows;
        return rows;
      });
    } catch (...) {
      w.cursor.reset();
      throw;
    }
  }

  ado::ResultSet Walk(size_t first, size_t count, bool& timedOut) {
    return Continue(wholeWalk_, query_.select, first, count, timedOut);
  }

  ado::ResultSet Stretch(size_t first, size_t count, bool& timedOut) {
    ado::Params params = query_.params;
    params.push_back(ado::Param::Long(static_cast<int32_t>(count)));
    params.push_back(ado::Param::Long(static_cast<int32_t>(first)));
    // The first rows have nothing to step over; a long stretch (Find, an image, a batch update)
    // is read in one pass.
    if (first == 0 || count == 0 || count > kMostRowsById || query_.ids.empty())
      return Bounded(timedOut, [&] { return reader_->QueryRows(query_.select + " limit ? offset ?", params); });
    return Bounded(timedOut, [&] {
      ado::ResultSet ids = reader_->QueryRows(query_.ids + " limit ? offset ?", params);
      if (ids.rows == 0) return reader_->QueryRows(query_.select + " limit ? offset ?", params);
      // The ids (the key of Issues, integers) are written into the statement, not bound.
      std::string sql = "WITH PageIds (Position, IssueId) AS (VALUES ";
      for (size_t i = 0; i < ids.rows; ++i) {
        if (i) sql += ", ";
        sql += "(" + std::to_string(i) + ", " + std::to_string(ids.cells.IntegerAt(i)) + ")";
      }
      return reader_->QueryRows(sql + ") " + query_.rowsOf);
    });
  }

  template <class F>
  ado::ResultSet Bounded(bool& timedOut, F&& read) {
    for (const std::string& table : query_.virtualTables)
      reader_->QueryRows("select rowid from " + ado::QuoteIdentifier(table) + " where 0");
    sqlguard::ReadOnlyScope scope(*reader_, query_.readable, query_.time);
    try {
      return read();
    } catch (...) {
      timedOut = scope.TimedOut();
      throw;
    }
  }

  static constexpr size_t kMostRowsById = 1000;
  std::shared_ptr<ado::Connection> reader_;
  PagedQuery query_;
  size_t end_ = 0;  // where the last stretch read ended
  Walker wholeWalk_, fieldsWalk_;
  bool fieldsApart_ = true;
};

}  // namespace

std::shared_ptr<ado::Recordset> ReadPaged(Database& db, const PagedQuery& query, PagedFailure& failure) {
  failure = {};
  ado::Connection& main = db.Connection();
  auto reader = Readers::Instance().Take(main);
  reader->SetCommandTimeout(main.CommandTimeout());
  auto rows = std::make_shared<ListRows>(std::move(reader), query);
  auto refused = [&](bool inCount) {
    failure.inCount = inCount;
    if (std::optional<std::string> text = rows->Refusal()) {
      failure.refused = true;
      failure.engineText = std::move(*text);
    }
  };
  size_t total = 0;
  try {
    total = rows->Count(failure.timedOut);
  } catch (...) {
    refused(true);
    throw;
  }
  ado::ResultSet first;
  try {
    if (query.orderFromOutside) rows->Rows(0, 1, failure.timedOut);
    // No row yet, only the fields: the first page is read when reached, with the page size the
    // caller sets by then.
    first = rows->Rows(0, 0, failure.timedOut);
  } catch (...) {
    refused(false);
    throw;
  }
  auto rs = std::make_shared<ado::Recordset>();
  rs->SetPageSize(query.pageSize);
  rs->OpenPaged(std::move(first), total, rows, ado::adLockBatchOptimistic, query.select);
  rs->SetUpdateCriteria(ado::adCriteriaTimeStamp);
  return rs;
}

}  // namespace brisquel
