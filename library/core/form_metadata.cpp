// The shape of the issue form as the pages, the issue writers, the lists and the sender read it:
// issue fields, code tables and their values, required fields of workflow states, summary and
// entry-form layouts, saved filters.
//
// Code tables are read by statements built from their catalogue row (IssueCodeTables). Names
// only ever come from that row, must follow the naming rule of code tables and go into the
// statement quoted; the sort direction is ASC or DESC. A catalogue row that breaks a rule is
// refused with an error rather than pasted into SQL.
#include <sqlite3.h>

#include <cctype>
#include <optional>
#include <string>
#include <string_view>

#include "core/code_table_lookup.h"
#include "core/database.h"
#include "automation/text.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/sql.h"

namespace brisquel {

using automation::EqualsNoCase;

using automation::Variant;

namespace {

constexpr std::string_view kClass = "Database";

constexpr int32_t kUserIdSize = 50;
// Layout names are created up to 20 characters but may be renamed up to 50.
constexpr int32_t kLayoutNameSize = 50;
constexpr int32_t kFieldNameSize = 20;
constexpr int32_t kTableNameSize = 50;
constexpr int32_t kCodeValueSize = 50;
constexpr int32_t kResolutionCodeSize = 50;
// The issue statements carry status codes as 6 characters.
constexpr int32_t kStatusCodeSize = 6;
constexpr int32_t kFilterNameSize = 50;

// The computed sort column of a field: its own column unless its list orders by SortOrder.
constexpr std::string_view kSortByFieldName =
    "case IssueFields.TableName when '' then 'Issues.' || IssueFields.FieldName "
    "else case IssueCodeTables.NaturalSort when 1 then 'Issues.' || IssueFields.FieldName "
    "else IssueCodeTables.TableSortByFieldName end end as SortByFieldName ";

constexpr const ReadOptions& kReadOnly = kReadOnlyRows;


bool IsAllowedName(std::string_view name, size_t limit) { return name.size() <= limit && FollowsNameRule(name); }

std::string Quoted(std::string_view name) { return "[" + std::string(name) + "]"; }

// A catalogue row that breaks a rule is the caller's contract broken, raised (not a writer's Refuse).
[[noreturn]] void RaiseBadCatalogueRow(std::string description) {
  automation::RaiseError(kContractViolation, std::string(kLibraryName), std::move(description));
}

constexpr std::string_view kNamingRule =
    "a name begins with a letter and holds only letters, digits and underscores";

// Tables whose rows hold secrets are never read as a list of values, whatever the catalogue says.
bool HoldsSecrets(std::string_view table) {
  return EqualsNoCase(table, "Users") || EqualsNoCase(table, "EMailConfiguration") || EqualsNoCase(table, "VantrelSecrets") ||
         (table.size() >= 7 && EqualsNoCase(table.substr(0, 7), "sqlite_"));
}

std::string CheckedColumn(std::string_view table, std::string_view what, std::string_view column) {
  if (!IsAllowedName(column, kCodeColumnNameLimit))
    RaiseBadCatalogueRow("The code table '" + std::string(table) + "' names the " + std::string(what) + " '" +
                         std::string(column) + "', which is not allowed: " + std::string(kNamingRule) + ", at most " +
                         std::to_string(kCodeColumnNameLimit) + " characters.");
  return Quoted(column);
}

}  // namespace

bool FollowsNameRule(std::string_view name) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.empty() || !letter(name.front())) return false;
  for (char c : name)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  return true;
}

bool IsReservedSqlName(std::string_view name) {
  if (sqlite3_keyword_check(name.data(), static_cast<int>(name.size())) != 0) return true;
  for (std::string_view own : {"rowid", "oid", "_rowid_"})
    if (EqualsNoCase(name, own)) return true;
  return name.size() >= 7 && EqualsNoCase(name.substr(0, 7), "sqlite_");
}

