// The run-time DDL layer on real site files: every operation undone by the caller's rollback,
// the refusals with their native numbers, and the table rebuild of a width change.
#include "schema/ddl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/sql.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace brisquel::schema::ddl {
namespace {

using automation::Variant;

class DdlTest : public ::testing::Test {
 protected:
  ado::Connection& c() { return db->Connection(); }
  // The schema, the catalogue and the triggers, as text, seen by the connection that changes them.
  std::vector<std::string> Snapshot() {
    std::vector<std::string> rows;
    auto add = [&](sqlite3_stmt* st) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) row += sql::Row(st).Text(i) + "|";
      rows.push_back(row);
    };
    c().Each("select type, name, tbl_name, sql from sqlite_schema order by type, name", {}, add);
    c().Each("select * from VantrelConstraints order by ConstraintName", {}, add);
    return rows;
  }
  std::string Declared(const std::string& table, const std::string& column) {
    return raw.Text("select type from pragma_table_info('" + table + "') where name = '" + column + "'");
  }
  int32_t NativeOf(const std::function<void()>& op) {
    testsupport::ErrorOf(op);
    auto errors = c().GetErrors();
    return errors->Count() ? errors->Item(Variant(0))->NativeError() : 0;
  }
  std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<Database> db = sitedb::Open(file);
  sitedb::Db raw{file};
};

ForeignKey SummaryKey() { return {"fk_Test_Summary", "Issues", {"Summary"}, "Priorities", {"PriorityCode"}}; }

Table Colours() {
  return {"Colours",
          {NotNull("LastUpdated", "INTEGER", "0"), NotNull("Colour", "VARCHAR(50)"), NotNull("SortOrder", "INTEGER")},
          "pk_Colours",
          {"Colour"},
          {}};
}

TEST_F(DdlTest, EveryOperationIsUndoneByTheCallersRollback) {
  const std::vector<std::pair<std::string, std::function<void()>>> ops = {
      {"create table", [&] { CreateTable(c(), Colours()); }},
      {"add column", [&] { AddColumn(c(), "Issues", NotNull("Colour", "VARCHAR(50)", "''", "DF_Issues_Colour")); }},
      {"add key", [&] { AddForeignKey(c(), SummaryKey()); }},
      {"drop trigger key", [&] { DropConstraint(c(), "Issues", "fk_Priorities_PriorityCode"); }},
      {"drop default", [&] { DropConstraint(c(), "Issues", "DF_Issues_Summary"); }},
      {"drop column", [&] { DropColumn(c(), "Issues", "Fixed"); }},
      {"width", [&] { SetColumnWidth(c(), "Issues", "Summary", 400); }},
      {"rename", [&] { RenameColumn(c(), "Issues", "Summary", "Title"); }},
      {"drop table", [&] { DropTable(c(), "EntryFormFields"); }},
  };
  const auto before = Snapshot();
  for (const auto& [what, op] : ops) {
    c().BeginTrans();
    op();
    EXPECT_NE(Snapshot(), before) << what;
    c().RollbackTrans();
    EXPECT_EQ(Snapshot(), before) << what;
  }
}

