#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/lookups.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

using automation::Variant;

// "name|id" of every row, from the first.
std::vector<std::string> Rows(ado::Recordset& rs) {
  std::vector<std::string> rows;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
    rows.push_back(rs.Value("FilterName").ToString() + "|" + rs.Value("FilterId").ToString());
  return rows;
}

using Lines = std::vector<std::string>;

TEST(FiltersTest, AUserWithoutProjectsOrSavedFiltersGetsTheThreeStandardOnes) {
  auto file = sitedb::FreshSite(false);
  sitedb::Db raw(file);
  raw.Exec("INSERT INTO Users (UserId, UserName) VALUES ('gina', 'Gina')");
  auto db = sitedb::Open(file);
  auto rs = GetUserFiltersRs(*db, -1, "gina");
  EXPECT_EQ(Rows(*rs), (Lines{"Assigned to me|s:gina", "All open issues|s:allopen", "All issues|s:all"}));
  ASSERT_EQ(rs->FieldCount(), 2u);
  EXPECT_EQ(rs->Info(0).name, "FilterName");
  EXPECT_EQ(rs->Info(1).name, "FilterId");
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
}

class DemoFiltersTest : public ::testing::Test {
 protected:
  DemoFiltersTest() : file(sitedb::FreshSite(true)), raw(file), db(sitedb::Open(file)) {}

  std::filesystem::path file;
  sitedb::Db raw;
  std::shared_ptr<Database> db;
};

TEST_F(DemoFiltersTest, ProjectMembersThenStandardThenSavedFilters) {
  // Beside the demo's "Urgent issues" of alice.
  raw.Exec("INSERT INTO SummaryFilters (UserId, FilterName) VALUES ('alice', 'Mine this week'), "
           "('alice', 'Blockers'), ('bob', 'Not hers')");
  // alice as the pages might spell her; Demo is public, so dave (a public user) is offered too.
  auto rs = GetUserFiltersRs(*db, 1, "ALICE");
  auto rows = Rows(*rs);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0], "Assigned to me|s:ALICE");
  Lines others(rows.begin() + 1, rows.begin() + 5);
  std::sort(others.begin(), others.end());  // the union asks for no order
  EXPECT_EQ(others, (Lines{"Assigned to admin|s:admin", "Assigned to bob|s:bob", "Assigned to carol|s:carol",
                           "Assigned to dave|s:dave"}));
  EXPECT_EQ(Lines(rows.begin() + 5, rows.end()),
            (Lines{"All open issues|s:allopen", "All issues|s:all", "Blockers|u:Blockers",
                   "Mine this week|u:Mine this week", "Urgent issues|u:Urgent issues"}));
}

TEST_F(DemoFiltersTest, EveryOtherUserForASiteAdministratorByUserId) {
  raw.Exec("INSERT INTO Users (UserId, UserName) VALUES ('Zed', 'Zed'), ('ben', 'Ben')");
  auto rows = Rows(*GetUserFiltersRs(*db, -1, "Admin"));
  EXPECT_EQ(rows, (Lines{"Assigned to me|s:Admin", "Assigned to alice|s:alice", "Assigned to ben|s:ben",
                         "Assigned to bob|s:bob", "Assigned to carol|s:carol", "Assigned to dave|s:dave",
                         "Assigned to Zed|s:Zed", "All open issues|s:allopen", "All issues|s:all"}));
}

TEST_F(DemoFiltersTest, OwnIdInAnotherCaseYieldsNoSecondRow) {
  // The membership row spells the id differently from the argument.
  raw.Exec("UPDATE ProjectUsers SET UserId = 'BoB' WHERE UserId = 'bob'");
  auto rows = Rows(*GetUserFiltersRs(*db, -1, "bob"));
  EXPECT_EQ(rows.front(), "Assigned to me|s:bob");
  for (const auto& row : rows) EXPECT_EQ(row.find("Assigned to BoB"), std::string::npos) << row;
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "Assigned to alice|s:alice"), 1);
}

TEST_F(DemoFiltersTest, LongestIdsAndFilterNamesFit) {
  const std::string longId = "u" + std::string(49, 'q');
  const std::string longFilter = std::string(50, 'F');
  raw.Exec("INSERT INTO Users (UserId, UserName) VALUES ('" + longId + "', 'Long');"
           "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (1, '" + longId + "');"
           "INSERT INTO SummaryFilters (UserId, FilterName) VALUES ('bob', '" + longFilter + "')");
  auto rows = Rows(*GetUserFiltersRs(*db, 1, "bob"));
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "Assigned to " + longId + "|s:" + longId), 1);
  EXPECT_EQ(rows.back(), longFilter + "|u:" + longFilter);
  // And for the long user himself.
  EXPECT_EQ(Rows(*GetUserFiltersRs(*db, 1, longId)).front(), "Assigned to me|s:" + longId);
}

TEST_F(DemoFiltersTest, ReturnedOnTheLastRowAppendedAndCallableByName) {
  auto rs = db->Call("GetUserFiltersRs", {Variant(-1), Variant("alice")}).ToObject();
  ASSERT_NE(rs, nullptr);
  // Not moved back: a caller that reads at once sees the saved filter appended last.
  EXPECT_EQ(rs->Get("Fields", {Variant("FilterName")}).ToObject()->Get("Value").ToString(), "Urgent issues");
  EXPECT_EQ(rs->Get("Fields", {Variant("FilterId")}).ToObject()->Get("Value").ToString(), "u:Urgent issues");
  rs->Call("MoveFirst");
  EXPECT_EQ(rs->Get("Fields", {Variant("FilterName")}).ToObject()->Get("Value").ToString(), "Assigned to me");
  // A failing lookup inside is reported under this procedure's name.
  auto closed = std::make_shared<Database>();
  try {
    closed->Call("GetUserFiltersRs", {Variant(1), Variant("alice")});
    ADD_FAILURE() << "no error raised";
  } catch (const automation::ComError& e) {
    EXPECT_EQ(e.source.rfind("Brisquel.dll:Database.GetUserFiltersRs\r\n", 0), 0u) << e.source;
  }
}

}  // namespace
}  // namespace brisquel
