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

}  // namespace brisquel::schema
