// Writing a recordset's pending changes to the base tables of its columns.
#include "ado/connection.h"
#include "ado/recordset.h"
#include "engine.h"

namespace ado {

using automation::Variant;

namespace {

constexpr const char* kSource = "ADODB.Recordset";

struct TableFields {
  std::string schema, table;
  std::vector<size_t> fields;  // fields reading this table, first field per column
};

std::vector<TableFields> GroupByTable(const RecordsetMeta& meta) {
  std::vector<TableFields> out;
  for (size_t i = 0; i < meta.fields.size(); ++i) {
    const FieldInfo& f = meta.fields[i];
    if (f.baseTable.empty()) continue;
    TableFields* group = nullptr;
    for (auto& g : out)
      if (automation::EqualsNoCase(g.schema, f.baseSchema) && automation::EqualsNoCase(g.table, f.baseTable))
        group = &g;
    if (!group) {
      out.push_back({f.baseSchema, f.baseTable, {}});
      group = &out.back();
    }
    bool duplicate = false;
    for (size_t j : group->fields)
      duplicate = duplicate || automation::EqualsNoCase(meta.fields[j].baseColumn, f.baseColumn);
    if (!duplicate) group->fields.push_back(i);
  }
  return out;
}

std::string Qualified(const TableFields& t) {
  std::string q;
  if (!t.schema.empty() && !automation::EqualsNoCase(t.schema, "main")) q = detail::QuoteIdent(t.schema) + ".";
  return q + detail::QuoteIdent(t.table);
}

[[noreturn]] void Fail(Connection& c, int32_t number, std::string description) {
  ErrorInfo e;
  e.number = number;
  e.source = kSource;
  e.description = description.empty() ? ErrorText(number) : std::move(description);
  c.ErrorList().Add(e);
  Raise(e);
}

[[noreturn]] void Conflict(Connection& c) { Fail(c, err::kWriteConflict, {}); }

[[noreturn]] void NoBaseTable(Connection& c) {
  Fail(c, err::kFail, "Insufficient base table information for updating or refreshing.");
}

Param AsParam(const Variant& v) { return Param{"", adVariant, adParamInput, 0, v}; }

}  // namespace

struct Recordset::PendingWrite {
  size_t row = 0;
  bool deleted = false;
  std::vector<std::pair<size_t, Variant>> refreshed;  // values read back after the write
};

void Recordset::UpdateBatch(int32_t affect) {
  RequireOpen();
  FetchAll();  // a deleted row is found by the values it was read with
  if (editMode_ != adEditNone) {
    // Keep the edit in memory; it is written with the others.
    editMode_ = adEditNone;
    backup_ = Backup{};
  }
  auto pending = [](const Row& r) {
    return r.state == RowState::New || r.state == RowState::Deleted || (r.state == RowState::Modified && r.change);
  };
  std::vector<size_t> rows;
  if (affect == adAffectCurrent) {
    if (pos_ >= 0 && pending(rows_.Get(static_cast<size_t>(pos_)))) rows.push_back(static_cast<size_t>(pos_));
  } else {
    for (size_t i = 0; i < rows_.Size(); ++i)
      if (pending(rows_.Get(i))) rows.push_back(i);
  }
  if (!connection_ || connection_->State() != adStateOpen) Raise(err::kInvalidConnection, kSource);
  if (rows.empty()) return;
  WriteRows(rows);
}

void Recordset::WriteRows(const std::vector<size_t>& rows) {
  if (!connection_ || connection_->State() != adStateOpen) Raise(err::kInvalidConnection, kSource);
  Connection& c = *connection_;
  sqlite3* db = c.Handle();
  c.ErrorList().Clear();
  // All or nothing: inside the caller's transaction a savepoint, otherwise a transaction of our own.
  bool own = !c.InTransaction();
  detail::Exec(c, own ? "BEGIN IMMEDIATE" : "SAVEPOINT ado_batch");
  std::vector<PendingWrite> writes;
  try {
    writes.reserve(rows.size());
    for (size_t r : rows) writes.push_back(WriteRow(c, r));
    detail::Exec(c, own ? "COMMIT" : "RELEASE ado_batch");
  } catch (...) {
    if (own) {
      if (c.InTransaction()) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    } else {
      sqlite3_exec(db, "ROLLBACK TO ado_batch; RELEASE ado_batch", nullptr, nullptr, nullptr);
    }
    throw;
  }
  CommitWritten(writes);
}

namespace {
constexpr const char* kTooManyRows =
    "Key column information is insufficient or incorrect. Too many rows were affected by update.";
}  // namespace

// Writes one pending row: a DELETE, INSERTs or UPDATEs per base table, each found again by the
// recordset's update criteria, and the written columns read back.
class Recordset::RowWriter {
 public:
  RowWriter(Recordset& rs, Connection& c, size_t index)
      : rs_(rs), c_(c), F(rs.meta_->fields), row_(rs.rows_.Hold(index)), tables_(GroupByTable(*rs.meta_)) {
    out_.row = index;
  }

