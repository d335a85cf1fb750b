#include "issues/sql_guard.h"

#include <cctype>
#include <iterator>
#include <vector>

#include "ado/connection.h"
#include "automation/text.h"

namespace brisquel::sqlguard {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

using automation::EqualsNoCase;

bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordChar(char c) { return IsAlpha(c) || IsDigit(c); }

// The words of the expressions the system composes: operators, subqueries over comments and code
// tables, CASE, CAST and COLLATE. Statement words (insert, pragma, attach, with...) are absent.
const NameSet& Keywords() {
  static const NameSet words = {
      "all",     "and",     "as",       "asc",     "between",      "binary",       "by",
      "case",    "cast",    "collate",  "cross",   "current_date", "current_time", "current_timestamp",
      "desc",    "distinct", "else",    "end",     "escape",       "exists",       "false",
      "from",    "glob",    "group",    "having",  "in",           "inner",        "integer",
      "is",      "isnull",  "join",     "like",    "limit",        "nocase",
      "not",     "notnull", "null",     "numeric", "offset",       "on",           "or",
      "order",   "real",    "rtrim",    "select",  "text",         "then",
      "true",    "when",    "where",    "int",     "varchar",      "bit",          "float",
  };
  return words;
}

// Functions a fragment may call (only when followed by "("). None of them makes a value much
// larger than its arguments (printf, replace, hex, zeroblob and the like could be made to
// allocate without limit).
const NameSet& Functions() {
  static const NameSet names = {
      "abs",    "avg",   "char",  "coalesce", "count",  "date", "datetime", "getdate", "ifnull",
      "iif",    "instr", "julianday", "length", "lower", "ltrim", "max",   "min",     "nullif",
      "round",  "rtrim", "strftime", "substr", "substring", "sum", "time", "total",   "trim",
      "typeof", "unicode", "upper",
  };
  return names;
}

// Functions no statement that embeds outside text may call: those that reach outside the
// database, and those that allocate as much as they are asked to.
bool IsRefusedFunction(std::string_view name) {
  static const NameSet names = {
      "load_extension", "fts3_tokenizer", "readfile", "writefile", "edit", "printf", "format", "zeroblob",
      "randomblob", "replace", "hex", "unhex", "group_concat", "string_agg", "concat", "concat_ws",
  };
  return names.count(name) > 0;
}

enum class Kind { Name, Number, String, Blob, Symbol };

struct Token {
  Kind kind;
  std::string_view text;
};

// The end of the quoted text starting at `i` ('' inside stands for a quote); npos when unclosed.
size_t QuotedEnd(std::string_view s, size_t i) {
  const size_t n = s.size();
  for (++i;; ++i) {
    if (i >= n) return std::string_view::npos;
    if (s[i] != '\'') continue;
    if (i + 1 < n && s[i + 1] == '\'') {
      ++i;
      continue;
    }
    return i + 1;
  }
}

// The end of the number starting at `i`: digits, a fraction, an exponent.
size_t NumberEnd(std::string_view s, size_t i) {
  const size_t n = s.size();
  while (i < n && IsDigit(s[i])) ++i;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && IsDigit(s[i])) ++i;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < n && IsDigit(s[j])) {
      i = j;
      while (i < n && IsDigit(s[i])) ++i;
    }
  }
  return i;
}

