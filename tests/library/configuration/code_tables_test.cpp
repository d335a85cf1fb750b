// CreateCodeTable, UpdateCodeTable and DeleteCodeTable on real site files.
#include <gtest/gtest.h>

#include "automation/automation.h"
#include "config_site.h"
#include "configuration/issue_form.h"
#include "core/lookups.h"

namespace brisquel::configtest {
namespace {

using automation::Variant;

const Fields kColours = {{"TableName", "Colours"},          {"VariesByProject", ""},
                         {"TableFriendlyName", "Colours"},  {"TableFriendlyNameSingular", "Colour"},
                         {"TablePurpose", "Paint."},        {"TableDefaultSortOrder", "ASC"},
                         {"NaturalSort", ""},               {"TableFieldName", "Colour"}};

class CodeTablesTest : public ConfigSite {
 protected:
  bool Create(const std::map<std::string, std::string>& changes = {}, const std::string& user = "admin") {
    return CreateCodeTable(*db, user, Form(With(kColours, changes)));
  }
  bool Update(const std::string& table, const std::map<std::string, std::string>& changes,
              const std::string& user = "admin") {
    return UpdateCodeTable(*db, user, GetIssueCodeTableRs(*db, user, table), Form(With(kColours, changes)));
  }
  std::string Catalogued(const std::string& table) {
    return raw.Text("select TableFieldName || '|' || NaturalSort || '|' || TableSortByFieldName || '|' || "
                    "TableDefaultSortOrder || '|' || VariesByProject from IssueCodeTables where TableName = '" +
                    table + "'");
  }
  std::vector<std::string> ColumnsOf(const std::string& table) {
    return raw.Rows("select name from pragma_table_info('" + table + "') order by cid");
  }
};

TEST_F(CodeTablesTest, CreateChecksInOrderAndWritesNothing) {
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"TableName", std::string(41, 'T')}}, "Table name cannot be longer than 40 characters."},
      {{{"TableName", "  "}}, "Table name cannot be blank."},
      {{{"TableName", "1a"}}, "Table name must begin with a letter, and only contain letters, digits or underscores."},
      {{{"TableName", "_a"}}, "Table name must begin with a letter, and only contain letters, digits or underscores."},
      {{{"VariesByProject", "yes"}}, "Invalid value for seperate entries for each project."},
      {{{"TableFriendlyName", std::string(51, 'p')}}, "Table friendly name (plural) cannot be longer than 50 characters."},
      {{{"TableFriendlyName", ""}}, "Table friendly name (plural) cannot be blank."},
      {{{"TableFriendlyNameSingular", std::string(51, 's')}},
       "Table friendly name (singular) cannot be longer than 50 characters."},
      {{{"TableFriendlyNameSingular", ""}}, "Table friendly name (singular) cannot be blank."},
      {{{"TablePurpose", std::string(201, 'x')}}, "Table purpose cannot be longer than 200 characters."},
      {{{"TableDefaultSortOrder", "UP"}}, "Default sort order must be either ascending (ASC) or descending (DESC)."},
      {{{"NaturalSort", "off"}}, "Invalid value for requires seperate sort order field."},
      {{{"TableFieldName", std::string(51, 'f')}}, "Field name cannot be longer than 50 characters."},
      {{{"TableFieldName", ""}}, "Field name cannot be blank."},
      {{{"TableFieldName", "a-b"}}, "Field name must begin with a letter, and only contain letters, digits or underscores."},
      {{{"TableName", "Projects"}}, "The table 'Projects' is not a code table."},
      {{{"TableName", "projectusers"}}, "The table 'projectusers' is not a code table."},
      // Taken names.
      {{{"TableName", "priorities"}}, "The code table 'priorities' already exists."},
      {{{"TableName", "Issues"}}, "A database table named 'Issues' already exists. You must choose another name."},
  };
  const long long tables = Count("from sqlite_schema");
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(Create(changes)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_FALSE(Create({}, "bob"));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_EQ(Count("from sqlite_schema"), tables);
  EXPECT_EQ(Count("from IssueCodeTables where TableName in ('Colours', 'Issues')"), 0);
  EXPECT_FALSE(db->Connection().InTransaction());
}

