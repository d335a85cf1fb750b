// Running statement texts: splitting, the prepared-statement cache, binding and fetching.
#include <algorithm>
#include <cctype>

#include "automation/text.h"
#include "engine.h"

namespace ado {

void Connection::Impl::Clear() {
  for (auto& [text, entry] : cache) entry->Finalize();
  cache.clear();
  tables.clear();
  tablesSchemaVersion = -1;
  if (schemaVersion) sqlite3_finalize(schemaVersion);
  schemaVersion = nullptr;
}

int64_t Connection::Impl::SchemaVersion() {
  if (!schemaVersion && sqlite3_prepare_v3(db, "PRAGMA schema_version", -1, SQLITE_PREPARE_PERSISTENT,
                                           &schemaVersion, nullptr) != SQLITE_OK)
    return -1;
  int64_t v = -1;
  if (sqlite3_step(schemaVersion) == SQLITE_ROW) v = sqlite3_column_int64(schemaVersion, 0);
  sqlite3_reset(schemaVersion);
  return v;
}

const detail::TableMeta& Connection::Impl::Table(const std::string& schema, const std::string& table) {
  int64_t version = SchemaVersion();
  if (version != tablesSchemaVersion) {
    tables.clear();
    tablesSchemaVersion = version;
  }
  std::string key = detail::Lower(schema) + "." + detail::Lower(table);
  auto it = tables.find(key);
  if (it != tables.end()) return it->second;
  detail::TableMeta meta;
  std::string qualified = detail::QuoteIdent(schema.empty() ? "main" : schema);
  std::string sql = "PRAGMA " + qualified + ".table_info(" + detail::QuoteIdent(table) + ")";
  sqlite3_stmt* st = nullptr;
  std::vector<std::pair<int, std::string>> key_;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      auto name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
      meta.columns.emplace_back(name ? name : "");
      int pk = sqlite3_column_int(st, 5);
      if (pk > 0) key_.emplace_back(pk, meta.columns.back());
    }
  }
  sqlite3_finalize(st);
  std::sort(key_.begin(), key_.end());
  for (auto& [n, name] : key_) meta.key.push_back(name);
  sql = "SELECT rowid FROM " + qualified + "." + detail::QuoteIdent(table) + " LIMIT 0";
  st = nullptr;
  meta.hasRowid = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK;
  sqlite3_finalize(st);
  return tables.emplace(key, std::move(meta)).first->second;
}

}  // namespace ado

namespace ado::detail {

using automation::Variant;

void TextEntry::Finalize() {
  for (Piece& p : pieces)
    if (p.stmt) sqlite3_finalize(p.stmt);
  pieces.clear();
  complete = false;
}

void Exec(Connection& c, const char* sql) {
  c.RequireOpen("ADODB.Connection");
  c.BeforeStatement(false);
  ExecAsIs(c, sql);
}

void ExecAsIs(Connection& c, const char* sql) {
  sqlite3* db = c.RequireOpen("ADODB.Connection");
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    ErrorInfo e = EngineError(db, rc);
    c.ErrorList().Add(e);
    Raise(e);
  }
}

namespace {

constexpr size_t kMaxCachedTexts = 256;

bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '$'; }

