// CreateCustomField, UpdateCustomField and DeleteCustomField. A custom field is a row of
// IssueFields and, unless it is a comment log, a column of Issues with its default DF_Issues_<name>
// and, for a list, the trigger key fk_<table>_<name>; the row and the DDL (through the run-time DDL
// layer) are written in one transaction. All fields together stay within 7,000 characters of row.
#include "automation/text.h"
#include "configuration/code_table_writers.h"
#include "configuration/issue_form.h"
#include "core/buffer.h"
#include "core/conversions.h"
#include "core/writer.h"
#include "schema/ddl.h"
#include "schema/text_search.h"

namespace brisquel {

using automation::Variant;
using codetables::kClass;

namespace {

namespace ddl = schema::ddl;

using automation::EqualsNoCase;

constexpr int32_t kRowBudget = 7000;

struct FieldForm {
  std::string name, caption, description, tableName, type, numLines, maxLength, textLog, customTable;
  int16_t lines = 0, size = 0;
  bool TextKind() const { return EqualsNoCase(type, "1"); }
  bool Log() const { return EqualsNoCase(textLog, "on"); }
};

FieldForm ReadForm(const FormFields& f) {
  return {PostedText(f, "FieldName"), PostedText(f, "FieldFriendlyName"), PostedText(f, "TooltipForFilter"),
          PostedText(f, "TableName"), f.Text("FieldType"), PostedText(f, "NumLines"), PostedText(f, "TextMaxLength"),
          f.Text("TextLog"), f.Text("CustomTable")};
}

void CheckName(const std::string& name) {
  if (CharLength(name) > 20) Refuse("Field name cannot be longer than 20 characters.");
  if (name.empty()) Refuse("Field name cannot be blank.");
  // The column's name in every statement: none that SQL or SQLite keeps for itself.
  if (EqualsNoCase(name, "rsIssue") || EqualsNoCase(name, "PostBackReason") ||
      (name.size() >= 4 && EqualsNoCase(name.substr(0, 4), "inq_")) || IsReservedSqlName(name))
    Refuse("Field name is reserved, please choose another name.");
  if (!FollowsNameRule(name))
    Refuse("Field name must begin with a letter, and only contain letters, digits or underscores.");
}

void CheckCaption(Database& db, const FieldForm& p, const std::string& self) {
  if (CharLength(p.caption) > 50) Refuse("Field friendly name cannot be longer than 50 characters.");
  if (p.caption.empty()) Refuse("Field friendly name cannot be blank.");
  std::optional<int32_t> n =
      self.empty() ? db.One<int32_t>("select count(*) from IssueFields where FieldFriendlyName = ?",
                                     {ado::Param::Text(p.caption, 50)})
                   : db.One<int32_t>("select count(*) from IssueFields where FieldFriendlyName = ? and FieldName <> ?",
                                     {ado::Param::Text(p.caption, 50), ado::Param::Text(self, 20)});
  if (n.value_or(0) > 0) Refuse("Field friendly name must be unique.");
  if (CharLength(p.description) > 200) Refuse("Description cannot be longer than 200 characters.");
}

// The six checks of lines and size; `withLog` adds the check of the log switch.
void CheckText(FieldForm& p, bool withLog) {
  if (p.numLines.empty()) Refuse("Number of lines cannot be blank.");
  if (!CnvToInt(p.numLines, p.lines)) Refuse("Number of lines must be an integer number.");
  if (p.lines < 1 || p.lines > 10) Refuse("Number of lines must be between 1 and 10 (inclusive).");
  if (p.maxLength.empty()) Refuse("Maximum size cannot be blank.");
  if (!CnvToInt(p.maxLength, p.size)) Refuse("Maximum size must be an integer number.");
  if (p.size < 1 || p.size > 4000) Refuse("Maximum size must be between 1 and 4,000 (inclusive).");
  if (withLog && !p.textLog.empty() && !p.Log()) Refuse("Invalid value for keep a log of entries was specified.");
}

int32_t RecordLength(Database& db) {
  return db
      .One<int32_t>("select sum(case Representation when 'text' then TextMaxLength when 'multiline' then TextMaxLength "
                    "when 'combo' then 50 when 'checkbox' then 1 when 'comments' then 0 end) as RecordLength "
                    "from IssueFields")
      .value_or(0);
}

std::string Available(int32_t left) {
  if (left >= 2) return "There are only " + std::to_string(left) + " characters available.";
  if (left == 1) return "There is only 1 character available.";
  return "There is no remaining space available.";
}

struct Kind {
  std::string representation, type, defaultSql;
  int32_t size = 0, filterType = 0;
  std::optional<codetables::EditedCodeTable> list;
};

Kind ChooseKind(Database& db, const FieldForm& p) {
  if (p.TextKind()) {
    if (p.Log()) return {"comments", "", "", 0, 5, {}};
    return {p.lines < 2 ? "text" : "multiline", "VARCHAR(" + std::to_string(p.size) + ")", "''", p.size, 0, {}};
  }
  if (EqualsNoCase(p.type, "3")) return {"checkbox", "BIT", "0", 1, 1, {}};
  if (p.customTable.empty()) Refuse("List entry data type secified but a custom code table was not specified.");
  if (CharLength(p.customTable) > 50) Refuse("Custom code table name cannot be longer than 50 characters.");
  std::optional<codetables::EditedCodeTable> t = codetables::FindCodeTable(db, p.customTable);
  if (!t) Refuse("Unknown custom code table.");
  return {"combo", "VARCHAR(50)", "''", 50, t->variesByProject ? 6 : 4, t};
}

void InsertField(Database& db, const FieldForm& p, const Kind& k) {
  db.Exec("insert into IssueFields (FieldName, FieldFriendlyName, TooltipForFilter, Representation, NumLines, "
          "TextMaxLength, TableName, DataEntryField, FilterFieldName, FilterFqFieldName, FilterFieldType) values "
          "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
          {ado::Param::Text(p.name, 20), ado::Param::Text(p.caption, 50), ado::Param::Text(p.description, 200),
           ado::Param::Text(k.representation, 20), ado::Param::Long(int32_t{p.lines}),
           ado::Param::Long(int32_t{p.size}), ado::Param::Text(k.list ? k.list->table : std::string(), 50),
           ado::Param::Bool(true), ado::Param::Text(p.name, 20), ado::Param::Text("Issues." + p.name, 50),
           ado::Param::Long(k.filterType)});
}

void AddColumn(Database& db, const FieldForm& p, const Kind& k) {
  if (k.representation == "comments") return;
  ddl::AddColumn(db.Connection(), "Issues", ddl::NotNull(p.name, k.type, k.defaultSql, "DF_Issues_" + p.name));
  // A text field gets its index of the word search.
  if (k.representation == "text" || k.representation == "multiline")
    schema::textsearch::FollowTextFields(db.Connection());
  if (!k.list) return;
  const codetables::EditedCodeTable& t = *k.list;
  schema::ForeignKey key{"fk_" + t.table + "_" + p.name, "Issues", {p.name}, t.table, {t.valueColumn}};
  if (t.variesByProject) {
    key.columns.insert(key.columns.begin(), "ProjectId");
    key.referencedColumns.insert(key.referencedColumns.begin(), "ProjectId");
  }
  ddl::AddForeignKey(db.Connection(), key);
}

}  // namespace

bool CreateCustomField(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "CreateCustomField", [&] {
    FieldForm p = ReadForm(PostedFields(formData, "CreateCustomField"));
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    CheckName(p.name);
    CheckCaption(db, p, "");
    if (!EqualsNoCase(p.type, "1") && !EqualsNoCase(p.type, "2") && !EqualsNoCase(p.type, "3"))
      Refuse("Data type/representation must be 1, 2 or 3.");
    if (p.TextKind()) CheckText(p, true);
    const Kind k = ChooseKind(db, p);
    if (k.representation != "comments") {
      const int32_t length = RecordLength(db);
      if (length + k.size > kRowBudget)
        Refuse("The field size, " + std::to_string(k.size) + ", is to large to add to the issues table. " +
               Available(kRowBudget - length));
    }
    Database::Transaction tx(db);
    auto write = [&] {
      InsertField(db, p, k);
      AddColumn(db, p, k);
      tx.Commit();
    };
    WriteStep(db, write, [&](const automation::LastError& e) -> std::string {
      if (db.FirstError().nativeError == ddl::kObjectExists)
        return "A database field with the same name already exists. You must choose another name.";
      return DuplicateFailure(db, e, "The custom field '" + p.name + "' already exists.");
    });
    return true;
  });
}

