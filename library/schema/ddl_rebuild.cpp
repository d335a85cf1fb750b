// Changing a column's declaration where SQLite has no ALTER COLUMN: the rows are held aside with
// their rowids, the table is dropped and declared again from its edited CREATE TABLE text, the rows
// come back; then its indexes and every trigger that names it come back from their saved text, the
// AUTOINCREMENT counter is put back and the rows get a new row version.
#include <cctype>
#include <regex>

#include "ado/row_version.h"
#include "core/error_protocol.h"
#include "core/sql.h"
#include "schema/ddl.h"
#include "schema/ddl_internal.h"

namespace brisquel::schema::ddl::detail {

namespace {

constexpr std::string_view kRebuildPrefix = "VantrelRebuild_";

// The index after a quoted run starting at `i` (', ", ` or [).
size_t SkipQuoted(const std::string& s, size_t i) {
  char close = s[i] == '[' ? ']' : s[i];
  for (size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] != close) continue;
    if (close != ']' && j + 1 < s.size() && s[j + 1] == close) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return s.size();
}

bool Quoting(char ch) { return ch == '\'' || ch == '"' || ch == '`' || ch == '['; }

// CREATE TABLE text cut into what comes before the definitions, the definitions (split at
// top-level commas) and what follows them.
struct Declaration {
  std::string head;
  std::vector<std::string> parts;
  std::string tail;
};

Declaration Split(const std::string& sql) {
  Declaration d;
  size_t open = std::string::npos;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < sql.size();) {
    char ch = sql[i];
    if (Quoting(ch)) {
      i = SkipQuoted(sql, i);
      continue;
    }
    if (ch == '(') {
      if (depth++ == 0 && open == std::string::npos) {
        open = i;
        d.head = sql.substr(0, i + 1);
        start = i + 1;
      }
    } else if (ch == ')' && --depth == 0 && open != std::string::npos) {
      d.parts.push_back(sql.substr(start, i - start));
      d.tail = sql.substr(i);
      return d;
    } else if (ch == ',' && depth == 1) {
      d.parts.push_back(sql.substr(start, i - start));
      start = i + 1;
    }
    ++i;
  }
  RaiseFailure("The declaration of a table could not be read: " + sql);
}

bool WordChar(char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '$'; }

// Where a definition's leading name ends, and the name unquoted.
size_t NameEnd(const std::string& part, std::string& name) {
  size_t i = 0;
  while (i < part.size() && std::isspace(static_cast<unsigned char>(part[i]))) ++i;
  size_t b = i;
  if (i < part.size() && Quoting(part[i])) {
    i = SkipQuoted(part, i);
    name = part.substr(b + 1, i - b - 2);
  } else {
    while (i < part.size() && WordChar(part[i])) ++i;
    name = part.substr(b, i - b);
  }
  return i;
}