// "@@identity" (outside quotes and comments) reads the last identity of this connection.
std::string Rewrite(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  size_t i = 0, n = text.size();
  while (i < n) {
    char c = text[i];
    if (c == '\'' || c == '"' || c == '[' || c == '`') {
      char close = c == '[' ? ']' : c;
      size_t j = i + 1;
      while (j < n) {
        if (text[j] == close) {
          if (close != ']' && j + 1 < n && text[j + 1] == close) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      j = std::min(j + 1, n);
      out.append(text.substr(i, j - i));
      i = j;
    } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
      size_t j = text.find('\n', i);
      j = j == std::string_view::npos ? n : j;
      out.append(text.substr(i, j - i));
      i = j;
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      size_t j = text.find("*/", i + 2);
      j = j == std::string_view::npos ? n : j + 2;
      out.append(text.substr(i, j - i));
      i = j;
    } else if (c == '@' && EqualsNoCase(text.substr(i, 10), "@@identity") &&
               (i + 10 == n || !IdentChar(text[i + 10]))) {
      out += "last_insert_rowid()";
      i += 10;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

size_t SkipBlank(std::string_view s, size_t i) {
  while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == ';')) ++i;
  return i;
}

// Whether the statement at `at` begins (after blanks and comments) with SELECT, WITH or VALUES.
bool PlainReadKeyword(std::string_view s, size_t at) {
  while (at < s.size()) {
    if (std::isspace(static_cast<unsigned char>(s[at]))) {
      ++at;
    } else if (s.substr(at, 2) == "--") {
      at = s.find('\n', at);
    } else if (s.substr(at, 2) == "/*") {
      at = s.find("*/", at + 2);
      if (at != std::string_view::npos) at += 2;
    } else {
      break;
    }
  }
  if (at >= s.size()) return false;
  for (std::string_view word : {"select", "with", "values"})
    if (EqualsNoCase(s.substr(at, word.size()), word) &&
        (at + word.size() == s.size() || !IdentChar(s[at + word.size()])))
      return true;
  return false;
}

// "SET NOCOUNT ON|OFF" at `at`: the rows-affected messages it switches do not exist here.
bool NoCountStatement(std::string_view s, size_t at, size_t& end) {
  auto word = [&](size_t& i, std::string_view w) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (!EqualsNoCase(s.substr(i, w.size()), w)) return false;
    if (i + w.size() < s.size() && IdentChar(s[i + w.size()])) return false;
    i += w.size();
    return true;
  };
  size_t i = at;
  if (!word(i, "set") || !word(i, "nocount")) return false;
  size_t j = i;
  if (!word(j, "on")) {
    j = i;
    if (!word(j, "off")) return false;
  }
  while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
  if (j < s.size() && s[j] != ';') return false;
  end = j;
  return true;
}

[[noreturn]] void EngineFailure(Connection& c, sqlite3* db, int rc) {
  ErrorInfo e = EngineError(db, rc);
  c.ErrorList().Add(e);
  Raise(e);
}

const Param* NamedParam(const Params& params, std::string_view name) {
  for (const Param& p : params) {
    std::string_view pn = p.name;
    if (!pn.empty() && (pn[0] == '@' || pn[0] == ':' || pn[0] == '$')) pn.remove_prefix(1);
    if (EqualsNoCase(pn, name)) return &p;
  }
  return nullptr;
}

void BindAll(Connection& c, sqlite3_stmt* st, const Params& params, size_t& nextPositional) {
  int count = sqlite3_bind_parameter_count(st);
  for (int slot = 1; slot <= count; ++slot) {
    const char* name = sqlite3_bind_parameter_name(st, slot);
    if (name && name[0] != '?') {
      const Param* p = NamedParam(params, name + 1);
      if (!p)
        Raise(static_cast<int32_t>(0x80040E10), "ADODB.Command",
              std::string("No value given for the parameter ") + name + ".");
      BindParam(c, st, slot, *p, slot);
    } else {
      if (nextPositional >= params.size())
        Raise(static_cast<int32_t>(0x80040E10), "ADODB.Command", "No value given for one or more required parameters.");
      BindParam(c, st, slot, params[nextPositional], static_cast<int>(nextPositional + 1));
      ++nextPositional;
    }
  }
}

// Computed columns take their type from the first value that is not Null.
MetaPtr ResolveComputed(const MetaPtr& meta, const CellStore& cells, size_t rows) {
  auto copy = std::make_shared<RecordsetMeta>(*meta);
  size_t n = copy->fields.size();
  for (size_t i = 0; i < n; ++i) {
    FieldInfo& f = copy->fields[i];
    if (f.decode != Decode::Any) continue;
    for (size_t r = 0; r < rows; ++r) {
      CellStore::Kind k = cells.KindAt(r * n + i);
      if (k == CellStore::kNull) continue;
      switch (k) {
        case CellStore::kLong: f.type = adInteger; f.definedSize = 4; break;
        case CellStore::kLongLong: f.type = adBigInt; f.definedSize = 8; break;
        case CellStore::kDouble: f.type = adDouble; f.definedSize = 8; break;
        case CellStore::kBytes: f.type = adLongVarBinary; f.definedSize = 2147483647; break;
        default: {
          size_t longest = 0;
          for (size_t j = r; j < rows; ++j)
            if (cells.KindAt(j * n + i) == CellStore::kText)
              longest = std::max(longest, automation::CharLength(cells.TextAt(j * n + i)));
          f.type = adVarChar;
          f.definedSize = static_cast<int32_t>(std::max<size_t>(longest, 1));
        }
      }
      break;
    }
  }
  return copy;
}

}  // namespace

