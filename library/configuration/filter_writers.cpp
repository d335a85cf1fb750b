#include "configuration/filter_writers.h"

#include "automation/text.h"
#include "configuration/sql_helper.h"
#include "core/conversions.h"
#include "common/criteria.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/writer.h"

namespace brisquel {

using automation::Variant;
namespace criteria = tamsolo::criteria;

namespace {

constexpr std::string_view kClass = "Database";
constexpr int32_t kNameSize = 50;
constexpr int32_t kCriteriaSize = 4000;

// A filter as posted, checked: what the two criteria columns receive.
struct FilterPost {
  std::string name;
  bool advanced = false;
  std::string expression;
  std::string sql;
};

// One row of the issue-field catalogue a criterion may name; `valueColumn` is the column of its code
// table that holds the values (empty for none).
struct FilterFieldRow {
  std::string fieldName, valueColumn;
  criteria::FilterField field;
};

std::vector<FilterFieldRow> FilterFieldRows(Database& db) {
  std::vector<FilterFieldRow> rows;
  db.Each(
      "select IssueFields.FieldName, FilterFieldName, FilterFqFieldName, FieldFriendlyName, FilterFieldType, "
      "IssueCodeTables.TableFieldName from IssueFields "
      "left join IssueCodeTables on IssueFields.TableName = IssueCodeTables.TableName "
      "where FilterFieldName <> '' order by IssueFields.FieldName",
      {}, [&](const sql::Row& r) {
        FilterFieldRow row;
        row.fieldName = r.Text(0);
        row.field.name = r.Text(1);
        row.field.column = r.Text(2);
        row.field.caption = r.Text(3);
        row.field.type = r.Long(4);
        row.valueColumn = r.OptText("TableFieldName").value_or("");
        rows.push_back(std::move(row));
      });
  return rows;
}

// The fields a wizard criterion may name, from the issue-field catalogue.
criteria::FieldCatalogue IssueFieldCatalogue(Database& db) {
  criteria::FieldCatalogue catalogue;
  for (FilterFieldRow& row : FilterFieldRows(db))
    catalogue.push_back(std::make_shared<criteria::FilterField>(std::move(row.field)));
  return catalogue;
}

// The values of a list field in one project, as its combo box offers them.
std::vector<std::string> ComboValues(Database& db, const std::string& userId, int32_t projectId,
                                     const FilterFieldRow& row) {
  const bool projects = automation::EqualsNoCase(row.fieldName, "ProjectCode");
  std::vector<std::string> values;
  if (!projects && row.valueColumn.empty()) return values;
  auto rs = GetFieldComboValuesRs(db, userId, projectId, row.fieldName).ToObject();
  auto& list = dynamic_cast<ado::Recordset&>(*rs);
  for (; !list.IsEOF(); list.MoveNext())
    if (std::string v = list.Value(projects ? "ProjectCode" : row.valueColumn).ToText(); !v.empty())
      values.push_back(std::move(v));
  list.Close();
  return values;
}

// The value pairs of a code field: each value twice (the project field: the user's projects); of a
// per-project code: project code and value, for each of the user's projects.
void AppendPairs(Database& db, const std::string& userId, const FilterFieldRow& row, std::string& out) {
  auto pair = [&](const std::string& first, const std::string& second) { out += first + "\r\n" + second + "\r\n"; };
  if (row.field.type == criteria::kCode) {
    for (const std::string& v : ComboValues(db, userId, -1, row)) pair(v, v);
  } else {
    std::vector<std::pair<int32_t, std::string>> projects;
    EachUserProject(db, userId,
                    [&](const sql::Row& r) { projects.emplace_back(r.Long("ProjectId"), r.Text("ProjectCode")); });
    for (const auto& [id, code] : projects)
      for (const std::string& v : ComboValues(db, userId, id, row)) pair(code, v);
  }
  out += "\r\n";
}

// The SQL of a wizard filter, made here from its lines: the browser's own SQL text could say
// anything. A line that cannot become the SQL it claims to be is refused.
std::string WizardSql(Database& db, const std::string& expression) {
  criteria::ReadResult read = criteria::ReadFilterExpression(expression, IssueFieldCatalogue(db));
  if (read.hasUnknownField) Refuse("Invalid criteria (unknown field name '" + read.unknownField + "').");
  if (read.criteria.empty()) Refuse("Criteria cannot be blank.");
  if (std::string why = criteria::CriteriaProblem(read.criteria); !why.empty())
    Refuse("Invalid criteria (" + why + ").");
  return criteria::FormatFqFilterExpression(read.criteria);
}

// The connection string the criteria check opens its own connection with: that of the held
// connection when there is one (also when it was adopted), else the one assigned.
std::string CheckConnectionString(Database& db) {
  std::shared_ptr<ado::Connection> held = db.GetActiveConnection();
  if (held && held->State() != ado::adStateClosed) return held->ConnectionString();
  return db.GetConnectionString();
}

FilterPost ReadFilter(Database& db, const FormFields& f, size_t limit) {
  FilterPost p;
  p.name = PostedText(f, "FilterName");
  if (automation::CharLength(p.name) > 50) Refuse("Name cannot be longer than 50 characters.");
  if (p.name.empty()) Refuse("Name cannot be blank.");
  p.advanced = PostedOn(f, "AdvancedFilter");
  const std::string tooLong = "Criteria cannot be longer than " + std::to_string(limit) + " characters.";
  if (p.advanced) {
    p.sql = PostedText(f, "fqFilterExpression");
    if (automation::CharLength(p.sql) > limit) Refuse(tooLong);
    if (p.sql.empty()) Refuse("Criteria cannot be blank.");
    SQLHelper check;
    if (std::string message = check.SimpleParseFilter(p.sql, CheckConnectionString(db)); !message.empty())
      Refuse(message);
    p.expression = p.sql;
    return p;
  }
  p.expression = PostedText(f, "FilterExpression");
  if (automation::CharLength(p.expression) > limit) Refuse(tooLong);
  if (p.expression.empty()) Refuse("Criteria cannot be blank.");
  p.sql = WizardSql(db, p.expression);
  return p;
}

std::string Exists(const std::string& name) { return "The filter '" + name + "' already exists."; }

// The stored filter's owner as read; only his own row may be written through his id.
void RequireOwnRow(ado::Recordset& rs, const std::string& userId) {
  if (rs.IsBOF() && rs.IsEOF()) ThrowInputFault(kClass, "UpdateFilter", "The recordset holds no filter.");
  rs.MoveFirst();
  Variant owner = rs.OriginalValue(rs.FieldIndex("UserId"));
  if (owner.IsNull() || !automation::EqualsNoCase(owner.ToString(), userId))
    ThrowInputFault(kClass, "UpdateFilter", "The recordset holds a filter of another user.");
}

}  // namespace

std::string GetFilterFieldsText(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetFilterFieldsText", [&] {
    std::string out;
    for (const FilterFieldRow& row : FilterFieldRows(db)) {
      const criteria::FilterField& f = row.field;
      out += f.name + "\r\n" + f.column + "\r\n" + f.caption + "\r\n" + std::to_string(f.type) + "\r\n";
      if (f.type == criteria::kCode || f.type == criteria::kProjectCode) AppendPairs(db, userId, row, out);
    }
    return out;
  });
}