std::optional<CodeTableRow> FindCodeTableRow(Database& db, const std::string& tableName) {
  std::optional<CodeTableRow> found;
  db.Each("select TableName, TableFieldName, TableSortByFieldName, TableDefaultSortOrder, "
          "TableFriendlyNameSingular, VariesByProject, NaturalSort from IssueCodeTables where TableName = ?",
          {ado::Param::Text(tableName, kTableNameSize)}, [&](const sql::Row& r) {
            found = CodeTableRow{r.Text(0), r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Flag(5), r.Flag(6)};
          });
  if (!found) return found;
  if (!IsAllowedName(found->table, kCodeTableNameLimit))
    RaiseBadCatalogueRow("The code table name '" + found->table + "' is not allowed: " + std::string(kNamingRule) +
                         ", at most " + std::to_string(kCodeTableNameLimit) + " characters.");
  CheckedColumn(found->table, "value column", found->valueColumn);
  return found;
}

QuotedCodeTable ReadCodeTable(Database& db, const std::string& /*userId*/, const std::string& tableName) {
  std::optional<CodeTableRow> row = FindCodeTableRow(db, tableName);
  if (!row)
    automation::RaiseError(ado::err::kNoCurrentRecord, std::string(kLibraryName),
                           "The code table '" + tableName + "' is not in the catalogue of code tables.");
  const std::string& table = row->table;
  const std::string& sortBy = row->sortBy;
  const std::string& direction = row->direction;
  if (HoldsSecrets(table)) RaiseBadCatalogueRow("The table '" + table + "' is not a code table.");
  QuotedCodeTable t;
  t.variesByProject = row->variesByProject;
  t.naturalSort = row->naturalSort;
  t.table = Quoted(table);
  t.valueColumn = Quoted(row->valueColumn);

  // "Table.Column" or a bare column.
  if (size_t dot = sortBy.find('.'); dot != std::string::npos) {
    std::string_view owner = std::string_view(sortBy).substr(0, dot);
    if (!IsAllowedName(owner, kCodeTableNameLimit))
      RaiseBadCatalogueRow("The code table '" + table + "' names the sort column '" + sortBy +
                           "', which is not allowed: " + std::string(kNamingRule) + ".");
    t.sortColumn = Quoted(owner) + "." + CheckedColumn(table, "sort column", std::string_view(sortBy).substr(dot + 1));
  } else {
    t.sortColumn = CheckedColumn(table, "sort column", sortBy);
  }

  if (EqualsNoCase(direction, "ASC")) {
    t.direction = "ASC";
  } else if (EqualsNoCase(direction, "DESC")) {
    t.direction = "DESC";
  } else {
    RaiseBadCatalogueRow("The code table '" + table + "' has the sort direction '" + direction +
                         "'; a list is sorted ASC or DESC.");
  }
  return t;
}

namespace {
constexpr const char* kIssueFields = "select * from IssueFields order by FieldFriendlyName";
}  // namespace

RecordsetPtr GetIssueFieldsRs(Database& db, const std::string& /*userId*/) {
  return Procedure(kClass, "GetIssueFieldsRs", [&] { return db.Read(kIssueFields); });
}

void EachIssueField(Database& db, const RowFn& fn) { db.Each(kIssueFields, {}, fn); }

RecordsetPtr GetIssueCodedFieldsRs(Database& db) {
  return Procedure(kClass, "GetIssueCodedFieldsRs", [&] {
    return db.Read(
        "select * from IssueFields where TableName <> '' and TableName <> 'Projects' order by FieldFriendlyName");
  });
}

RecordsetPtr GetIssueDataEntryFieldsRs(Database& db) {
  return Procedure(kClass, "GetIssueDataEntryFieldsRs", [&] {
    return db.Read("select * from IssueFields where DataEntryField = 1 order by FieldFriendlyName");
  });
}

RecordsetPtr GetIssueValidationFieldsRs(Database& db) {
  return Procedure(kClass, "GetIssueValidationFieldsRs", [&] {
    return db.Read(
        "select * from IssueFields where DataEntryField = 1 and Representation <> 'checkbox' and "
        "FieldName <> 'ProjectCode' order by FieldFriendlyName");
  });
}