TEST_F(DdlTest, RefusalsPutTheirNativeNumberFirstInErrors) {
  raw.Exec("create table Loose (Code varchar(50)); "
           "insert into IssueFields (FieldName, TableName) values ('LooseField', 'Loose')");
  const std::vector<std::tuple<std::string, std::function<void()>, int32_t>> cases = {
      {"existing table", [&] { CreateTable(c(), {"Issues", Colours().columns, "pk_X", {"Colour"}, {}}); }, 2714},
      {"taken key name", [&] { CreateTable(c(), {"Colours", Colours().columns, "pk_Priorities", {"Colour"}, {}}); },
       2714},
      {"existing column", [&] { AddColumn(c(), "issues", NotNull("summary", "VARCHAR(50)", "''")); }, 2714},
      {"taken default name", [&] { AddColumn(c(), "Issues", NotNull("X", "BIT", "0", "DF_Issues_Summary")); }, 2714},
      {"taken key", [&] { AddForeignKey(c(), {"FK_Issues_Resolutions", "Issues", {"Summary"}, "Resolutions",
                                               {"ResolutionCode"}}); }, 2714},
      {"no such constraint", [&] { DropConstraint(c(), "Issues", "DF_Nothing"); }, 3728},
      {"referenced column", [&] { RenameColumn(c(), "Priorities", "PriorityCode", "Code"); }, 3725},
      {"referenced table", [&] { DropTable(c(), "Priorities"); }, 3726},
      {"table of a field", [&] { DropTable(c(), "Loose"); }, 3726},
      {"missing table", [&] { DropTable(c(), "Nothing"); }, 3701},
      {"column with a default", [&] { DropColumn(c(), "Issues", "Summary"); }, 5074},
      {"missing column", [&] { DropColumn(c(), "Issues", "Nothing"); }, 207},
  };
  const auto before = Snapshot();
  for (const auto& [what, op, native] : cases) {
    EXPECT_EQ(NativeOf(op), native) << what;
    EXPECT_EQ(Snapshot(), before) << what;
    EXPECT_FALSE(c().InTransaction()) << what;
  }
}

TEST_F(DdlTest, RefusalTexts) {
  EXPECT_EQ(testsupport::ErrorOf([&] { DropConstraint(c(), "Issues", "DF_Nothing"); }).description,
            "'DF_Nothing' is not a constraint.");
  EXPECT_EQ(testsupport::ErrorOf([&] { RenameColumn(c(), "Priorities", "PriorityCode", "Code"); }).description,
            "The constraint 'pk_Priorities' is being referenced by table 'Issues', foreign key constraint "
            "'fk_Priorities_PriorityCode'.");
  auto dropped = testsupport::ErrorOf([&] { DropTable(c(), "Priorities"); });
  EXPECT_EQ(dropped.number, static_cast<int32_t>(0x80040E14));
  EXPECT_EQ(c().GetErrors()->Item(Variant(0))->Number(), static_cast<int32_t>(0x80040E14));
}

TEST_F(DdlTest, WidthChangeKeepsRowsSequenceIndexesTriggersAndConflictsOlderRecordsets) {
  auto older = db->Read("select * from Issues where IssueId = 1");
  const auto triggers = raw.Rows("select name, sql from sqlite_schema where type = 'trigger' order by name");
  const auto indexes = raw.Rows("select name, sql from sqlite_schema where type = 'index' order by name");
  const auto rows = raw.Rows("select IssueId, Summary, PriorityCode from Issues order by IssueId");
  raw.Exec("insert into Issues (ProjectId, Summary) values (1, 'last'); delete from Issues where Summary = 'last'");
  const long long seq = raw.Int("select seq from sqlite_sequence where name = 'Issues'");
  // A declared key of another table refers to Issues, with a row that depends on issue 1.
  raw.Exec("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) "
           "select 'a@example.com', 1, TemplateName from EMailTemplates limit 1");
  const auto referring = raw.Rows("select sql from sqlite_schema where type = 'table' and name <> 'Issues' order by name");

  SetColumnWidth(c(), "Issues", "Summary", 300);
  EXPECT_EQ(raw.Rows("select sql from sqlite_schema where type = 'table' and name <> 'Issues' order by name"), referring);
  EXPECT_EQ(raw.Run("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) "
                    "select 'a@example.com', 999, TemplateName from EMailTemplates limit 1").rc,
            SQLITE_CONSTRAINT_FOREIGNKEY);
  EXPECT_EQ(Declared("Issues", "Summary"), "VARCHAR(300)");
  EXPECT_EQ(raw.Rows("select name, sql from sqlite_schema where type = 'trigger' order by name"), triggers);
  EXPECT_EQ(raw.Rows("select name, sql from sqlite_schema where type = 'index' order by name"), indexes);
  EXPECT_EQ(raw.Rows("select IssueId, Summary, PriorityCode from Issues order by IssueId"), rows);
  raw.Exec("insert into Issues (ProjectId, Summary) values (1, 'next')");
  EXPECT_EQ(raw.Int("select IssueId from Issues where Summary = 'next'"), seq + 1);
  EXPECT_EQ(raw.Run("update Issues set PriorityCode = 'Nope' where IssueId = 1").rc, SQLITE_CONSTRAINT_TRIGGER);

  older->SetValue("Summary", Variant("changed"));
  EXPECT_EQ(testsupport::ErrorNumber([&] { db->WriteBack(*older); }), ado::err::kWriteConflict);
  // The data layer holds values to the new width.
  auto fresh = db->Read("select * from Issues where IssueId = 1");
  fresh->SetValue("Summary", Variant(std::string(300, 'w')));
  db->WriteBack(*fresh);
  EXPECT_EQ(raw.Int("select length(Summary) from Issues where IssueId = 1"), 300);
  EXPECT_NE(testsupport::ErrorNumber([&] { fresh->SetValue("Summary", Variant(std::string(301, 'w'))); }), 0);
}