// Splits the fragment; the reason in `error` when it holds something no fragment may hold.
std::vector<Token> Tokenize(std::string_view s, std::string& error) {
  std::vector<Token> out;
  size_t i = 0, n = s.size();
  auto fail = [&](std::string reason) {
    error = std::move(reason);
    return out;
  };
  while (i < n) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    size_t start = i;
    if (c == '\'') {
      i = QuotedEnd(s, i);
      if (i == std::string_view::npos) return fail("unclosed quotation mark");
      out.push_back({Kind::String, s.substr(start, i - start)});
      continue;
    }
    if ((c == 'x' || c == 'X') && i + 1 < n && s[i + 1] == '\'') {
      i += 2;
      while (i < n && std::isxdigit(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= n || s[i] != '\'') return fail("malformed blob literal");
      ++i;
      out.push_back({Kind::Blob, s.substr(start, i - start)});
      continue;
    }
    if (IsAlpha(c)) {
      while (i < n && IsWordChar(s[i])) ++i;
      out.push_back({Kind::Name, s.substr(start, i - start)});
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(s[i + 1]))) {
      i = NumberEnd(s, i);
      if (i < n && IsWordChar(s[i])) return fail("incorrect syntax near '" + std::string(s.substr(start, i + 1 - start)) + "'");
      out.push_back({Kind::Number, s.substr(start, i - start)});
      continue;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') return fail("comments are not allowed");
    if (c == '/' && i + 1 < n && s[i + 1] == '*') return fail("comments are not allowed");
    if (c == '"') return fail("strings must be quoted using single quotes, use 2 single quotes to quote a single quote: 'O''Brian'");
    // Two-character operators first.
    if (i + 1 < n) {
      std::string_view two = s.substr(i, 2);
      if (two == "<>" || two == "!=" || two == "<=" || two == ">=" || two == "==" || two == "||" ||
          two == "<<" || two == ">>") {
        out.push_back({Kind::Symbol, two});
        i += 2;
        continue;
      }
      if (two == "->") return fail("incorrect syntax near '->'");
    }
    if (std::string_view("()=<>+-*/%,.&|~").find(c) != std::string_view::npos) {
      out.push_back({Kind::Symbol, s.substr(i, 1)});
      ++i;
      continue;
    }
    if (c == ';') return fail("incorrect syntax near ';'");
    if (c == '?' || c == ':' || c == '@' || c == '$' || c == '#') return fail("parameters are not allowed");
    // A whole UTF-8 character, for the message.
    if (static_cast<unsigned char>(c) >= 0x80)
      return fail("incorrect syntax near '" + std::string(automation::HeadChars(s.substr(i), 1)) + "'");
    return fail("incorrect syntax near '" + std::string(1, c) + "'");
  }
  return out;
}

bool IsSymbol(const Token* t, std::string_view text) { return t && t->kind == Kind::Symbol && t->text == text; }

// The paren depth of each token: "(" and ")" count at the depth outside them.
std::vector<int> Levels(const std::vector<Token>& tokens) {
  std::vector<int> level(tokens.size());
  int depth = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (IsSymbol(&tokens[i], ")")) --depth;
    level[i] = depth;
    if (IsSymbol(&tokens[i], "(")) ++depth;
  }
  return level;
}

bool IsWord(const Token& t, std::string_view word) { return t.kind == Kind::Name && EqualsNoCase(t.text, word); }

// A subquery and the tokens of its own level (those of the parentheses and subqueries inside it
// belong to them), found in one pass so that the check stays linear in the text.
struct Select {
  size_t at = 0;
  int level = 0;
  std::vector<size_t> own;
};

std::vector<Select> Selects(const std::vector<Token>& tokens, const std::vector<int>& level) {
  std::vector<Select> out;
  std::vector<long> open;  // per depth: the select whose parentheses are open there, or -1
  for (size_t i = 0; i < tokens.size(); ++i) {
    const size_t d = static_cast<size_t>(level[i]);
    if (open.size() < d + 2) open.resize(d + 2, -1);
    if (IsWord(tokens[i], "select")) {
      out.push_back({i, level[i], {}});
      open[d] = static_cast<long>(out.size() - 1);
      continue;
    }
    if (open[d] >= 0) out[static_cast<size_t>(open[d])].own.push_back(i);
    if (IsSymbol(&tokens[i], "(")) open[d + 1] = -1;
  }
  return out;
}

// The link a subquery over a restricted table must hold: "<table>.<key> = Issues.<key>" (either
// way round) at tokens [i, i + 7).
bool IsLink(const std::vector<Token>& t, size_t i, std::string_view table, std::string_view key) {
  if (i + 7 > t.size()) return false;
  const Token* w = &t[i];
  return w[0].kind == Kind::Name && IsSymbol(&w[1], ".") && IsWord(w[2], key) && IsSymbol(&w[3], "=") &&
         w[4].kind == Kind::Name && IsSymbol(&w[5], ".") && IsWord(w[6], key) &&
         ((EqualsNoCase(w[0].text, table) && IsWord(w[4], "Issues")) ||
          (IsWord(w[0], "Issues") && EqualsNoCase(w[4].text, table)));
}