// Read-only results: the validation readers are never written back.
RecordsetPtr GetIssueValidationsRs(Database& db, const std::string& resolutionCode, const std::string& statusCode) {
  return Procedure(kClass, "GetIssueValidationsRs", [&] {
    return db.Read(
        "select WorkflowStates.ResolutionCode, WorkflowStates.StatusCode, IssueFields.* "
        "From IssueFields "
        "    inner join DataEntryLayoutFields on DataEntryLayoutFields.FieldName = IssueFields.FieldName "
        "    inner join WorkflowStateValidations on WorkflowStateValidations.FieldName = IssueFields.FieldName "
        "    inner join WorkflowStates on WorkflowStates.StateId = WorkflowStateValidations.StateId "
        "where WorkflowStates.ResolutionCode = ? and WorkflowStates.StatusCode = ? "
        "order by DataEntryLayoutFields.RowNumber, DataEntryLayoutFields.DisplayOrder",
        {ado::Param::Text(resolutionCode, kResolutionCodeSize), ado::Param::Text(statusCode, kStatusCodeSize)},
        kReadOnly);
  });
}

namespace {
constexpr const char* kRequiredFields =
    "select WorkflowStates.ResolutionCode, WorkflowStates.StatusCode, IssueFields.* "
    "From IssueFields "
    "    inner join DataEntryLayoutFields on DataEntryLayoutFields.FieldName = IssueFields.FieldName "
    "    inner join WorkflowStateValidations on WorkflowStateValidations.FieldName = IssueFields.FieldName "
    "    inner join WorkflowStates on WorkflowStates.StateId = WorkflowStateValidations.StateId "
    "where DataEntryLayoutFields.LayoutId = 1 "
    "    and WorkflowStates.ResolutionCode = ? "
    "    and WorkflowStates.StatusCode = ? "
    "order by DataEntryLayoutFields.RowNumber, DataEntryLayoutFields.DisplayOrder";

ado::Params StateParams(const std::string& resolutionCode, const std::string& statusCode) {
  return {ado::Param::Text(resolutionCode, kResolutionCodeSize), ado::Param::Text(statusCode, kStatusCodeSize)};
}
}  // namespace

RecordsetPtr GetIssueValidationByResolutionRs(Database& db, const std::string& resolutionCode,
                                              const std::string& statusCode) {
  return Procedure(kClass, "GetIssueValidationByResolutionRs",
                   [&] { return db.Read(kRequiredFields, StateParams(resolutionCode, statusCode), kReadOnly); });
}

std::vector<RequiredField> RequiredFieldsOf(Database& db, const std::string& resolutionCode,
                                            const std::string& statusCode) {
  std::vector<RequiredField> out;
  db.Each(kRequiredFields, StateParams(resolutionCode, statusCode), [&](const sql::Row& r) {
    out.push_back({r.Text("FieldName"), r.Text("FieldFriendlyName"), r.Text("Representation")});
  });
  return out;
}

// The empty-cell entry (FieldName '') is offered too, so the editor can leave a cell blank.
RecordsetPtr GetIssueDataEntryLayoutFieldsRs(Database& db) {
  return Procedure(kClass, "GetIssueDataEntryLayoutFieldsRs", [&] {
    return db.Read("select * from IssueFields where DataEntryField = 1 or FieldName = '' order by FieldFriendlyName");
  });
}

// The ProjectUsers entry is the assignee list; it is kept by the project pages, not as codes.
RecordsetPtr GetIssueCodeTablesRs(Database& db) {
  return Procedure(kClass, "GetIssueCodeTablesRs", [&] {
    return db.Read("select * from IssueCodeTables where TableName <> 'ProjectUsers' order by TableName");
  });
}

RecordsetPtr GetIssueCodeTableRs(Database& db, const std::string& /*userId*/, const std::string& tableName) {
  return Procedure(kClass, "GetIssueCodeTableRs", [&] {
    return db.Read("select * from IssueCodeTables where TableName = ?", {ado::Param::Text(tableName, kTableNameSize)});
  });
}

RecordsetPtr GetCodeRs(Database& db, const std::string& userId, const std::string& tableName, int32_t projectId,
                       const std::string& codeValue) {
  return Procedure(kClass, "GetCodeRs", [&] {
    const QuotedCodeTable t = ReadCodeTable(db, userId, tableName);
    if (!t.variesByProject)
      return db.Read("select * from " + t.table + "  where " + t.valueColumn + " = ? ",
                     {ado::Param::Text(codeValue, kCodeValueSize)});
    return db.Read("select * from " + t.table + "  where ProjectId = ?  and " + t.valueColumn + " = ? ",
                   {ado::Param::Long(projectId), ado::Param::Text(codeValue, kCodeValueSize)});
  });
}

