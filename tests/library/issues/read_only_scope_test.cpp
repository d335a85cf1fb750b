// A read-only scope set on a data-layer connection also holds for a statement that the
// connection's statement cache kept from before the scope.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "ado/ado.h"
#include "core/database.h"
#include "issues/sql_guard.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

TEST(ReadOnlyScopeOnAConnection, RefusesWhatTheCacheHeldAndGoesWithItsScope) {
  const std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<Database> db = sitedb::Open(file);
  ado::Connection& c = db->Connection();
  const char* secret = "select Password from Users where UserId = 'admin'";
  const char* other = "select ProjectCode from Projects";
  db->Each(secret, {}, [](const sql::Row&) {});  // now in the statement cache
  {
    sqlguard::ReadOnlyScope scope(c, {"Issues", "Projects"});
    EXPECT_NE(c.CurrentGuard().callback, nullptr);
    EXPECT_THROW(db->Each(secret, {}, [](const sql::Row&) {}), automation::ComError);
    EXPECT_EQ(scope.Refused(), "read Users.Password");
    EXPECT_TRUE(db->Exists(other));
  }
  EXPECT_EQ(c.CurrentGuard().callback, nullptr);
  // What the guard allowed is kept prepared for the next scope of the same tables; a scope of other
  // tables decides anew.
  {
    sqlguard::ReadOnlyScope scope(c, {"Issues", "Projects"});
    EXPECT_TRUE(db->Exists(other));
  }
  int runs = 0;
  for (sqlite3_stmt* st = sqlite3_next_stmt(c.Handle(), nullptr); st; st = sqlite3_next_stmt(c.Handle(), st))
    if (std::string_view(sqlite3_sql(st)).find(other) != std::string_view::npos)
      runs = std::max(runs, sqlite3_stmt_status(st, SQLITE_STMTSTATUS_RUN, 0));
  EXPECT_EQ(runs, 2);
  {
    sqlguard::ReadOnlyScope scope(c, {"Issues"});
    EXPECT_THROW(db->Exists(other), automation::ComError);
    EXPECT_EQ(scope.Refused(), "read Projects");
  }
  bool read = false;
  db->Each(secret, {}, [&](const sql::Row&) { read = true; });
  EXPECT_TRUE(read);
}

}  // namespace
}  // namespace brisquel