struct Restricted {
  std::string table, key, rows;  // rows: what the subquery must keep to, for the message
};

// Whether the select's WHERE clause holds the link as a whole conjunct of its top level. Only
// WHERE counts: in the ON clause of an outer join the link would not restrict the left table.
bool HoldsLink(const std::vector<Token>& t, const Select& sel, const Restricted& r) {
  bool inWhere = false;
  const std::vector<size_t>& own = sel.own;
  for (size_t k = 0; k < own.size(); ++k) {
    const Token& w = t[own[k]];
    if (IsWord(w, "where")) inWhere = true;
    if (IsWord(w, "group") || IsWord(w, "order") || IsWord(w, "limit") || IsWord(w, "having")) inWhere = false;
    if (!inWhere || k == 0 || k + 7 > own.size() || own[k + 6] != own[k] + 6) continue;
    if (!IsLink(t, own[k], r.table, r.key)) continue;
    const Token& before = t[own[k - 1]];
    bool left = own[k - 1] + 1 == own[k] && (IsWord(before, "where") || IsWord(before, "and"));
    bool right = k + 7 == own.size() ||
                 (own[k + 7] == own[k] + 7 && (IsWord(t[own[k + 7]], "and") || IsWord(t[own[k + 7]], "group") ||
                                               IsWord(t[own[k + 7]], "order") || IsWord(t[own[k + 7]], "limit")));
    if (left && right) return true;
  }
  return false;
}

// A subquery inside a fragment could test rows the list's scope leaves out and so reveal them one
// yes/no at a time. A subquery may therefore read only the tables the catalogue allows it, each
// named plainly, a restricted one once (outer joins are refused before this). One over a
// per-issue table (the comments) must keep to the rows of the issue at hand, one over a
// per-project code table to the rows of the issue's project: its WHERE clause has the conjunct
// "<table>.IssueId = Issues.IssueId" (or ProjectId) at its top level, and it has no OR, BETWEEN or
// CASE that could undo it.
std::string CheckSelect(const std::vector<Token>& tokens, const Select& sel, const Catalogue& catalogue) {
  auto isTable = [&](std::string_view name) {
    return catalogue.tables.count(name) > 0 || catalogue.aliases.count(name) > 0;
  };
  std::vector<Restricted> restricted;
  NameSet read;
  for (size_t k = 0; k < sel.own.size(); ++k) {
    const Token& t = tokens[sel.own[k]];
    if (!IsWord(t, "from") && !IsWord(t, "join")) continue;
    const bool adjacent = k + 1 < sel.own.size() && sel.own[k + 1] == sel.own[k] + 1;
    const Token* next = adjacent ? &tokens[sel.own[k + 1]] : nullptr;
    if (!next || next->kind != Kind::Name || !isTable(next->text)) return "a subquery may read only tables";
    std::string table(next->text);
    if (!catalogue.subqueryTables.count(table)) return "a subquery may not read '" + table + "'";
    const bool perIssue = catalogue.perIssueTables.count(table) > 0;
    const bool perProject = catalogue.perProjectTables.count(table) > 0;
    if (!perIssue && !perProject) continue;
    if (!read.insert(table).second) return "a subquery may read '" + table + "' only once";
    if (perIssue) restricted.push_back({table, "IssueId", "the issue's own rows"});
    if (perProject) restricted.push_back({table, "ProjectId", "the rows of the issue's project"});
  }
  for (const Restricted& r : restricted) {
    for (size_t i : sel.own)
      if (IsWord(tokens[i], "or") || IsWord(tokens[i], "between") || IsWord(tokens[i], "case"))
        return "a subquery over '" + r.table + "' may not use " + std::string(tokens[i].text);
    if (!HoldsLink(tokens, sel, r))
      return "a subquery over '" + r.table + "' must keep to " + r.rows + " (" + r.table + "." + r.key +
             " = Issues." + r.key + ")";
  }
  return {};
}