// Natural-sort lists put the blank value first in either direction; the others follow their
// SortOrder, where the blank value has no special place.
RecordsetPtr GetCodesRs(Database& db, const std::string& userId, const std::string& tableName, int32_t projectId) {
  return Procedure(kClass, "GetCodesRs", [&] {
    const QuotedCodeTable t = ReadCodeTable(db, userId, tableName);
    std::string sql = "select * from " + t.table + " ";
    if (t.variesByProject) sql += " where ProjectId = " + std::to_string(projectId);
    if (t.naturalSort) {
      sql += " order by case " + t.valueColumn + " when '' then 0 else 1 end, " + t.valueColumn + " " + t.direction;
    } else {
      sql += " order by " + t.sortColumn + " " + t.direction;
    }
    return db.Read(sql);
  });
}

RecordsetPtr GetIssueFieldRs(Database& db, const std::string& fieldName) {
  return Procedure(kClass, "GetIssueFieldRs", [&] {
    std::string sql =
        "select IssueFields.FieldFriendlyName, IssueFields.FieldName, IssueFields.DataEntryField, "
        "IssueFields.FilterFieldName, IssueFields.FilterFqFieldName, IssueFields.FilterFieldType, "
        "IssueFields.TooltipForFilter, IssueFields.Representation, "
        "IssueFields.NumLines, IssueFields.TextMaxLength, IssueFields.LastUpdated, "
        "IssueFields.TableName, IssueCodeTables.TableFriendlyName, "
        "IssueCodeTables.TableFriendlyNameSingular, IssueCodeTables.VariesByProject, "
        "IssueCodeTables.TablePurpose, IssueCodeTables.TableFieldName, IssueCodeTables.NaturalSort, "
        "IssueCodeTables.TableSortByFieldName, IssueCodeTables.TableDefaultSortOrder, ";
    sql += kSortByFieldName;
    sql +=
        "FROM IssueFields LEFT JOIN IssueCodeTables "
        "ON IssueFields.TableName = IssueCodeTables.TableName "
        "where FieldName = ? ";
    return db.Read(sql, {ado::Param::Text(fieldName, kFieldNameSize)});
  });
}

RecordsetPtr GetSummaryLayoutRs(Database& db, const std::string& userId, const std::string& layoutName) {
  return Procedure(kClass, "GetSummaryLayoutRs", [&] {
    return db.Read("SELECT * from SummaryLayouts where UserId = ? and LayoutName = ?",
                   {ado::Param::Text(userId, kUserIdSize), ado::Param::Text(layoutName, kLayoutNameSize)});
  });
}

RecordsetPtr GetSummaryLayoutsRs(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetSummaryLayoutsRs", [&] {
    return db.Read("SELECT * from SummaryLayouts where UserId = ? ORDER BY LayoutName",
                   {ado::Param::Text(userId, kUserIdSize)});
  });
}

// RowNumber -1: every row of the layout.
RecordsetPtr GetSummaryLayoutFieldsRs(Database& db, const std::string& userId, const std::string& layoutName,
                                      int16_t rowNumber) {
  return Procedure(kClass, "GetSummaryLayoutFieldsRs", [&] {
    std::string sql =
        "SELECT SummaryLayouts.LayoutName, SummaryLayoutFields.RowNumber, SummaryLayoutFields.DisplayOrder, "
        "IssueFields.FieldName, IssueFields.FieldFriendlyName, IssueFields.Representation, "
        "IssueCodeTables.TableName, IssueCodeTables.NaturalSort, ";
    sql += kSortByFieldName;
    sql +=
        "FROM SummaryLayouts INNER JOIN SummaryLayoutFields ON SummaryLayouts.UserId = SummaryLayoutFields.UserId "
        "and SummaryLayouts.LayoutName = SummaryLayoutFields.LayoutName "
        "                   INNER JOIN IssueFields on SummaryLayoutFields.FieldName = IssueFields.FieldName "
        "                   left join IssueCodeTables on IssueFields.TableName = IssueCodeTables.TableName ";
    ado::Params params{ado::Param::Text(userId, kUserIdSize), ado::Param::Text(layoutName, kLayoutNameSize)};
    if (rowNumber == -1) {
      sql +=
          "WHERE SummaryLayouts.UserId = ? and SummaryLayouts.LayoutName = ? "
          "ORDER BY SummaryLayoutFields.RowNumber, SummaryLayoutFields.DisplayOrder";
    } else {
      sql +=
          "WHERE SummaryLayouts.UserId = ? and SummaryLayouts.LayoutName = ? and SummaryLayoutFields.RowNumber = ? "
          "ORDER BY SummaryLayoutFields.DisplayOrder";
      params.push_back(ado::Param::Long(Variant(int32_t{rowNumber})));
    }
    return db.Read(sql, params);
  });
}

