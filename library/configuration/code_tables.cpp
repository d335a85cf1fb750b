// CreateCodeTable, UpdateCodeTable and DeleteCodeTable: a code table is a table of its own,
// described by its IssueCodeTables row. The catalogue row, the DDL (through the run-time DDL layer)
// and the seed values are written in one transaction, so a refusal leaves none of them.
#include "automation/text.h"
#include "configuration/code_table_writers.h"
#include "core/buffer.h"
#include "core/conversions.h"
#include "core/writer.h"
#include "schema/ddl.h"

namespace brisquel {

using namespace codetables;
using automation::Variant;

namespace {

namespace ddl = schema::ddl;

using automation::EqualsNoCase;

// The posted description of a code table.
struct CodeTableForm {
  std::string table, variesByProject, plural, singular, purpose, sortOrder, naturalSort, valueColumn;
  bool SortColumn() const { return EqualsNoCase(naturalSort, "on"); }  // "on" asks for a SortOrder column
  std::string SortBy(const std::string& tableName) const {
    return tableName + "." + (SortColumn() ? std::string("SortOrder") : valueColumn);
  }
};

CodeTableForm ReadForm(const FormFields& f) {
  return {PostedText(f, "TableName"), PostedText(f, "VariesByProject"), PostedText(f, "TableFriendlyName"),
          PostedText(f, "TableFriendlyNameSingular"), PostedText(f, "TablePurpose"),
          PostedText(f, "TableDefaultSortOrder"), PostedText(f, "NaturalSort"), PostedText(f, "TableFieldName")};
}

constexpr const char* kNameRule = " must begin with a letter, and only contain letters, digits or underscores.";
constexpr const char* kReservedValueColumn = "Field name is reserved, please choose another name.";

// The checks both writers share, from the plural name on; the first problem, or "".
std::string CheckDescription(const CodeTableForm& p) {
  if (CharLength(p.plural) > 50) return "Table friendly name (plural) cannot be longer than 50 characters.";
  if (p.plural.empty()) return "Table friendly name (plural) cannot be blank.";
  if (CharLength(p.singular) > 50) return "Table friendly name (singular) cannot be longer than 50 characters.";
  if (p.singular.empty()) return "Table friendly name (singular) cannot be blank.";
  if (CharLength(p.purpose) > 200) return "Table purpose cannot be longer than 200 characters.";
  if (!EqualsNoCase(p.sortOrder, "ASC") && !EqualsNoCase(p.sortOrder, "DESC"))
    return "Default sort order must be either ascending (ASC) or descending (DESC).";
  if (!p.naturalSort.empty() && !EqualsNoCase(p.naturalSort, "on"))
    return "Invalid value for requires seperate sort order field.";
  if (CharLength(p.valueColumn) > 50) return "Field name cannot be longer than 50 characters.";
  if (p.valueColumn.empty()) return "Field name cannot be blank.";
  // Also on update: the new name goes into DDL.
  if (!FollowsNameRule(p.valueColumn)) return std::string("Field name") + kNameRule;
  return "";
}

std::string CheckCreate(const CodeTableForm& p) {
  if (CharLength(p.table) > 40) return "Table name cannot be longer than 40 characters.";
  if (p.table.empty()) return "Table name cannot be blank.";
  if (!FollowsNameRule(p.table)) return std::string("Table name") + kNameRule;
  if (IsReservedSqlName(p.table)) return "Table name is reserved, please choose another name.";
  if (!p.variesByProject.empty() && !EqualsNoCase(p.variesByProject, "on"))
    return "Invalid value for seperate entries for each project.";
  if (std::string problem = CheckDescription(p); !problem.empty()) return problem;
  return IsReservedSqlName(p.valueColumn) ? kReservedValueColumn : "";
}

ddl::Table Shape(const CodeTableForm& p, bool varies) {
  ddl::Table t{p.table, {}, "pk_" + p.table, {}, {}};
  if (varies) {
    t.columns.push_back(ddl::NotNull("ProjectId", "INTEGER"));
    t.key.push_back("ProjectId");
    t.foreignKeys.push_back({"fk_" + p.table + "_Projects", p.table, {"ProjectId"}, "Projects", {"ProjectId"}});
  }
  t.columns.push_back(ddl::NotNull("LastUpdated", "INTEGER", "0"));
  t.columns.push_back(ddl::NotNull(p.valueColumn, "VARCHAR(50)"));
  t.key.push_back(p.valueColumn);
  if (p.SortColumn()) t.columns.push_back(ddl::NotNull("SortOrder", "INTEGER"));
  return t;
}

// One blank value, or one per project.
std::string SeedSql(const CodeTableForm& p, bool varies) {
  const std::string table = ado::QuoteIdentifier(p.table), column = ado::QuoteIdentifier(p.valueColumn);
  const std::string sort = p.SortColumn() ? ", SortOrder" : "";
  if (!varies) return "insert into " + table + " (" + column + sort + ") values (''" + (p.SortColumn() ? ", 1)" : ")");
  return "insert into " + table + " (ProjectId, " + column + sort + ") select ProjectId, ''" +
         (p.SortColumn() ? ", 1" : "") + " from Projects";
}

void InsertCatalogueRow(Database& db, const CodeTableForm& p, bool varies) {
  db.Exec(
      "insert into IssueCodeTables (TableName, TableFriendlyName, TableFriendlyNameSingular, VariesByProject, "
      "TablePurpose, TableFieldName, NaturalSort, TableSortByFieldName, TableDefaultSortOrder) values (?, ?, ?, ?, ?, "
      "?, ?, ?, ?)",
      {ado::Param::Text(p.table, 40), ado::Param::Text(p.plural, 50), ado::Param::Text(p.singular, 50),
       ado::Param::Bool(varies), ado::Param::Text(p.purpose, 200), ado::Param::Text(p.valueColumn, 50),
       ado::Param::Bool(!p.SortColumn()), ado::Param::Text(p.SortBy(p.table), 100),
       ado::Param::Text(p.sortOrder, 10)});
}

}  // namespace

bool CreateCodeTable(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "CreateCodeTable", [&] {
    const CodeTableForm p = ReadForm(PostedFields(formData, "CreateCodeTable"));
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    if (std::string problem = CheckCreate(p); !problem.empty()) Refuse(problem);
    if (!IsCodeTable(p.table)) Refuse(NotACodeTable(p.table));
    const bool varies = EqualsNoCase(p.variesByProject, "on");
    Database::Transaction tx(db);
    auto write = [&] {
      InsertCatalogueRow(db, p, varies);
      ddl::CreateTable(db.Connection(), Shape(p, varies));
      db.Exec(SeedSql(p, varies));
      tx.Commit();
    };
    WriteStep(db, write, [&](const automation::LastError& e) -> std::string {
      if (db.FirstError().nativeError == ddl::kObjectExists)
        return "A database table named '" + p.table + "' already exists. You must choose another name.";
      return DuplicateFailure(db, e, "The code table '" + p.table + "' already exists.");
    });
    return true;
  });
}

