// A read-only scope set on a data-layer connection also holds for a statement that the
// connection's statement cache kept from before the scope.
#include <gtest/gtest.h>

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
    EXPECT_TRUE(c.HasAuthorizer());
    EXPECT_THROW(db->Each(secret, {}, [](const sql::Row&) {}), automation::ComError);
    EXPECT_EQ(scope.Refused(), "read Users.Password");
    EXPECT_TRUE(db->Exists(other));
  }
  EXPECT_FALSE(c.HasAuthorizer());
  bool read = false;
  db->Each(secret, {}, [&](const sql::Row&) { read = true; });
  EXPECT_TRUE(read);
}

}  // namespace
}  // namespace brisquel
