// CreateCodeTableValue, UpdateCodeTableValue and DeleteCodeTableValue. Issues, their history and
// the workflow hold codes as text, so a rename rewrites every place holding the old text: the new
// row goes in first and the old one goes last, so the trigger keys from Issues hold at every step,
// and the value's recordset is written back last, on its row version, so a concurrent change undoes
// the whole rename.
#include "automation/text.h"
#include "configuration/code_table_writers.h"
#include "core/buffer.h"
#include "core/conversions.h"
#include "core/writer.h"

namespace brisquel {

using namespace codetables;
using automation::Variant;

namespace {

using automation::EqualsNoCase;

constexpr const char* kOpenStatus =
    "The status 'Open' marks open issues and cannot be renamed or deleted.";

struct ValueForm {
  std::string code, table, sortOrder, projectId;
  int32_t sort = 0, project = 0;
};

// The value checks both writers share after the catalogue lookup: the project id of a per-project
// table, the acting user's right, and what the built-in lists demand of a status.
void CheckValueFor(Database& db, const std::string& userId, const EditedCodeTable& t, ValueForm& v) {
  if (t.variesByProject) {
    if (v.projectId.empty()) Refuse("Blank project id.");
    if (!CnvToLong(v.projectId, v.project)) Refuse("Invalid project id: " + v.projectId);
  }
  if (!IsCodeTable(t.table)) Refuse(NotACodeTable(t.table));
  if (!UserIsSiteAdmin(db, userId) && !(t.variesByProject && UserIsProjectAdmin(db, userId, v.project)))
    Refuse(kPermissionDenied);
  // Issues carry status codes as 6 characters: a longer status could never be used.
  if (EqualsNoCase(t.table, "StatusCodes") && CharLength(v.code) > 6)
    Refuse("Value cannot be longer than 6 characters.");
}

EditedCodeTable RequireTable(Database& db, const std::string& table) {
  std::optional<EditedCodeTable> t = FindCodeTable(db, table);
  if (!t) Refuse("Unknown custom table: " + table);
  return *t;
}

void InsertValue(Database& db, const EditedCodeTable& t, const std::string& code, int32_t sort, int32_t project) {
  std::string sql = "insert into " + t.QuotedTable() + "(";
  ado::Params params;
  if (t.variesByProject) {
    sql += "ProjectId, ";
    params.push_back(ado::Param::Long(project));
  }
  sql += t.QuotedValueColumn();
  params.push_back(ado::Param::Text(code, 50));
  if (!t.naturalSort) {
    sql += ", SortOrder";
    params.push_back(ado::Param::Long(sort));
  }
  sql += params.size() == 1 ? ") values (?)" : params.size() == 2 ? ") values (?, ?)" : ") values (?, ?, ?)";
  db.Exec(sql, params);
}

std::string ValueFailure(Database& db, const automation::LastError& e, const std::string& code) {
  if (db.FirstError().nativeError == ado::native::kDuplicateKey) return "The value '" + code + "' already exists.";
  return WriteFailure(db, e, "Another user has changed this value. You must cancel your changes.");
}

}  // namespace

bool CreateCodeTableValue(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "CreateCodeTableValue", [&] {
    const FormFields& f = PostedFields(formData, "CreateCodeTableValue");
    ValueForm v{f.Text("CodeValue"), PostedText(f, "TableName"), PostedText(f, "SortOrder"),
                PostedText(f, "ProjectId")};
    if (CharLength(v.code) > 50) Refuse("Value cannot be longer than 50 characters.");
    if (v.table.empty()) Refuse("Table cannot be blank.");
    RequireKeyLength(v.table, "table", 50);
    const EditedCodeTable t = RequireTable(db, v.table);
    if (!t.naturalSort && !v.sortOrder.empty() && !CnvToLong(v.sortOrder, v.sort)) Refuse("Sort order must be numeric.");
    CheckValueFor(db, userId, t, v);
    WriteStep(
        db, [&] { InsertValue(db, t, v.code, v.sort, v.project); },
        [&](const automation::LastError& e) { return ValueFailure(db, e, v.code); });
    return true;
  });
}