namespace {

// The DDL of an update: the value column renamed (or only its case stored), the sort column added
// (every value sort order 0) or dropped.
void ChangeShape(Database& db, const EditedCodeTable& t, const CodeTableForm& p) {
  if (!EqualsNoCase(p.valueColumn, t.valueColumn))
    ddl::RenameColumn(db.Connection(), t.table, t.valueColumn, p.valueColumn);
  if (!p.SortColumn() && !t.naturalSort) {
    ddl::DropColumn(db.Connection(), t.table, "SortOrder");
  } else if (p.SortColumn() && t.naturalSort) {
    ddl::AddColumn(db.Connection(), t.table, ddl::NotNull("SortOrder", "INTEGER", "0"));
  }
}

}  // namespace

bool UpdateCodeTable(Database& db, const std::string& userId, RecordsetPtr rsCodeTable,
                     std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateCodeTable";
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& rs = HeldRows(rsCodeTable, "IssueCodeTables", kMethod);
    const CodeTableForm p = ReadForm(PostedFields(formData, kMethod));
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    if (std::string problem = CheckDescription(p); !problem.empty()) Refuse(problem);
    if (rs.RecordCount() > 0) rs.MoveFirst();
    EditedCodeTable t{rs.Value("TableName").ToString(), rs.Value("TableFieldName").ToString(), "",
                rs.Value("VariesByProject").ToBool(), rs.Value("NaturalSort").ToBool()};
    if (!IsCodeTable(t.table)) Refuse(NotACodeTable(t.table));
    RequireSqlName(t.table, 40, kMethod);
    RequireSqlName(t.valueColumn, 50, kMethod);
    // A column that has such a name already keeps it.
    if (!EqualsNoCase(p.valueColumn, t.valueColumn) && IsReservedSqlName(p.valueColumn)) Refuse(kReservedValueColumn);

    rs.SetValue("TableFriendlyName", Variant(p.plural));
    rs.SetValue("TableFriendlyNameSingular", Variant(p.singular));
    rs.SetValue("TablePurpose", Variant(p.purpose));
    rs.SetValue("TableDefaultSortOrder", Variant(p.sortOrder));
    rs.SetValue("NaturalSort", Variant(!p.SortColumn()));
    rs.SetValue("TableFieldName", Variant(p.valueColumn));
    rs.SetValue("TableSortByFieldName", Variant(p.SortBy(t.table)));
    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          ChangeShape(db, t, p);
          db.WriteBack(rs);
          tx.Commit();
        },
        "Another session has updated the code table information. You must cancel these changes.");
    return true;
  });
}

bool DeleteCodeTable(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "DeleteCodeTable", [&] {
    const std::vector<std::string> checked =
        PostedKeys(PostedFields(formData, "DeleteCodeTable"), "chkTable", "table name", kCodeTableNameLimit);
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    Database::Transaction tx(db);
    for (const std::string& name : checked) {
      if (!IsCodeTable(name)) Refuse(NotACodeTable(name));
      std::optional<EditedCodeTable> t = FindCodeTable(db, name);
      if (!t) Refuse("The code table '" + name + "' does not exist.");
      if (EqualsNoCase(t->table, "Resolutions") || EqualsNoCase(t->table, "StatusCodes"))
        Refuse("The code table '" + name + "' is built in and cannot be deleted.");
      auto drop = [&] {
        db.Exec("delete from IssueCodeTables where IssueCodeTables.TableName= ?",
                {ado::Param::Text(t->table, 50, "TableName")});
        schema::ddl::DropTable(db.Connection(), t->table);
      };
      WriteStep(db, drop, [&](const automation::LastError& e) -> std::string {
        // The layer's refusal of a table in use (&H80040E14, native 3726).
        if (db.FirstError().number == ado::err::kCommandFailed &&
            db.FirstError().nativeError == ddl::kTableReferenced)
          return "The code table '" + name + "' is used by at least one custom field and cannot be deleted.";
        return db.UnexpectedReport(e);
      });
    }
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("CreateCodeTable", &CreateCodeTable);
  c.Method("UpdateCodeTable", &UpdateCodeTable);
  c.Method("DeleteCodeTable", &DeleteCodeTable);
});

}  // namespace

}  // namespace brisquel
