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
      if (detail::EqualNoCase(g.schema, f.baseSchema) && detail::EqualNoCase(g.table, f.baseTable)) group = &g;
    if (!group) {
      out.push_back({f.baseSchema, f.baseTable, {}});
      group = &out.back();
    }
    bool duplicate = false;
    for (size_t j : group->fields)
      duplicate = duplicate || detail::EqualNoCase(meta.fields[j].baseColumn, f.baseColumn);
    if (!duplicate) group->fields.push_back(i);
  }
  return out;
}

std::string Qualified(const TableFields& t) {
  std::string q;
  if (!t.schema.empty() && !detail::EqualNoCase(t.schema, "main")) q = detail::QuoteIdent(t.schema) + ".";
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
    if (pos_ >= 0 && pending(rows_[static_cast<size_t>(pos_)])) rows.push_back(static_cast<size_t>(pos_));
  } else {
    for (size_t i = 0; i < rows_.size(); ++i)
      if (pending(rows_[i])) rows.push_back(i);
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

Recordset::PendingWrite Recordset::WriteRow(Connection& c, size_t index) {
  const RecordsetMeta& meta = *meta_;
  const auto& F = meta.fields;
  Row& row = rows_[index];
  PendingWrite out;
  out.row = index;
  std::vector<TableFields> tables = GroupByTable(meta);
  auto original = [&](size_t f) { return cells_.Get(row.base + f); };
  auto current = [&](size_t f) { return row.change ? row.change->values[f] : cells_.Get(row.base + f); };
  auto assigned = [&](size_t f) { return row.change && row.change->assigned[f] != 0; };

  // A change to a computed column cannot be written anywhere.
  if (row.state != RowState::Deleted)
    for (size_t f = 0; f < F.size(); ++f)
      if (assigned(f) && F[f].baseTable.empty()) NoBaseTable(c);

  // The WHERE clause that finds the row as it was read.
  auto criteria = [&](const TableFields& t, bool forDelete, Params& params) {
    const detail::TableMeta& tm = c.Internals().Table(t.schema, t.table);
    std::string where;
    auto add = [&](size_t f) {
      if (!where.empty()) where += " AND ";
      std::string col = detail::QuoteIdent(F[f].baseColumn);
      if (F[f].decode == Decode::Date) {
        where += "(" + col + " IS ? OR julianday(" + col + ") = julianday(?))";
        params.push_back(AsParam(original(f)));
      } else {
        where += col + " IS ?";
      }
      params.push_back(AsParam(original(f)));
    };
    std::vector<size_t> keyFields;
    for (const std::string& k : tm.key) {
      size_t found = F.size();
      for (size_t f : t.fields)
        if (detail::EqualNoCase(F[f].baseColumn, k)) found = f;
      if (found == F.size())
        Fail(c, err::kFail, "Insufficient key column information for updating or refreshing.");
      keyFields.push_back(found);
    }
    for (size_t f : keyFields) add(f);
    bool isKey = false;
    auto comparable = [&](size_t f) {
      isKey = false;
      for (size_t k : keyFields) isKey = isKey || k == f;
      return !isKey && F[f].decode != Decode::Binary && !F[f].rowVersion;
    };
    int32_t mode = updateCriteria_;
    size_t version = F.size();
    for (size_t f : t.fields)
      if (F[f].rowVersion) version = f;
    if (mode == adCriteriaTimeStamp && version == F.size()) mode = adCriteriaAllCols;
    if (mode == adCriteriaKey && keyFields.empty()) mode = adCriteriaAllCols;
    switch (mode) {
      case adCriteriaTimeStamp: add(version); break;
      case adCriteriaAllCols:
        for (size_t f : t.fields)
          if (comparable(f)) add(f);
        break;
      case adCriteriaUpdCols:
        if (forDelete) {
          for (size_t f : t.fields)
            if (comparable(f)) add(f);
        } else {
          for (size_t f : t.fields)
            if (assigned(f) && comparable(f)) add(f);
        }
        break;
      default: break;
    }
    if (where.empty()) where = "1";
    return where;
  };

  // Reads the table's columns back (identity, defaults, row version) by rowid or by key.
  auto readBack = [&](const TableFields& t, const Variant& rowid) {
    const detail::TableMeta& tm = c.Internals().Table(t.schema, t.table);
    std::string cols;
    for (size_t f : t.fields) {
      if (!cols.empty()) cols += ", ";
      cols += detail::QuoteIdent(F[f].baseColumn);
    }
    Params params;
    std::string where;
    if (tm.hasRowid) {
      where = "rowid = ?";
      params.push_back(AsParam(rowid));
    } else {
      for (const std::string& k : tm.key) {
        size_t found = F.size();
        for (size_t f : t.fields)
          if (detail::EqualNoCase(F[f].baseColumn, k)) found = f;
        if (found == F.size()) return;  // cannot find it again; keep the values written
        if (!where.empty()) where += " AND ";
        where += detail::QuoteIdent(k) + " IS ?";
        params.push_back(AsParam(current(found)));
      }
    }
    ResultSet back;
    detail::Run(c, "SELECT " + cols + " FROM " + Qualified(t) + " WHERE " + where, params, true, &back);
    if (back.rows != 1) return;
    for (size_t k = 0; k < t.fields.size(); ++k) {
      size_t f = t.fields[k];
      Variant v = back.cells.Get(k);
      // Values come back the way the engine keeps them; give them the field's type again.
      if (!v.IsNull()) {
        try {
          v = detail::Coerce(F[f], v);
        } catch (const automation::ComError&) {
        }
      }
      // The same column may be read by more fields (a later duplicate): refresh those too.
      for (size_t g = 0; g < F.size(); ++g)
        if (g != f && detail::EqualNoCase(F[g].baseTable, t.table) &&
            detail::EqualNoCase(F[g].baseColumn, F[f].baseColumn))
          out.refreshed.emplace_back(g, v);
      out.refreshed.emplace_back(f, std::move(v));
    }
  };

  auto returningRows = [&](const std::string& sql, const Params& params) {
    ResultSet r;
    detail::Run(c, sql, params, true, &r);
    return r;
  };

  if (row.state == RowState::Deleted) {
    const TableFields* target = nullptr;
    if (!uniqueTable_.empty()) {
      for (const auto& t : tables)
        if (detail::EqualNoCase(t.table, uniqueTable_)) target = &t;
    } else if (tables.size() == 1) {
      target = &tables.front();
    }
    if (!target) NoBaseTable(c);
    Params params;
    std::string where = criteria(*target, true, params);
    int64_t n = detail::Run(c, "DELETE FROM " + Qualified(*target) + " WHERE " + where, params, false, nullptr);
    if (n <= 0) Conflict(c);
    if (n > 1)
      Fail(c, err::kFail, "Key column information is insufficient or incorrect. Too many rows were affected by update.");
    out.deleted = true;
    return out;
  }

  if (row.state == RowState::New) {
    bool any = false;
    for (const TableFields& t : tables) {
      const detail::TableMeta& tm = c.Internals().Table(t.schema, t.table);
      std::string cols, marks;
      Params params;
      for (size_t f : t.fields) {
        if (!assigned(f) || F[f].rowVersion) continue;
        if (F[f].autoIncrement && current(f).IsNull()) continue;
        if (!cols.empty()) {
          cols += ", ";
          marks += ", ";
        }
        cols += detail::QuoteIdent(F[f].baseColumn);
        marks += "?";
        params.push_back(AsParam(current(f)));
      }
      if (cols.empty() && (any || tables.size() > 1)) continue;
      std::string sql = "INSERT INTO " + Qualified(t) +
                        (cols.empty() ? std::string(" DEFAULT VALUES") : " (" + cols + ") VALUES (" + marks + ")");
      if (tm.hasRowid) sql += " RETURNING rowid";
      ResultSet r = returningRows(sql, params);
      any = true;
      readBack(t, r.rows == 1 ? r.cells.Get(0) : Variant::Null());
    }
    if (!any && !tables.empty()) NoBaseTable(c);
    if (tables.empty()) NoBaseTable(c);
    return out;
  }

  // A modified row: one UPDATE per table that has changed columns.
  for (const TableFields& t : tables) {
    const detail::TableMeta& tm = c.Internals().Table(t.schema, t.table);
    std::string set;
    Params params;
    for (size_t f : t.fields) {
      if (!assigned(f) || F[f].rowVersion) continue;
      if (!set.empty()) set += ", ";
      set += detail::QuoteIdent(F[f].baseColumn) + " = ?";
      params.push_back(AsParam(current(f)));
    }
    if (set.empty()) continue;
    std::string where = criteria(t, false, params);
    std::string sql = "UPDATE " + Qualified(t) + " SET " + set + " WHERE " + where;
    if (tm.hasRowid) {
      ResultSet r = returningRows(sql + " RETURNING rowid", params);
      if (r.rows == 0) Conflict(c);
      if (r.rows > 1)
        Fail(c, err::kFail, "Key column information is insufficient or incorrect. Too many rows were affected by update.");
      readBack(t, r.cells.Get(0));
    } else {
      int64_t n = detail::Run(c, sql, params, false, nullptr);
      if (n <= 0) Conflict(c);
      if (n > 1)
        Fail(c, err::kFail, "Key column information is insufficient or incorrect. Too many rows were affected by update.");
      readBack(t, Variant::Null());
    }
  }
  return out;
}

void Recordset::CommitWritten(std::vector<PendingWrite>& writes) {
  size_t n = FieldCount();
  for (PendingWrite& w : writes) {
    Row& row = rows_[w.row];
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
