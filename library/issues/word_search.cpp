#include "issues/word_search.h"

#include <sqlite3.h>

#include <optional>
#include <set>
#include <vector>

#include "automation/text.h"
#include "core/database.h"
#include "issues/sql_guard.h"
#include "schema/text_search.h"

namespace brisquel {

namespace {

namespace textsearch = schema::textsearch;
using automation::EqualsNoCase;

// A LIKE pattern that finds `text` literally (with ESCAPE '\').
std::string ContainsPattern(const std::string& text) {
  std::string p = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') p += '\\';
    p += c;
  }
  return p + "%";
}

struct Searched {
  std::string field;  // empty for the comments
};

// The trigram query of the word, when every index the fields need is there and finds it.
std::optional<std::string> IndexQuery(Database& db, const std::string& word, const std::string& pattern,
                                      const std::vector<Searched>& searched) {
  std::optional<std::string> query = textsearch::TrigramQuery(word);
  // A pattern past the engine's limit is refused by the LIKE itself, as the scan would refuse it,
  // even when no text holds the word.
  if (!query || pattern.size() > static_cast<size_t>(sqlite3_limit(db.Connection().Handle(),
                                                                   SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1)))
    return std::nullopt;
  std::set<std::string> present;
  db.Each("select lower(name) from sqlite_schema where type = 'table' and (name like 'IssueText!_%' escape '!' "
          "or name = ?)",
          {ado::Param::Text(std::string(textsearch::kCommentIndex), 50)},
          [&](const sql::Row& r) { present.insert(r.Text(0)); });
  for (const Searched& s : searched) {
    const std::string index = s.field.empty() ? std::string(textsearch::kCommentIndex) : textsearch::FieldIndex(s.field);
    if (!present.contains(automation::LowerAscii(index))) return std::nullopt;
  }
  return query;
}

}  // namespace

WordCondition WordSearchCondition(Database& db, const std::string& word, bool useIndexes) {
  // The search text is bound, never written into the statement.
  const std::string pattern = ContainsPattern(word);
  std::vector<Searched> searched;
  db.Each("select FieldName, Representation from IssueFields order by FieldFriendlyName", {},
          [&](const sql::Row& r) {
            const std::string representation = r.Text("Representation"), field = r.Text("FieldName");
            if (EqualsNoCase(representation, "text") || EqualsNoCase(representation, "multiline")) {
              if (sqlguard::IsPlainName(field)) searched.push_back({field});
            } else if (EqualsNoCase(representation, "comments")) {
              searched.push_back({});
            }
          });
  WordCondition out;
  if (searched.empty()) return out;
  const std::optional<std::string> query = useIndexes ? IndexQuery(db, word, pattern, searched) : std::nullopt;
  out.indexed = query.has_value();
  // An index reads its own tables besides the virtual one.
  auto reads = [&](const std::string& index) {
    out.indexes.push_back(index);
    for (const char* part : {"", "_data", "_idx", "_config", "_docsize", "_content"}) out.reads.push_back(index + part);
  };
  auto bind = [&](bool withQuery) {
    if (withQuery) out.params.push_back(ado::Param::Text(*query, 0));
    out.params.push_back(ado::Param::Text(pattern, 0));
  };
  for (const Searched& s : searched) {
    if (!s.field.empty()) {
      const std::string column = "Issues." + s.field + " like ? escape '\\'";
      if (query) {
        reads(textsearch::FieldIndex(s.field));
        const std::string index = ado::QuoteIdentifier(textsearch::FieldIndex(s.field));
        out.sql += "(Issues.IssueId in (select rowid from " + index + " where " + index + " match ?) and " + column +
                   ") or ";
      } else {
        out.sql += column + " or ";
      }
    } else {
      if (query) reads(std::string(textsearch::kCommentIndex));
      // Any comment of the issue; the matching issues are found in one pass over the comments (or
      // over those the index names).
      out.sql += std::string("Issues.IssueId in (select IssueComments.IssueId from IssueComments where ") +
                 (query ? "IssueComments.CommentId in (select rowid from IssueCommentText where IssueCommentText "
                          "match ?) and "
                        : "") +
                 "IssueComments.CommentText like ? escape '\\') or ";
    }
    bind(query.has_value());
  }
  out.sql = "(" + out.sql.substr(0, out.sql.size() - 4) + ")";
  return out;
}

}  // namespace brisquel