std::string CheckSubqueries(const std::vector<Token>& tokens, const Catalogue& catalogue) {
  std::vector<int> level = Levels(tokens);
  auto isTable = [&](std::string_view name) {
    return catalogue.tables.count(name) > 0 || catalogue.aliases.count(name) > 0;
  };
  // Table names stand alone only after FROM or JOIN.
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (t.kind != Kind::Name || !isTable(t.text)) continue;
    if ((i > 0 && IsSymbol(&tokens[i - 1], ".")) || (i + 1 < tokens.size() && IsSymbol(&tokens[i + 1], ".")))
      continue;
    if (i == 0 || !(IsWord(tokens[i - 1], "from") || IsWord(tokens[i - 1], "join")))
      return "incorrect syntax near '" + std::string(t.text) + "'";
  }
  for (const Select& sel : Selects(tokens, level))
    if (std::string why = CheckSelect(tokens, sel, catalogue); !why.empty()) return why;
  return {};
}

// The words an expression may hold outside parentheses: a sort key is one expression, so words
// that would end it (FROM, GROUP BY, HAVING, LIMIT, a second direction...) have no place there.
const NameSet& ExpressionWords() {
  static const NameSet words = {
      "and",  "between", "binary", "case", "cast",    "collate", "current_date", "current_time", "current_timestamp",
      "else", "end",     "escape", "exists", "false", "glob",    "in",           "is",           "isnull",
      "like", "nocase",  "not",    "notnull", "null", "or",      "rtrim",        "then",         "true",
      "when",
  };
  return words;
}

// A sort order is a list of sort keys separated by commas, each an expression on the columns of
// the list (Issues, Projects and the code-table aliases it joins), every key but the last with at
// most one ASC or DESC: the last takes the list's own direction, which follows it in the
// statement. Subqueries in parentheses are checked as conditions' are.
std::string CheckSortKeys(const std::vector<Token>& t, const Catalogue& catalogue) {
  const std::vector<int> level = Levels(t);
  auto listTable = [&](std::string_view name) {
    return EqualsNoCase(name, "Issues") || EqualsNoCase(name, "Projects") || catalogue.aliases.count(name) > 0;
  };
  auto listColumn = [&](std::string_view name) {
    for (const char* table : {"Issues", "Projects"})
      if (auto it = catalogue.tables.find(table); it != catalogue.tables.end() && it->second.count(name)) return true;
    return false;
  };
  size_t start = 0;
  for (size_t i = 0; i <= t.size(); ++i) {
    if (i < t.size() && !(level[i] == 0 && IsSymbol(&t[i], ","))) continue;
    const bool last = i == t.size();
    size_t end = i;
    if (end > start && (IsWord(t[end - 1], "asc") || IsWord(t[end - 1], "desc"))) {
      if (last) return "the last sort key takes its direction from the sort sequence";
      --end;
    }
    if (start == end) return "incorrect syntax near '" + std::string(end < t.size() ? t[end].text : ",") + "'";
    for (size_t k = start; k < end; ++k) {
      if (level[k] != 0 || t[k].kind != Kind::Name || (k > start && IsSymbol(&t[k - 1], "."))) continue;
      const std::string name(t[k].text);
      const bool call = k + 1 < end && IsSymbol(&t[k + 1], "(");
      if (k + 1 < end && IsSymbol(&t[k + 1], ".")) {
        if (!listTable(name)) return "the list has no table '" + name + "'";
      } else if (call ? !Functions().count(name) && !IsWord(t[k], "exists") && !IsWord(t[k], "cast")
                      : !ExpressionWords().count(name) && !listColumn(name)) {
        return (Keywords().count(name) ? "incorrect syntax near '" : "the list has no column '") + name + "'";
      }
    }
    start = i + 1;
  }
  return {};
}

}  // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char x = Lower(a[i]), y = Lower(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool IsPlainName(std::string_view name) {
  if (name.empty() || !IsAlpha(name[0])) return false;
  for (char c : name)
    if (!IsWordChar(c)) return false;
  return true;
}

bool Mentions(std::string_view text, std::string_view name) {
  std::string error;
  for (const Token& t : Tokenize(text, error))
    if (t.kind == Kind::Name && EqualsNoCase(t.text, name)) return true;
  // Text that does not split is refused before it runs; until then, assume the worst.
  return !error.empty();
}

