// Making a column NOT NULL through the DDL layer, as the 1.01 step does with the history's
// resolution columns.
#include <gtest/gtest.h>

#include "ado/connection.h"
#include "core/database.h"
#include "schema/ddl.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace {

namespace ddl = brisquel::schema::ddl;

class NotNull : public ::testing::Test {
 protected:
  NotNull() {
    raw.Exec(
        "create table Legacy (Id INTEGER PRIMARY KEY AUTOINCREMENT, Name VARCHAR(20) NULL COLLATE NOCASE, "
        "Code VARCHAR(10) COLLATE NOCASE DEFAULT 'x', Amount INTEGER NULL);"
        "create index IX_Legacy_Name on Legacy (Name);"
        "create trigger Legacy_Touch after update on Legacy for each row when NEW.Amount is OLD.Amount "
        "begin update Legacy set Amount = ifnull(Amount, 0) + 1 where Id = NEW.Id; end;"
        "insert into Legacy (Name, Code, Amount) values ('one', 'a', 1), ('two', 'b', 2);"
        "delete from Legacy where Id = 1;");
  }
  std::string Column(const std::string& name) {
    return raw.Text("select type || '|' || \"notnull\" || '|' || ifnull(dflt_value, '') from pragma_table_info('Legacy') "
                    "where name = '" + name + "'");
  }

  std::filesystem::path file = sitedb::FreshSite(false);
  sitedb::Db raw{file};
  std::shared_ptr<brisquel::Database> db = sitedb::Open(file);
};

TEST_F(NotNull, KeepsRowsIndexesTriggersAndTheCounter) {
  ddl::SetColumnNotNull(db->Connection(), "Legacy", "Name", 30);
  ddl::SetColumnNotNull(db->Connection(), "legacy", "code", 10);
  EXPECT_EQ(Column("Name"), "VARCHAR(30)|1|");
  EXPECT_EQ(Column("Code"), "VARCHAR(10)|1|'x'");
  EXPECT_EQ(raw.Rows("select Id, Name, Code, Amount from Legacy"), std::vector<std::string>{"2|two|b|2"});
  EXPECT_EQ(raw.Int("select count(*) from sqlite_schema where name in ('IX_Legacy_Name', 'Legacy_Touch')"), 2);
  EXPECT_EQ(raw.Run("insert into Legacy (Name) values (NULL)").rc, SQLITE_CONSTRAINT_NOTNULL);
  raw.Exec("insert into Legacy (Name) values ('three')");
  EXPECT_EQ(raw.Int("select max(Id) from Legacy"), 3);
  EXPECT_EQ(raw.Int("select count(*) from Legacy where Name = 'TWO'"), 1);  // still without regard to case
}

TEST_F(NotNull, RefusalsLeaveTheTableAsItWas) {
  raw.Exec("insert into Legacy (Name) values (NULL)");
  const std::pair<const char*, int32_t> cases[] = {{"Name", 515}, {"Amount", ddl::kColumnDependency},
                                                   {"Missing", ddl::kInvalidColumn}};
  for (const auto& [column, native] : cases) {
    SCOPED_TRACE(column);
    testsupport::ErrorOf([&] { ddl::SetColumnNotNull(db->Connection(), "Legacy", column, 20); });
    ASSERT_NE(db->Connection().ErrorList().First(), nullptr);
    EXPECT_EQ(db->Connection().ErrorList().First()->nativeError, native);
    EXPECT_EQ(Column("Name"), "VARCHAR(20)|0|");
    EXPECT_EQ(raw.Int("select count(*) from Legacy"), 2);
  }
}

}  // namespace