RecordsetPtr GetEntryLayoutRowsRs(Database& db) {
  return Procedure(kClass, "GetEntryLayoutRowsRs",
                   [&] { return db.Read("SELECT * from EntryFormRows ORDER BY RowNumber"); });
}

RecordsetPtr GetEntryLayoutFieldsRs(Database& db, int16_t rowNumber) {
  return Procedure(kClass, "GetEntryLayoutFieldsRs", [&] {
    return db.Read(
        "SELECT EntryFormRows.RowNumber, EntryFormRows.NumColumns, EntryFormFields.ColumnNumber, "
        "EntryFormFields.FieldName "
        "FROM EntryFormRows INNER JOIN EntryFormFields ON EntryFormRows.RowNumber = EntryFormFields.RowNumber "
        "WHERE EntryFormRows.RowNumber = ? "
        "ORDER BY EntryFormRows.RowNumber, EntryFormFields.ColumnNumber",
        {ado::Param::Long(Variant(int32_t{rowNumber}))});
  });
}

RecordsetPtr GetDataEntryLayoutRs(Database& db) {
  return Procedure(kClass, "GetDataEntryLayoutRs", [&] { return db.Read("SELECT * from DataEntryLayouts"); });
}

// Empty cells join the catalogue's empty-cell entry (FieldName ''), so they come back as records of
// their own and count in NumFieldsOnRow.
RecordsetPtr GetDataEntryDetails(Database& db, const std::string& /*userId*/) {
  return Procedure(kClass, "GetDataEntryDetails", [&] {
    return db.Read(
        "select DataEntryLayoutFields.RowNumber, DataEntryLayoutFields.DisplayOrder, "
        "IssueFields.FieldFriendlyName, IssueFields.FieldName, IssueFields.Representation, "
        "IssueFields.NumLines, IssueFields.TextMaxLength, IssueCodeTables.TableFieldName, "
        "(select count(*) from DataEntryLayoutFields as df2 where df2.LayoutId = DataEntryLayouts.LayoutId "
        "and df2.RowNumber = DataEntryLayoutFields.RowNumber) as NumFieldsOnRow "
        "FROM IssueFields "
        "LEFT JOIN IssueCodeTables on IssueFields.TableName = IssueCodeTables.TableName "
        "inner join DataEntryLayoutFields on DataEntryLayoutFields.FieldName = IssueFields.FieldName "
        "inner join DataEntryLayouts on DataEntryLayouts.LayoutId = DataEntryLayoutFields.LayoutId "
        "order by DataEntryLayoutFields.RowNumber, DataEntryLayoutFields.DisplayOrder ");
  });
}

// RowNum -1: the fields of every row, ordered by their position within the row only (the issue
// writers visit every field this way).
namespace {
constexpr const char* kEntryFormFields =
    "SELECT IssueFields.* "
    "from DataEntryLayoutFields "
    "    inner join IssueFields on IssueFields.FieldName = DataEntryLayoutFields.FieldName "
    "order by DataEntryLayoutFields.DisplayOrder";
constexpr const char* kEntryFormRowFields =
    "SELECT IssueFields.* "
    "from DataEntryLayoutFields "
    "    inner join IssueFields on IssueFields.FieldName = DataEntryLayoutFields.FieldName "
    "where DataEntryLayoutFields.RowNumber = ? order by DataEntryLayoutFields.DisplayOrder";
}  // namespace

RecordsetPtr GetDataEntryLayoutFieldsRs(Database& db, int32_t rowNum) {
  return Procedure(kClass, "GetDataEntryLayoutFieldsRs", [&] {
    if (rowNum == -1) return db.Read(kEntryFormFields);
    return db.Read(kEntryFormRowFields, {ado::Param::Long(rowNum)});
  });
}

void EachEntryFormField(Database& db, const RowFn& fn) { db.Each(kEntryFormFields, {}, fn); }