  PendingWrite Write() {
    // A change to a computed column cannot be written anywhere.
    if (row_.state != RowState::Deleted)
      for (size_t f = 0; f < F.size(); ++f)
        if (Assigned(f) && F[f].baseTable.empty()) NoBaseTable(c_);
    if (row_.state == RowState::Deleted) {
      Delete();
    } else if (row_.state == RowState::New) {
      Insert();
    } else {
      for (const TableFields& t : tables_) Update(t);
    }
    return std::move(out_);
  }

 private:
  Variant Original(size_t f) const { return rs_.cells_.Get(row_.base + f); }
  Variant Current(size_t f) const { return row_.change ? row_.change->values[f] : rs_.cells_.Get(row_.base + f); }
  bool Assigned(size_t f) const { return row_.change && row_.change->assigned[f] != 0; }
  const detail::TableMeta& Meta(const TableFields& t) const { return c_.Internals().Table(t.schema, t.table); }

  // The field reading key column `k` of the table; F.size() when none does.
  size_t KeyField(const TableFields& t, const std::string& k) const {
    size_t found = F.size();
    for (size_t f : t.fields)
      if (automation::EqualsNoCase(F[f].baseColumn, k)) found = f;
    return found;
  }

  // One test of the WHERE clause: the column as it was read (dates by their value).
  void AddTest(size_t f, std::string& where, Params& params) const {
    if (!where.empty()) where += " AND ";
    std::string col = detail::QuoteIdent(F[f].baseColumn);
    if (F[f].decode == Decode::Date) {
      where += "(" + col + " IS ? OR julianday(" + col + ") = julianday(?))";
      params.push_back(AsParam(Original(f)));
    } else {
      where += col + " IS ?";
    }
    params.push_back(AsParam(Original(f)));
  }

  // The WHERE clause that finds the row as it was read: its key, then what the update criteria add.
  std::string Criteria(const TableFields& t, bool forDelete, Params& params) const {
    std::string where;
    std::vector<size_t> keyFields;
    for (const std::string& k : Meta(t).key) {
      size_t found = KeyField(t, k);
      if (found == F.size()) Fail(c_, err::kFail, "Insufficient key column information for updating or refreshing.");
      keyFields.push_back(found);
    }
    for (size_t f : keyFields) AddTest(f, where, params);
    auto comparable = [&](size_t f) {
      bool isKey = false;
      for (size_t k : keyFields) isKey = isKey || k == f;
      return !isKey && F[f].decode != Decode::Binary && !F[f].rowVersion;
    };
    int32_t mode = rs_.updateCriteria_;
    size_t version = F.size();
    for (size_t f : t.fields)
      if (F[f].rowVersion) version = f;
    if (mode == adCriteriaTimeStamp && version == F.size()) mode = adCriteriaAllCols;
    if (mode == adCriteriaKey && keyFields.empty()) mode = adCriteriaAllCols;
    if (mode == adCriteriaTimeStamp) {
      AddTest(version, where, params);
    } else if (mode == adCriteriaAllCols || mode == adCriteriaUpdCols) {
      const bool onlyAssigned = mode == adCriteriaUpdCols && !forDelete;
      for (size_t f : t.fields)
        if ((!onlyAssigned || Assigned(f)) && comparable(f)) AddTest(f, where, params);
    }
    if (where.empty()) where = "1";
    return where;
  }

  // Finds the written row again, by rowid or by key; false when it cannot.
  bool FindAgain(const TableFields& t, const Variant& rowid, std::string& where, Params& params) const {
    if (Meta(t).hasRowid) {
      where = "rowid = ?";
      params.push_back(AsParam(rowid));
      return true;
    }
    for (const std::string& k : Meta(t).key) {
      size_t found = KeyField(t, k);
      if (found == F.size()) return false;  // cannot find it again; keep the values written
      if (!where.empty()) where += " AND ";
      where += detail::QuoteIdent(k) + " IS ?";
      params.push_back(AsParam(Current(found)));
    }
    return true;
  }

  // Reads the table's columns back (identity, defaults, row version).
  void ReadBack(const TableFields& t, const Variant& rowid) {
    std::string cols;
    for (size_t f : t.fields) {
      if (!cols.empty()) cols += ", ";
      cols += detail::QuoteIdent(F[f].baseColumn);
    }
    Params params;
    std::string where;
    if (!FindAgain(t, rowid, where, params)) return;
    ResultSet back;
    detail::Run(c_, "SELECT " + cols + " FROM " + Qualified(t) + " WHERE " + where, params, true, &back);
    if (back.rows != 1) return;
    for (size_t k = 0; k < t.fields.size(); ++k) Refresh(t, t.fields[k], back.cells.Get(k));
  }

