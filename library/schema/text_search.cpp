#include "schema/text_search.h"

#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "ado/connection.h"
#include "ado/types.h"
#include "automation/text.h"
#include "core/error_protocol.h"
#include "schema/sql_files.h"

namespace brisquel::schema::textsearch {

std::string FieldIndex(std::string_view field) { return "IssueText_" + std::string(field) + "_Index"; }

namespace {

constexpr std::string_view kFile = "060_text_search.sql";

std::string Quote(std::string_view name) { return ado::QuoteIdentifier(name); }

// Where the statements run: the data layer's connection (its errors, as writers report them) or
// a bare handle (the setup of a new site).
struct Runner {
  std::function<void(const std::string&)> exec;
  std::function<std::vector<std::vector<std::string>>(const std::string&)> rows;
};

std::vector<std::string> RowOf(sqlite3_stmt* st) {
  std::vector<std::string> row;
  for (int i = 0; i < sqlite3_column_count(st); ++i) {
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    row.emplace_back(text ? text : "");
  }
  return row;
}

Runner On(ado::Connection& c) {
  return {[&c](const std::string& sql) { c.ExecuteNonQuery(sql); },
          [&c](const std::string& sql) {
            std::vector<std::vector<std::string>> out;
            c.Each(sql, {}, [&](sqlite3_stmt* st) { out.push_back(RowOf(st)); });
            return out;
          }};
}

Runner On(sqlite3* db) {
  auto fail = [](const std::string& message) {
    RaiseFailure("The word search's index could not be kept: " + message);
  };
  return {[db, fail](const std::string& sql) {
            char* err = nullptr;
            if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
              std::string message = err ? err : sqlite3_errmsg(db);
              sqlite3_free(err);
              fail(message);
            }
          },
          [db, fail](const std::string& sql) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) fail(sqlite3_errmsg(db));
            std::vector<std::vector<std::string>> out;
            int rc;
            while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(RowOf(st));
            sqlite3_finalize(st);
            if (rc != SQLITE_DONE) fail(sqlite3_errmsg(db));
            return out;
          }};
}

// One index: its table and triggers (name and declaration, table first) and how it is filled.
struct Index {
  std::string table;
  std::vector<std::pair<std::string, std::string>> parts;
  std::string fill;
};

Index CommentIndex() {
  std::string_view file = SqlFileText(kFile);
  Index index{std::string(kCommentIndex), {}, {}};
  size_t at = file.find("CREATE VIRTUAL TABLE ");
  index.parts.emplace_back(index.table, std::string(file.substr(at, file.find(';', at) + 1 - at)));
  for (at = 0; (at = file.find("CREATE TRIGGER ", at)) != std::string_view::npos;) {
    size_t name = at + 15, end = file.find("\nEND;", at) + 5;
    index.parts.emplace_back(std::string(file.substr(name, file.find(' ', name) - name)),
                             std::string(file.substr(at, end - at)));
    at = end;
  }
  index.fill = "INSERT INTO IssueCommentText (rowid, Body) SELECT CommentId, CommentText FROM IssueComments "
               "WHERE CommentText <> ''";
  return index;
}

// The index of one field, declared as the comments' is.
Index FieldIndexOf(const std::string& field) {
  const std::string t = FieldIndex(field), q = Quote(t), f = Quote(field);
  Index index{t, {}, {}};
  index.parts.emplace_back(t, "CREATE VIRTUAL TABLE " + q +
                                  " USING fts5(Body, content='', columnsize=0, tokenize='trigram case_sensitive 0')");
  index.parts.emplace_back(t + "_Insert", "CREATE TRIGGER " + Quote(t + "_Insert") +
                                              " AFTER INSERT ON Issues FOR EACH ROW WHEN new." + f +
                                              " <> '' BEGIN\n  INSERT INTO " + q +
                                              " (rowid, Body) VALUES (new.IssueId, new." + f + ");\nEND;");
  index.parts.emplace_back(t + "_Delete", "CREATE TRIGGER " + Quote(t + "_Delete") +
                                              " AFTER DELETE ON Issues FOR EACH ROW WHEN old." + f +
                                              " <> '' BEGIN\n  INSERT INTO " + q + " (" + q +
                                              ", rowid, Body) VALUES ('delete', old.IssueId, old." + f + ");\nEND;");
  index.parts.emplace_back(
      t + "_Update", "CREATE TRIGGER " + Quote(t + "_Update") + " AFTER UPDATE OF IssueId, " + f +
                         " ON Issues FOR EACH ROW\n  WHEN old.IssueId IS NOT new.IssueId OR old." + f +
                         " IS NOT new." + f + " COLLATE BINARY BEGIN\n  INSERT INTO " + q + " (" + q +
                         ", rowid, Body) SELECT 'delete', old.IssueId, old." + f + " WHERE old." + f +
                         " <> '';\n  INSERT INTO " + q + " (rowid, Body) SELECT new.IssueId, new." + f +
                         " WHERE new." + f + " <> '';\nEND;");
  index.fill = "INSERT INTO " + q + " (rowid, Body) SELECT IssueId, " + f + " FROM Issues WHERE " + f + " <> ''";
  return index;
}

