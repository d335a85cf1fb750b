// The catalogue reader of the code-table writers: the checked reader of the issue-form lookups
// (core/form_metadata.cpp), so names come from the catalogue only after the naming rule.
#include "automation/text.h"
#include "configuration/code_table_writers.h"
#include "core/code_table_lookup.h"
#include "core/error_protocol.h"

namespace brisquel::codetables {

std::string EditedCodeTable::QuotedTable() const { return ado::QuoteIdentifier(table); }
std::string EditedCodeTable::QuotedValueColumn() const { return ado::QuoteIdentifier(valueColumn); }

void RequireSqlName(std::string_view name, size_t limit, std::string_view method) {
  if (!FollowsNameRule(name) || name.size() > limit)
    ThrowError(kClass, method,
               "The name '" + std::string(name) +
                   "' is not allowed: a name begins with a letter and holds only letters, digits and underscores, "
                   "at most " + std::to_string(limit) + " characters.");
}

std::optional<EditedCodeTable> FindCodeTable(Database& db, const std::string& table) {
  std::optional<CodeTableRow> row = FindCodeTableRow(db, table);
  if (!row) return std::nullopt;
  return EditedCodeTable{row->table, row->valueColumn, row->singular, row->variesByProject, row->naturalSort};
}

bool IsCodeTable(std::string_view table) {
  return !automation::EqualsNoCase(table, "Projects") && !automation::EqualsNoCase(table, "ProjectUsers");
}

std::string NotACodeTable(std::string_view table) {
  return "The table '" + std::string(table) + "' is not a code table.";
}

}  // namespace brisquel::codetables
