// The check of filter conditions and sort orders from outside: whatever the text, it answers
// "acceptable" or a reason; it never crashes, hangs or reads past the text. An acceptable
// condition still stays inside its parentheses, nests no deeper than allowed, uses no outer join
// and calls none of the allocating functions, and each of its subqueries over the comments or a
// per-project table keeps to the issue's rows; an acceptable sort order is sort keys only; all of
// which is checked here again on the text's own terms.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "guard_catalogue.h"
#include "issues/sql_guard.h"

namespace {

std::string Lower(std::string_view text) {
  std::string word(text);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

bool Refused(const std::string& text) {
  const std::string word = Lower(text);
  for (const char* refused :
       {"left", "outer", "load_extension", "fts3_tokenizer", "readfile", "writefile", "edit", "printf", "format",
        "zeroblob", "randomblob", "replace", "hex", "unhex", "group_concat", "string_agg", "concat", "concat_ws"})
    if (word == refused) return true;
  return false;
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

// The text split its own way: words (letters, digits, "_"), quoted strings, and every other
// character alone; each with its depth of parentheses ("(" and ")" at the depth outside them).
struct Piece {
  std::string word;  // lower case; a string or a symbol as written
  int depth;
};

std::vector<Piece> Pieces(std::string_view s) {
  std::vector<Piece> out;
  int depth = 0;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t end = i + 1;
    if (std::isspace(c)) {
      i = end;
      continue;
    }
    if (std::isalnum(c) || c == '_') {
      while (end < s.size() && (std::isalnum(static_cast<unsigned char>(s[end])) || s[end] == '_')) ++end;
    } else if (c == '\'') {
      // To the closing quote; two quotes inside stand for one.
      while (end < s.size() && s[end] != '\'') end += 1;
      while (end + 1 < s.size() && s[end + 1] == '\'') {
        end += 2;
        while (end < s.size() && s[end] != '\'') end += 1;
      }
      end = end < s.size() ? end + 1 : s.size();
    }
    if (c == ')') --depth;
    out.push_back({Lower(s.substr(i, end - i)), depth});
    if (c == '(') ++depth;
    i = end;
  }
  return out;
}

// Whether the pieces [at, at + 7) are "<table>.<key> = Issues.<key>", either way round.
bool IsLink(const std::vector<Piece>& p, size_t at, const std::string& table, const std::string& key) {
  if (at + 7 > p.size()) return false;
  for (size_t k = at + 1; k < at + 7; ++k)
    if (p[k].depth != p[at].depth) return false;
  const bool shape = p[at + 1].word == "." && p[at + 2].word == key && p[at + 3].word == "=" &&
                     p[at + 5].word == "." && p[at + 6].word == key;
  return shape && ((p[at].word == table && p[at + 4].word == "issues") ||
                   (p[at].word == "issues" && p[at + 4].word == table));
}

// Every subquery that reads the comments (or the per-project modules) holds the link to the
// issue (its project) as a term of its WHERE clause joined by AND at the subquery's own level,
// with no OR, BETWEEN or CASE there that could undo it.
void SubqueriesKeepToTheIssue(std::string_view s) {
  const std::vector<Piece> p = Pieces(s);
  for (size_t at = 0; at < p.size(); ++at) {
    if (p[at].word != "select") continue;
    const int depth = p[at].depth;
    // The subquery's own pieces: up to its closing parenthesis or the next select beside it.
    std::vector<size_t> own;
    for (size_t k = at + 1; k < p.size() && p[k].depth >= depth; ++k) {
      if (p[k].depth != depth) continue;
      if (p[k].word == "select") break;
      own.push_back(k);
    }
    std::vector<std::pair<std::string, std::string>> restricted;
    bool undoing = false;
    for (size_t k = 0; k < own.size(); ++k) {
      const std::string& w = p[own[k]].word;
      undoing = undoing || w == "or" || w == "between" || w == "case";
      if ((w != "from" && w != "join") || k + 1 == own.size()) continue;
      const std::string& table = p[own[k + 1]].word;
      if (table == "issuecomments") restricted.push_back({table, "issueid"});
      if (table == "projectmodules") restricted.push_back({table, "projectid"});
    }
    for (const auto& [table, key] : restricted) {
      if (undoing) std::abort();
      bool inWhere = false, linked = false;
      for (size_t k = 0; k < own.size() && !linked; ++k) {
        const std::string& w = p[own[k]].word;
        if (w == "where") inWhere = true;
        if (w == "group" || w == "order" || w == "limit" || w == "having") inWhere = false;
        if (!inWhere || k == 0 || !IsLink(p, own[k], table, key)) continue;
        const std::string& before = p[own[k] - 1].word;
        const size_t after = own[k] + 7;
        const bool ends = after >= p.size() || p[after].depth < depth ||
                          (p[after].depth == depth && (p[after].word == "and" || p[after].word == "group" ||
                                                       p[after].word == "order" || p[after].word == "limit"));
        linked = own[k - 1] + 1 == own[k] && (before == "where" || before == "and") && ends;
      }
      if (!linked) std::abort();
    }
  }
}

// An acceptable sort order is sort keys between commas: outside parentheses no word that would
// end an expression, and a direction only at the end of a key that is not the last.
void SortKeysOnly(std::string_view text) {
  const std::vector<Piece> p = Pieces(text);
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i].depth != 0) continue;
    for (const char* ending : {"select", "from", "where", "group", "by", "having", "limit", "offset", "order",
                               "union", "join", "on", "as", "distinct", "all", "nulls"})
      if (p[i].word == ending) std::abort();
    if ((p[i].word == "asc" || p[i].word == "desc") && (i + 1 >= p.size() || p[i + 1].word != ",")) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  using brisquel::sqlguard::Fragment;
  for (Fragment kind : {Fragment::Condition, Fragment::OrderBy}) {
    if (!brisquel::sqlguard::Check(text, GuardCatalogue(), kind).empty()) continue;
    Invariants(text);
    SubqueriesKeepToTheIssue(text);
    if (kind == Fragment::OrderBy) SortKeysOnly(text);
  }
  brisquel::sqlguard::Mentions(text, "PriorityCode_Priorities");
  return 0;
}
