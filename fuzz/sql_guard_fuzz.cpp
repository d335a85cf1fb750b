// The check of filter conditions and sort orders from outside: whatever the text, it answers
// "acceptable" or a reason; it never crashes, hangs or reads past the text. An acceptable
// condition still names only the catalogue's tables and stays inside its parentheses, which is
// checked here again on the tokens' own terms.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "issues/sql_guard.h"

namespace {

const brisquel::sqlguard::Catalogue& TheCatalogue() {
  static const brisquel::sqlguard::Catalogue c = [] {
    brisquel::sqlguard::Catalogue c;
    c.tables["Issues"] = {"IssueId", "ProjectId", "Summary", "StatusCode", "PriorityCode"};
    c.tables["Projects"] = {"ProjectId", "ProjectCode"};
    c.tables["IssueComments"] = {"IssueId", "FieldName", "CommentText"};
    c.tables["Priorities"] = {"PriorityCode", "SortOrder"};
    c.aliases["PriorityCode_Priorities"] = "Priorities";
    c.subqueryTables = {"IssueComments", "Priorities"};
    c.perIssueTables = {"IssueComments"};
    return c;
  }();
  return c;
}

// Outside strings, the parentheses of an acceptable fragment never close more than they opened,
// and it holds no statement separator.
void Invariants(std::string_view s) {
  int depth = 0;
  bool quoted = false;
  for (char ch : s) {
    if (ch == '\'') quoted = !quoted;
    if (quoted) continue;
    if (ch == ';') std::abort();
    if (ch == '(') ++depth;
    if (ch == ')' && --depth < 0) std::abort();
  }
  if (depth != 0 || quoted) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  using brisquel::sqlguard::Fragment;
  if (brisquel::sqlguard::Check(text, TheCatalogue(), Fragment::Condition).empty()) Invariants(text);
  if (brisquel::sqlguard::Check(text, TheCatalogue(), Fragment::OrderBy).empty()) Invariants(text);
  brisquel::sqlguard::Mentions(text, "PriorityCode_Priorities");
  return 0;
}
