#include "issues/sql_guard.h"

#include <cctype>
#include <vector>

#include "automation/text.h"

namespace brisquel::sqlguard {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(std::string_view a, std::string_view b) { return automation::EqualsNoCase(a, b); }

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
      "is",      "isnull",  "join",     "left",    "like",         "limit",        "nocase",
      "not",     "notnull", "null",     "numeric", "offset",       "on",           "or",
      "order",   "outer",   "real",     "rtrim",   "select",       "text",         "then",
      "true",    "when",    "where",    "int",     "varchar",      "bit",          "float",
  };
  return words;
}

// Functions a fragment may call (only when followed by "(").
const NameSet& Functions() {
  static const NameSet names = {
      "abs",     "avg",       "char",   "coalesce", "count",  "date",   "datetime", "getdate",
      "hex",     "ifnull",    "iif",    "instr",    "julianday", "length", "lower", "ltrim",
      "max",     "min",       "nullif", "printf",   "replace", "round", "rtrim",   "strftime",
      "substr",  "substring", "sum",    "time",     "total",  "trim",   "typeof",   "unicode",
      "upper",
  };
  return names;
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

bool IsWord(const Token& t, std::string_view word) { return t.kind == Kind::Name && EqualNoCase(t.text, word); }

// A subquery inside a fragment could test rows the list's scope leaves out and so reveal them one
// yes/no at a time. A subquery may therefore read only the tables the catalogue allows it, and one
// over a per-issue table (the comments) must keep to the comments of the issue at hand: its top
// level has the conjunct "<table>.IssueId = Issues.IssueId" and no OR, BETWEEN or CASE that could
// undo it.
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
  for (size_t s = 0; s < tokens.size(); ++s) {
    if (!IsWord(tokens[s], "select")) continue;
    int d = level[s];
    size_t end = s + 1;
    while (end < tokens.size() && level[end] >= d) ++end;
    std::vector<std::string> perIssue;
    for (size_t i = s + 1; i < end; ++i) {
      if (level[i] != d) continue;
      const Token& t = tokens[i];
      if (t.kind == Kind::Name && (IsWord(tokens[i - 1], "from") || IsWord(tokens[i - 1], "join")) &&
          isTable(t.text)) {
        if (!catalogue.subqueryTables.count(t.text)) return "a subquery may not read '" + std::string(t.text) + "'";
        if (catalogue.perIssueTables.count(t.text)) perIssue.emplace_back(t.text);
      }
    }
    for (const std::string& table : perIssue) {
      bool correlated = false;
      for (size_t i = s + 1; i < end; ++i) {
        if (level[i] != d) continue;
        if (IsWord(tokens[i], "or") || IsWord(tokens[i], "between") || IsWord(tokens[i], "case"))
          return "a subquery over '" + table + "' may not use " + std::string(tokens[i].text);
        if (correlated || i + 7 > end) continue;
        // <a>.IssueId = <b>.IssueId with {a, b} = {table, Issues}, a whole conjunct.
        const Token* w = &tokens[i];
        bool shape = w[0].kind == Kind::Name && IsSymbol(&w[1], ".") && IsWord(w[2], "IssueId") &&
                     IsSymbol(&w[3], "=") && w[4].kind == Kind::Name && IsSymbol(&w[5], ".") &&
                     IsWord(w[6], "IssueId") &&
                     ((EqualNoCase(w[0].text, table) && IsWord(w[4], "Issues")) ||
                      (IsWord(w[0], "Issues") && EqualNoCase(w[4].text, table)));
        if (!shape) continue;
        bool left = IsWord(tokens[i - 1], "where") || IsWord(tokens[i - 1], "and");
        bool right = i + 7 == end || IsWord(tokens[i + 7], "and") || IsWord(tokens[i + 7], "group") ||
                     IsWord(tokens[i + 7], "order") || IsWord(tokens[i + 7], "limit");
        correlated = left && right && level[i - 1] == d && (i + 7 == end || level[i + 7] == d);
      }
      if (!correlated)
        return "a subquery over '" + table + "' must keep to the issue's own rows (" + table +
               ".IssueId = Issues.IssueId)";
    }
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
    if (t.kind == Kind::Name && EqualNoCase(t.text, name)) return true;
  // Text that does not split is refused before it runs; until then, assume the worst.
  return !error.empty();
}

bool IsSecretColumn(std::string_view table, std::string_view column) {
  if (EqualNoCase(table, "VantrelSecrets")) return true;
  if (EqualNoCase(table, "Users"))
    return EqualNoCase(column, "Password") || EqualNoCase(column, "SecretQuestionAnswer");
  if (EqualNoCase(table, "EMailConfiguration")) return EqualNoCase(column, "SmtpPassword");
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
  each("select TableName from IssueCodeTables", [&](const std::string& table, const std::string&) {
    if (IsPlainName(table) && !IsSecretColumn(table, "")) c.AddTable(db, table);
    // Code values say nothing about issues; projects and their members are the scope itself.
    if (IsPlainName(table) && !EqualNoCase(table, "Projects") && !EqualNoCase(table, "ProjectUsers"))
      c.subqueryTables.insert(table);
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
  // A table that the catalogue names but the database lacks offers nothing to name.
  for (auto it = c.tables.begin(); it != c.tables.end();) {
    if (it->second.empty())
      it = c.tables.erase(it);
    else
      ++it;
  }
  return c;
}

std::string Check(std::string_view text, const Catalogue& catalogue, Fragment kind) {
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
      if (t.text == "(") ++depth;
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
      const Token& column = tokens[i + 2];
      if (!columns->count(column.text)) return "unknown field name '" + name + "." + std::string(column.text) + "'";
      continue;
    }
    if (IsSymbol(next, "(") && Functions().count(name)) continue;
    if (Keywords().count(name)) continue;
    if (anyColumn(name) || tableOf(name)) continue;
    return "unknown name '" + name + "'";
  }
  if (depth != 0) return "incorrect syntax near '('";
  return CheckSubqueries(tokens, catalogue);
}

ReadOnlyScope::ReadOnlyScope(sqlite3* db, NameSet readable) : db_(db), readable_(std::move(readable)) {
  sqlite3_set_authorizer(db_, &ReadOnlyScope::Authorize, this);
}

ReadOnlyScope::~ReadOnlyScope() { sqlite3_set_authorizer(db_, nullptr, nullptr); }

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
      // Functions that reach outside the database.
      if (EqualNoCase(second, "load_extension") || EqualNoCase(second, "fts3_tokenizer") ||
          EqualNoCase(second, "readfile") || EqualNoCase(second, "writefile") || EqualNoCase(second, "edit"))
        return refuse("call " + std::string(second));
      return SQLITE_OK;
    case SQLITE_PRAGMA:
      // The data layer reads a table's shape and the schema version while it fetches.
      if (EqualNoCase(first, "table_info") || EqualNoCase(first, "schema_version")) return SQLITE_OK;
      return refuse("pragma " + std::string(first));
    default:
      return refuse("action " + std::to_string(action));
  }
}

}  // namespace brisquel::sqlguard
