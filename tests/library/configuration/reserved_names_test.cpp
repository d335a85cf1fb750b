// Names that SQL and SQLite keep for themselves never become a field, a code table or a value
// column: the writers refuse them with the name rule's sentence and write nothing.
#include <gtest/gtest.h>

#include "config_site.h"
#include "configuration/issue_form.h"
#include "core/lookups.h"

namespace brisquel::configtest {
namespace {

const Fields kField = {{"FieldName", "Notes"}, {"FieldFriendlyName", "Notes"}, {"TooltipForFilter", ""},
                       {"TableName", ""},      {"FieldType", "1"},             {"NumLines", "1"},
                       {"TextMaxLength", "100"}, {"TextLog", ""},              {"CustomTable", ""}};
const Fields kTable = {{"TableName", "Colours"},         {"VariesByProject", ""},
                       {"TableFriendlyName", "Colours"}, {"TableFriendlyNameSingular", "Colour"},
                       {"TablePurpose", ""},             {"TableDefaultSortOrder", "ASC"},
                       {"NaturalSort", ""},              {"TableFieldName", "Colour"}};

class ReservedNamesTest : public ConfigSite {};

TEST_F(ReservedNamesTest, WritersRefuseSqlsOwnNames) {
  const std::string field = "Field name is reserved, please choose another name.";
  const std::string table = "Table name is reserved, please choose another name.";
  const std::string letterFirst = " name must begin with a letter, and only contain letters, digits or underscores.";
  struct Case {
    std::string name, asField, asTable, asValueColumn;
  };
  const Case cases[] = {
      {"select", field, table, field},
      {"Order", field, table, field},
      {"rowid", field, table, field},
      {"OID", field, table, field},
      {"_rowid_", field, "Table" + letterFirst, "Field" + letterFirst},
      {"sqlite_x", field, table, field},
      {"SQLITE_master", field, table, field},
  };
  const long long schema = Count("from sqlite_schema");
  for (const Case& c : cases) {
    EXPECT_FALSE(CreateCustomField(*db, "admin", Form(With(kField, {{"FieldName", c.name}})))) << c.name;
    EXPECT_EQ(Message(), c.asField) << c.name;
    EXPECT_FALSE(CreateCodeTable(*db, "admin", Form(With(kTable, {{"TableName", c.name}})))) << c.name;
    EXPECT_EQ(Message(), c.asTable) << c.name;
    EXPECT_FALSE(CreateCodeTable(*db, "admin", Form(With(kTable, {{"TableFieldName", c.name}})))) << c.name;
    EXPECT_EQ(Message(), c.asValueColumn) << c.name;
  }
  EXPECT_EQ(Count("from sqlite_schema"), schema);
  EXPECT_EQ(Count("from IssueFields where FieldName = 'Notes'"), 0);

  // A new value column is held to the rule; one that has such a name keeps it.
  ASSERT_TRUE(CreateCodeTable(*db, "admin", Form(kTable))) << Message();
  auto update = [&](const std::string& valueColumn) {
    return UpdateCodeTable(*db, "admin", GetIssueCodeTableRs(*db, "admin", "Colours"),
                           Form(With(kTable, {{"TableFieldName", valueColumn}})));
  };
  EXPECT_FALSE(update("Where"));
  EXPECT_EQ(Message(), field);
  raw.Exec("ALTER TABLE Colours RENAME COLUMN Colour TO \"Where\";"
           "UPDATE IssueCodeTables SET TableFieldName = 'Where' WHERE TableName = 'Colours'");
  EXPECT_TRUE(update("where")) << Message();
  // Names that only resemble them pass.
  for (const char* name : {"Selected", "rowids", "Oids", "sqlitex"})
    EXPECT_TRUE(CreateCustomField(*db, "admin", Form(With(kField, {{"FieldName", name}, {"FieldFriendlyName", name}}))))
        << name << ": " << Message();
}

}  // namespace
}  // namespace brisquel::configtest
