#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

using automation::ComError;
using automation::Variant;
using Strings = std::vector<std::string>;

Strings Column(ado::Recordset& rs, std::string_view name) {
  Strings values;
  if (rs.IsEOF() && rs.IsBOF()) return values;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    Variant v = rs.Value(name);
    values.push_back(v.IsNull() ? "<null>" : v.ToString());
  }
  return values;
}

bool Has(const Strings& values, std::string_view v) { return std::find(values.begin(), values.end(), v) != values.end(); }

std::string SqlText(std::string_view s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}

template <class F>
ComError ErrorOf(F&& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return ComError();
}

class FormMetadataTest : public ::testing::Test {
 protected:
  std::filesystem::path file = sitedb::FreshSite(true);
  sitedb::Db seed{file};
  std::shared_ptr<Database> db = sitedb::Open(file);

  Strings Codes(const std::string& table, int32_t projectId) {
    auto rs = GetCodesRs(*db, "alice", table, projectId);
    auto catalogue = GetIssueCodeTableRs(*db, "", table);
    return Column(*rs, catalogue->Value("TableFieldName").ToString());
  }
  void AddOtherProject() {
    seed.Exec(
        "INSERT INTO Projects (ProjectId, ProjectCode, PublicAccessible) VALUES (2, 'Other', 0);"
        "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (2, 'bob'), (2, 'erin');"
        "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (2, ''), (2, 'Backend');"
        "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (2, '', 1), (2, '7.0', 2);");
  }
};

TEST_F(FormMetadataTest, FieldListsLeaveOutWhatTheyShould) {
  seed.Exec(
      "INSERT INTO IssueFields (FieldName, FieldFriendlyName, Representation, DataEntryField, FilterFieldType) "
      "VALUES ('Regression', 'Regression', 'checkbox', 1, 1);");

  Strings all = Column(*GetIssueFieldsRs(*db, "ignored"), "FieldName");
  EXPECT_EQ(all.size(), static_cast<size_t>(seed.Int("select count(*) from IssueFields")));
  EXPECT_EQ(Column(*GetIssueFieldsRs(*db, ""), "FieldFriendlyName"),
            seed.Rows("select FieldFriendlyName from IssueFields order by FieldFriendlyName"));

  Strings coded = Column(*GetIssueCodedFieldsRs(*db), "FieldName");
  EXPECT_TRUE(Has(coded, "PriorityCode") && Has(coded, "AssignedToUser") && Has(coded, "VerifiedInBuildCode"));
  EXPECT_FALSE(Has(coded, "ProjectCode") || Has(coded, "Summary") || Has(coded, "Comments") || Has(coded, ""));

  Strings entry = Column(*GetIssueDataEntryFieldsRs(*db), "FieldName");
  EXPECT_TRUE(Has(entry, "ProjectCode") && Has(entry, "Regression") && Has(entry, "Comments"));
  EXPECT_FALSE(Has(entry, "") || Has(entry, "AssignedToUser") || Has(entry, "IssueId"));

  Strings validation = Column(*GetIssueValidationFieldsRs(*db), "FieldName");
  EXPECT_TRUE(Has(validation, "Summary") && Has(validation, "ModuleCode"));
  EXPECT_FALSE(Has(validation, "ProjectCode") || Has(validation, "Regression") || Has(validation, "IssueId"));

  // The editor's list starts with the empty cell (its friendly name is blank).
  Strings editor = Column(*GetIssueDataEntryLayoutFieldsRs(*db), "FieldName");
  ASSERT_FALSE(editor.empty());
  EXPECT_EQ(editor.front(), "");
  EXPECT_EQ(editor.size(), entry.size() + 1);
}