MetaPtr ColumnMeta(Connection& c, sqlite3_stmt* st) {
  sqlite3* db = c.Handle();
  auto m = std::make_shared<RecordsetMeta>();
  int n = sqlite3_column_count(st);
  m->fields.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    FieldInfo f;
    const char* name = sqlite3_column_name(st, i);
    f.name = name ? name : "";
    const char* decl = sqlite3_column_decltype(st, i);
    ApplyDeclaredType(f, decl ? decl : "");
    const char* dbName = sqlite3_column_database_name(st, i);
    const char* table = sqlite3_column_table_name(st, i);
    const char* column = sqlite3_column_origin_name(st, i);
    if (table && column) {
      f.baseSchema = dbName ? dbName : "main";
      f.baseTable = table;
      f.baseColumn = column;
      const char* declared = nullptr;
      const char* collation = nullptr;
      int notNull = 0, pk = 0, autoinc = 0;
      if (sqlite3_table_column_metadata(db, f.baseSchema.c_str(), table, column, &declared, &collation, &notNull,
                                        &pk, &autoinc) == SQLITE_OK) {
        f.key = pk != 0;
        f.notNull = notNull != 0;
        const TableMeta& t = c.Internals().Table(f.baseSchema, f.baseTable);
        f.autoIncrement =
            autoinc != 0 || (f.key && t.key.size() == 1 && t.hasRowid && declared && EqualsNoCase(declared, "INTEGER"));
        std::string upper = declared ? declared : "";
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        f.rowVersion = EqualsNoCase(column, "LastUpdated") &&
                       (upper == "INTEGER" || upper == "BIGINT" || upper == "ROWVERSION" || upper == "TIMESTAMP");
      }
      if (!f.rowVersion) f.attributes |= adFldUpdatable;
      if (!f.notNull) f.attributes |= adFldIsNullable | adFldMayBeNull;
      if (f.key) f.attributes |= adFldKeyColumn;
      if (f.rowVersion) f.attributes |= adFldRowVersion;
    } else {
      f.attributes |= adFldMayBeNull | adFldUnknownUpdatable;
    }
    m->fields.push_back(std::move(f));
  }
  m->Index();
  return m;
}

