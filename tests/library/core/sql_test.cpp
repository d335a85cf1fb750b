#include "core/sql.h"

#include <gtest/gtest.h>

#include "automation/vbdate.h"
#include "core/database.h"
#include "core/writer.h"
#include "support/temp_dir.h"

namespace brisquel {
namespace {

using automation::ComError;

class SqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.SetConnectionString("Data Source=" + (dir / "site.db").string());
    db.Exec(
        "CREATE TABLE Groups (GroupCode varchar(20) NOT NULL PRIMARY KEY COLLATE NOCASE, Seats INTEGER, "
        "Active bit);"
        "INSERT INTO Groups VALUES ('Dev', 3, 1), ('QA', NULL, 0)");
  }
  testsupport::TempDir dir;
  Database db;
};

TEST_F(SqlTest, RowsAreTypedAndNullIsEmpty) {
  std::vector<std::string> seen;
  db.Each("select * from Groups order by GroupCode", {}, [&](const sql::Row& r) {
    seen.push_back(r.Text("groupcode") + ":" + std::to_string(r.Long("Seats")) + ":" +
                   (r.Flag("Active") ? "on" : "off") + ":" + (r.OptLong("Seats") ? "set" : "null"));
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"Dev:3:on:set", "QA:0:off:null"}));
  // Value reads as a recordset does: by the declared type, Null as Null.
  db.Each("select * from Groups where GroupCode = 'QA'", {}, [](const sql::Row& r) {
    EXPECT_EQ(r.Value("Active").Type(), automation::VarType::Boolean);
    EXPECT_EQ(r.Value("Active").ToText(), "False");
    EXPECT_EQ(r.Value(0).ToText(), "QA");
    EXPECT_TRUE(r.Value("Seats").IsNull());
  });
  EXPECT_EQ(db.One<int32_t>("select Seats from Groups where GroupCode = ?", {ado::Param::Text("dev", 20)}), 3);
  EXPECT_FALSE(db.One<int32_t>("select Seats from Groups where GroupCode = 'QA'"));
  EXPECT_FALSE(db.One<std::string>("select GroupCode from Groups where 0"));
  EXPECT_TRUE(db.Exists("select 1 from Groups where GroupCode = 'qa'"));
  EXPECT_EQ(db.Exec("update Groups set Seats = 1"), 2);
  EXPECT_THROW(db.Each("select * from Groups", {}, [](const sql::Row& r) { r.Text("Nosuch"); }), ComError);
}

TEST_F(SqlTest, EngineErrorsKeepTheirNativeNumbersAndWidthsHold) {
  EXPECT_THROW(db.Exec("insert into Groups (GroupCode) values ('Dev')"), ComError);
  EXPECT_EQ(db.FirstError().nativeError, 2627);
  EXPECT_THROW(db.Exec("insert into Groups (GroupCode) values (?)", {ado::Param::Text(std::string(21, 'x'), 20)}),
               ComError);
  EXPECT_FALSE(db.Exists("select 1 from Groups where length(GroupCode) > 20"));
}

TEST_F(SqlTest, DateColumnsReadAsDatesAndNullOrOtherTextAsNone) {
  db.Exec("CREATE TABLE Stamps (Id INTEGER PRIMARY KEY, At datetime)");
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"2024-03-05 14:07:31.000", "3/5/2024 2:07:31 PM"},
      {"2024-03-05", "3/5/2024"},
      {"yesterday", ""},
  };
  for (const auto& [stored, text] : cases) {
    db.Exec("delete from Stamps");
    db.Exec("insert into Stamps (At) values (?)", {ado::Param::Text(stored, 30)});
    db.Each("select At from Stamps", {}, [&, &text = text](const sql::Row& r) {
      std::optional<automation::Date> d = r.OptDate("At");
      EXPECT_EQ(d ? automation::FormatDate(*d) : std::string(), text) << stored;
    });
  }
  db.Exec("update Stamps set At = NULL");
  db.Each("select At from Stamps", {}, [](const sql::Row& r) { EXPECT_FALSE(r.OptDate("at")); });
}

TEST_F(SqlTest, WriterTurnsARefusalIntoTheSentenceAndRollsBack) {
  bool ok = Writer(db, "Database", "Probe", [&]() -> bool {
    Database::Transaction tx(db);
    db.Exec("delete from Groups");
    Refuse("Permission denied.");
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(db.LastErrorMessage(), "Permission denied.");
  EXPECT_EQ(db.One<int32_t>("select count(*) from Groups"), 2);
  try {
    Writer(db, "Database", "Probe", [&]() -> bool { return db.Exec("select * from Nosuch") > 0; });
    FAIL();
  } catch (const ComError& e) {
    EXPECT_NE(e.source.find("Database.Probe"), std::string::npos);
  }
}

}  // namespace
}  // namespace brisquel