TEST_F(FormMetadataTest, CodeTableCatalogue) {
  EXPECT_EQ(Column(*GetIssueCodeTablesRs(*db), "TableName"),
            (Strings{"Priorities", "ProjectBuilds", "ProjectModules", "Projects", "Resolutions", "Severities",
                     "StatusCodes"}));
  auto one = GetIssueCodeTableRs(*db, "nobody", "projectbuilds");
  EXPECT_EQ(Column(*one, "TableFieldName"), Strings{"BuildCode"});
  EXPECT_EQ(one->UpdateCriteria(), ado::adCriteriaTimeStamp);
  EXPECT_TRUE(GetIssueCodeTableRs(*db, "", "NoSuchTable")->IsEOF());
}

TEST_F(FormMetadataTest, RequiredFieldsOfAStateOnlyWhenOnAForm) {
  // Layout 2 carries AssignedToUser; CreatedByUserId is required but stands on no layout.
  seed.Exec(
      "INSERT INTO DataEntryLayouts (LayoutId, LayoutName, NumRows) VALUES (2, 'Triage', 1);"
      "INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) VALUES "
      "(2, 1, 1, 'AssignedToUser');"
      "INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES "
      "(2, 'AssignedToUser'), (2, 'CreatedByUserId'), (2, 'SeverityCode');");

  auto any = GetIssueValidationsRs(*db, "new", "OPEN");
  EXPECT_EQ(Column(*any, "FieldName"), (Strings{"AssignedToUser", "Summary", "SeverityCode"}));
  EXPECT_EQ(Column(*any, "ResolutionCode"), (Strings{"New", "New", "New"}));
  EXPECT_EQ(any->LockType(), ado::adLockReadOnly);

  auto entryForm = GetIssueValidationByResolutionRs(*db, "New", "open");
  EXPECT_EQ(Column(*entryForm, "FieldName"), (Strings{"Summary", "SeverityCode"}));
  EXPECT_EQ(entryForm->ActiveConnection(), nullptr);

  EXPECT_TRUE(GetIssueValidationsRs(*db, "Fixed", "Closed")->IsEOF());
  // Status codes on issues have at most 6 characters; a longer one is refused, never cut.
  EXPECT_TRUE(GetIssueValidationByResolutionRs(*db, "New", "Opened")->IsEOF());
  ComError e = ErrorOf([&] { GetIssueValidationsRs(*db, "New", "Pending"); });
  EXPECT_NE(e.number, 0);
  EXPECT_EQ(e.source.rfind("Brisquel.dll:Database.GetIssueValidationsRs", 0), 0u) << e.source;
}

TEST_F(FormMetadataTest, FieldWithItsListAndSortColumn) {
  auto priority = GetIssueFieldRs(*db, "prioritycode");
  EXPECT_EQ(priority->Value("FieldName").ToString(), "PriorityCode");
  EXPECT_EQ(priority->Value("TableFriendlyNameSingular").ToString(), "Priority");
  EXPECT_EQ(priority->Value("SortByFieldName").ToString(), "Priorities.SortOrder");
  EXPECT_EQ(GetIssueFieldRs(*db, "ModuleCode")->Value("SortByFieldName").ToString(), "Issues.ModuleCode");

  auto summary = GetIssueFieldRs(*db, "Summary");
  EXPECT_TRUE(summary->Value("TableFriendlyName").IsNull());
  EXPECT_TRUE(summary->Value("NaturalSort").IsNull());
  EXPECT_EQ(summary->Value("SortByFieldName").ToString(), "Issues.Summary");
  EXPECT_EQ(summary->Value("TextMaxLength").ToLong(), 255);

  EXPECT_TRUE(GetIssueFieldRs(*db, "NoSuchField")->IsEOF());
}