namespace {

// The cached entry of a command text, or a temporary one (while an authorizer is set, or while the
// cached entry is in use by an outer statement); the guard gives it back.
struct EntryLease {
  TextEntry* entry = nullptr;
  std::unique_ptr<TextEntry> temporary;
  EntryLease(Connection& c, std::string_view text) {
    auto& impl = c.Internals();
    // Under a guard the cache key is its tag, then the text.
    std::string tagged;
    if (!c.CurrentGuard().tag.empty()) {
      tagged.reserve(c.CurrentGuard().tag.size() + 1 + text.size());
      tagged.append(c.CurrentGuard().tag).append(1, '\0').append(text);
    }
    const std::string_view key = tagged.empty() ? text : std::string_view(tagged);
    auto it = impl.cache.find(key);
    if (c.HasAuthorizer() || (it != impl.cache.end() && it->second->inUse)) {
      temporary = std::make_unique<TextEntry>();
      temporary->text = Rewrite(text);
      entry = temporary.get();
    } else if (it == impl.cache.end()) {
      if (impl.cache.size() >= kMaxCachedTexts) {
        for (auto i = impl.cache.begin(); i != impl.cache.end();) {
          if (i->second->inUse) {
            ++i;
          } else {
            i->second->Finalize();
            i = impl.cache.erase(i);
          }
        }
      }
      auto e = std::make_unique<TextEntry>();
      e->text = Rewrite(text);
      entry = e.get();
      impl.cache.emplace(std::string(key), std::move(e));
    } else {
      entry = it->second.get();
    }
    entry->inUse = true;
  }
  ~EntryLease() {
    entry->inUse = false;
    if (temporary) entry->Finalize();
  }
  EntryLease(const EntryLease&) = delete;
  EntryLease& operator=(const EntryLease&) = delete;
};

// The next statement of the entry, prepared on first use; nullptr after the last.
Piece* NextPiece(Connection& c, sqlite3* db, EntryLease& lease, size_t& index, size_t& offset) {
  TextEntry& entry = *lease.entry;
  const std::string& sql = entry.text;
  if (index >= entry.pieces.size()) {
    if (entry.complete) return nullptr;
    size_t at = SkipBlank(sql, offset);
    if (at >= sql.size()) {
      entry.complete = true;
      return nullptr;
    }
    size_t end = 0;
    Piece p;
    p.offset = at;
    if (NoCountStatement(sql, at, end)) {
      p.tail = end;
    } else {
      sqlite3_stmt* st = nullptr;
      const char* tail = nullptr;
      int rc = sqlite3_prepare_v3(db, sql.data() + at, static_cast<int>(sql.size() - at),
                                  lease.temporary ? 0 : SQLITE_PREPARE_PERSISTENT, &st, &tail);
      if (rc != SQLITE_OK) EngineFailure(c, db, rc);
      if (!st) {
        entry.complete = true;
        return nullptr;
      }
      p.tail = static_cast<size_t>(tail - sql.data());
      p.stmt = st;
      p.returnsRows = sqlite3_column_count(st) > 0;
      p.plainRead = sqlite3_stmt_readonly(st) && PlainReadKeyword(sql, at);
    }
    entry.pieces.push_back(p);
  }
  Piece& piece = entry.pieces[index++];
  offset = piece.tail;
  return &piece;
}

// Appends the current row of `st`, each column decoded as its field says.
void ReadRow(CellStore& cells, sqlite3_stmt* st, const std::vector<FieldInfo>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) ReadInto(cells, st, static_cast<int>(i), fields[i].decode);
}

// The fields of rows read with `meta`: computed columns typed by their values.
MetaPtr RowsMeta(const MetaPtr& meta, const CellStore& cells, size_t rows) {
  for (const FieldInfo& f : meta->fields)
    if (f.decode == Decode::Any) return ResolveComputed(meta, cells, rows);
  return meta;
}

// Collects the rows of a stepped statement (its first row is current) into `result`.
void Collect(Connection& c, sqlite3* db, Piece& piece, sqlite3_stmt* st, int rc, ResultSet& result) {
  int reprepared = sqlite3_stmt_status(st, SQLITE_STMTSTATUS_REPREPARE, 0);
  if (!piece.meta || piece.reprepared != reprepared) {
    piece.meta = ColumnMeta(c, st);
    piece.reprepared = reprepared;
  }
  const auto& fields = piece.meta->fields;
  size_t n = fields.size();
  result.cells.Clear();
  result.cells.Reserve(piece.rowsHint * n, piece.bytesHint);
  result.rows = 0;
  while (rc == SQLITE_ROW) {
    ReadRow(result.cells, st, fields);
    ++result.rows;
    rc = sqlite3_step(st);
  }
  if (rc != SQLITE_DONE) EngineFailure(c, db, rc);
  piece.rowsHint = result.rows;
  piece.bytesHint = result.cells.ArenaSize();
  result.meta = RowsMeta(piece.meta, result.cells, result.rows);
}

