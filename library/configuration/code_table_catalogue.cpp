// The checked catalogue reader of the code-table writers. It follows the reader of the issue-form
// lookups (core/form_metadata.cpp): names come from the catalogue only after the naming rule.
#include "automation/text.h"
#include "configuration/code_tables.h"
#include "core/error_protocol.h"
#include "core/sql.h"

namespace brisquel::codetables {

namespace {

bool Letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string CodeTable::QuotedTable() const { return ado::QuoteIdentifier(table); }
std::string CodeTable::QuotedValueColumn() const { return ado::QuoteIdentifier(valueColumn); }

bool FollowsNameRule(std::string_view name) {
  if (name.empty() || !Letter(name.front())) return false;
  for (char c : name)
    if (!Letter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  return true;
}

void RequireSqlName(std::string_view name, size_t limit, std::string_view method) {
  if (!FollowsNameRule(name) || name.size() > limit)
    ThrowError(kClass, method,
               "The name '" + std::string(name) +
                   "' is not allowed: a name begins with a letter and holds only letters, digits and underscores, "
                   "at most " + std::to_string(limit) + " characters.");
}

std::optional<CodeTable> FindCodeTable(Database& db, const std::string& table) {
  std::optional<CodeTable> found;
  db.Each("select TableName, TableFieldName, TableFriendlyNameSingular, VariesByProject, NaturalSort "
          "from IssueCodeTables where TableName = ?",
          {ado::Param::Text(table, 50)}, [&](const sql::Row& r) {
            found = CodeTable{r.Text(0), r.Text(1), r.Text(2), r.Flag(3), r.Flag(4)};
          });
  if (found) {
    RequireSqlName(found->table, 40, "FindCodeTable");
    RequireSqlName(found->valueColumn, 50, "FindCodeTable");
  }
  return found;
}

bool IsCodeTable(std::string_view table) {
  return !automation::EqualsNoCase(table, "Projects") && !automation::EqualsNoCase(table, "ProjectUsers");
}

std::string NotACodeTable(std::string_view table) {
  return "The table '" + std::string(table) + "' is not a code table.";
}

}  // namespace brisquel::codetables