// The recorded declarations of the schema, by lower-case name.
std::map<std::string, std::string> Recorded(const Runner& run) {
  std::map<std::string, std::string> out;
  for (auto& row : run.rows("SELECT name, ifnull(sql, '') FROM sqlite_schema WHERE type IN ('table', 'trigger')"))
    out[automation::LowerAscii(row[0])] = Squeezed(row[1]);
  return out;
}

bool Whole(const Index& index, const std::map<std::string, std::string>& recorded) {
  for (const auto& [name, sql] : index.parts) {
    auto it = recorded.find(automation::LowerAscii(name));
    if (it == recorded.end() || it->second != Squeezed(sql)) return false;
  }
  return true;
}

void Drop(const Runner& run, const std::string& table, const std::map<std::string, std::string>& recorded) {
  for (const char* trigger : {"_Insert", "_Delete", "_Update"})
    run.exec("DROP TRIGGER IF EXISTS " + Quote(table + trigger));
  if (recorded.contains(automation::LowerAscii(table))) run.exec("DROP TABLE " + Quote(table));
}

// Declared again from nothing and filled from the rows: an index whose triggers were missing may
// have missed writes.
void Make(const Runner& run, const Index& index, const std::map<std::string, std::string>& recorded) {
  Drop(run, index.table, recorded);
  for (const auto& part : index.parts) run.exec(part.second);
  run.exec(index.fill);
}

bool Follow(const Runner& run, bool dryRun) {
  const std::map<std::string, std::string> recorded = Recorded(run);
  std::vector<Index> wanted{CommentIndex()};
  std::set<std::string> columns;
  for (auto& row : run.rows("SELECT lower(name) FROM pragma_table_info('Issues')")) columns.insert(row[0]);
  for (auto& row : run.rows("SELECT FieldName FROM IssueFields WHERE Representation IN ('text', 'multiline') "
                            "ORDER BY FieldName"))
    if (columns.contains(automation::LowerAscii(row[0]))) wanted.push_back(FieldIndexOf(row[0]));
  bool changed = false;
  for (const Index& index : wanted) {
    if (Whole(index, recorded)) continue;
    changed = true;
    if (!dryRun) Make(run, index, recorded);
  }
  // The field indexes no field asks for any more (the virtual tables only: not their own tables).
  std::set<std::string> kept;
  for (const Index& index : wanted) kept.insert(automation::LowerAscii(index.table));
  for (auto& row : run.rows("SELECT name FROM sqlite_schema WHERE type = 'table' AND name LIKE 'IssueText!_%' "
                            "ESCAPE '!' AND sql LIKE 'CREATE VIRTUAL TABLE %'")) {
    if (kept.contains(automation::LowerAscii(row[0]))) continue;
    changed = true;
    if (!dryRun) Drop(run, row[0], recorded);
  }
  return changed;
}

}  // namespace

bool FollowTextFields(ado::Connection& c, bool dryRun) { return Follow(On(c), dryRun); }

bool FollowTextFields(sqlite3* db, bool dryRun) { return Follow(On(db), dryRun); }

std::optional<std::string> TrigramQuery(std::string_view word) {
  size_t characters = 0;
  for (size_t i = 0; i < word.size(); ++characters) {
    const auto lead = static_cast<unsigned char>(word[i]);
    if (lead == 0) return std::nullopt;
    const size_t length = lead < 0x80            ? 1
                          : (lead >> 5) == 0x6   ? 2
                          : (lead >> 4) == 0xE   ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    if (length == 0 || (length == 2 && lead < 0xC2) || i + length > word.size()) return std::nullopt;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(word[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
      return std::nullopt;
    i += length;
  }
  if (characters < 3) return std::nullopt;
  std::string query = "\"";
  for (char c : word) {
    if (c == '"') query += '"';
    query += c;
  }
  return query + "\"";
}

}  // namespace brisquel::schema::textsearch
