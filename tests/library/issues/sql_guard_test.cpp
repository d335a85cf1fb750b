#include "issues/sql_guard.h"

#include <gtest/gtest.h>

#include "support/site_db.h"

namespace brisquel::sqlguard {
namespace {

class SqlGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    sql = std::make_unique<sitedb::Db>(file);
    catalogue = Catalogue::ForIssues(sql->handle());
  }
  std::string Condition(const std::string& text) { return Check(text, catalogue, Fragment::Condition); }
  // The outcome of preparing `text` (SQLITE_OK, SQLITE_AUTH, ...).
  int Prepare(const std::string& text) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(sql->handle(), text.c_str(), -1, &st, nullptr);
    sqlite3_finalize(st);
    return rc;
  }

  std::filesystem::path file;
  std::unique_ptr<sitedb::Db> sql;
  Catalogue catalogue;
};

TEST_F(SqlGuardTest, TheIssueCatalogueHoldsTheListsTablesAndAliases) {
  EXPECT_TRUE(catalogue.tables.count("issues"));
  EXPECT_TRUE(catalogue.tables.count("IssueComments"));
  EXPECT_TRUE(catalogue.tables.count("Priorities"));
  EXPECT_FALSE(catalogue.tables.count("Users"));
  EXPECT_FALSE(catalogue.tables.count("IssueHistory"));
  EXPECT_EQ(catalogue.aliases.at("PriorityCode_Priorities"), "Priorities");
  EXPECT_EQ(catalogue.aliases.at("DetectedInBuildCode_ProjectBuilds"), "ProjectBuilds");
  EXPECT_FALSE(catalogue.aliases.count("ModuleCode_ProjectModules"));  // naturally sorted
  EXPECT_FALSE(catalogue.aliases.count("AssignedToUser_ProjectUsers"));
}

TEST_F(SqlGuardTest, ConditionsTheSystemComposesPass) {
  for (const char* ok : {
           "Issues.PriorityCode = 'Urgent'\r\n",
           "Issues.PriorityCode = 'Urgent'\r\nand (Issues.Summary like '%a) or (b%'\r\nor not (Issues.IssueId > 5))\r\n",
           "exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId and "
           "IssueComments.Fieldname = 'Comments' and IssueComments.CommentText like '%O''Brian%')",
           "Issues.DateOpened >= date(GetDate(), '-7 days') and Issues.DateClosed is not null",
           "PriorityCode_Priorities.SortOrder <= 3 and Projects.ProjectCode <> ''",
           "Issues.IssueId = -5",
           "Issues.Summary = x'41' or Issues.IssueId between 1.5e1 and 20",
           "StatusCode = 'Open' and Valid = 1",
       })
    EXPECT_EQ(Condition(ok), "") << ok;
  EXPECT_EQ(Check("PriorityCode_Priorities.SortOrder desc, Issues.IssueId", catalogue, Fragment::OrderBy), "");
}

