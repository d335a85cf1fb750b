// The code-table writers: those that create, change and remove whole code tables (each a table of
// its own, built through the run-time DDL layer) and the values inside them, with the catalogue
// row as they edit it. The readers' side, names quoted for statements, is core/code_table_lookup.h.
// Registered by name on Database from code_tables.cpp and code_values.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/code_table_lookup.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"

namespace brisquel {

bool CreateCodeTable(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);
bool UpdateCodeTable(Database& db, const std::string& userId, RecordsetPtr rsCodeTable,
                     std::shared_ptr<MultipartFormData> formData);
bool DeleteCodeTable(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);

bool CreateCodeTableValue(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);
bool UpdateCodeTableValue(Database& db, const std::string& userId, RecordsetPtr rsValue,
                          std::shared_ptr<MultipartFormData> formData);
bool DeleteCodeTableValue(Database& db, const std::string& userId, const std::string& tableName, int32_t projectId,
                          std::shared_ptr<MultipartFormData> formData);

namespace codetables {

// A code table's catalogue row as the writers edit it. The names are checked (the naming rule, at most 40 and 50
// characters) before anything builds SQL from them; `Quoted...` are ready for a statement.
struct EditedCodeTable {
  std::string table;        // as catalogued
  std::string valueColumn;  // TableFieldName
  std::string singular;     // TableFriendlyNameSingular
  bool variesByProject = false;
  bool naturalSort = false;
  std::string QuotedTable() const;
  std::string QuotedValueColumn() const;
};

// The catalogue row of `table`, or none (FindCodeTableRow of core/code_table_lookup.h). A row whose
// names break the rule is refused with a caller's error (&H80040001) rather than pasted into SQL.
std::optional<EditedCodeTable> FindCodeTable(Database& db, const std::string& table);

// A name that may go into SQL: the rule and at most `limit` characters; else a caller's error.
void RequireSqlName(std::string_view name, size_t limit, std::string_view method);

// Projects and ProjectUsers are catalogued as the lists of the project and user fields; they are
// kept by the project pages, never through the code-table writers.
bool IsCodeTable(std::string_view table);
std::string NotACodeTable(std::string_view table);

inline constexpr std::string_view kClass = "Database";

}  // namespace codetables

}  // namespace brisquel
