// The check of filter conditions and sort orders from outside: whatever the text, it answers
// "acceptable" or a reason; it never crashes, hangs or reads past the text. An acceptable
// condition still stays inside its parentheses, nests no deeper than allowed, uses no outer join
// and calls none of the allocating functions, which is checked here again on the text's own terms.
#include <cctype>
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
    c.tables["ProjectModules"] = {"ProjectId", "ModuleCode"};
    c.aliases["PriorityCode_Priorities"] = "Priorities";
    c.subqueryTables = {"IssueComments", "Priorities", "ProjectModules"};
    c.perIssueTables = {"IssueComments"};
    c.perProjectTables = {"ProjectModules"};
    return c;
  }();
  return c;
}

bool Refused(std::string word) {
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word == "left" || word == "outer" || word == "printf" || word == "replace" || word == "hex" ||
         word == "zeroblob" || word == "randomblob";
}

// Outside strings, the parentheses of an acceptable fragment never close more than they opened
// nor nest too deep, and it holds no statement separator and none of the refused words.
void Invariants(std::string_view s) {
  int depth = 0;
  bool quoted = false;
  std::string word;
  for (char ch : s) {
    if (ch == '\'') quoted = !quoted;
    const bool wordChar = !quoted && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_');
    if (wordChar) word += ch;
    if (!wordChar && !word.empty()) {
      if (Refused(word)) std::abort();
      word.clear();
    }
    if (quoted) continue;
    if (ch == ';') std::abort();
    if (ch == '(' && ++depth > brisquel::sqlguard::kMaxFragmentDepth) std::abort();
    if (ch == ')' && --depth < 0) std::abort();
  }
  if (Refused(word)) std::abort();
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