bool IsTableConstraint(const std::string& word) {
  for (const char* k : {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"})
    if (EqualsNoCase(word, k)) return true;
  return false;
}

struct Token {
  size_t begin, end;
  std::string word;  // words upper-cased; other tokens as written
};

std::vector<Token> Tokens(const std::string& s) {
  std::vector<Token> out;
  for (size_t i = 0; i < s.size();) {
    char ch = s[i];
    size_t b = i;
    if (std::isspace(static_cast<unsigned char>(ch))) {
      ++i;
      continue;
    }
    if (Quoting(ch)) {
      i = SkipQuoted(s, i);
    } else if (ch == '(') {
      int depth = 0;
      for (; i < s.size(); ++i) {
        if (Quoting(s[i])) i = SkipQuoted(s, i) - 1;
        else if (s[i] == '(') ++depth;
        else if (s[i] == ')' && --depth == 0) break;
      }
      i = std::min(i + 1, s.size());
    } else if (WordChar(ch) || ch == '.') {
      while (i < s.size() && (WordChar(s[i]) || s[i] == '.')) ++i;
    } else {
      ++i;
    }
    std::string w = s.substr(b, i - b);
    for (char& x : w) x = static_cast<char>(std::toupper(static_cast<unsigned char>(x)));
    out.push_back({b, i, w});
  }
  return out;
}

struct Saved {
  std::vector<std::string> indexes;
  std::vector<std::pair<std::string, std::string>> triggers;  // name, text
  std::optional<int64_t> sequence;
};

// The indexes of the table and every trigger that may name it (the test is generous: a trigger
// re-created needlessly is the same trigger).
Saved Save(ado::Connection& c, const std::string& table) {
  Saved s;
  s.indexes = Texts(c, "SELECT sql FROM sqlite_schema WHERE type = 'index' AND tbl_name = ? COLLATE NOCASE "
                       "AND sql IS NOT NULL ORDER BY name", {Name(table)});
  c.Each("SELECT name, sql FROM sqlite_schema WHERE type = 'trigger' AND (tbl_name = ?1 COLLATE NOCASE "
         "OR instr(lower(sql), lower(?1)) > 0) ORDER BY name",
         {Name(table)}, [&](sqlite3_stmt* st) {
           sql::Row r(st);
           s.triggers.emplace_back(r.Text(0), r.Text(1));
         });
  if (!Texts(c, "SELECT name FROM sqlite_schema WHERE name = 'sqlite_sequence'").empty()) {
    c.Each("SELECT seq FROM sqlite_sequence WHERE name = ? COLLATE NOCASE", {Name(table)},
           [&](sqlite3_stmt* st) { s.sequence = sql::Row(st).Int64(0); });
  }
  return s;
}

// The table's columns for the copy; rowids travel explicitly unless the key is the rowid itself.
struct CopyColumns {
  std::string list;
  bool explicitRowid = true;
};

CopyColumns ColumnsOf(ado::Connection& c, const std::string& table) {
  int keyColumns = 0;
  bool integerKey = false;
  CopyColumns out;
  c.Each("SELECT name, type, pk FROM pragma_table_info(?)", {Name(table)}, [&](sqlite3_stmt* st) {
    sql::Row r(st);
    out.list += (out.list.empty() ? "" : ", ") + Quote(r.Text(0));
    if (r.Long(2) > 0) {
      ++keyColumns;
      integerKey = EqualsNoCase(r.Text(1), "INTEGER");
    }
  });
  out.explicitRowid = !(keyColumns == 1 && integerKey);
  return out;
}

// Declared keys of other tables that act on a delete would act on the rebuild's drop.
void RefuseActingReferences(ado::Connection& c, const std::string& table) {
  auto acting = Texts(c,
                      "SELECT m.name FROM sqlite_schema AS m JOIN pragma_foreign_key_list(m.name) AS f "
                      "WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE AND m.name <> ?1 COLLATE NOCASE "
                      "AND f.on_delete <> 'NO ACTION'",
                      {Name(table)});
  if (!acting.empty())
    RaiseDdlError(c, kColumnDependency,
                  "The table '" + table + "' cannot be rebuilt while the table '" + acting[0] +
                      "' refers to it by a key that acts on deletes.");
}

void Restore(ado::Connection& c, const std::string& table, const Saved& s) {
  if (ado::HasRowVersion(c.Handle(), table)) {
    Exec(c, "UPDATE VantrelRowVersion SET Version = Version + 1 WHERE Id = 1");
    Exec(c, "UPDATE " + Quote(table) + " SET LastUpdated = (SELECT Version FROM VantrelRowVersion WHERE Id = 1)");
  }
  for (const std::string& index : s.indexes) Exec(c, index);
  for (const auto& [name, text] : s.triggers) Exec(c, text);
  if (s.sequence) {
    Exec(c, "DELETE FROM sqlite_sequence WHERE name = ?", {Name(table)});
    Exec(c, "INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)",
         {Name(table), ado::Param::Double(static_cast<double>(*s.sequence))});
  }
}

// The rows wait in a holding table while the table is dropped and declared again under its own
// name, so the declared keys of other tables keep naming it. Their checks are deferred meanwhile:
// the drop counts the rows left without a parent, and putting the rows back counts them off again.
void Rebuild(ado::Connection& c, const std::string& table, const Declaration& d) {
  RefuseActingReferences(c, table);
  const Saved saved = Save(c, table);
  for (const auto& [name, text] : saved.triggers) Exec(c, "DROP TRIGGER IF EXISTS " + Quote(name));
  const std::string hold = Quote(std::string(kRebuildPrefix) + table);
  const CopyColumns cols = ColumnsOf(c, table);
  std::string body;
  for (const std::string& p : d.parts) body += (body.empty() ? "" : ",") + p;
  Exec(c, "CREATE TABLE " + hold + " AS SELECT rowid AS VantrelRowid, " + cols.list + " FROM " + Quote(table));
  const bool deferred = Texts(c, "PRAGMA defer_foreign_keys") == std::vector<std::string>{"1"};
  Exec(c, "PRAGMA defer_foreign_keys = ON");
  struct Deferral {
    ado::Connection& c;
    bool was;
    ~Deferral() {
      if (!was) sqlite3_exec(c.Handle(), "PRAGMA defer_foreign_keys = OFF", nullptr, nullptr, nullptr);
    }
  } deferral{c, deferred};
  Exec(c, "DROP TABLE " + Quote(table));
  // The declaration keeps its own text but for the edited column.
  Exec(c, d.head + body + d.tail);
  Exec(c, "INSERT INTO " + Quote(table) + " (" + (cols.explicitRowid ? "rowid, " : "") + cols.list + ") SELECT " +
              (cols.explicitRowid ? "VantrelRowid, " : "") + cols.list + " FROM " + hold);
  Exec(c, "DROP TABLE " + hold);
  Restore(c, table, saved);
}

}  // namespace

void RebuildWithColumn(ado::Connection& c, const std::string& table, const std::string& column,
                       const ColumnEdit& edit) {
  auto texts =
      Texts(c, "SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE", {Name(table)});
  if (texts.empty()) RaiseDdlError(c, kNoSuchTable, "The table '" + table + "' does not exist.");
  Declaration d = Split(texts[0]);
  for (std::string& part : d.parts) {
    std::string name;
    size_t end = NameEnd(part, name);
    if (IsTableConstraint(name) || !EqualsNoCase(name, column)) continue;
    part = part.substr(0, end) + edit(part.substr(end));
    Rebuild(c, table, d);
    return;
  }
  RaiseDdlError(c, kInvalidColumn, "Invalid column name '" + column + "'.");
}

std::string WithWidth(const std::string& definition, int32_t width, bool& found) {
  static const std::regex varchar(R"(^\s*(N?VARCHAR)\s*\(\s*\d+\s*\))", std::regex::icase);
  std::smatch m;
  found = std::regex_search(definition, m, varchar);
  if (!found) return definition;
  std::string out(1, ' ');
  out.append(m[1].str()).append(1, '(').append(std::to_string(width)).append(1, ')').append(m.suffix().str());
  return out;
}

std::string WithoutDefault(const std::string& definition, bool& found) {
  std::vector<Token> t = Tokens(definition);
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    if (t[i].word != "DEFAULT") continue;
    size_t first = i >= 2 && t[i - 2].word == "CONSTRAINT" ? i - 2 : i;
    size_t last = i + 1;
    if ((t[last].word == "-" || t[last].word == "+") && last + 1 < t.size()) ++last;
    found = true;
    return definition.substr(0, t[first].begin) + definition.substr(t[last].end);
  }
  found = false;
  return definition;
}

}  // namespace brisquel::schema::ddl::detail