int64_t RunPieces(Connection& c, std::string_view text, const Params& params, ResultSet* result,
                  const RowCallback* each) {
  sqlite3* db = c.RequireOpen("ADODB.Command");
  c.ErrorList().Clear();
  EntryLease lease(c, text);
  int64_t affected = -1;
  size_t nextPositional = 0, index = 0, offset = 0;
  while (Piece* piece = NextPiece(c, db, lease, index, offset)) {
    sqlite3_stmt* st = piece->stmt;
    if (!st) continue;
    struct Reset {
      sqlite3_stmt* st;
      ~Reset() {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
      }
    } reset{st};
    c.BeforeStatement(piece->plainRead);
    BindAll(c, st, params, nextPositional);
    int64_t before = sqlite3_total_changes64(db);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) EngineFailure(c, db, rc);
    bool rows = sqlite3_column_count(st) > 0;
    if (rows && result) {
      Collect(c, db, *piece, st, rc, *result);
    } else {
      while (rc == SQLITE_ROW) {
        if (rows && each) (*each)(st);
        rc = sqlite3_step(st);
      }
      if (rc != SQLITE_DONE) EngineFailure(c, db, rc);
    }
    if (sqlite3_total_changes64(db) != before) affected = std::max<int64_t>(affected, 0) + sqlite3_changes64(db);
  }
  return affected;
}

}  // namespace

}  // namespace ado::detail

namespace ado {

RowCursor::RowCursor(Connection& connection, std::string_view sql, const Params& params) : connection_(&connection) {
  sqlite3* db = connection.RequireOpen("ADODB.Command");
  connection.ErrorList().Clear();
  const std::string text = detail::Rewrite(sql);
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v3(db, text.c_str(), static_cast<int>(text.size()), 0, &stmt_, &tail);
  if (rc != SQLITE_OK) detail::EngineFailure(connection, db, rc);
  if (!stmt_ || sqlite3_column_count(stmt_) == 0 ||
      detail::SkipBlank(text, static_cast<size_t>(tail - text.c_str())) < text.size()) {
    sqlite3_finalize(stmt_);
    Raise(err::kFail, "ADODB.Command", "A cursor reads the rows of one statement.");
  }
  plainRead_ = sqlite3_stmt_readonly(stmt_) && detail::PlainReadKeyword(text, 0);
  try {
    size_t nextPositional = 0;
    detail::BindAll(connection, stmt_, params, nextPositional);
  } catch (...) {
    sqlite3_finalize(stmt_);
    throw;
  }
}

RowCursor::~RowCursor() { sqlite3_finalize(stmt_); }

ResultSet RowCursor::Next(size_t count) {
  sqlite3* db = connection_->RequireOpen("ADODB.Command");
  ResultSet result;
  if (!meta_) meta_ = detail::ColumnMeta(*connection_, stmt_);
  if (position_ == 0) connection_->BeforeStatement(plainRead_);
  while (!done_ && result.rows < count) {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) {
      done_ = true;
    } else if (rc == SQLITE_ROW) {
      detail::ReadRow(result.cells, stmt_, meta_->fields);
      ++result.rows;
    } else {
      done_ = true;
      detail::EngineFailure(*connection_, db, rc);
    }
  }
  position_ += result.rows;
  result.meta = detail::RowsMeta(meta_, result.cells, result.rows);
  return result;
}

}  // namespace ado

namespace ado::detail {

int64_t Run(Connection& c, std::string_view text, const Params& params, bool fetch, ResultSet* result) {
  return RunPieces(c, text, params, fetch ? result : nullptr, nullptr);
}

int64_t RunEach(Connection& c, std::string_view text, const Params& params, const RowCallback& each) {
  return RunPieces(c, text, params, nullptr, &each);
}

}  // namespace ado::detail
