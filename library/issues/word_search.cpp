#include "issues/word_search.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
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
  std::string index;  // its trigram index
};

// An index that names more than one text in this many costs more to read, candidate by
// candidate, than the scan of every text does; it is read only up to that many.
constexpr int64_t kScanShare = 8;
// Below this many candidates an index is read whatever the size of its table.
constexpr int64_t kFewCandidates = 500;

// Whether the index finds the word among few enough of its texts to be read rather than the scan.
bool FewCandidates(Database& db, const Searched& s, const std::string& query) {
  const std::string source = s.field.empty() ? "select max(CommentId) from IssueComments"
                                             : "select max(IssueId) from Issues";
  const int64_t texts = db.One<int64_t>(source).value_or(0);
  const int64_t most = std::max(kFewCandidates, texts / kScanShare);
  const std::string index = ado::QuoteIdentifier(s.index);
  const auto limit = static_cast<int32_t>(std::min<int64_t>(most + 1, INT32_MAX));
  const int64_t found =
      db.One<int64_t>("select count(*) from (select rowid from " + index + " where " + index + " match ? limit ?)",
                      {ado::Param::Text(query, 0), ado::Param::Long(limit)})
          .value_or(0);
  return found <= most;
}

// The query when every text is read through its index: each index is there and finds the word
// among few of its texts. Otherwise every text is scanned: with one text scanned, the issues that
// the other indexes name would be read one by one beside the pass over all of them.
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
  for (const Searched& s : searched)
    if (!present.contains(automation::LowerAscii(s.index))) return std::nullopt;
  for (const Searched& s : searched)
    if (!FewCandidates(db, s, *query)) return std::nullopt;
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
              if (sqlguard::IsPlainName(field)) searched.push_back({field, textsearch::FieldIndex(field)});
            } else if (EqualsNoCase(representation, "comments")) {
              searched.push_back({"", std::string(textsearch::kCommentIndex)});
            }
          });
  WordCondition out;
  if (searched.empty()) return out;
  const std::optional<std::string> query = useIndexes ? IndexQuery(db, word, pattern, searched) : std::nullopt;
  out.indexed = query.has_value();
  for (const Searched& s : searched) {
    if (query) {
      out.indexes.push_back(s.index);
      // An index reads its own tables besides the virtual one.
      for (const char* part : {"", "_data", "_idx", "_config", "_docsize", "_content"})
        out.reads.push_back(s.index + part);
      out.params.push_back(ado::Param::Text(*query, 0));
    }
    out.params.push_back(ado::Param::Text(pattern, 0));
    const std::string index = ado::QuoteIdentifier(s.index);
    if (!s.field.empty()) {
      const std::string like = "Issues." + ado::QuoteIdentifier(s.field) + " like ? escape '\\'";
      out.sql += query ? "(Issues.IssueId in (select rowid from " + index + " where " + index + " match ?) and " +
                                 like + ") or "
                           : like + " or ";
    } else {
      // Any comment of the issue; the matching issues are found in one pass over the comments (or
      // over those the index names).
      out.sql += "Issues.IssueId in (select IssueComments.IssueId from IssueComments where " +
                 (query ? "IssueComments.CommentId in (select rowid from " + index + " where " + index +
                                  " match ?) and "
                            : std::string()) +
                 "IssueComments.CommentText like ? escape '\\') or ";
    }
  }
  out.sql = "(" + out.sql.substr(0, out.sql.size() - 4) + ")";
  return out;
}

}  // namespace brisquel