namespace {

// Every Issues column that holds codes of the table (of the project, for a per-project table).
void RewriteIssues(Database& db, const EditedCodeTable& t, const std::string& code, const std::string& old,
                   int32_t project) {
  std::vector<std::string> fields;
  db.Each("select FieldName from IssueFields where IssueFields.TableName = ?", {ado::Param::Text(t.table, 50)},
          [&](const sql::Row& r) { fields.push_back(r.Text(0)); });
  for (const std::string& field : fields) {
    RequireSqlName(field, 20, "UpdateCodeTableValue");
    const std::string column = ado::QuoteIdentifier(field);
    std::string sql = "update Issues set " + column + " = ? where Issues." + column + " = ? ";
    ado::Params params{ado::Param::Text(code, 50), ado::Param::Text(old, 50)};
    if (t.variesByProject) {
      sql += "and Issues.ProjectId = ?";
      params.push_back(ado::Param::Long(project));
    }
    db.Exec(sql, params);
  }
}

// Resolutions and status codes are also held by the workflow states (with their names, for
// ordinary states) and by both history columns.
void RewriteWorkflow(Database& db, const EditedCodeTable& t, const std::string& code, const std::string& old) {
  auto c = ado::Param::Text(code, 50), o = ado::Param::Text(old, 50);
  if (EqualsNoCase(t.table, "Resolutions")) {
    db.Exec("update WorkflowStates set ResolutionCode = ?, StateName = case when StateType = 0 then ? || "
            "case StatusCode when 'Open' then '' else ' - Closed' end else StateName end "
            "where WorkflowStates.ResolutionCode = ? ; "
            "update IssueHistory set OldResolutionCode = ? where OldResolutionCode = ? ; "
            "update IssueHistory set NewResolutionCode = ? where NewResolutionCode = ? ",
            {c, c, o, c, o, c, o});
  } else if (EqualsNoCase(t.table, "StatusCodes")) {
    db.Exec("update WorkflowStates set StatusCode = ?, StateName = case when StateType = 0 then ResolutionCode || "
            "case when ? = 'Open' then '' else ' - Closed' end else StateName end "
            "where WorkflowStates.StatusCode = ? ; "
            "update IssueHistory set OldStatusCode = ? where OldStatusCode = ? ; "
            "update IssueHistory set NewStatusCode = ? where NewStatusCode = ? ",
            {c, c, o, c, o, c, o});
  }
}

void Rename(Database& db, ado::Recordset& rs, const EditedCodeTable& t, const ValueForm& v) {
  const std::string old = rs.Value(t.valueColumn).ToString();
  if (v.code == old) {
    if (!t.naturalSort) rs.SetValue("SortOrder", Variant(v.sort));
    db.WriteBack(rs);
    return;
  }
  const bool caseOnly = EqualsNoCase(v.code, old);
  if (caseOnly) {
    rs.SetValue(t.valueColumn, Variant(v.code));
  } else {
    InsertValue(db, t, v.code, v.sort, v.project);
  }
  // After a change of case the rows still match without regard to case.
  const std::string current = rs.Value(t.valueColumn).ToString();
  RewriteIssues(db, t, v.code, current, v.project);
  RewriteWorkflow(db, t, v.code, current);
  if (!caseOnly) rs.Delete();
  db.WriteBack(rs);
}

}  // namespace

bool UpdateCodeTableValue(Database& db, const std::string& userId, RecordsetPtr rsValue,
                          std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateCodeTableValue";
  return Writer(db, kClass, kMethod, [&] {
    const FormFields& f = PostedFields(formData, kMethod);
    ValueForm v{f.Text("CodeValue"), f.Text("TableName"), PostedText(f, "SortOrder"), PostedText(f, "ProjectId")};
    if (CharLength(v.code) > 50) Refuse("Value cannot be longer than 50 characters.");
    if (!v.sortOrder.empty() && !CnvToLong(v.sortOrder, v.sort)) Refuse("Sort order must be an integer number.");
    RequireKeyLength(v.table, "table", 50);
    const EditedCodeTable t = RequireTable(db, v.table);
    // The value's own table: a posted name of another table is the caller's mistake.
    ado::Recordset& rs = HeldRows(rsValue, t.table, kMethod);
    if (rs.RecordCount() == 0) ThrowInputFault(kClass, kMethod, "The recordset holds no value.");
    if (rs.IsEOF() || rs.IsBOF()) rs.MoveFirst();
    CheckValueFor(db, userId, t, v);
    const std::string old = rs.Value(t.valueColumn).ToString();
    if (EqualsNoCase(t.table, "StatusCodes") && EqualsNoCase(old, "Open") && v.code != old) Refuse(kOpenStatus);
    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          Rename(db, rs, t, v);
          tx.Commit();
        },
        [&](const automation::LastError& e) { return ValueFailure(db, e, v.code); });
    return true;
  });
}