TEST_F(DdlTest, DroppedDefaultLeavesTheColumnWithoutOne) {
  DropConstraint(c(), "Issues", "DF_Issues_Summary");
  EXPECT_EQ(raw.Int("select count(*) from VantrelConstraints where ConstraintName = 'DF_Issues_Summary'"), 0);
  EXPECT_EQ(raw.Run("insert into Issues (ProjectId) values (1)").rc, SQLITE_CONSTRAINT_NOTNULL);
  EXPECT_EQ(raw.Text("select dflt_value from pragma_table_info('Issues') where name = 'PriorityCode'"), "''");
}

TEST_F(DdlTest, AddedColumnAndKeyThenDroppedColumnTakesItsTriggerKeys) {
  AddColumn(c(), "Issues", NotNull("Colour", "VARCHAR(50)", "''"));
  AddForeignKey(c(), {"fk_Priorities_Colour", "Issues", {"Colour"}, "Priorities", {"PriorityCode"}});
  EXPECT_EQ(raw.Text("select Colour from Issues where IssueId = 1"), "");
  EXPECT_EQ(raw.Run("update Issues set Colour = 'Nope' where IssueId = 1").rc, SQLITE_CONSTRAINT_TRIGGER);
  raw.Exec("update Issues set Colour = 'HIGH' where IssueId = 1");  // keys compare without case
  DropColumn(c(), "Issues", "Colour");
  EXPECT_FALSE(ColumnExists(c(), "Issues", "Colour"));
  EXPECT_EQ(raw.Int("select count(*) from VantrelConstraints where ConstraintName = 'fk_Priorities_Colour'"), 0);
  EXPECT_EQ(raw.Int("select count(*) from sqlite_schema where name like 'fk_Priorities_Colour%'"), 0);
}

TEST_F(DdlTest, CreatedTableHasKeyRowVersionAndCatalogue) {
  CreateTable(c(), Colours());
  EXPECT_EQ(raw.Rows("select ConstraintName, ColumnNames from VantrelConstraints where TableName = 'Colours'"),
            std::vector<std::string>{"pk_Colours|Colour"});
  raw.Exec("insert into Colours (Colour, SortOrder) values ('Red', 1)");
  EXPECT_EQ(raw.Run("insert into Colours (Colour, SortOrder) values ('RED', 2)").rc, SQLITE_CONSTRAINT_PRIMARYKEY);
  EXPECT_GT(raw.Int("select LastUpdated from Colours"), 0);

  RenameColumn(c(), "Colours", "Colour", "Shade");
  RenameColumn(c(), "Colours", "Shade", "SHADE");
  EXPECT_EQ(Declared("Colours", "SHADE"), "VARCHAR(50)");
  EXPECT_EQ(raw.Text("select ColumnNames from VantrelConstraints where ConstraintName = 'pk_Colours'"), "SHADE");
  DropTable(c(), "Colours");
  EXPECT_FALSE(TableExists(c(), "Colours"));
  EXPECT_EQ(raw.Int("select count(*) from VantrelConstraints where TableName = 'Colours'"), 0);
}

}  // namespace
}  // namespace brisquel::schema::ddl