TEST_F(SqlGuardTest, FragmentsThatCouldEscapeOrReachOtherDataAreRefused) {
  EXPECT_EQ(Condition("1=1) or (1=1"), "incorrect syntax near ')'");
  EXPECT_EQ(Condition("(1=1"), "incorrect syntax near '('");
  EXPECT_EQ(Condition("1=1; drop table Issues"), "incorrect syntax near ';'");
  EXPECT_EQ(Condition("1=1 -- x"), "comments are not allowed");
  EXPECT_EQ(Condition("1=1 /* x */"), "comments are not allowed");
  EXPECT_EQ(Condition("Issues.Summary = 'unclosed"), "unclosed quotation mark");
  EXPECT_EQ(Condition("Issues.Summary = \"x\""),
            "strings must be quoted using single quotes, use 2 single quotes to quote a single quote: 'O''Brian'");
  EXPECT_EQ(Condition("Issues.ProjectId = ?"), "parameters are not allowed");
  EXPECT_EQ(Condition("Issues.ProjectId = @UserId"), "parameters are not allowed");
  EXPECT_EQ(Condition("[Issues].IssueId = 1"), "incorrect syntax near '['");
  EXPECT_EQ(Condition("exists(select * from Users)"), "unknown name 'Users'");
  EXPECT_EQ(Condition("Users.Password = ''"), "unknown table 'Users'");
  EXPECT_EQ(Condition("Issues.Password = ''"), "unknown field name 'Issues.Password'");
  EXPECT_EQ(Condition("Password = ''"), "unknown name 'Password'");
  EXPECT_EQ(Condition("main.Issues.IssueId = 1"), "unknown table 'main'");
  EXPECT_EQ(Condition("load_extension('x') = 1"), "unknown name 'load_extension'");
  EXPECT_EQ(Condition("1 = 1 union select 1"), "unknown name 'union'");
  EXPECT_EQ(Condition("Issues. = 1"), "incorrect syntax near '.'");
  EXPECT_EQ(Condition("Issues.PriorityCode.outer = 'P'"), "incorrect syntax near '.'");
  EXPECT_EQ(Condition("Issues.IssueId = 1 ->"), "incorrect syntax near '->'");
  EXPECT_EQ(Condition(""), "the criteria are empty");
  EXPECT_EQ(Condition("  \r\n"), "the criteria are empty");
  EXPECT_EQ(Condition("Issues.Summary = 'é' and é = 1"), "incorrect syntax near 'é'");
}

// A sort order is sort keys on the list's columns, each but the last with one direction: words
// that would end the expression reach no statement.
TEST_F(SqlGuardTest, ASortOrderHoldsOnlySortKeys) {
  auto order = [&](const std::string& text) { return Check(text, catalogue, Fragment::OrderBy); };
  for (const char* ok : {"Issues.IssueId", "ProjectCode", "Projects.ProjectCode", "PriorityCode_Priorities.SortOrder",
                         "Issues.Summary || Issues.IssueId", "lower(Issues.Summary) collate nocase",
                         "Issues.Summary desc, Issues.IssueId", "Issues.Summary ASC , Issues.PriorityCode DESC, 1",
                         "case when Issues.StatusCode = 'Open' then 0 else 1 end",
                         "(select count(*) from IssueComments where IssueComments.IssueId = Issues.IssueId)"})
    EXPECT_EQ(order(ok), "") << ok;
  const std::pair<const char*, const char*> refused[] = {
      {"Issues.IssueId HAVING 1", "incorrect syntax near 'HAVING'"},
      {"Issues.IssueId limit 1", "incorrect syntax near 'limit'"},
      {"Issues.IssueId group by Issues.Summary", "incorrect syntax near 'group'"},
      {"Issues.IssueId desc desc, Issues.Summary", "incorrect syntax near 'desc'"},
      {"Issues.IssueId desc", "the last sort key takes its direction from the sort sequence"},
      {"Issues.IssueId, Issues.Summary asc", "the last sort key takes its direction from the sort sequence"},
      {"Issues.IssueId,", "incorrect syntax near ','"},
      {"Issues.IssueId,, Issues.Summary", "incorrect syntax near ','"},
      {"desc, Issues.IssueId", "incorrect syntax near 'desc'"},
      {"Issues.IssueId as Summary", "incorrect syntax near 'as'"},
      {"distinct Issues.IssueId", "incorrect syntax near 'distinct'"},
      {"Priorities.SortOrder", "the list has no table 'Priorities'"},
      {"CommentText", "the list has no column 'CommentText'"},
      {"Issues.IssueId order by 1", "incorrect syntax near 'order'"},
      {"select 1", "incorrect syntax near 'select'"},
  };
  for (const auto& [text, why] : refused) EXPECT_EQ(order(text), why) << text;
}