bool IsColumn(std::string_view text) {
  std::string error;
  const std::vector<Token> t = Tokenize(text, error);
  if (!error.empty()) return false;
  if (t.size() == 1) return t[0].kind == Kind::Name;
  return t.size() == 3 && t[0].kind == Kind::Name && IsSymbol(&t[1], ".") && t[2].kind == Kind::Name;
}

bool HasPlaceKey(std::string_view orderBy) {
  std::string error;
  const std::vector<Token> t = Tokenize(orderBy, error);
  const std::vector<int> level = Levels(t);
  // A number alone between the commas of the top level, before any direction.
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].kind != Kind::Number || level[i] != 0) continue;
    const bool before = i == 0 || IsSymbol(&t[i - 1], ",");
    const bool after = i + 1 == t.size() || IsSymbol(&t[i + 1], ",") || IsWord(t[i + 1], "asc") ||
                       IsWord(t[i + 1], "desc") || IsWord(t[i + 1], "collate");
    if (before && after) return true;
  }
  return false;
}

bool IsSecretColumn(std::string_view table, std::string_view column) {
  if (EqualsNoCase(table, "VantrelSecrets")) return true;
  if (EqualsNoCase(table, "Users"))
    return EqualsNoCase(column, "Password") || EqualsNoCase(column, "SecretQuestionAnswer");
  if (EqualsNoCase(table, "EMailConfiguration")) return EqualsNoCase(column, "SmtpPassword");
  return false;
}

void Catalogue::AddTable(sqlite3* db, const std::string& table) {
  NameSet& columns = tables[table];
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "select name from pragma_table_info(?)", -1, &st, nullptr) != SQLITE_OK) return;
  sqlite3_bind_text(st, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  while (sqlite3_step(st) == SQLITE_ROW) {
    auto name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    if (name) columns.emplace(name);
  }
  sqlite3_finalize(st);
}

NameSet Catalogue::ReadableTables() const {
  NameSet out;
  if (issueCounts) out.insert("IssueCounts");
  for (const auto& [name, columns] : tables) out.insert(name);
  for (const auto& [alias, table] : aliases) out.insert(table);
  return out;
}

Catalogue Catalogue::ForIssues(sqlite3* db) {
  Catalogue c;
  for (const char* t : {"Issues", "Projects", "ProjectUsers", "IssueComments"}) c.AddTable(db, t);
  auto each = [&](const char* sql, auto&& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return;
    while (sqlite3_step(st) == SQLITE_ROW) {
      auto a = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      auto b = sqlite3_column_count(st) > 1 ? reinterpret_cast<const char*>(sqlite3_column_text(st, 1)) : nullptr;
      row(a ? std::string(a) : std::string(), b ? std::string(b) : std::string());
    }
    sqlite3_finalize(st);
  };
  each("select TableName, coalesce(VariesByProject, 0) from IssueCodeTables",
       [&](const std::string& table, const std::string& variesByProject) {
         if (IsPlainName(table) && !IsSecretColumn(table, "")) c.AddTable(db, table);
         // Code values say nothing about issues; projects and their members are the scope itself.
         // A project's own codes (its modules, its builds) are its members' to know.
         if (IsPlainName(table) && !EqualsNoCase(table, "Projects") && !EqualsNoCase(table, "ProjectUsers")) {
           c.subqueryTables.insert(table);
           if (variesByProject != "0") c.perProjectTables.insert(table);
         }
       });
  c.subqueryTables.insert("IssueComments");
  c.perIssueTables.insert("IssueComments");
  each("select IssueFields.FieldName, IssueFields.TableName from IssueFields "
       "inner join IssueCodeTables on IssueCodeTables.TableName = IssueFields.TableName "
       "where IssueFields.TableName <> '' and IssueFields.TableName <> 'Projects' "
       "and coalesce(IssueCodeTables.NaturalSort, 0) = 0",
       [&](const std::string& field, const std::string& table) {
         if (IsPlainName(field) && IsPlainName(table)) c.AddAlias(field + "_" + table, table);
       });
  each("select name from sqlite_schema where type = 'table' and name = 'IssueCounts'",
       [&](const std::string&, const std::string&) { c.issueCounts = true; });
  // A table that the catalogue names but the database lacks offers nothing to name.
  for (auto it = c.tables.begin(); it != c.tables.end();) {
    if (it->second.empty())
      it = c.tables.erase(it);
    else
      ++it;
  }
  return c;
}

