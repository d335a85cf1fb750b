// The schema as the writers see it through a data-layer connection: refusals by name as
// Connection.Errors(0).NativeError, and write conflicts on the row versions.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ado/ado.h"
#include "automation/automation.h"
#include "support/site_db.h"

using automation::ComError;
using automation::Variant;

namespace {

class DataLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = std::make_shared<ado::Connection>();
    conn_->Open("Data Source=" + sitedb::FreshSite(true).string());
  }

  // Runs a statement by name and returns Errors(0).NativeError of the refusal (0 when none).
  int32_t NativeErrorOf(const std::string& sql) {
    std::shared_ptr<automation::Object> c = conn_;
    try {
      c->Call("Execute", {Variant(sql)});
    } catch (const ComError&) {
      auto errors = c->Get("Errors").ToObject();
      if (errors->Get("Count").ToLong() == 0) return -1;
      return errors->Get("Item", {Variant(0)}).ToObject()->Get("NativeError").ToLong();
    }
    return 0;
  }

  std::shared_ptr<ado::Connection> conn_;
};

TEST_F(DataLayerTest, DuplicateKeysAre2627) {
  EXPECT_EQ(NativeErrorOf("INSERT INTO Groups (GroupCode) VALUES ('DEVELOPERS')"), 2627);
  EXPECT_EQ(NativeErrorOf("INSERT INTO Users (UserId, UserName) VALUES ('Alice', 'A')"), 2627);
  EXPECT_EQ(NativeErrorOf("INSERT INTO Projects (ProjectCode) VALUES ('demo')"), 2627);
  EXPECT_EQ(NativeErrorOf("INSERT INTO SummaryFilters (UserId, FilterName) VALUES ('alice', 'URGENT ISSUES')"),
            2627);
  EXPECT_EQ(NativeErrorOf("INSERT INTO Groups (GroupCode) VALUES ('Reviewers')"), 0);
}

TEST_F(DataLayerTest, ForeignKeysAre547DeclaredOrEmulated) {
  // Declared with the table.
  EXPECT_EQ(NativeErrorOf("DELETE FROM EMailTemplates WHERE TemplateName = 'Assignment Notice'"), 547);
  EXPECT_EQ(NativeErrorOf("INSERT INTO EMailNotifications (EMailAddress, IssueId, TemplateName) "
                          "VALUES ('a@example.com', 99, 'Assignment Notice')"),
            547);
  // Added later and kept by triggers.
  EXPECT_EQ(NativeErrorOf("UPDATE Issues SET ResolutionCode = 'Invented' WHERE IssueId = 1"), 547);
  EXPECT_EQ(NativeErrorOf("DELETE FROM Resolutions WHERE ResolutionCode = 'Fixed'"), 547);
  EXPECT_EQ(NativeErrorOf("DELETE FROM ProjectBuilds WHERE BuildCode = '1.0'"), 547);
  EXPECT_EQ(NativeErrorOf("UPDATE Issues SET ResolutionCode = 'Duplicate' WHERE IssueId = 1"), 0);
}

TEST_F(DataLayerTest, TheDataLayerUsesTheSiteSecret) {
  std::string secret = conn_->SiteSecret();
  EXPECT_EQ(secret.size(), 32u);
  auto rs = conn_->Query("SELECT hex(Value) FROM VantrelSecrets WHERE Name = 'RecordsetImage'");
  std::string hex;
  for (unsigned char c : secret) {
    const char* digits = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  EXPECT_EQ(rs->Value(size_t{0}).ToString(), hex);
}

TEST_F(DataLayerTest, AnyChangeSinceTheReadIsAWriteConflict) {
  auto read = [&](const std::string& sql) {
    auto rs = conn_->Query(sql, {}, ado::adLockBatchOptimistic);
    rs->SetUpdateCriteria(ado::adCriteriaTimeStamp);
    rs->SetActiveConnection(nullptr);
    return rs;
  };
  auto write = [&](ado::Recordset& rs) {
    rs.SetActiveConnection(conn_);
    try {
      rs.UpdateBatch();
    } catch (const ComError& e) {
      rs.SetActiveConnection(nullptr);
      return e.number;
    }
    rs.SetActiveConnection(nullptr);
    return int32_t{0};
  };
  // The workflow editor's save: two saves from one read.
  auto first = read("SELECT * from Workflows where SiteDefault = 1");
  auto second = read("SELECT * from Workflows where SiteDefault = 1");
  first->SetValue("Version", Variant(first->Value("Version").ToLong() + 1));
  EXPECT_EQ(write(*first), 0);
  second->SetValue("Version", Variant(second->Value("Version").ToLong() + 1));
  EXPECT_EQ(write(*second), ado::err::kWriteConflict);
  EXPECT_EQ(conn_->Query("SELECT Version FROM Workflows")->Value(size_t{0}).ToLong(), 2);

  // A plain statement in between, even one that leaves the values as they were, moves the version.
  auto issue = read("select * from Issues where IssueId = 1");
  conn_->ExecuteNonQuery("UPDATE Issues SET Summary = Summary WHERE IssueId = 1");
  issue->SetValue("Summary", Variant("Changed"));
  EXPECT_EQ(write(*issue), ado::err::kWriteConflict);
  // Read again, the write goes through and the recordset holds the new version.
  issue = read("select * from Issues where IssueId = 1");
  issue->SetValue("Summary", Variant("Changed"));
  EXPECT_EQ(write(*issue), 0);
  EXPECT_EQ(issue->Value("LastUpdated").ToLongLong(),
            conn_->Query("SELECT LastUpdated FROM Issues WHERE IssueId = 1")->Value(size_t{0}).ToLongLong());
}

}  // namespace