// A subquery could test rows outside the list's scope one yes/no at a time: it may read code
// tables, and comments only of the issue at hand.
TEST_F(SqlGuardTest, SubqueriesKeepToCodeTablesAndTheIssuesOwnComments) {
  EXPECT_EQ(Condition("Issues.PriorityCode in (select PriorityCode from Priorities where SortOrder < 3)"), "");
  EXPECT_EQ(Condition("not exists(select * from IssueComments where Issues.IssueId = IssueComments.IssueId)"), "");
  EXPECT_EQ(Condition("exists(select * from IssueComments where IssueComments.CommentText like 'a' and "
                      "IssueComments.IssueId = Issues.IssueId group by IssueComments.FieldName)"),
            "");
  EXPECT_EQ(Condition("exists(select * from Issues where Issues.ProjectId = 2 and Issues.Summary like 'B%')"),
            "a subquery may not read 'Issues'");
  EXPECT_EQ(Condition("exists(select * from Projects where Projects.ProjectCode = 'Secret')"),
            "a subquery may not read 'Projects'");
  EXPECT_EQ(Condition("exists(select * from ProjectUsers where ProjectUsers.UserId = 'bob')"),
            "a subquery may not read 'ProjectUsers'");
  const std::string own = "a subquery over 'IssueComments' must keep to the issue's own rows "
                          "(IssueComments.IssueId = Issues.IssueId)";
  EXPECT_EQ(Condition("exists(select * from IssueComments where IssueComments.IssueId = 101)"), own);
  EXPECT_EQ(Condition("Issues.IssueId in (select IssueComments.IssueId from IssueComments)"), own);
  EXPECT_EQ(Condition("exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId - "
                      "Issues.IssueId + 101)"),
            own);
  EXPECT_EQ(Condition("exists(select * from IssueComments where (IssueComments.IssueId = Issues.IssueId))"), own);
  EXPECT_EQ(Condition("exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId is not "
                      "null)"),
            own);
  EXPECT_EQ(Condition("exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId or "
                      "IssueComments.IssueId = 101)"),
            "a subquery over 'IssueComments' may not use or");
  EXPECT_EQ(Condition("exists(select * from IssueComments where IssueComments.IssueId between 0 and "
                      "IssueComments.IssueId = Issues.IssueId)"),
            "a subquery over 'IssueComments' may not use between");
  // A subquery inside the subquery is held to the same rule.
  EXPECT_EQ(Condition("exists(select * from Priorities where exists(select * from IssueComments where "
                      "IssueComments.IssueId > 0))"),
            own);
  // Tables stand alone only after FROM or JOIN.
  EXPECT_EQ(Condition("Issues.IssueId in IssueComments"), "incorrect syntax near 'IssueComments'");
  EXPECT_EQ(Check("(select count(*) from IssueComments where IssueComments.IssueId = 101)", catalogue,
                  Fragment::OrderBy),
            own);
}

