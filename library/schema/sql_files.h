// The schema's SQL files, embedded into the library at build time (see schema_sql.cmake).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brisquel::schema {

namespace detail {
struct SqlFile {
  const char* name;  // file name, e.g. "020_issues_users.sql"
  const char* text;
};
extern const SqlFile kSqlFiles[];
extern const std::size_t kSqlFileCount;
}  // namespace detail

// The text of one embedded file; an unknown name raises the library's failure (RaiseFailure).
std::string_view SqlFileText(std::string_view fileName);
// The names of every embedded file, sorted.
std::vector<std::string_view> SqlFileNames();
// A statement's words, one blank between them, without the closing semicolon: the form in which
// a declaration the database recorded is compared with the one wanted.
std::string Squeezed(std::string_view sql);

// An index the table definitions of a new site declare (the files '0..'), as the files word it.
struct DeclaredIndex {
  std::string name, table;
  std::vector<std::string> columns;
  std::string statement;
};
std::vector<DeclaredIndex> DeclaredIndexes();

}  // namespace brisquel::schema
