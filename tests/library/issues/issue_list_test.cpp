#include "issues/issue_list.h"

#include <gtest/gtest.h>

#include <chrono>

#include "configuration/issue_form.h"
#include "core/multipart.h"
#include "core/recordset_persistence.h"
#include "eventlog/eventlog.h"
#include "issue_lists_fixture.h"

namespace brisquel::testing {
namespace {

using Set = std::set<int>;

class IssueListTest : public IssueListsTest {
 protected:
  std::shared_ptr<ado::Recordset> List(const std::string& user, int project, const std::string& filter,
                                       const std::string& order = "Issues.IssueId", int16_t seq = 0) {
    return GetFilteredIssuesRs(*db, project, filter, user, order, seq);
  }
};

// Every role against every standard filter and scope, saved and written filters; an explicit
// project the user may not see gives an empty list.
TEST_F(IssueListTest, FilterMatrixOfRolesFiltersAndProjects) {
  struct Case {
    std::string user;
    int project;
    std::string filter;
    Set expected;
  };
  sql->Exec("INSERT INTO SummaryFilters (UserId, FilterName, fqFilterExpression) VALUES "
            "('alice', 'Demo only', 'ProjectCode = ''Demo''')");
  const std::vector<Case> cases = {
      {"admin", -1, "s:allopen", {1, 2, 5, 101, 201}},
      {"admin", -1, "s:all", {1, 2, 3, 4, 5, 6, 101, 102, 201, 202}},
      {"admin", -1, "s:bob", {5, 101}},
      {"admin", 2, "s:all", {101, 102}},
      {"admin", 3, "s:allopen", {201}},
      {"alice", -1, "s:allopen", {1, 2, 5}},
      {"alice", -1, "s:all", {1, 2, 3, 4, 5, 6}},
      {"alice", -1, "s:bob", {5}},
      {"alice", 1, "s:carol", {2}},
      {"alice", 2, "s:all", {}},
      {"alice", 3, "s:all", {}},
      {"bob", -1, "s:allopen", {1, 2, 5, 101}},
      {"bob", -1, "s:all", {1, 2, 3, 4, 5, 6, 101, 102}},
      {"bob", -1, "s:bob", {5, 101}},
      {"bob", 2, "s:allopen", {101}},
      {"bob", 2, "x:Issues.StatusCode = 'Closed'", {102}},
      {"dave", -1, "s:allopen", {1, 2, 5, 201}},
      {"dave", -1, "s:all", {1, 2, 3, 4, 5, 6, 201, 202}},
      {"dave", -1, "s:dave", {201}},
      {"dave", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6, 202}},
      {"dave", 3, "s:all", {201, 202}},
      {"dave", 2, "s:all", {}},
      {"dave", 2, "x:1 = 1", {}},
      {"erin", -1, "s:all", {}},
      {"erin", -1, "x:1 = 1", {}},
      {"erin", 1, "s:allopen", {}},
      {"alice", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6}},
      {"bob", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6, 102}},
      {"admin", -1, "x:Issues.StatusCode = 'Closed'", {3, 4, 6, 102, 202}},
      {"alice", -1, "S:ALLOPEN", {1, 2, 5}},  // the standard filters in any case
      {"alice", -1, "S:All", {1, 2, 3, 4, 5, 6}},
      // A saved filter the user does not have lists his own open issues.
      {"alice", -1, "u:no such filter", {1}},
      {"alice", -1, "u:" + std::string(60, 'x'), {1}},
      {"bob", -1, "u:Urgent issues", {5, 101}},
      {"alice", -1, "u:Urgent issues", {2}},  // the demo's wizard filter (with its CR LF), run as saved
      // A column of Projects named alone, over the whole site and over one project.
      {"admin", -1, "x:ProjectCode = 'Demo'", {1, 2, 3, 4, 5, 6}},
      {"admin", 3, "x:ProjectCode = 'Demo'", {}},
      {"alice", 1, "u:Demo only", {1, 2, 3, 4, 5, 6}},
      {"alice", -1,  // a wizard condition on comments
       "x:exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId and "
       "IssueComments.Fieldname = 'Comments' and IssueComments.CommentText like '%guide%')\r\n"
       "or Issues.PriorityCode = 'Urgent'\r\n",
       {2, 3}},
  };
  for (const Case& c : cases) {
    auto rs = List(c.user, c.project, c.filter);
    EXPECT_EQ(IdSet(rs), c.expected) << c.user << " " << c.project << " " << c.filter << ": "
                                     << db->LastErrorMessage();
  }
}

