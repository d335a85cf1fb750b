#include "configuration/sql_helper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace brisquel {
namespace {

const char* const kDoubleQuotes =
    "Invalid criteria (strings must be quoted using single quotes, use 2 single quotes to quote a single quote: "
    "'O''Brian').";

class SqlHelperTest : public ::testing::Test {
 protected:
  void SetUp() override { file = sitedb::FreshSite(true); }
  std::string Check(const std::string& criteria) {
    SQLHelper h;
    return h.SimpleParseFilter(criteria, sitedb::ConnectionString(file));
  }
  std::filesystem::path file;
};

TEST_F(SqlHelperTest, TheScanCatchesSeparatorsAndDoubleQuotes) {
  SQLHelper h;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ProjectId=1;", "Invalid criteria (incorrect syntax near ';')."},
      {"Summary = \"x\"", kDoubleQuotes},
      {"Summary = \"", kDoubleQuotes},  // a lone double quote at the end
      {"Summary = \"abc", ""},          // runs to the end, its last character is no quote
      {"Summary = 'O''Brian'", ""},
      {"Summary = 'a;b'", ""},
      {"Summary = 'a\"b\"'", ""},
      {"", ""},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(h.Scan(text), message) << text;
}

TEST_F(SqlHelperTest, TheTrialStatementReportsInTheUsersWords) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Issues.StatusCode = 'Open'", ""},
      {"Summary = 'O''Brian'", ""},
      {"Summary = 'a;b'", ""},
      {"", "Invalid criteria (incorrect syntax near ')')."},
      {"Nosuch = 1", "Invalid criteria (invalid field name 'Nosuch')."},
      {"Summary = 'abc", "Invalid criteria (unclosed quotation mark)."},
      {"ProjectId = 1", "Invalid criteria (ambiguous field name 'ProjectId')."},
      {"Summary = = 1", "Invalid criteria (incorrect syntax near '=')."},
      {"Users.Password = 'x'", "Invalid criteria (invalid field name 'Users.Password')."},
      {"Summary = (select Password from Users)", "Invalid criteria (the criteria may not read Users.Password)."},
      {"Summary in (select UserId from Users)", "Invalid criteria (the criteria may not read Users)."},
      {"1=1) or (1=1", "Invalid criteria (incorrect syntax near ')')."},
      {"1=1) where (1=1", "Invalid criteria (incorrect syntax near '1=1) where (1=1')."},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(Check(text), message) << text;
  // What the issue list would refuse is refused here too.
  EXPECT_EQ(Check("IssueId in (select IssueId from IssueComments)").rfind("Invalid criteria (a subquery over", 0), 0u);
}

TEST_F(SqlHelperTest, NothingIsRunAndNoConnectionIsLeftOpen) {
  const std::filesystem::path wal = file.string() + "-wal";
  for (const char* text : {"Issues.IssueId in (1, 2)", "1=1) ; delete from Issues where (1=1",
                           "Issues.IssueId = 1 and Summary = 'x'"})
    Check(text);
  // The last connection to close removes the write-ahead log: none is left open.
  EXPECT_FALSE(std::filesystem::exists(wal));
  sitedb::Db raw(file);
  EXPECT_EQ(raw.Int("select count(*) from Issues"), 6);
}

TEST_F(SqlHelperTest, CallableByProgIdWithAnEmptyFqExpression) {
  auto helper = automation::CreateObject("Brisquel.SQLHelper");
  EXPECT_EQ(helper->Get("fqExpression").ToString(), "");
  EXPECT_EQ(helper->Call("SimpleParseFilter", {automation::Variant("Issues.IssueId > 2"),
                                               automation::Variant(sitedb::ConnectionString(file))})
                .ToString(),
            "");
  EXPECT_EQ(helper->Call("SimpleParseFilter", {automation::Variant("Nosuch = 1"),
                                               automation::Variant(sitedb::ConnectionString(file))})
                .ToString(),
            "Invalid criteria (invalid field name 'Nosuch').");
}

TEST_F(SqlHelperTest, AConnectionThatCannotOpenIsAnUnexpectedError) {
  automation::ComError e = testsupport::ErrorOf([&] {
    SQLHelper h;
    h.SimpleParseFilter("Issues.IssueId = 1", "Data Source=" + (file.parent_path() / "no" / "such.db").string());
  });
  EXPECT_NE(e.number, 0);
  EXPECT_NE(e.source.find("Brisquel.dll:SQLHelper.SimpleParseFilter"), std::string::npos) << e.source;
}

}  // namespace
}  // namespace brisquel
