// SQL fragments that reach the library from outside (filter conditions, saved filter expressions,
// sort expressions) are checked here before they are embedded in a statement, and the statements
// that embed them run under a read-only authorizer. The check keeps a fragment inside the
// parentheses it is given (balanced, no ";", no comments, no parameters) and lets it name only
// SQL words, a few functions, and the tables, columns and code-table aliases of the issue list. A
// subquery may read code tables, and the comments of the issue at hand only, so that no condition
// can test rows outside the list's scope. The authorizer refuses every write, every table outside
// the list the statement may read, and every secret column, whatever the text says.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "ado/connection.h"

namespace brisquel::sqlguard {

// Names compare without regard to case (ASCII), as SQLite compares them.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
using NameSet = std::set<std::string, NoCaseLess>;

// What a fragment may name: tables with their columns, and aliases standing for a table.
struct Catalogue {
  std::map<std::string, NameSet, NoCaseLess> tables;
  std::map<std::string, std::string, NoCaseLess> aliases;  // alias -> table
  // Tables a subquery may read, and among them those with rows per issue, which a subquery may
  // read only for the issue at hand, and the code tables that vary by project, which it may read
  // only for the issue's project.
  NameSet subqueryTables;
  NameSet perIssueTables;
  NameSet perProjectTables;
  // The site keeps its issues' counts per project and status (IssueCounts, read by the lists'
  // counts only: no fragment may name it).
  bool issueCounts = false;

  // Adds a table with the columns the database gives it (no columns: the table does not exist).
  void AddTable(sqlite3* db, const std::string& table);
  void AddAlias(const std::string& alias, const std::string& table) { aliases[alias] = table; }
  // The tables a statement over these names may read (aliases resolved).
  NameSet ReadableTables() const;

  // The issue list's names: Issues, Projects, ProjectUsers, IssueComments, every code table of
  // the catalogue, and the alias <field>_<table> of each coded field whose table is not
  // naturally sorted (the joins the issue list adds). Subqueries may read the code tables and,
  // for the issue at hand, its comments.
  static Catalogue ForIssues(sqlite3* db);
  // The same, kept with the connection and read again only when the schema or the issue fields
  // and code tables changed (one statement per call to find out).
  static const Catalogue& ForIssues(ado::Connection& connection);
};

enum class Fragment { Condition, OrderBy };

// Empty when the fragment may be embedded; otherwise the reason, a phrase starting in lower case
// (for example "unknown name 'Password'"), for the caller's sentence.
std::string Check(std::string_view text, const Catalogue& catalogue, Fragment kind);

// True when the fragment names `name` (as a word outside its strings, without regard to case).
bool Mentions(std::string_view text, std::string_view name);

// True for a plain identifier (letters, digits, underscores; not starting with a digit), the form
// the catalogue's own table, field and column names must have to be written into SQL unquoted.
bool IsPlainName(std::string_view name);

// True for a column written plainly ("Name" or "Table.Name"), as the list's own headings sort by:
// such a sort order costs no more than the list itself. Any other is an expression from outside.
bool IsColumn(std::string_view text);

// True when a sort key of the sort order is a column's place among the list's ("2"): a statement
// with other columns than the list's (the ids of a page) cannot take such an order.
bool HasPlaceKey(std::string_view orderBy);

// Columns no statement that embeds outside text may read (password hashes, secret answers, the
// SMTP password, the site secrets).
bool IsSecretColumn(std::string_view table, std::string_view column);

// The longest fragment the check takes (a saved expression holds 4000 characters).
inline constexpr size_t kMaxFragmentBytes = 100000;
// How deep a fragment's parentheses may nest.
inline constexpr int kMaxFragmentDepth = 100;
// How long a statement with a condition from outside may run, whatever the command time-out.
inline constexpr std::chrono::milliseconds kConditionTime{2000};
// The default command time-out (Connection.CommandTimeout).
inline constexpr std::chrono::milliseconds kCommandTime{30000};

// While alive, every statement prepared on the connection is read-only: SELECT only, reading only
// `readable` tables (all tables when empty), never a secret column, and calling no function that
// reaches outside or allocates at will. Statements stepped meanwhile are bounded: they are
// interrupted after `time` (zero: never), and the connection's limits on value and statement
// length, expression depth and compound selects are lowered (and restored afterwards). One scope
// per connection at a time; the connection has no authorizer of its own. On a data-layer
// connection the scope is set through it, so that no statement is taken from or put into its
// statement cache meanwhile.
class ReadOnlyScope {
 public:
  ReadOnlyScope(ado::Connection& connection, NameSet readable, std::chrono::milliseconds time = kCommandTime);
  ReadOnlyScope(sqlite3* db, NameSet readable, std::chrono::milliseconds time = kCommandTime);
  ~ReadOnlyScope();
  ReadOnlyScope(const ReadOnlyScope&) = delete;
  ReadOnlyScope& operator=(const ReadOnlyScope&) = delete;

  // The last action refused, for diagnostics ("read Users.Password", "INSERT").
  const std::string& Refused() const { return refused_; }
  // A statement ran past the time and was interrupted.
  bool TimedOut() const { return timedOut_; }

 private:
  static int Authorize(void* self, int action, const char* a, const char* b, const char* schema,
                       const char* trigger);
  static int Progress(void* self);
  void Bound(std::chrono::milliseconds time);
  ado::Connection* connection_ = nullptr;
  ado::Connection::Guard outer_;  // the guard before this one, put back at the end
  sqlite3* db_;
  NameSet readable_;
  std::string refused_;
  std::chrono::steady_clock::time_point deadline_;
  bool bounded_ = false;
  bool timedOut_ = false;
  int saved_[4] = {};
};

}  // namespace brisquel::sqlguard