TEST_F(SqlGuardTest, TheAuthorizerAllowsOnlyReadingTheNamedTablesAndNoSecrets) {
  {
    ReadOnlyScope scope(sql->handle(), {"Issues", "Projects"});
    EXPECT_EQ(Prepare("select Issues.*, Projects.ProjectCode from Issues join Projects using (ProjectId)"), SQLITE_OK);
    EXPECT_EQ(Prepare("select * from IssueHistory"), SQLITE_AUTH);
    EXPECT_EQ(scope.Refused(), "read IssueHistory");
    EXPECT_EQ(Prepare("delete from Issues"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("update Issues set Summary = ''"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("insert into Projects (ProjectCode) values ('x')"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("attach 'x.db' as x"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("pragma writable_schema = 1"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("create temp table t (a)"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("begin"), SQLITE_AUTH);
  }
  {
    ReadOnlyScope scope(sql->handle(), {});  // every table, but never a secret
    EXPECT_EQ(Prepare("select UserId, UserName from Users"), SQLITE_OK);
    EXPECT_EQ(Prepare("select * from Users"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("select 1 from Users where SecretQuestionAnswer like 'a%'"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("select count(*) from EMailConfiguration where SmtpPassword <> ''"), SQLITE_AUTH);
    EXPECT_EQ(Prepare("select Name from VantrelSecrets"), SQLITE_AUTH);
  }
  // Gone with its scope.
  EXPECT_EQ(Prepare("select * from Users"), SQLITE_OK);
}

// A link that does not restrict the rows read (in an ON clause, under an outer join), a table
// read twice or through a subquery, and a per-project code table read for any project would each
// let a condition test rows outside the scope.
TEST_F(SqlGuardTest, SubqueriesMayNotSidestepTheirLink) {
  const std::string link = "IssueComments.IssueId = Issues.IssueId";
  const std::pair<std::string, std::string> cases[] = {
      {"(select count(*) from IssueComments left join Priorities on 1 = 1 and " + link +
           " and 1 = 1 where IssueComments.CommentText like 'hidden-comment%') > 0",
       "outer joins are not allowed"},
      {"exists(select 1 from Priorities left outer join IssueComments on " + link + ")",
       "outer joins are not allowed"},
      {"exists(select 1 from IssueComments inner join Priorities on " + link + " where 1 = 1)",
       "a subquery over 'IssueComments' must keep to the issue's own rows (" + link + ")"},
      {"exists(select 1 from IssueComments where 1 = 1 group by IssueComments.IssueId having " + link + ")",
       "a subquery over 'IssueComments' must keep to the issue's own rows (" + link + ")"},
      {"exists(select 1 from IssueComments inner join IssueComments on 1 = 1 where " + link + ")",
       "a subquery may read 'IssueComments' only once"},
      {"exists(select 1 from (select 1))", "a subquery may read only tables"},
      {"exists (select 1 from ProjectModules where ModuleCode = 'SECRETMODULE')",
       "a subquery over 'ProjectModules' must keep to the rows of the issue's project "
       "(ProjectModules.ProjectId = Issues.ProjectId)"},
      {"Issues.DetectedInBuildCode in (select BuildCode from ProjectBuilds where SortOrder > 1 or 1 = 1)",
       "a subquery over 'ProjectBuilds' may not use or"},
      {"exists (select 1 from ProjectModules where ModuleCode = 'UI' and ProjectModules.ProjectId = Issues.ProjectId)",
       ""},
      {"(select count(*) from IssueComments inner join Priorities on 1 = 1 where " + link +
           " and IssueComments.CommentText like 'a%') > 0",
       ""},
      {"printf('%900000000d', 1) <> ''", "unknown name 'printf'"},
      {"replace(Issues.Summary, 'a', Issues.Summary) <> ''", "unknown name 'replace'"},
      {std::string(101, '(') + "1" + std::string(101, ')'), "the parentheses nest too deeply"},
      {std::string(100, '(') + "1" + std::string(100, ')'), ""},
      {"Issues.Summary = '" + std::string(kMaxFragmentBytes, 'a') + "'", "the criteria are too long"},
  };
  for (const auto& [text, why] : cases) EXPECT_EQ(Condition(text), why) << text.substr(0, 200);
}

// The authorizer is the last word on functions, whatever the check let through; the limits it
// lowers come back with the scope's end.
TEST_F(SqlGuardTest, TheScopeRefusesAllocatingFunctionsAndRestoresTheLimits) {
  const int length = sqlite3_limit(sql->handle(), SQLITE_LIMIT_LENGTH, -1);
  {
    ReadOnlyScope scope(sql->handle(), {});
    // The engine reports a refused function as an error of its own ("not authorized to use ...").
    const std::pair<const char*, const char*> calls[] = {
        {"printf('%9d', 1)", "call printf"}, {"zeroblob(9)", "call zeroblob"}, {"randomblob(9)", "call randomblob"},
        {"replace('a', 'a', 'b')", "call replace"}, {"hex(1)", "call hex"}};
    for (const auto& [call, refused] : calls) {
      EXPECT_EQ(Prepare(std::string("select ") + call), SQLITE_ERROR) << call;
      EXPECT_EQ(scope.Refused(), refused);
    }
    EXPECT_LT(sqlite3_limit(sql->handle(), SQLITE_LIMIT_LENGTH, -1), length);
  }
  EXPECT_EQ(sqlite3_limit(sql->handle(), SQLITE_LIMIT_LENGTH, -1), length);
  EXPECT_EQ(Prepare("select hex(1)"), SQLITE_OK);
}

}  // namespace
}  // namespace brisquel::sqlguard