TEST_F(FormMetadataTest, CodesInListOrderWithTheBlankFirstInNaturalLists) {
  EXPECT_EQ(Codes("Priorities", 1), (Strings{"", "Urgent", "High", "Normal", "Low"}));
  // Ordered by SortOrder, the blank value has no place of its own.
  seed.Exec("UPDATE IssueCodeTables SET TableDefaultSortOrder = 'desc' WHERE TableName = 'Priorities'");
  EXPECT_EQ(Codes("Priorities", 1), (Strings{"Low", "Normal", "High", "Urgent", ""}));

  seed.Exec("INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, 'api')");
  EXPECT_EQ(Codes("ProjectModules", 1), (Strings{"", "api", "Core", "Documentation", "User interface"}));
  seed.Exec("UPDATE IssueCodeTables SET TableDefaultSortOrder = 'DESC' WHERE TableName = 'ProjectModules'");
  EXPECT_EQ(Codes("ProjectModules", 1), (Strings{"", "User interface", "Documentation", "Core", "api"}));

  auto rs = GetCodesRs(*db, "", "StatusCodes", 1);
  EXPECT_EQ(rs->LockType(), ado::adLockBatchOptimistic);
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
}

TEST_F(FormMetadataTest, PerProjectCodeTables) {
  AddOtherProject();
  EXPECT_EQ(Codes("ProjectModules", 2), (Strings{"", "Backend"}));
  EXPECT_EQ(Codes("ProjectBuilds", 1), (Strings{"", "1.0", "1.1", "2.0"}));
  EXPECT_EQ(Codes("ProjectBuilds", 2), (Strings{"", "7.0"}));
  EXPECT_TRUE(GetCodesRs(*db, "", "ProjectBuilds", 99)->IsEOF());
  // Shared lists ignore the project.
  EXPECT_EQ(Codes("Severities", 2), Codes("Severities", 99));

  EXPECT_EQ(Column(*GetCodeRs(*db, "", "ProjectModules", 2, "backend"), "ModuleCode"), Strings{"Backend"});
  EXPECT_TRUE(GetCodeRs(*db, "", "ProjectModules", 1, "Backend")->IsEOF());

  // The value row of a shared list, whatever the project, is the recordset its writer takes back.
  auto urgent = GetCodeRs(*db, "", "PRIORITIES", 77, "URGENT");
  ASSERT_FALSE(urgent->IsEOF());
  urgent->SetValue("SortOrder", Variant(9));
  db->WriteBack(*urgent);
  EXPECT_EQ(seed.Int("select SortOrder from Priorities where PriorityCode = 'Urgent'"), 9);
}

TEST_F(FormMetadataTest, CatalogueRowsThatBreakTheNamingRuleAreRefused) {
  struct Case {
    const char* column;
    const char* value;
  };
  const Case cases[] = {
      {"TableFieldName", "PriorityCode = '' or 1 = 1 --"},
      {"TableFieldName", "PriorityCode]"},
      {"TableFieldName", "1Code"},
      {"TableSortByFieldName", "SortOrder; delete from Issues"},
      {"TableSortByFieldName", "Priorities.Sort.Order"},
      {"TableSortByFieldName", "(select Password from Users)"},
      {"TableSortByFieldName", ""},
      {"TableDefaultSortOrder", "ASC, (select Password from Users)"},
      {"TableDefaultSortOrder", ""},
  };
  for (const Case& c : cases) {
    std::string original = seed.Text(std::string("select ") + c.column + " from IssueCodeTables where TableName = 'Priorities'");
    seed.Exec(std::string("UPDATE IssueCodeTables SET ") + c.column + " = " + SqlText(c.value) +
              " WHERE TableName = 'Priorities'");
    ComError e = ErrorOf([&] { GetCodesRs(*db, "", "Priorities", 1); });
    EXPECT_EQ(e.number, kContractViolation) << c.column << " " << c.value;
    EXPECT_NE(e.description.find("Priorities"), std::string::npos) << e.description;
    EXPECT_EQ(e.source.rfind("Brisquel.dll:Database.GetCodesRs\r\n", 0), 0u) << e.source;
    if (std::string(c.column) == "TableFieldName") {
      EXPECT_EQ(ErrorOf([&] { GetCodeRs(*db, "", "Priorities", 1, "Low"); }).number, kContractViolation);
    }
    seed.Exec(std::string("UPDATE IssueCodeTables SET ") + c.column + " = " + SqlText(original) +
              " WHERE TableName = 'Priorities'");
  }
  EXPECT_EQ(Codes("Priorities", 1).size(), 5u);
  EXPECT_EQ(seed.Int("select count(*) from Issues"), 6);

  // Table names: the rule, and never a table that holds secrets.
  seed.Exec(
      "INSERT INTO IssueCodeTables (TableName, TableFieldName, NaturalSort, TableSortByFieldName) VALUES "
      "('Issues]; delete from Issues; --', 'Summary', 1, 'Summary'),"
      "('Users', 'UserId', 1, 'Users.UserId'),"
      "('sqlite_master', 'name', 1, 'name');");
  for (const char* table : {"Issues]; delete from Issues; --", "Users", "sqlite_master"}) {
    ComError e = ErrorOf([&] { GetCodesRs(*db, "", table, 1); });
    EXPECT_EQ(e.number, kContractViolation) << table;
    e = ErrorOf([&] { GetCodeRs(*db, "", table, 1, "admin"); });
    EXPECT_EQ(e.number, kContractViolation) << table;
  }
  EXPECT_EQ(seed.Int("select count(*) from Issues"), 6);

  // A table the catalogue does not know.
  ComError e = ErrorOf([&] { GetCodesRs(*db, "", "NoSuchTable", 1); });
  EXPECT_EQ(e.number, ado::err::kNoCurrentRecord);
  EXPECT_NE(e.description.find("NoSuchTable"), std::string::npos) << e.description;
}