TEST_F(CodeTablesTest, SortColumnAndSeedFollowThePostedKind) {
  ASSERT_TRUE(Create({{"NaturalSort", "on"}, {"TableDefaultSortOrder", "asc"}})) << Message();
  EXPECT_EQ(Catalogued("Colours"), "Colour|0|Colours.SortOrder|asc|0");
  EXPECT_EQ(ColumnsOf("Colours"), (std::vector<std::string>{"LastUpdated", "Colour", "SortOrder"}));
  EXPECT_EQ(raw.Rows("select Colour || '|' || SortOrder from Colours"), std::vector<std::string>{"|1"});

  ASSERT_TRUE(Create({{"TableName", "Areas"}, {"VariesByProject", "ON"}, {"TableFieldName", "a_1"},
                      {"TableDefaultSortOrder", "Desc"}}))
      << Message();
  EXPECT_EQ(Catalogued("Areas"), "a_1|1|Areas.a_1|Desc|1");
  EXPECT_EQ(ColumnsOf("Areas"), (std::vector<std::string>{"ProjectId", "LastUpdated", "a_1"}));
  EXPECT_EQ(raw.Rows("select ProjectId || '|' || a_1 from Areas"), std::vector<std::string>{"1|"});
  EXPECT_EQ(raw.Rows("select ConstraintName from VantrelConstraints where TableName = 'Areas' order by ConstraintName"),
            (std::vector<std::string>{"fk_Areas_Projects", "pk_Areas"}));
  EXPECT_EQ(raw.Run("insert into Areas (ProjectId, a_1) values (99, 'x')").rc, SQLITE_CONSTRAINT_FOREIGNKEY);

  ASSERT_TRUE(Create({{"TableName", std::string(40, 'L')}})) << Message();
  ASSERT_TRUE(Create({{"TableName", "a_1"}})) << Message();
}

TEST_F(CodeTablesTest, PerProjectTableOfASiteWithoutProjectsStartsEmpty) {
  auto plain = sitedb::FreshSite(false);
  auto other = sitedb::Open(plain);
  ASSERT_TRUE(CreateCodeTable(*other, "admin", Form(With(kColours, {{"VariesByProject", "on"}}))));
  EXPECT_EQ(sitedb::Db(plain).Int("select count(*) from Colours"), 0);
}

TEST_F(CodeTablesTest, UpdateRenamesTheValueColumnOrStoresItsCase) {
  ASSERT_TRUE(Create());
  raw.Exec("insert into Colours (Colour) values ('Red')");
  ASSERT_TRUE(Update("Colours", {{"TableFieldName", "Shade"}, {"TableFriendlyName", "Shades"}})) << Message();
  EXPECT_EQ(ColumnsOf("Colours"), (std::vector<std::string>{"LastUpdated", "Shade"}));
  EXPECT_EQ(raw.Rows("select Shade from Colours order by Shade"), (std::vector<std::string>{"", "Red"}));
  EXPECT_EQ(raw.Text("select ColumnNames from VantrelConstraints where ConstraintName = 'pk_Colours'"), "Shade");
  EXPECT_EQ(raw.Text("select TableFriendlyName from IssueCodeTables where TableName = 'Colours'"), "Shades");

  ASSERT_TRUE(Update("Colours", {{"TableFieldName", "SHADE"}})) << Message();
  EXPECT_EQ(ColumnsOf("Colours"), (std::vector<std::string>{"LastUpdated", "Shade"}));
  EXPECT_EQ(Catalogued("Colours"), "SHADE|1|Colours.SHADE|ASC|0");
}

TEST_F(CodeTablesTest, UpdateAddsAndDropsTheSortColumn) {
  ASSERT_TRUE(Create());
  raw.Exec("insert into Colours (Colour) values ('Red'), ('Blue')");
  ASSERT_TRUE(Update("Colours", {{"NaturalSort", "on"}})) << Message();
  EXPECT_EQ(raw.Rows("select distinct SortOrder from Colours"), std::vector<std::string>{"0"});
  EXPECT_EQ(Catalogued("Colours"), "Colour|0|Colours.SortOrder|ASC|0");
  ASSERT_TRUE(Update("Colours", {})) << Message();
  EXPECT_EQ(ColumnsOf("Colours"), (std::vector<std::string>{"LastUpdated", "Colour"}));
  EXPECT_EQ(Count("from Colours"), 3);
}