  void Refresh(const TableFields& t, size_t f, Variant v) {
    // Values come back the way the engine keeps them; give them the field's type again.
    if (!v.IsNull()) {
      try {
        v = detail::Coerce(F[f], v);
      } catch (const automation::ComError&) {
      }
    }
    // The same column may be read by more fields (a later duplicate): refresh those too.
    for (size_t g = 0; g < F.size(); ++g)
      if (g != f && automation::EqualsNoCase(F[g].baseTable, t.table) &&
          automation::EqualsNoCase(F[g].baseColumn, F[f].baseColumn))
        out_.refreshed.emplace_back(g, v);
    out_.refreshed.emplace_back(f, std::move(v));
  }

  ResultSet ReturningRows(const std::string& sql, const Params& params) {
    ResultSet r;
    detail::Run(c_, sql, params, true, &r);
    return r;
  }

  // Exactly one row must be hit: none is the write conflict.
  void RequireOneRow(int64_t n) const {
    if (n <= 0) Conflict(c_);
    if (n > 1) Fail(c_, err::kFail, kTooManyRows);
  }

  void Delete() {
    const TableFields* target = nullptr;
    if (!rs_.uniqueTable_.empty()) {
      for (const auto& t : tables_)
        if (automation::EqualsNoCase(t.table, rs_.uniqueTable_)) target = &t;
    } else if (tables_.size() == 1) {
      target = &tables_.front();
    }
    if (!target) NoBaseTable(c_);
    Params params;
    std::string where = Criteria(*target, true, params);
    RequireOneRow(detail::Run(c_, "DELETE FROM " + Qualified(*target) + " WHERE " + where, params, false, nullptr));
    out_.deleted = true;
  }

  void Insert() {
    if (tables_.empty()) NoBaseTable(c_);
    bool any = false;
    for (const TableFields& t : tables_) {
      std::string cols, marks;
      Params params;
      for (size_t f : t.fields) {
        if (!Assigned(f) || F[f].rowVersion) continue;
        if (F[f].autoIncrement && Current(f).IsNull()) continue;
        if (!cols.empty()) {
          cols += ", ";
          marks += ", ";
        }
        cols += detail::QuoteIdent(F[f].baseColumn);
        marks += "?";
        params.push_back(AsParam(Current(f)));
      }
      if (cols.empty() && (any || tables_.size() > 1)) continue;
      std::string sql = "INSERT INTO " + Qualified(t) +
                        (cols.empty() ? std::string(" DEFAULT VALUES") : " (" + cols + ") VALUES (" + marks + ")");
      if (Meta(t).hasRowid) sql += " RETURNING rowid";
      ResultSet r = ReturningRows(sql, params);
      any = true;
      ReadBack(t, r.rows == 1 ? r.cells.Get(0) : Variant::Null());
    }
    if (!any) NoBaseTable(c_);
  }

  // A modified row: one UPDATE per table that has changed columns.
  void Update(const TableFields& t) {
    std::string set;
    Params params;
    for (size_t f : t.fields) {
      if (!Assigned(f) || F[f].rowVersion) continue;
      if (!set.empty()) set += ", ";
      set += detail::QuoteIdent(F[f].baseColumn) + " = ?";
      params.push_back(AsParam(Current(f)));
    }
    if (set.empty()) return;
    std::string where = Criteria(t, false, params);
    std::string sql = "UPDATE " + Qualified(t) + " SET " + set + " WHERE " + where;
    if (Meta(t).hasRowid) {
      ResultSet r = ReturningRows(sql + " RETURNING rowid", params);
      RequireOneRow(static_cast<int64_t>(r.rows));
      ReadBack(t, r.cells.Get(0));
    } else {
      RequireOneRow(detail::Run(c_, sql, params, false, nullptr));
      ReadBack(t, Variant::Null());
    }
  }

  Recordset& rs_;
  Connection& c_;
  const std::vector<FieldInfo>& F;
  Row& row_;
  std::vector<TableFields> tables_;
  PendingWrite out_;
};

Recordset::PendingWrite Recordset::WriteRow(Connection& c, size_t index) { return RowWriter(*this, c, index).Write(); }

void Recordset::CommitWritten(std::vector<PendingWrite>& writes) {
  size_t n = FieldCount();
  for (PendingWrite& w : writes) {
    Row& row = rows_.Hold(w.row);
    if (w.deleted) {
      row.state = RowState::Gone;
      row.change.reset();
      continue;
    }
    if (row.change) {
      if (row.base == kNoBase) {
        row.base = cells_.Size();
        for (const Variant& v : row.change->values) cells_.Push(v);
      } else {
        for (size_t f = 0; f < n; ++f)
          if (row.change->assigned[f] && !meta_->fields[f].rowVersion) cells_.Set(row.base + f, row.change->values[f]);
      }
    }
    for (auto& [f, v] : w.refreshed) cells_.Set(row.base + f, v);
    row.change.reset();
    row.state = RowState::Unmodified;
  }
}

}  // namespace ado