TEST_F(FormMetadataTest, SummaryLayoutsOfAUser) {
  // Renamed layouts may be longer than the 20 characters a new one gets.
  const std::string longName = "Open issues of the Core module";
  seed.Exec("INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) VALUES ('alice', '" + longName + "', 1);"
            "INSERT INTO SummaryLayoutFields (UserId, LayoutName, RowNumber, DisplayOrder, FieldName) VALUES "
            "('alice', '" + longName + "', 1, 2, 'Summary'), ('alice', '" + longName + "', 1, 1, 'IssueId');");

  auto layout = GetSummaryLayoutRs(*db, "ALICE", "open issues of the core module");
  EXPECT_EQ(Column(*layout, "NumRows"), Strings{"1"});
  EXPECT_TRUE(GetSummaryLayoutRs(*db, "bob", longName)->IsEOF());
  EXPECT_EQ(Column(*GetSummaryLayoutsRs(*db, "Alice"), "LayoutName"), (Strings{"Default", longName}));
  EXPECT_TRUE(GetSummaryLayoutsRs(*db, "nobody")->IsEOF());

  auto all = GetSummaryLayoutFieldsRs(*db, "alice", "default", -1);
  Strings rows = Column(*all, "RowNumber");
  EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
  EXPECT_EQ(rows.back(), "2");
  Strings fields = Column(*all, "FieldName");
  EXPECT_EQ(fields.front(), "IssueId");
  EXPECT_EQ(fields.back(), "Summary");
  Strings sortBy = Column(*all, "SortByFieldName");
  EXPECT_EQ(sortBy[1], "Priorities.SortOrder");
  EXPECT_EQ(sortBy.front(), "Issues.IssueId");
  EXPECT_EQ(Column(*all, "TableName").front(), "<null>");

  EXPECT_EQ(Column(*GetSummaryLayoutFieldsRs(*db, "alice", longName, 1), "FieldName"),
            (Strings{"IssueId", "Summary"}));
  EXPECT_EQ(Column(*GetSummaryLayoutFieldsRs(*db, "alice", "Default", 2), "FieldName"), Strings{"Summary"});
  EXPECT_TRUE(GetSummaryLayoutFieldsRs(*db, "alice", "Default", 3)->IsEOF());
  EXPECT_TRUE(GetSummaryLayoutFieldsRs(*db, "alice", "No layout", -1)->IsEOF());
}