const Catalogue& Catalogue::ForIssues(ado::Connection& connection) {
  struct Kept {
    std::string version;
    Catalogue catalogue;
  };
  // What the catalogue is made of: the schema, and the rows of the issue fields and code tables
  // (their row versions and counts change with every insert, update and delete).
  std::string version;
  connection.Each(
      "select (select schema_version from pragma_schema_version) || ':' || "
      "(select count(*) || ':' || coalesce(max(LastUpdated), 0) from IssueFields) || ':' || "
      "(select count(*) || ':' || coalesce(max(LastUpdated), 0) from IssueCodeTables)",
      {}, [&](sqlite3_stmt* st) {
        auto text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        version = text ? text : "";
      });
  auto& slot = connection.Kept("sqlguard.Catalogue.ForIssues");
  auto kept = std::static_pointer_cast<Kept>(slot);
  if (!kept || kept->version != version || version.empty()) {
    kept = std::make_shared<Kept>(Kept{version, ForIssues(connection.Handle())});
    slot = kept;
  }
  return kept->catalogue;
}

std::string Check(std::string_view text, const Catalogue& catalogue, Fragment kind) {
  if (text.size() > kMaxFragmentBytes)
    return kind == Fragment::Condition ? "the criteria are too long" : "the sort order is too long";
  std::string error;
  std::vector<Token> tokens = Tokenize(text, error);
  if (!error.empty()) return error;
  if (tokens.empty()) return kind == Fragment::Condition ? "the criteria are empty" : "the sort order is empty";

  auto tableOf = [&](std::string_view name) -> const NameSet* {
    if (auto it = catalogue.tables.find(name); it != catalogue.tables.end()) return &it->second;
    if (auto a = catalogue.aliases.find(name); a != catalogue.aliases.end())
      if (auto it = catalogue.tables.find(a->second); it != catalogue.tables.end()) return &it->second;
    return nullptr;
  };
  auto anyColumn = [&](std::string_view name) {
    for (const auto& [table, columns] : catalogue.tables)
      if (columns.count(name)) return true;
    return false;
  };

  int depth = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    const Token* next = i + 1 < tokens.size() ? &tokens[i + 1] : nullptr;
    const Token* prev = i > 0 ? &tokens[i - 1] : nullptr;
    if (t.kind == Kind::Symbol) {
      if (t.text == "(" && ++depth > kMaxFragmentDepth) return "the parentheses nest too deeply";
      if (t.text == ")" && --depth < 0) return "incorrect syntax near ')'";
      if (t.text == "." && (!prev || prev->kind != Kind::Name || !next || next->kind != Kind::Name))
        return "incorrect syntax near '.'";
      continue;
    }
    if (t.kind != Kind::Name) continue;
    std::string name(t.text);
    if (IsSymbol(prev, ".")) continue;  // checked with its table below
    if (IsSymbol(next, ".")) {
      const NameSet* columns = tableOf(name);
      if (!columns) return "unknown table '" + name + "'";
      if (i + 2 >= tokens.size() || tokens[i + 2].kind != Kind::Name) return "incorrect syntax near '.'";
      // A name after a second dot would pass unchecked: a table's column is as far as a name goes.
      if (i + 3 < tokens.size() && IsSymbol(&tokens[i + 3], ".")) return "incorrect syntax near '.'";
      const Token& column = tokens[i + 2];
      if (!columns->count(column.text)) return "unknown field name '" + name + "." + std::string(column.text) + "'";
      continue;
    }
    // Under an outer join a link in the ON clause would not restrict the rows read; the lists
    // themselves compose none.
    if (EqualsNoCase(name, "left") || EqualsNoCase(name, "outer")) return "outer joins are not allowed";
    if (IsSymbol(next, "(") && Functions().count(name)) continue;
    if (Keywords().count(name)) continue;
    if (anyColumn(name) || tableOf(name)) continue;
    return "unknown name '" + name + "'";
  }
  if (depth != 0) return "incorrect syntax near '('";
  if (kind == Fragment::OrderBy)
    if (std::string why = CheckSortKeys(tokens, catalogue); !why.empty()) return why;
  return CheckSubqueries(tokens, catalogue);
}

