#include "schema/sql_files.h"

#include <cctype>
#include <string>

#include "core/error_protocol.h"

namespace brisquel::schema {

std::string_view SqlFileText(std::string_view fileName) {
  for (std::size_t i = 0; i < detail::kSqlFileCount; ++i) {
    if (fileName == detail::kSqlFiles[i].name) return detail::kSqlFiles[i].text;
  }
  RaiseFailure("No schema file named " + std::string(fileName));
}

std::vector<std::string_view> SqlFileNames() {
  std::vector<std::string_view> names;
  for (std::size_t i = 0; i < detail::kSqlFileCount; ++i) names.emplace_back(detail::kSqlFiles[i].name);
  return names;
}

std::string Squeezed(std::string_view sql) {
  std::string out;
  for (char c : sql) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == ';')) out.pop_back();
  return out;
}

namespace {

// The word after `keyword` in a statement, up to a blank or a bracket.
std::string WordAfter(std::string_view statement, std::string_view keyword) {
  std::size_t from = statement.find(keyword) + keyword.size();
  return std::string(statement.substr(from, statement.find_first_of(" (", from) - from));
}

}  // namespace

std::vector<DeclaredIndex> DeclaredIndexes() {
  std::vector<DeclaredIndex> out;
  for (std::string_view name : SqlFileNames()) {
    if (!name.starts_with('0')) continue;
    std::string_view file = SqlFileText(name);
    for (std::size_t at = 0; at < file.size();) {
      std::string_view line = file.substr(at);
      if (line.starts_with("CREATE INDEX ") || line.starts_with("CREATE UNIQUE INDEX ")) {
        // Each is one line: CREATE [UNIQUE] INDEX name ON table (a, b);
        std::string_view statement = line.substr(0, line.find(';') + 1);
        DeclaredIndex index{WordAfter(statement, "INDEX "), WordAfter(statement, " ON "), {}, std::string(statement)};
        std::string_view list = statement.substr(statement.find('(') + 1);
        list = list.substr(0, list.find(')'));
        std::string column;
        for (char ch : list) {
          if (ch == ',') {
            index.columns.push_back(column);
            column.clear();
          } else if (ch != ' ') {
            column += ch;
          }
        }
        index.columns.push_back(column);
        out.push_back(std::move(index));
      }
      std::size_t end = file.find('\n', at);
      at = end == std::string_view::npos ? file.size() : end + 1;
    }
  }
  return out;
}

}  // namespace brisquel::schema