bool CreateFilter(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "CreateFilter", [&] {
    const FilterPost p = ReadFilter(db, PostedFields(formData, "CreateFilter"), 3900);
    WriteStep(
        db,
        [&] {
          db.Exec(
              "insert into SummaryFilters (UserId, FilterName, AdvancedFilter, FilterExpression, fqFilterExpression) "
              "values (?, ?, ?, ?, ?)",
              {ado::Param::Text(userId, kNameSize), ado::Param::Text(p.name, kNameSize), ado::Param::Bool(p.advanced),
               ado::Param::Text(p.expression, kCriteriaSize), ado::Param::Text(p.sql, kCriteriaSize)});
        },
        [&](const automation::LastError& e) { return DuplicateFailure(db, e, Exists(p.name)); });
    return true;
  });
}

bool UpdateFilter(Database& db, const std::string& userId, std::shared_ptr<ado::Recordset> rsFilter,
                  std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "UpdateFilter", [&] {
    ado::Recordset& rs = HeldRows(rsFilter, "SummaryFilters", "UpdateFilter");
    RequireOwnRow(rs, userId);
    const FilterPost p = ReadFilter(db, PostedFields(formData, "UpdateFilter"), 4000);
    Database::Transaction tx(db);
    rs.SetValue("AdvancedFilter", Variant(p.advanced));
    rs.SetValue("FilterExpression", Variant(p.expression));
    rs.SetValue("fqFilterExpression", Variant(p.sql));
    rs.SetValue("FilterName", Variant(p.name));
    WriteStep(
        db, [&] { db.WriteBack(rs); },
        [&](const automation::LastError& e) {
          return db.IsConflict() ? "Another session has changed this filter. You must cancel your changes."
                                 : DuplicateFailure(db, e, Exists(p.name));
        });
    tx.Commit();
    return true;
  });
}

bool DeleteFilter(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  return Writer(db, kClass, "DeleteFilter", [&] {
    const std::vector<std::string> names =
        PostedKeys(PostedFields(formData, "DeleteFilter"), "chkFilter", "filter name", kNameSize);
    Database::Transaction tx(db);
    for (const std::string& name : names) {
      WriteStep(db, [&] {
        db.Exec("delete from SummaryFilters where UserId = ? and FilterName = ?",
                {ado::Param::Text(userId, kNameSize), ado::Param::Text(name, kNameSize, "FilterName")});
      });
    }
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetFilterFieldsText", &GetFilterFieldsText);
  c.Method("CreateFilter", &CreateFilter);
  c.Method("UpdateFilter", &UpdateFilter);
  c.Method("DeleteFilter", &DeleteFilter);
});

}  // namespace

}  // namespace brisquel