namespace {

// The stored field, as the handed-back recordset holds it.
struct StoredField {
  std::string name, representation;
  int32_t size = 0;
  bool TextKind() const {
    return EqualsNoCase(representation, "text") || EqualsNoCase(representation, "multiline") ||
           EqualsNoCase(representation, "comments");
  }
  bool HasColumn() const { return TextKind() && !EqualsNoCase(representation, "comments"); }
};

void Resize(Database& db, const StoredField& s, int32_t size) {
  codetables::RequireSqlName(s.name, 20, "UpdateCustomField");
  const std::string column = ado::QuoteIdentifier(s.name);
  if (size < s.size)
    db.Exec("update Issues set " + column + " = substr(" + column + ", 1, " + std::to_string(size) + ")");
  ddl::SetColumnWidth(db.Connection(), "Issues", s.name, size);
}

}  // namespace

bool UpdateCustomField(Database& db, const std::string& userId, RecordsetPtr rsField,
                       std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateCustomField";
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& rs = HeldRows(rsField, "IssueFields", kMethod);
    FieldForm p = ReadForm(PostedFields(formData, kMethod));
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    if (rs.RecordCount() > 0) rs.MoveFirst();
    const StoredField s{rs.Value("FieldName").ToString(), rs.Value("Representation").ToString(),
                        rs.Value("TextMaxLength").ToLong()};
    CheckCaption(db, p, s.name);
    // The size follows the stored kind: only the text kinds have one, only text columns change.
    const bool sized = p.TextKind() && s.TextKind();
    if (sized) CheckText(p, false);
    if (sized && s.HasColumn()) {
      const int32_t length = RecordLength(db);
      if (length - s.size + p.size > kRowBudget)
        Refuse("The field size is to large for the issues table. " + Available(kRowBudget - length));
    }
    rs.SetValue("FieldFriendlyName", Variant(p.caption));
    rs.SetValue("TooltipForFilter", Variant(p.description));
    if (sized) {
      rs.SetValue("TextMaxLength", Variant(int32_t{p.size}));
      rs.SetValue("NumLines", Variant(int32_t{p.lines}));
    }
    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          db.WriteBack(rs);
          if (sized && s.HasColumn() && p.size != s.size) Resize(db, s, p.size);
          tx.Commit();
        },
        "Another user has changed this field. You must cancel your changes.");
    return true;
  });
}