namespace {

// The states of the resolution with the actions into and out of them, their points, assignments,
// notification rules, validations, groups and team leads.
void DeleteResolutionWorkflow(Database& db, const std::string& code) {
  const std::string states = "(select StateId from WorkflowStates where WorkflowStates.ResolutionCode = ?)";
  const std::string actions = "(select ActionId from WorkflowActions where FromStateId in " + states +
                              " or ToStateId in " + states + ")";
  const std::string sql =
      "delete from WorkflowActionPts where ActionId in " + actions + " ; " +
      "delete from WorkflowActionAssignments where ActionId in " + actions + " ; " +
      "delete from EMailNotificationRules where NotificationEventType = 4 and ActionId in " + actions + " ; " +
      "delete from WorkflowActions where FromStateId in " + states + " or ToStateId in " + states + " ; " +
      "delete from WorkflowStateValidations where StateId in " + states + " ; " +
      "delete from WorkflowStateGroups where StateId in " + states + " ; " +
      "delete from WorkflowStateTeamLeads where StateId in " + states + " ; " +
      "delete from WorkflowStates where WorkflowStates.ResolutionCode = ? ";
  ado::Params params;
  for (char ch : sql)
    if (ch == '?') params.push_back(ado::Param::Text(code, 50, "Resolution" + std::to_string(params.size() + 1)));
  db.Exec(sql, params);
}

void DeleteValue(Database& db, const EditedCodeTable& t, const std::string& code, int32_t projectId) {
  const bool resolutions = EqualsNoCase(t.table, "Resolutions");
  if (EqualsNoCase(t.table, "StatusCodes") && EqualsNoCase(code, "Open")) Refuse(kOpenStatus);
  const std::string shown = code.empty() ? "<Blank>" : code;
  const std::string inUse =
      resolutions ? "The code '" + shown +
                        "' has been used by an issue, or is currently being used, and cannot be deleted. Codes "
                        "can be renamed."
                  : "The code '" + shown +
                        "' is used by at least one issue and cannot be deleted. Codes can be renamed.";
  if (resolutions) {
    // A workflow's issue-create state holds the blank resolution: without it no issue could be
    // created, so a resolution that such a state holds stays.
    if (db.Exists("select StateId from WorkflowStates where ResolutionCode = ? and StateType <> 0",
                  {ado::Param::Text(code, 50)}))
      Refuse(inUse);
    DeleteResolutionWorkflow(db, code);
  }
  std::string sql = "delete from " + t.QuotedTable() + " where " + t.QuotedValueColumn() + " = ? ";
  ado::Params params{ado::Param::Text(code, 50, "CodeValue")};
  if (t.variesByProject) {
    sql += " and ProjectId = ?";
    params.push_back(ado::Param::Long(projectId, "ProjectId"));
  }
  WriteStep(db, [&] { db.Exec(sql, params); },
            [&](const automation::LastError& e) { return ReferenceFailure(db, e, inUse); });
}

// A checked box's value, URL-decoded. An empty value is no entry, so the blank code is posted as
// blanks: a value of blanks only stands for the blank code.
std::vector<std::string> CheckedCodes(const FormFields& f) {
  std::vector<std::string> codes = PostedKeys(f, "chkCode", "value", 50);
  for (std::string& code : codes)
    if (code.find_first_not_of(' ') == std::string::npos) code.clear();
  return codes;
}

}  // namespace

bool DeleteCodeTableValue(Database& db, const std::string& userId, const std::string& tableName, int32_t projectId,
                          std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "DeleteCodeTableValue";
  return Writer(db, kClass, kMethod, [&] {
    const std::vector<std::string> checked = CheckedCodes(PostedFields(formData, kMethod));
    std::optional<EditedCodeTable> t = FindCodeTable(db, tableName);
    if (!t) ThrowError(kClass, kMethod, "Unknown custom table: " + tableName);
    if (!IsCodeTable(t->table)) Refuse(NotACodeTable(t->table));
    if (!UserIsSiteAdmin(db, userId) && !(t->variesByProject && UserIsProjectAdmin(db, userId, projectId)))
      Refuse(kPermissionDenied);
    Database::Transaction tx(db);
    for (const std::string& code : checked) DeleteValue(db, *t, code, projectId);
    std::optional<int32_t> left =
        t->variesByProject ? db.One<int32_t>("select count(*) from " + t->QuotedTable() + " where ProjectId = ?",
                                             {ado::Param::Long(projectId)})
                           : db.One<int32_t>("select count(*) from " + t->QuotedTable());
    if (left.value_or(0) == 0) Refuse("At least one " + automation::LowerAscii(t->singular) + " is required.");
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("CreateCodeTableValue", &CreateCodeTableValue);
  c.Method("UpdateCodeTableValue", &UpdateCodeTableValue);
  c.Method("DeleteCodeTableValue", &DeleteCodeTableValue);
});

}  // namespace

}  // namespace brisquel