TEST_F(FormMetadataTest, EntryFormWithItsEmptyCells) {
  seed.Exec("INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) VALUES (1, 2, 2, '')");

  auto details = GetDataEntryDetails(*db, "anyone");
  EXPECT_EQ(Column(*details, "FieldName"),
            (Strings{"ProjectCode", "ModuleCode", "Summary", "", "PriorityCode", "SeverityCode", "DetectedInBuildCode",
                     "VerifiedInBuildCode", "Comments"}));
  EXPECT_EQ(Column(*details, "NumFieldsOnRow"), (Strings{"2", "2", "2", "2", "2", "2", "2", "2", "1"}));
  Strings valueColumns = Column(*details, "TableFieldName");
  EXPECT_EQ(valueColumns[0], "ProjectCode");
  EXPECT_EQ(valueColumns[2], "<null>");
  EXPECT_EQ(valueColumns[4], "PriorityCode");

  // All rows at once come ordered by position within the row only.
  auto all = GetDataEntryLayoutFieldsRs(*db, -1);
  Strings names = Column(*all, "FieldName");
  EXPECT_EQ(names.size(), 9u);
  Strings first(names.begin(), names.begin() + 5);
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (Strings{"Comments", "DetectedInBuildCode", "PriorityCode", "ProjectCode", "Summary"}));
  EXPECT_EQ(Column(*GetDataEntryLayoutFieldsRs(*db, 3), "FieldName"), (Strings{"PriorityCode", "SeverityCode"}));
  EXPECT_EQ(Column(*GetDataEntryLayoutFieldsRs(*db, 2), "FieldName"), (Strings{"Summary", ""}));
  EXPECT_TRUE(GetDataEntryLayoutFieldsRs(*db, 9)->IsEOF());

  EXPECT_EQ(Column(*GetDataEntryLayoutRs(*db), "LayoutId"), Strings{"1"});
  EXPECT_EQ(Column(*GetEntryLayoutRowsRs(*db), "RowNumber"), (Strings{"1", "2", "3", "4", "5"}));
  auto row4 = GetEntryLayoutFieldsRs(*db, 4);
  EXPECT_EQ(Column(*row4, "FieldName"), (Strings{"DetectedInBuildCode", "VerifiedInBuildCode"}));
  EXPECT_EQ(Column(*row4, "NumColumns"), (Strings{"2", "2"}));
  EXPECT_TRUE(GetEntryLayoutFieldsRs(*db, 6)->IsEOF());
}

TEST_F(FormMetadataTest, ComboValuesOfAField) {
  AddOtherProject();
  auto values = [&](const std::string& user, int32_t project, const std::string& field) {
    Variant v = GetFieldComboValuesRs(*db, user, project, field);
    auto rs = std::dynamic_pointer_cast<ado::Recordset>(v.ToObject());
    EXPECT_NE(rs, nullptr);
    return rs;
  };
  EXPECT_EQ(Column(*values("alice", 2, "modulecode"), "ModuleCode"), (Strings{"", "Backend"}));
  EXPECT_EQ(Column(*values("alice", 1, "PriorityCode"), "PriorityCode").size(), 5u);
  Strings assignees = Column(*values("alice", 2, "AssignedToUser"), "UserId");
  EXPECT_EQ(assignees, (Strings{"bob", "erin"}));

  // The project field lists the projects the user may use.
  EXPECT_EQ(Column(*values("alice", 1, "projectcode"), "ProjectCode"), Strings{"Demo"});
  EXPECT_EQ(Column(*values("bob", 1, "ProjectCode"), "ProjectCode"), (Strings{"Demo", "Other"}));
  EXPECT_EQ(Column(*values("admin", 1, "ProjectCode"), "ProjectCode"), (Strings{"Demo", "Other"}));

  ComError e = ErrorOf([&] { GetFieldComboValuesRs(*db, "alice", 1, "NoSuchField"); });
  EXPECT_EQ(e.source.rfind("Brisquel.dll:Database.GetFieldComboValuesRs\r\n", 0), 0u) << e.source;
  EXPECT_NE(e.description.find("NoSuchField"), std::string::npos);
  e = ErrorOf([&] { GetFieldComboValuesRs(*db, "alice", 1, "Summary"); });
  EXPECT_NE(e.description.find("Summary"), std::string::npos);
}