namespace {

bool BuiltIn(const std::string& name) {
  for (const char* f : {"", "IssueId", "DateOpened", "DateClosed", "DateLastUpdated", "AssignedToUser",
                        "ResolutionCode", "StatusCode", "CreatedByUserId", "Summary", "PriorityCode"})
    if (EqualsNoCase(name, f)) return true;
  return false;
}

// Every reference to the field by name: layout cells (and layouts left without any), entry cells,
// required-field rules, notification rules addressed by the field, then its catalogue row.
void DeleteReferences(Database& db, const std::string& name) {
  const ado::Params p{ado::Param::Text(name, 50, "FieldName")};
  const std::string emptyLayouts =
      "delete from SummaryLayouts where not exists(select * from SummaryLayoutFields where "
      "SummaryLayoutFields.UserId = SummaryLayouts.UserId and SummaryLayoutFields.LayoutName = "
      "SummaryLayouts.LayoutName)";
  db.Exec("delete from SummaryLayoutFields where SummaryLayoutFields.FieldName = ?; " + emptyLayouts, p);
  db.Exec("update DataEntryLayoutFields set FieldName = '' where FieldName = ?", p);
  db.Exec("delete from WorkflowStateValidations where WorkflowStateValidations.FieldName = ?; " + emptyLayouts, p);
  db.Exec("delete from EMailNotificationRules where RecipientType = 4 and RecipientAddress = ?", p);
  db.Exec("delete from IssueFields where IssueFields.FieldName = ?", p);
}

void DeleteField(Database& db, const std::string& name) {
  if (EqualsNoCase(name, "ProjectCode")) Refuse("The project field cannot be deleted.");
  if (BuiltIn(std::string(TrimSpaces(name)))) Refuse("The field '" + name + "' is built in and cannot be deleted.");
  std::optional<StoredField> s;
  std::string table;
  db.Each("select FieldName, Representation, TableName from IssueFields where FieldName = ?",
          {ado::Param::Text(name, 20)}, [&](const sql::Row& r) {
            s = StoredField{r.Text(0), r.Text(1), 0};
            table = r.Text(2);
          });
  // Gone already (another administrator's delete): the list is out of date, not broken.
  if (!s) Refuse("The issue field '" + name + "' does not exist.");
  WriteStep(db, [&] { DeleteReferences(db, s->name); });
  if (EqualsNoCase(s->representation, "comments")) {
    db.Exec("delete from IssueComments where IssueComments.FieldName = ?", {ado::Param::Text(s->name, 20)});
    return;
  }
  codetables::RequireSqlName(s->name, 20, "DeleteCustomField");
  // The field's index of the word search and its triggers go before the column can.
  schema::textsearch::FollowTextFields(db.Connection());
  if (!table.empty())
    WriteStep(db, [&] { ddl::DropConstraint(db.Connection(), "Issues", "fk_" + table + "_" + s->name); });
  try {
    ddl::DropConstraint(db.Connection(), "Issues", "DF_Issues_" + s->name);
  } catch (const automation::ComError&) {
    // A field without a default goes on to its column; anything else (the rebuild meeting a full
    // disk) stops the removal with its own reason.
    if (db.FirstError().nativeError != ddl::kNotAConstraint) throw;
  }
  ddl::DropColumn(db.Connection(), "Issues", s->name);
}

}  // namespace

bool DeleteCustomField(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "DeleteCustomField", [&] {
    const std::vector<std::string> checked =
        PostedKeys(PostedFields(formData, "DeleteCustomField"), "chkField", "field name", 20);
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    Database::Transaction tx(db);
    for (const std::string& name : checked) DeleteField(db, name);
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("CreateCustomField", &CreateCustomField);
  c.Method("UpdateCustomField", &UpdateCustomField);
  c.Method("DeleteCustomField", &DeleteCustomField);
});

}  // namespace

}  // namespace brisquel