TEST_F(IssueListTest, AConditionThatTriesToLeaveItsParenthesesIsRefused) {
  for (const char* condition :
       {"1=1) or (1=1", "1=1)) or ((1=1", "Issues.IssueId > 0) or Projects.ProjectId in (2", "1=1; delete from Issues",
        "1=1 -- ", "1=1 /* */", "(1=1", "exists(select * from Users where Password like 'a%')",
        "Issues.IssueId in (select IssueId from IssueHistory)", "\"a\" = \"a\"", "Issues.ProjectId = ?",
        "Issues.ProjectId = :UserId",
        // Yes/no tests of rows outside the scope.
        "Issues.IssueId = 1 and exists(select * from Issues where Issues.ProjectId = 2)",
        "Issues.IssueId = 1 and exists(select * from IssueComments where IssueComments.IssueId = 101)"}) {
    auto rs = List("alice", -1, std::string("x:") + condition);
    EXPECT_EQ(rs, nullptr) << condition;
    EXPECT_EQ(db->LastErrorMessage().rfind("Invalid criteria (", 0), 0u) << condition << ": " << db->LastErrorMessage();
  }
  // A saved expression is checked the same way.
  sql->Exec("INSERT INTO SummaryFilters (UserId, FilterName, fqFilterExpression) VALUES "
            "('alice', 'wide', '1=1) or (1=1')");
  EXPECT_EQ(List("alice", -1, "u:wide"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid criteria (incorrect syntax near ')').");
  EXPECT_EQ(sql->Int("select count(*) from Issues"), 10);
}

// A comment of the private project read one character at a time through an outer join, from the
// condition and from the sort order; a per-project code table of it tested for a value.
TEST_F(IssueListTest, SubqueriesCannotReachAPrivateProjectsRows) {
  sql->Exec("INSERT INTO IssueComments (IssueId, FieldName, CommentText) VALUES (101, 'Comments', 'hidden-comment 42');"
            "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (2, 'SECRETMODULE')");
  const std::string outer =
      "(select count(*) from IssueComments left join Priorities on 1 = 1 and IssueComments.IssueId = "
      "Issues.IssueId and 1 = 1 where IssueComments.CommentText like 'hidden-comment%') > 0";
  const std::string inWhere =
      "(select count(*) from IssueComments inner join Priorities on 1 = 1 where IssueComments.IssueId = "
      "Issues.IssueId and IssueComments.CommentText like 'hidden-comment%') > 0";
  const std::string module = "exists (select 1 from ProjectModules where ModuleCode = 'SECRETMODULE')";
  struct Case {
    std::string user, filter, order, message;
  };
  const std::string refused = "Invalid criteria (outer joins are not allowed).";
  const Case cases[] = {
      {"alice", "x:" + outer, "Issues.IssueId", refused},
      {"dave", "x:" + outer, "Issues.IssueId", refused},
      {"alice", "s:all", outer, "Invalid sort order (outer joins are not allowed)."},
      {"alice", "x:" + module, "Issues.IssueId",
       "Invalid criteria (a subquery over 'ProjectModules' must keep to the rows of the issue's project "
       "(ProjectModules.ProjectId = Issues.ProjectId))."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(List(c.user, -1, c.filter, c.order), nullptr) << c.user << " " << c.filter << " " << c.order;
    EXPECT_EQ(db->LastErrorMessage(), c.message);
  }
  EXPECT_EQ(IdSet(List("bob", -1, "x:" + inWhere)), (Set{101}));
  EXPECT_EQ(IdSet(List("alice", -1, "x:" + inWhere)), (Set{}));
  EXPECT_EQ(IdSet(List("bob", -1, "x:" + module.substr(0, module.size() - 1) +
                                      " and ProjectModules.ProjectId = Issues.ProjectId)")),
            (Set{101, 102}));
}

// An accepted condition or sort expression cannot tie the process up: it ends with the sentence
// within its own limit, well before the default command time-out (30 s), or within the
// connection's time-out when that is shorter; a long but plain one still runs.
TEST_F(IssueListTest, ConditionsRunWithinTheirLimit) {
  auto cross = [](int joins) {
    std::string text = "(select count(*) from Priorities";
    for (int i = 0; i < joins; ++i) text += " cross join Priorities";
    return text + ")";
  };
  const std::string tooLong = "Invalid criteria (the criteria take too long to run).";
  struct Case {
    int32_t timeout;
    std::string filter, order, message;
  };
  const Case cases[] = {
      {1, "x:" + cross(13) + " > 0", "Issues.IssueId", tooLong},
      {30, "x:" + cross(20) + " > 0", "Issues.IssueId", tooLong},
      {30, "x:printf('%900000000d', 1) <> ''", "Issues.IssueId", "Invalid criteria (unknown name 'printf')."},
      {30, "s:all", cross(20), "Invalid sort order (the sort order takes too long to run)."},
  };
  for (const Case& c : cases) {
    db->Connection().SetCommandTimeout(c.timeout);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(List("admin", -1, c.filter, c.order), nullptr) << c.filter << " " << c.order;
    EXPECT_EQ(db->LastErrorMessage(), c.message);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
  std::string plain = "Issues.IssueId > 0";
  for (int i = 1000; i < 1300; ++i) plain += " and Issues.IssueId <> " + std::to_string(i);
  EXPECT_EQ(IdSet(List("alice", 1, "x:" + plain)), (Set{1, 2, 3, 4, 5, 6}));
}

// A list of 1,000 issues with few distinct summaries: read a page at a time, in any order of
// pages, or walked forward, it gives the rows of reading it whole, in order; a write committed
// meanwhile does not shift the pages of a list already open.
class PagedListTest : public IssueListTest {
 protected:
  void SetUp() override {
    IssueListTest::SetUp();
    sql->Exec("WITH RECURSIVE n(x) AS (SELECT 1000 UNION ALL SELECT x + 1 FROM n WHERE x < 1993) "
              "INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, Valid, Summary) "
              "SELECT x, 1, 'alice', 'New', 'Open', 1, 'Summary ' || (x * 7 % 13) FROM n");
  }
  std::vector<int> Whole() {
    std::vector<int> ids;
    for (const std::string& id :
         sql->Rows("select IssueId from Issues where ProjectId = 1 order by Summary desc, IssueId desc"))
      ids.push_back(std::stoi(id));
    return ids;
  }
  std::shared_ptr<ado::Recordset> Paged() { return List("alice", 1, "s:all", "Issues.Summary", 1); }
  static std::vector<int> Page(ado::Recordset& rs, int page) {
    std::vector<int> ids;
    rs.SetAbsolutePage(page);
    for (int i = 0; i < rs.PageSize() && !rs.IsEOF(); ++i, rs.MoveNext()) ids.push_back(rs.Value("IssueId").ToLong());
    return ids;
  }
};

TEST_F(PagedListTest, PagesGiveTheWholeListInOrderFromOneSnapshot) {
  const std::vector<int> whole = Whole();
  ASSERT_EQ(whole.size(), 1000u);
  auto rs = Paged();
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->RecordCount(), 1000);
  EXPECT_EQ(rs->PageCount(), 100);
  std::vector<int> paged(whole.size());
  // Another walked forward row by row, as a printed list walks it: a few rows before the write
  // below, the rest after it.
  auto walked = Paged();
  std::vector<int> walkedIds;
  for (walked->MoveFirst(); walkedIds.size() < 25; walked->MoveNext())
    walkedIds.push_back(walked->Value("IssueId").ToLong());
  // Backwards, then the first page again after a write that would come first.
  for (int page = 100; page >= 1; --page) {
    std::vector<int> ids = Page(*rs, page);
    std::copy(ids.begin(), ids.end(), paged.begin() + (page - 1) * 10);
    if (page == 50)
      sql->Exec("INSERT INTO Issues (IssueId, ProjectId, StatusCode, Valid, Summary) VALUES (5000, 1, 'Open', 1, 'Z')");
  }
  EXPECT_EQ(paged, whole);
  for (; !walked->IsEOF(); walked->MoveNext()) walkedIds.push_back(walked->Value("IssueId").ToLong());
  EXPECT_EQ(walkedIds, whole);
  EXPECT_EQ(rs->RecordCount(), 1000);
  EXPECT_EQ(Ids(rs), whole);
  EXPECT_EQ(Paged()->RecordCount(), 1001);
}

// Counting, moving past the end, Find, an image and a batch edit: as on a list read whole.
TEST_F(PagedListTest, APagedListBehavesAsAWholeOne) {
  auto paged = Paged();
  auto whole = RsFromString(*db, RsToString(*db, Paged()));
  const std::vector<int> order = Whole();
  for (auto* rs : {paged.get(), whole.get()}) {
    EXPECT_EQ(rs->RecordCount(), 1000);
    EXPECT_EQ(rs->PageCount(), 100);
    EXPECT_THROW(rs->SetAbsolutePage(101), automation::ComError);
    rs->SetAbsolutePage(37);
    EXPECT_EQ(rs->AbsolutePage(), 37);
    EXPECT_EQ(rs->Value("IssueId").ToLong(), order[360]);
    rs->MoveFirst();
    rs->Find("IssueId = " + std::to_string(order[777]));
    EXPECT_EQ(rs->AbsolutePosition(), 778);
    EXPECT_EQ(rs->AbsolutePage(), 78);
    // A bookmark of a row not read yet takes the list back to it.
    rs->SetAbsolutePage(95);
    const automation::Variant mark = rs->Bookmark();
    rs->MoveFirst();
    rs->SetBookmark(mark);
    EXPECT_EQ(rs->AbsolutePosition(), 941);
    EXPECT_EQ(rs->Value("IssueId").ToLong(), order[940]);
  }
  EXPECT_EQ(Ids(RsFromString(*db, RsToString(*db, paged))), order);
  // A batch edit of rows of two pages never read before.
  auto edited = Paged();
  edited->SetAbsolutePage(90);
  edited->SetValue("Summary", automation::Variant("Edited 90"));
  edited->SetAbsolutePage(60);
  edited->SetValue("Summary", automation::Variant("Edited 60"));
  db->WriteBack(*edited);
  EXPECT_EQ(sql->Rows("select IssueId from Issues where Summary like 'Edited%' order by Summary desc"),
            (std::vector<std::string>{std::to_string(order[890]), std::to_string(order[590])}));
}

// A page past the first is found by its issue ids and then read by them: its rows, every field
// of them with its type, are those of the list read whole in its order, in every scope, with
// conditions and sort orders that name Projects (a column of it unqualified too), a text search,
// and either direction.
TEST_F(PagedListTest, DeepPagesReadByTheirIdsAreThoseOfTheWholeList) {
  sql->Exec("UPDATE Issues SET PriorityCode = CASE IssueId % 5 WHEN 0 THEN '' WHEN 1 THEN 'Urgent' WHEN 2 THEN "
            "'High' WHEN 3 THEN 'Normal' ELSE 'Low' END, ProjectId = 1 + IssueId % 3, StatusCode = CASE WHEN "
            "IssueId % 7 = 0 THEN 'Closed' ELSE 'Open' END WHERE IssueId >= 1000");
  struct Case {
    std::string user;
    int project;
    std::string filter, order;
    int16_t seq;
    int rows;
    bool search = false;  // `filter` is the text searched for
  };
  // Of the 994 issues added, project 1 holds 331 (47 closed) besides the demo's 6 (3 closed),
  // project 2 332 (47 closed) besides 2 (1 closed), project 3 331 (48 closed) besides 2 (1 closed).
  const Case cases[] = {
      {"admin", -1, "s:allopen", "PriorityCode_Priorities.SortOrder", 0, 857},
      {"bob", -1, "s:allopen", "PriorityCode_Priorities.SortOrder", 1, 573},
      {"dave", -1, "s:all", "Issues.Summary", 0, 670},
      {"admin", 3, "s:all", "Issues.Summary", 1, 333},
      {"bob", -1, "x:Projects.ProjectCode <> 'Demo' and Issues.StatusCode = 'Open'", "Issues.IssueId", 1, 286},
      {"bob", -1, "x:ProjectCode = 'Secret'", "PriorityCode_Priorities.SortOrder", 0, 334},
      {"admin", -1, "s:all", "Projects.ProjectCode", 1, 1004},
      {"alice", -1, "Summary", "Issues.Summary", 1, 331, true},
      {"bob", -1, "s:allopen", "Issues.IssueId", 0, 573},
      {"dave", -1, "s:all", "IssueId", 1, 670},
  };
  for (const Case& c : cases) {
    auto read = [&] {
      if (c.search) return FindIssueByTextRs(*db, c.user, c.project, true, c.order, c.seq, c.filter);
      return List(c.user, c.project, c.filter, c.order, c.seq);
    };
    const std::string what = c.user + " " + std::to_string(c.project) + " " + c.filter + " " + c.order;
    auto paged = read(), whole = read();
    ASSERT_NE(paged, nullptr) << what << ": " << db->LastErrorMessage();
    ASSERT_NE(whole, nullptr) << what;
    EXPECT_EQ(paged->RecordCount(), c.rows) << what;
    ASSERT_EQ(whole->RecordCount(), paged->RecordCount()) << what;
    ASSERT_EQ(whole->FieldCount(), paged->FieldCount()) << what;
    // One page of every row: read from the first, in one statement.
    whole->SetPageSize(static_cast<int32_t>(whole->RecordCount()));
    whole->MoveFirst();
    paged->SetPageSize(50);
    const int pages = paged->PageCount();
    for (int page : {pages, pages / 2 + 1, 2}) {
      paged->SetAbsolutePage(page);
      whole->SetAbsolutePosition((page - 1) * 50 + 1);
      int n = 0;
      for (; n < 50 && !paged->IsEOF(); ++n, paged->MoveNext(), whole->MoveNext())
        for (size_t f = 0; f < paged->FieldCount(); ++f) {
          const automation::Variant a = paged->Value(f), b = whole->Value(f);
          EXPECT_TRUE(a == b && a.Type() == b.Type())
              << what << ": page " << page << ", row " << n << ", field " << paged->Info(f).name;
        }
      EXPECT_EQ(n, std::min(50, c.rows - (page - 1) * 50)) << what << ": page " << page;
    }
  }
}

// A walk of some fields to the end (a download) gives each row's values, with their types, as a
// walk row by row gives them: from a row past the first page, with the list's own order, an order
// that names Projects, a sort from outside, and an order by an unqualified column that Projects
// has too (whose second page failed as ambiguous); afterwards the list still gives every row.
TEST_F(PagedListTest, AWalkOfSomeFieldsGivesThoseOfEachRow) {
  sql->Exec("UPDATE Issues SET ProjectId = 1 + IssueId % 3, PriorityCode = CASE IssueId % 3 WHEN 0 THEN 'High' "
            "ELSE '' END WHERE IssueId >= 1000");
  struct Case {
    std::string user, order;
  };
  const Case cases[] = {{"bob", "Issues.IssueId"},
                        {"admin", "Projects.ProjectCode"},
                        {"alice", "PriorityCode_Priorities.SortOrder"},
                        {"admin", "Issues.Summary || Issues.IssueId"},
                        {"bob", "ProjectId"}};
  const std::vector<std::string> names = {"Summary", "IssueId", "ProjectCode", "PriorityCode", "DateClosed"};
  for (const Case& c : cases) {
    auto walked = List(c.user, -1, "s:all", c.order, 1), stepped = List(c.user, -1, "s:all", c.order, 1);
    ASSERT_NE(walked, nullptr) << c.order << ": " << db->LastErrorMessage();
    ASSERT_GT(walked->RecordCount(), 300) << c.order;
    std::vector<size_t> fields;
    for (const std::string& name : names) fields.push_back(walked->FieldIndex(name));
    for (auto* rs : {walked.get(), stepped.get()}) rs->SetAbsolutePosition(14);
    size_t rows = 0;
    walked->ReadRest(fields, [&](const std::vector<automation::Variant>& values) {
      ASSERT_FALSE(stepped->IsEOF()) << c.order;
      for (size_t k = 0; k < fields.size(); ++k) {
        const automation::Variant expected = stepped->Value(fields[k]);
        EXPECT_TRUE(values[k] == expected && values[k].Type() == expected.Type())
            << c.order << ": row " << rows + 14 << ", " << names[k];
      }
      stepped->MoveNext();
      ++rows;
    });
    EXPECT_TRUE(walked->IsEOF() && stepped->IsEOF()) << c.order;
    EXPECT_EQ(rows, static_cast<size_t>(walked->RecordCount() - 13)) << c.order;
    walked->SetAbsolutePosition(walked->RecordCount());
    stepped->MoveLast();
    EXPECT_EQ(walked->Value("Summary"), stepped->Value("Summary")) << c.order;
  }
}

// A member's list of all or of the open issues in issue order walks Issues in the order of its key,
// either way, with no sort of his rows, on a site without the engine's statistics.
TEST_F(PagedListTest, AMembersListInIssueOrderWalksIssuesWithoutSorting) {
  for (const char* filter : {"s:allopen", "s:all", "x:Issues.Summary <> ''"})
    for (int16_t seq : {0, 1}) {
      auto rs = List("bob", -1, filter, "Issues.IssueId", seq);
      ASSERT_NE(rs, nullptr) << filter;
      std::string statement = rs->Source();
      const size_t user = statement.find('?');
      ASSERT_NE(user, std::string::npos) << filter;
      statement.replace(user, 1, "'bob'");
      std::string plan;
      for (const std::string& step : sql->Rows("EXPLAIN QUERY PLAN " + statement)) plan += step + "\n";
      EXPECT_NE(plan.find("SCAN Issues"), std::string::npos) << filter << " " << seq << "\n" << plan;
      EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << filter << " " << seq << "\n" << plan;
    }
}

// The standard lists count from the counts the site keeps per project and status; they follow
// every insert, status change, move and delete.
TEST_F(PagedListTest, KeptCountsFollowEveryWrite) {
  const char* writes[] = {
      "UPDATE Issues SET StatusCode = 'Closed' WHERE IssueId BETWEEN 1000 AND 1099",
      "UPDATE Issues SET ProjectId = 3 WHERE IssueId BETWEEN 1100 AND 1149",
      "UPDATE Issues SET StatusCode = 'open' WHERE IssueId BETWEEN 1000 AND 1009",
      "DELETE FROM Issues WHERE IssueId BETWEEN 1150 AND 1199",
      "UPDATE Issues SET Summary = 'x', StatusCode = StatusCode WHERE IssueId = 1300",
  };
  struct List {
    std::string user;
    int project;
    std::string filter, where;
  };
  const List lists[] = {
      {"admin", -1, "s:allopen", "StatusCode = 'Open'"},
      {"admin", -1, "s:all", "1 = 1"},
      {"admin", 3, "s:allopen", "ProjectId = 3 and StatusCode = 'Open'"},
      {"alice", -1, "s:all", "ProjectId = 1"},
      {"dave", -1, "s:allopen", "ProjectId in (1, 3) and StatusCode = 'Open'"},
      {"alice", 2, "s:all", "0 = 1"},
  };
  for (const char* write : writes) {
    sql->Exec(write);
    for (const List& l : lists)
      EXPECT_EQ(GetFilteredIssuesRs(*db, l.project, l.filter, l.user, "Issues.IssueId", 0)->RecordCount(),
                sql->Int("select count(*) from Issues where " + l.where))
          << write << ": " << l.user << " " << l.project << " " << l.filter;
  }
}

// The names a condition may use follow the schema: a field added through the same Database is
// known to its next list, and the one before it did not know it.
TEST_F(IssueListTest, AFieldAddedIsFilteredOnThroughTheSameDatabase) {
  EXPECT_EQ(List("admin", -1, "x:Issues.Notes = 'kept'"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid criteria (unknown field name 'Issues.Notes').");
  auto form = std::make_shared<MultipartFormData>();
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"FieldName", "Notes"}, {"FieldFriendlyName", "Notes"}, {"TooltipForFilter", ""}, {"TableName", ""},
           {"FieldType", "1"}, {"NumLines", "1"}, {"TextMaxLength", "100"}, {"TextLog", ""}, {"CustomTable", ""}})
    form->Fields()->Add(name, value);
  ASSERT_TRUE(CreateCustomField(*db, "admin", form)) << db->LastErrorMessage();
  db->Exec("UPDATE Issues SET Notes = 'kept' WHERE IssueId IN (2, 201)");
  EXPECT_EQ(IdSet(List("admin", -1, "x:Issues.Notes = 'kept'")), (Set{2, 201}));
  EXPECT_EQ(IdSet(List("alice", 1, "x:Notes = 'kept'", "Issues.Notes")), (Set{2}));
}

TEST_F(IssueListTest, ASortOrderFromOutsideIsCheckedAndRunsReadOnly) {
  EXPECT_EQ(List("admin", -1, "s:all", "Issues.IssueId; delete from Issues"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid sort order (incorrect syntax near ';').");
  EXPECT_EQ(List("admin", -1, "s:all", "(select Password from Users)"), nullptr);
  EXPECT_EQ(List("admin", -1, "s:all", ""), nullptr);
  EXPECT_EQ(sql->Int("select count(*) from Issues"), 10);
  // A stale message does not survive a call that succeeds.
  EXPECT_EQ(Ids(List("admin", 1, "s:allopen")), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(db->LastErrorMessage(), "");
}

TEST_F(IssueListTest, OrderSeqAndCodeTableAliases) {
  EXPECT_EQ(Ids(List("alice", 1, "s:all", "Issues.IssueId", 0)), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Ids(List("alice", 1, "s:all", "Issues.IssueId", 1)), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Ids(List("alice", 1, "s:all", "Issues.IssueId", -1)), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  // Priorities: 1 High, 2 Urgent, 3 Low, 4 Low, 5 Normal, 6 Normal.
  auto byPriority = Ids(List("alice", 1, "s:all", "PriorityCode_Priorities.SortOrder, Issues.IssueId", 0));
  EXPECT_EQ(byPriority, (std::vector<int>{2, 1, 5, 6, 3, 4}));
  // Naturally sorted tables are not joined, so their alias names nothing.
  EXPECT_EQ(List("alice", 1, "s:all", "ModuleCode_ProjectModules.ModuleCode"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid sort order (unknown table 'ModuleCode_ProjectModules').");
}

TEST_F(IssueListTest, ABuildsJoinKeepsToTheIssuesProject) {
  // Both projects have build '1.0'; joined without the project, issue 101 would come twice.
  sql->Exec("UPDATE Issues SET DetectedInBuildCode = '1.0' WHERE IssueId IN (3, 101)");
  auto rs = List("admin", -1, "x:Issues.DetectedInBuildCode = '1.0'",
                 "DetectedInBuildCode_ProjectBuilds.SortOrder, Issues.IssueId");
  EXPECT_EQ(Ids(rs), (std::vector<int>{2, 3, 4, 6, 101}));
}

TEST_F(IssueListTest, TheListIsADetachedPagedRecordsetWithTheProjectCodeFirst) {
  auto rs = List("admin", -1, "s:all");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->Info(0).name, "ProjectCode");
  EXPECT_EQ(rs->Info(1).name, "IssueId");
  EXPECT_EQ(rs->PageSize(), 10);
  EXPECT_EQ(rs->ActiveConnection(), nullptr);
  EXPECT_EQ(rs->UpdateCriteria(), ado::adCriteriaTimeStamp);
}

// What the checks let through and the engine refuses is told in the list's own sentence, of the
// criteria or of the sort order, whichever the engine refused; its words go to the log once, as a
// warning (the caller's mistake), and never to the caller.
TEST_F(IssueListTest, AConditionOrSortOrderTheEngineRefusesGivesNothingWithOurSentence) {
  const std::string criteria = "Invalid criteria (the list cannot be filtered by them).";
  const std::string order = "Invalid sort order (the list cannot be sorted by it).";
  const std::string subquery = "(select count(*) from IssueComments where IssueComments.IssueId = Issues.IssueId ";
  struct Case {
    std::string filter, order, message, logged;
  };
  const Case cases[] = {
      {"x:Issues.IssueId = = 1", "Issues.IssueId", criteria, "near \"=\": syntax error"},
      {"x:Issues.IssueId = = 1", "Issues.Summary || ''", criteria, "near \"=\": syntax error"},
      {"x:Issues.IssueId > 0", subquery + "group by having)", order, "near \"having\": syntax error"},
      {"s:all", subquery + "limit 1 limit 1)", order, "near \"limit\": syntax error"},
      {"s:all", "abs(Issues.IssueId, 2)", order, "wrong number of arguments to function abs()"},
      {"s:all", "ProjectId + 1", order, "ambiguous column name: ProjectId"},
      {"s:all", "Issues.IssueId HAVING 1", "Invalid sort order (incorrect syntax near 'HAVING').", ""},
      {"s:all", "Issues.Summary desc", "Invalid sort order (the last sort key takes its direction from the sort "
                                       "sequence).", ""},
  };
  auto events = eventlog::CaptureInMemory();
  for (const Case& c : cases) {
    events->Clear();
    EXPECT_EQ(List("alice", -1, c.filter, c.order), nullptr) << c.filter << " " << c.order;
    EXPECT_EQ(db->LastErrorMessage(), c.message) << c.filter << " " << c.order;
    const auto logged = events->Events();
    ASSERT_EQ(logged.size(), c.logged.empty() ? 0u : 1u) << c.filter << " " << c.order;
    if (c.logged.empty()) continue;
    EXPECT_EQ(logged[0].type, eventlog::Type::Warning);
    EXPECT_NE(logged[0].text.find(c.logged), std::string::npos) << logged[0].text;
  }
  EXPECT_EQ(FindIssueByTextRs(*db, "alice", -1, true, "Issues.IssueId limit 5", 0, "log"), nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "Invalid sort order (incorrect syntax near 'limit').");
  eventlog::SetSink(nullptr);
}

// Sort keys as the list's headings send them, and lists of them, still sort, either way.
TEST_F(IssueListTest, SortKeysSortEitherWay) {
  // Priorities: 1 High, 2 Urgent, 3 Low, 4 Low, 5 Normal, 6 Normal.
  struct Case {
    std::string order;
    int16_t seq;
    std::vector<int> ids;
  };
  const Case cases[] = {
      {"PriorityCode_Priorities.SortOrder desc, Issues.IssueId", 0, {3, 4, 5, 6, 1, 2}},
      {"PriorityCode_Priorities.SortOrder asc, Issues.IssueId", 1, {2, 1, 6, 5, 4, 3}},
      {"Issues.PriorityCode, Issues.IssueId", 1, {1, 4, 3, 6, 5, 2}},
      {"2", 0, {1, 2, 3, 4, 5, 6}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ids(List("alice", 1, "s:all", c.order, c.seq)), c.ids) << c.order;
    auto rs = List("alice", 1, "s:all", c.order, c.seq);
    ASSERT_NE(rs, nullptr);
    rs->SetPageSize(2);
    rs->SetAbsolutePage(2);
    EXPECT_EQ(rs->Value("IssueId").ToLong(), c.ids[2]) << c.order;
  }
}

TEST_F(IssueListTest, TextSearchFindsLiteralTextInFieldsAndComments) {
  AddIssue(7, 1, "alice", "New", "Open", "O'Brien cannot log in");
  AddIssue(8, 1, "alice", "New", "Open", "Disk 100% full");
  AddIssue(9, 1, "alice", "New", "Open", "Disk 1000 blocks");
  AddIssue(10, 1, "alice", "Fixed", "Closed", "under_score in names");
  AddIssue(11, 1, "alice", "Fixed", "Closed", "underXscore in names");
  auto find = [&](const std::string& user, int project, bool closed, const std::string& text) {
    return IdSet(FindIssueByTextRs(*db, user, project, closed, "Issues.IssueId", 0, text));
  };
  EXPECT_EQ(find("alice", -1, true, "o'brien"), (Set{7}));
  EXPECT_EQ(find("alice", -1, true, "100%"), (Set{8}));
  EXPECT_EQ(find("alice", -1, true, "under_score"), (Set{10}));
  EXPECT_EQ(find("alice", -1, false, "score"), (Set{}));
  EXPECT_EQ(find("alice", -1, true, "score"), (Set{10, 11}));
  // Comments count: issue 3's comment names build 1.1.
  EXPECT_EQ(find("alice", -1, true, "guide of build"), (Set{3}));
  // The scope holds: alice does not see Secret's issues, bob does.
  EXPECT_EQ(find("alice", -1, true, "budget"), (Set{}));
  EXPECT_EQ(find("bob", -1, true, "budget"), (Set{101}));
  EXPECT_EQ(find("alice", 2, true, "budget"), (Set{}));
}

TEST_F(IssueListTest, TextSearchWithoutSearchableFieldsRaises) {
  sql->Exec("UPDATE IssueFields SET Representation = 'combo' WHERE Representation IN ('text', 'multiline', 'comments')");
  EXPECT_THROW(FindIssueByTextRs(*db, "alice", -1, true, "Issues.IssueId", 0, "x"), automation::ComError);
}

TEST_F(IssueListTest, FindByIdStaysInScope) {
  EXPECT_EQ(Ids(FindIssueByIdRs(*db, "alice", -1, 3)), (std::vector<int>{3}));
  auto other = FindIssueByIdRs(*db, "alice", -1, 101);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->RecordCount(), 0);
  EXPECT_EQ(Ids(FindIssueByIdRs(*db, "alice", 2, 101)), (std::vector<int>{}));
  EXPECT_EQ(Ids(FindIssueByIdRs(*db, "bob", 2, 101)), (std::vector<int>{101}));
}

TEST_F(IssueListTest, MembersAreCalledByName) {
  auto rs = db->Call("GetFilteredIssuesRs", {1, "s:allopen", "alice", "Issues.IssueId", automation::Variant::Integer(0)});
  ASSERT_TRUE(rs.IsObject());
  auto list = std::dynamic_pointer_cast<ado::Recordset>(rs.ToObject());
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 5}));
  auto nothing = db->Call("GetFilteredIssuesRs", {-1, "x:1=1) or (1=1", "alice", "Issues.IssueId", 0});
  EXPECT_TRUE(nothing.IsNothing());
}

}  // namespace
}  // namespace brisquel::testing