namespace {

// The limits a statement that embeds outside text runs under: values and statements of a few MB,
// expressions as deep as long conditions need, and no compound select.
constexpr struct {
  int id, value;
} kLimits[] = {
    {SQLITE_LIMIT_LENGTH, 16 * 1000 * 1000},
    {SQLITE_LIMIT_SQL_LENGTH, 1000 * 1000},
    {SQLITE_LIMIT_EXPR_DEPTH, 500},
    {SQLITE_LIMIT_COMPOUND_SELECT, 1},
};
static_assert(std::size(kLimits) == 4);

// VM steps between two looks at the clock.
constexpr int kProgressSteps = 1000;

}  // namespace

ReadOnlyScope::ReadOnlyScope(ado::Connection& connection, NameSet readable, std::chrono::milliseconds time)
    : connection_(&connection), db_(connection.Handle()), readable_(std::move(readable)) {
  // The decisions depend on the readable tables alone (the limits and the refused names are
  // fixed): statements the guard allowed are kept under a tag that names them.
  std::string tag = "read-only:";
  for (const std::string& table : readable_) tag.append(table).append(1, ',');
  outer_ = connection.CurrentGuard();
  connection.SetGuard({&ReadOnlyScope::Authorize, this, std::move(tag)});
  Bound(time);
}

ReadOnlyScope::ReadOnlyScope(sqlite3* db, NameSet readable, std::chrono::milliseconds time)
    : db_(db), readable_(std::move(readable)) {
  sqlite3_set_authorizer(db_, &ReadOnlyScope::Authorize, this);
  Bound(time);
}

void ReadOnlyScope::Bound(std::chrono::milliseconds time) {
  for (size_t i = 0; i < std::size(kLimits); ++i) saved_[i] = sqlite3_limit(db_, kLimits[i].id, kLimits[i].value);
  if (time.count() > 0) {
    bounded_ = true;
    deadline_ = std::chrono::steady_clock::now() + time;
    sqlite3_progress_handler(db_, kProgressSteps, &ReadOnlyScope::Progress, this);
  }
}

ReadOnlyScope::~ReadOnlyScope() {
  // A data-layer connection closed meanwhile took its handle, and all of this, with it.
  if (connection_ && !connection_->Handle()) return;
  if (bounded_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  for (size_t i = 0; i < std::size(kLimits); ++i) sqlite3_limit(db_, kLimits[i].id, saved_[i]);
  if (connection_)
    connection_->SetGuard(std::move(outer_));
  else
    sqlite3_set_authorizer(db_, nullptr, nullptr);
}

int ReadOnlyScope::Progress(void* self) {
  auto* scope = static_cast<ReadOnlyScope*>(self);
  if (std::chrono::steady_clock::now() < scope->deadline_) return 0;
  scope->timedOut_ = true;
  return 1;
}

int ReadOnlyScope::Authorize(void* self, int action, const char* a, const char* b, const char*, const char*) {
  auto* scope = static_cast<ReadOnlyScope*>(self);
  std::string_view first = a ? a : "", second = b ? b : "";
  auto refuse = [&](std::string what) {
    scope->refused_ = std::move(what);
    return SQLITE_DENY;
  };
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_RECURSIVE:
      return SQLITE_OK;
    case SQLITE_READ:
      if (IsSecretColumn(first, second)) return refuse("read " + std::string(first) + "." + std::string(second));
      if (!scope->readable_.empty() && !scope->readable_.count(first)) return refuse("read " + std::string(first));
      return SQLITE_OK;
    case SQLITE_FUNCTION:
      if (IsRefusedFunction(second)) return refuse("call " + std::string(second));
      return SQLITE_OK;
    case SQLITE_PRAGMA:
      // The data layer reads a table's shape and the schema version while it fetches; a full-text
      // index asks for the data version to know whether what it holds in memory is still good.
      if (EqualsNoCase(first, "table_info") || EqualsNoCase(first, "schema_version") ||
          EqualsNoCase(first, "data_version"))
        return SQLITE_OK;
      return refuse("pragma " + std::string(first));
    default:
      return refuse("action " + std::to_string(action));
  }
}

}  // namespace brisquel::sqlguard