// The project field offers the projects the user may use; every other list field its code
// table's values (of the project, when the table varies by project).
Variant GetFieldComboValuesRs(Database& db, const std::string& currentUser, int32_t projectId,
                              const std::string& fieldName) {
  return Procedure(kClass, "GetFieldComboValuesRs", [&] {
    auto field = GetIssueFieldRs(db, fieldName);
    if (field->IsEOF()) {
      field->Close();
      automation::RaiseError(ado::err::kNoCurrentRecord, std::string(kLibraryName),
                             "The issue field '" + fieldName + "' does not exist.");
    }
    const std::string name = field->Value("FieldName").ToString();
    const std::string table = field->Value("TableName").ToString();
    field->Close();
    RecordsetPtr values;
    if (EqualsNoCase(name, "ProjectCode")) {
      values = GetUserProjectsRs(db, currentUser);
    } else {
      if (table.empty())
        automation::RaiseError(ado::err::kNoCurrentRecord, std::string(kLibraryName),
                               "The issue field '" + name + "' has no list of values.");
      values = GetCodesRs(db, currentUser, table, projectId);
    }
    return Variant(std::static_pointer_cast<automation::Object>(values));
  });
}

namespace {
constexpr const char* kSummaryFilters = "SELECT * from SummaryFilters where UserId = ? ORDER BY FilterName";
}  // namespace

RecordsetPtr GetSummaryFiltersRs(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetSummaryFiltersRs",
                   [&] { return db.Read(kSummaryFilters, {ado::Param::Text(userId, kUserIdSize)}); });
}

void EachSummaryFilter(Database& db, const std::string& userId, const RowFn& fn) {
  db.Each(kSummaryFilters, {ado::Param::Text(userId, kUserIdSize)}, fn);
}

RecordsetPtr GetSummaryFilterRs(Database& db, const std::string& userId, const std::string& filterName) {
  return Procedure(kClass, "GetSummaryFilterRs", [&] {
    return db.Read("SELECT * from SummaryFilters where UserId = ? and FilterName = ?",
                   {ado::Param::Text(userId, kUserIdSize), ado::Param::Text(filterName, kFilterNameSize)});
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetIssueFieldsRs", &GetIssueFieldsRs);
  c.Method("GetIssueCodedFieldsRs", &GetIssueCodedFieldsRs);
  c.Method("GetIssueDataEntryFieldsRs", &GetIssueDataEntryFieldsRs);
  c.Method("GetIssueValidationFieldsRs", &GetIssueValidationFieldsRs);
  c.Method("GetIssueValidationsRs", &GetIssueValidationsRs);
  c.Method("GetIssueValidationByResolutionRs", &GetIssueValidationByResolutionRs);
  c.Method("GetIssueDataEntryLayoutFieldsRs", &GetIssueDataEntryLayoutFieldsRs);
  c.Method("GetIssueCodeTablesRs", &GetIssueCodeTablesRs);
  c.Method("GetIssueCodeTableRs", &GetIssueCodeTableRs);
  c.Method("GetCodeRs", &GetCodeRs);
  c.Method("GetCodesRs", &GetCodesRs);
  c.Method("GetIssueFieldRs", &GetIssueFieldRs);
  c.Method("GetSummaryLayoutRs", &GetSummaryLayoutRs);
  c.Method("GetSummaryLayoutsRs", &GetSummaryLayoutsRs);
  c.Method("GetSummaryLayoutFieldsRs", &GetSummaryLayoutFieldsRs);
  c.Method("GetEntryLayoutRowsRs", &GetEntryLayoutRowsRs);
  c.Method("GetEntryLayoutFieldsRs", &GetEntryLayoutFieldsRs);
  c.Method("GetDataEntryLayoutRs", &GetDataEntryLayoutRs);
  c.Method("GetDataEntryDetails", &GetDataEntryDetails);
  c.Method("GetDataEntryLayoutFieldsRs", &GetDataEntryLayoutFieldsRs);
  c.Method("GetFieldComboValuesRs", &GetFieldComboValuesRs);
  c.Method("GetSummaryFiltersRs", &GetSummaryFiltersRs);
  c.Method("GetSummaryFilterRs", &GetSummaryFilterRs);
});

}  // namespace

}  // namespace brisquel