// Natural sort drops SortOrder with our index on it; sorted order brings both back, as a new site
// has them. Values and the issues' references stay; the value list follows each mode.
TEST_F(CodeTablesTest, SwitchingToNaturalSortAndBackKeepsValuesAndIssues) {
  ASSERT_TRUE(Create({{"NaturalSort", "on"}})) << Message();
  raw.Exec("insert into Colours (Colour, SortOrder) values ('Red', 2), ('Blue', 3), ('Green', 4)");
  const Fields field = {{"FieldName", "Colour"},  {"FieldFriendlyName", "Colour"}, {"TooltipForFilter", ""},
                        {"TableName", ""},        {"FieldType", "2"},              {"NumLines", "1"},
                        {"TextMaxLength", "100"}, {"TextLog", ""},                 {"CustomTable", "Colours"}};
  ASSERT_TRUE(CreateCustomField(*db, "admin", Form(field))) << Message();
  raw.Exec("update Issues set Colour = 'Blue' where IssueId = 1; update Issues set PriorityCode = 'Low' "
           "where IssueId = 2");
  const auto issues = raw.Rows("select IssueId || PriorityCode || Colour from Issues order by IssueId");
  auto indexes = [&](const std::string& table) {
    return raw.Rows("select sql from sqlite_schema where type = 'index' and sql is not null and tbl_name = '" +
                    table + "'");
  };
  ASSERT_EQ(indexes("Priorities").size(), 1u);  // IX_Priorities_SortOrder
  auto values = [&](const std::string& table) {
    std::vector<std::string> out;
    auto rs = GetCodesRs(*db, "admin", table, 1);
    const std::string column = GetIssueCodeTableRs(*db, "admin", table)->Value("TableFieldName").ToString();
    for (; !rs->IsEOF(); rs->MoveNext()) out.push_back(rs->Value(column).ToString());
    return out;
  };
  const struct {
    std::string table, value;
    std::vector<std::string> sorted, natural;
  } cases[] = {
      {"Priorities", "PriorityCode", {"", "Urgent", "High", "Normal", "Low"}, {"", "High", "Low", "Normal", "Urgent"}},
      {"Colours", "Colour", {"", "Red", "Blue", "Green"}, {"", "Blue", "Green", "Red"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(values(c.table), c.sorted);
    const auto declared = indexes(c.table);
    ASSERT_TRUE(Update(c.table, {{"TableFieldName", c.value}})) << Message();
    EXPECT_FALSE(raw.Rows("select name from pragma_table_info('" + c.table + "') where name = 'SortOrder'").size());
    EXPECT_EQ(values(c.table), c.natural);
    EXPECT_TRUE(indexes(c.table).empty());

    ASSERT_TRUE(Update(c.table, {{"TableFieldName", c.value}, {"NaturalSort", "on"}})) << Message();
    EXPECT_EQ(raw.Rows("select distinct SortOrder from " + c.table), std::vector<std::string>{"0"});
    EXPECT_EQ(indexes(c.table), declared);
    // Sort orders given afresh order the list again.
    for (size_t i = 0; i < c.sorted.size(); ++i)
      raw.Exec("update " + c.table + " set SortOrder = " + std::to_string(i + 1) + " where " + c.value + " = '" +
               c.sorted[i] + "'");
    EXPECT_EQ(values(c.table), c.sorted);
  }
  EXPECT_EQ(raw.Rows("select IssueId || PriorityCode || Colour from Issues order by IssueId"), issues);
  // The emulated keys still hold.
  EXPECT_EQ(raw.Run("update Issues set PriorityCode = 'Nope' where IssueId = 1").rc, SQLITE_CONSTRAINT_TRIGGER);
  EXPECT_EQ(raw.Run("update Issues set Colour = 'Nope' where IssueId = 1").rc, SQLITE_CONSTRAINT_TRIGGER);
}

TEST_F(CodeTablesTest, UpdateRefusals) {
  EXPECT_FALSE(Update("Priorities", {{"TableFieldName", "Priority"}, {"NaturalSort", "on"}}));
  EXPECT_EQ(Message().rfind("An unexpected error has occurred.\r\nError number: ", 0), 0u) << Message();
  EXPECT_NE(Message().find("The constraint 'pk_Priorities' is being referenced by table 'Issues'"), std::string::npos);
  EXPECT_EQ(ColumnsOf("Priorities"), (std::vector<std::string>{"LastUpdated", "PriorityCode", "SortOrder"}));

  EXPECT_FALSE(Update("Severities", {{"TableFieldName", "1a"}}));
  EXPECT_EQ(Message(), "Field name must begin with a letter, and only contain letters, digits or underscores.");
  EXPECT_FALSE(Update("Projects", {{"TableFieldName", "ProjectCode"}}));
  EXPECT_EQ(Message(), "The table 'Projects' is not a code table.");
  EXPECT_FALSE(Update("Severities", {{"TableFieldName", "SeverityCode"}}, "alice"));
  EXPECT_EQ(Message(), "Permission denied.");

  auto stale = GetIssueCodeTableRs(*db, "admin", "Severities");
  raw.Exec("update IssueCodeTables set TablePurpose = 'Changed.' where TableName = 'Severities'");
  EXPECT_FALSE(UpdateCodeTable(*db, "admin", stale,
                               Form(With(kColours, {{"TableFieldName", "SeverityCode"}, {"NaturalSort", "on"}}))));
  EXPECT_EQ(Message(), "Another session has updated the code table information. You must cancel these changes.");
  EXPECT_EQ(raw.Text("select TableFriendlyName from IssueCodeTables where TableName = 'Severities'"), "Severities");
  EXPECT_NE(testsupport::ErrorNumber([&] {
              UpdateCodeTable(*db, "admin", db->Read("select * from Issues"), Form(kColours));
            }),
            0);
}

TEST_F(CodeTablesTest, DeleteRemovesAllOrNothing) {
  ASSERT_TRUE(Create());
  ASSERT_TRUE(Create({{"TableName", "Shapes"}}));
  raw.Exec("insert into IssueFields (FieldName, TableName) values ('Shape', 'Shapes')");
  EXPECT_FALSE(DeleteCodeTable(*db, "admin", Form({{"chkTable", "Colours"}, {"chkTable", "Shapes"}})));
  EXPECT_EQ(Message(), "The code table 'Shapes' is used by at least one custom field and cannot be deleted.");
  EXPECT_EQ(Count("from IssueCodeTables where TableName in ('Colours', 'Shapes')"), 2);
  EXPECT_EQ(Count("from Colours"), 1);

  const std::vector<std::pair<std::string, std::string>> refused = {
      {"Nope", "The code table 'Nope' does not exist."},
      {"Resolutions", "The code table 'Resolutions' is built in and cannot be deleted."},
      {"statuscodes", "The code table 'statuscodes' is built in and cannot be deleted."},
      {"ProjectUsers", "The table 'ProjectUsers' is not a code table."},
      {"Priorities", "The code table 'Priorities' is used by at least one custom field and cannot be deleted."},
  };
  for (const auto& [table, message] : refused) {
    EXPECT_FALSE(DeleteCodeTable(*db, "admin", Form({{"chkTable", "Colours"}, {"chkTable", table}}))) << table;
    EXPECT_EQ(Message(), message);
  }
  // A catalogue row without its table is no table in use.
  raw.Exec("insert into IssueCodeTables (TableName, TableFieldName) values ('Ghost', 'Code')");
  EXPECT_FALSE(DeleteCodeTable(*db, "admin", Form({{"chkTable", "Ghost"}})));
  EXPECT_EQ(Message().rfind("An unexpected error has occurred.", 0), 0u) << Message();
  EXPECT_FALSE(DeleteCodeTable(*db, "bob", Form({{"chkTable", "Colours"}})));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_TRUE(DeleteCodeTable(*db, "admin", Form({})));

  ASSERT_TRUE(DeleteCodeTable(*db, "admin", Form({{"chkTable", "Col%6Furs"}, {"chkTable", ""}}))) << Message();
  EXPECT_EQ(Count("from sqlite_schema where name = 'Colours'"), 0);
  EXPECT_EQ(Count("from IssueCodeTables where TableName = 'Colours'"), 0);
  EXPECT_EQ(Count("from VantrelConstraints where TableName = 'Colours'"), 0);
}

TEST_F(CodeTablesTest, ByName) {
  auto object = ByName();
  EXPECT_TRUE(object->Call("CreateCodeTable", {Variant("admin"), Posted(kColours)}).ToBool());
  Variant rs = object->Call("GetIssueCodeTableRs", {Variant("admin"), Variant("Colours")});
  EXPECT_TRUE(object->Call("UpdateCodeTable", {Variant("admin"), rs, Posted(With(kColours, {{"NaturalSort", "on"}}))})
                  .ToBool());
  EXPECT_EQ(Catalogued("Colours"), "Colour|0|Colours.SortOrder|ASC|0");
  EXPECT_FALSE(object->Call("DeleteCodeTable", {Variant("bob"), Posted({{"chkTable", "Colours"}})}).ToBool());
  EXPECT_EQ(object->Get("LastErrorMessage").ToString(), "Permission denied.");
  EXPECT_TRUE(object->Call("DeleteCodeTable", {Variant("admin"), Posted({{"chkTable", "Colours"}})}).ToBool());
  EXPECT_EQ(Count("from IssueCodeTables where TableName = 'Colours'"), 0);
}

}  // namespace
}  // namespace brisquel::configtest