TEST_F(FormMetadataTest, SavedFiltersOfAUser) {
  seed.Exec(
      "INSERT INTO SummaryFilters (UserId, FilterName, FilterExpression, fqFilterExpression) VALUES "
      "('alice', 'Assigned to me', '', 'Issues.AssignedToUser = ''alice'''), ('bob', 'Mine', '', '');");
  EXPECT_EQ(Column(*GetSummaryFiltersRs(*db, "ALICE"), "FilterName"), (Strings{"Assigned to me", "Urgent issues"}));
  auto one = GetSummaryFilterRs(*db, "Alice", "urgent ISSUES");
  EXPECT_EQ(Column(*one, "fqFilterExpression"), Strings{"Issues.PriorityCode = 'Urgent'\r\n"});
  EXPECT_EQ(one->UpdateCriteria(), ado::adCriteriaTimeStamp);
  EXPECT_TRUE(GetSummaryFilterRs(*db, "bob", "Urgent issues")->IsEOF());
  EXPECT_TRUE(GetSummaryFiltersRs(*db, "nobody")->IsEOF());
}

TEST_F(FormMetadataTest, EveryMemberCallableByName) {
  auto obj = automation::CreateObject("Brisquel.Database");
  obj->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
  struct Call {
    const char* name;
    std::vector<Variant> args;
  };
  const std::vector<Call> calls = {
      {"GetIssueFieldsRs", {Variant("alice")}},
      {"GetIssueCodedFieldsRs", {}},
      {"GetIssueDataEntryFieldsRs", {}},
      {"GetIssueValidationFieldsRs", {}},
      {"GetIssueValidationsRs", {Variant("New"), Variant("Open")}},
      {"GetIssueValidationByResolutionRs", {Variant("New"), Variant("Open")}},
      {"GetIssueDataEntryLayoutFieldsRs", {}},
      {"GetIssueCodeTablesRs", {}},
      {"GetIssueCodeTableRs", {Variant("alice"), Variant("Resolutions")}},
      {"GetCodeRs", {Variant("alice"), Variant("Resolutions"), Variant(1), Variant("Fixed")}},
      {"GetCodesRs", {Variant("alice"), Variant("ProjectBuilds"), Variant(1)}},
      {"GetIssueFieldRs", {Variant("Summary")}},
      {"GetSummaryLayoutRs", {Variant("alice"), Variant("Default")}},
      {"GetSummaryLayoutsRs", {Variant("alice")}},
      {"GetSummaryLayoutFieldsRs", {Variant("alice"), Variant("Default"), Variant(-1)}},
      {"GetEntryLayoutRowsRs", {}},
      {"GetEntryLayoutFieldsRs", {Variant(1)}},
      {"GetDataEntryLayoutRs", {}},
      {"GetDataEntryDetails", {Variant("alice")}},
      {"GetDataEntryLayoutFieldsRs", {Variant(-1)}},
      {"GetFieldComboValuesRs", {Variant("alice"), Variant(1), Variant("SeverityCode")}},
      {"GetSummaryFiltersRs", {Variant("alice")}},
      {"GetSummaryFilterRs", {Variant("alice"), Variant("Urgent issues")}},
  };
  for (const Call& c : calls) {
    auto rs = obj->Call(c.name, c.args).ToObject();
    ASSERT_NE(rs, nullptr) << c.name;
    EXPECT_FALSE(rs->Get("EOF").ToBool()) << c.name;
  }
}

}  // namespace
}  // namespace brisquel
