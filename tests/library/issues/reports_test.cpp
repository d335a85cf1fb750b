#include "issues/reports.h"

#include <gtest/gtest.h>

#include <map>

#include "issue_lists_fixture.h"

namespace brisquel::testing {
namespace {

using automation::Date;

class ReportsTest : public IssueListsTest {
 protected:
  static void Today(int y, int m, int d) {
    // In the afternoon, so that a period built from the time of day would show.
    automation::SetClockForTesting(*automation::MakeDate({y, m, d, 14, 30, 0}));
  }
  static std::pair<Date, Date> Period(const std::string& name) {
    ReportPeriod p = DailyReportPeriod(name);
    return {p.first, p.last};
  }
  static std::pair<Date, Date> Days(Date a, Date b) { return {a, b}; }

  void History(const std::string& user, int issue, int project, const std::string& createdOn) {
    sql->Exec("INSERT INTO IssueHistory (IssueId, ProjectId, UserId, CreatedOn, NewResolutionCode, NewStatusCode) "
              "VALUES (" +
              std::to_string(issue) + ", " + std::to_string(project) + ", '" + user + "', '" + createdOn +
              "', 'New', 'Open')");
  }
  // UserId -> "NumIssues/NumChanges".
  static std::map<std::string, std::string> Counts(const std::shared_ptr<ado::Recordset>& rs) {
    std::map<std::string, std::string> out;
    for (; !rs->IsEOF(); rs->MoveNext())
      out[rs->Value("UserId").ToString()] = rs->Value("NumIssues").ToString() + "/" + rs->Value("NumChanges").ToString();
    return out;
  }
  using Counted = std::map<std::string, std::string>;
};

TEST_F(ReportsTest, WeeksStartOnMondayAndMonthsEndOnTheirLastDay) {
  Today(2024, 1, 15);  // a Monday
  EXPECT_EQ(Period("This week"), Days(Day(2024, 1, 15), Day(2024, 1, 15)));
  EXPECT_EQ(Period("Last week"), Days(Day(2024, 1, 8), Day(2024, 1, 14)));
  EXPECT_EQ(Period("Today"), Days(Day(2024, 1, 15), Day(2024, 1, 15)));
  EXPECT_EQ(Period("Yesterday"), Days(Day(2024, 1, 14), Day(2024, 1, 14)));
  EXPECT_EQ(Period("Last month"), Days(Day(2023, 12, 1), Day(2023, 12, 31)));
  EXPECT_EQ(Period("This month"), Days(Day(2024, 1, 1), Day(2024, 1, 15)));

  Today(2024, 1, 21);  // a Sunday
  EXPECT_EQ(Period("This week"), Days(Day(2024, 1, 15), Day(2024, 1, 21)));
  EXPECT_EQ(Period("Last week"), Days(Day(2024, 1, 8), Day(2024, 1, 14)));

  Today(2024, 3, 1);  // leap year
  EXPECT_EQ(Period("Last month"), Days(Day(2024, 2, 1), Day(2024, 2, 29)));
  EXPECT_EQ(Period("Yesterday"), Days(Day(2024, 2, 29), Day(2024, 2, 29)));
  EXPECT_EQ(Period("This week"), Days(Day(2024, 2, 26), Day(2024, 3, 1)));
  Today(2023, 3, 1);
  EXPECT_EQ(Period("Last month"), Days(Day(2023, 2, 1), Day(2023, 2, 28)));

  Today(2024, 5, 31);
  EXPECT_EQ(Period("This month"), Days(Day(2024, 5, 1), Day(2024, 5, 31)));
  EXPECT_EQ(Period("Last month"), Days(Day(2024, 4, 1), Day(2024, 4, 30)));
  // A week across the turn of the year.
  Today(2025, 1, 2);  // a Thursday
  EXPECT_EQ(Period("This week"), Days(Day(2024, 12, 30), Day(2025, 1, 2)));
  EXPECT_EQ(Period("Last week"), Days(Day(2024, 12, 23), Day(2024, 12, 29)));

  EXPECT_EQ(Period("tHIS wEEK"), Days(Day(2024, 12, 30), Day(2025, 1, 2)));
  EXPECT_EQ(Period(""), Days(Day(2025, 1, 2), Day(2025, 1, 2)));
  EXPECT_EQ(Period("Fortnight"), Days(Day(2025, 1, 2), Day(2025, 1, 2)));
}

class DailyReportsTest : public ReportsTest {
 protected:
  void SetUp() override {
    ReportsTest::SetUp();
    Today(2024, 1, 17);
    sql->Exec("DELETE FROM IssueHistory;"
              "INSERT INTO Users (UserId, PublicUser) VALUES ('pat', 1);");
    History("alice", 1, 1, "2024-01-16 23:59:59.999");
    History("alice", 1, 1, "2024-01-16 10:00:00.000");
    History("alice", 2, 1, "2024-01-17 00:00:00.000");
    History("alice", 3, 1, "2024-01-15 23:59:59.999");
    History("bob", 101, 2, "2024-01-16 12:00:00.000");
    History("dave", 1, 1, "2024-01-16 08:00:00.000");
    History("dave", 201, 3, "2024-01-16 09:00:00.000");
  }
};

TEST_F(DailyReportsTest, TheSummaryListsEveryMemberAndCountsTheLastDayWhole) {
  EXPECT_EQ(Counts(GetDailySummaryRs(*db, 1, "alice", "Yesterday")),
            (Counted{{"admin", "0/0"}, {"alice", "1/2"}, {"bob", "0/0"}, {"carol", "0/0"}}));
  EXPECT_EQ(Counts(GetDailySummaryRs(*db, 1, "alice", "this week")),
            (Counted{{"admin", "0/0"}, {"alice", "3/4"}, {"bob", "0/0"}, {"carol", "0/0"}}));
  // Every project of bob: Demo's members and his Secret change.
  EXPECT_EQ(Counts(GetDailySummaryRs(*db, -1, "bob", "Yesterday")),
            (Counted{{"admin", "0/0"}, {"alice", "1/2"}, {"bob", "1/1"}, {"carol", "0/0"}}));
  EXPECT_EQ(Counts(GetDailySummaryRs(*db, 2, "bob", "Yesterday")), (Counted{{"bob", "1/1"}}));
  // A project the caller may not see reports nothing.
  EXPECT_EQ(Counts(GetDailySummaryRs(*db, 2, "alice", "Yesterday")), (Counted{}));
  EXPECT_EQ(Counts(GetDailySummaryRs(*db, -1, "erin", "Yesterday")), (Counted{}));
}

TEST_F(DailyReportsTest, ThePublicSummaryListsOnlyPublicUsersWithChangesTheCallerMaySee) {
  EXPECT_EQ(Counts(GetPublicDailySummaryRs(*db, 1, "alice", "Yesterday")), (Counted{{"dave", "1/1"}}));
  EXPECT_EQ(Counts(GetPublicDailySummaryRs(*db, -1, "admin", "Yesterday")), (Counted{{"dave", "2/2"}}));
  EXPECT_EQ(Counts(GetPublicDailySummaryRs(*db, -1, "alice", "Yesterday")), (Counted{{"dave", "1/1"}}));
  EXPECT_EQ(Counts(GetPublicDailySummaryRs(*db, -1, "dave", "Yesterday")), (Counted{{"dave", "2/2"}}));
  EXPECT_EQ(Counts(GetPublicDailySummaryRs(*db, 3, "alice", "Yesterday")), (Counted{}));
  EXPECT_EQ(Counts(GetPublicDailySummaryRs(*db, -1, "admin", "Today")), (Counted{}));
}

TEST_F(DailyReportsTest, TheDetailListsTheIssuesOfOneUser) {
  auto rs = GetDailyDetailRs(*db, -1, "admin", "alice", "Yesterday");
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->Value("IssueId").ToLong(), 1);
  EXPECT_EQ(rs->Value("ProjectCode").ToString(), "Demo");
  EXPECT_EQ(rs->Value("ResolutionCode").ToString(), "New");
  EXPECT_EQ(rs->Value("PriorityCode").ToString(), "High");
  EXPECT_EQ(rs->FieldCount(), 6u);
  EXPECT_EQ(Ids(GetDailyDetailRs(*db, -1, "admin", "alice", "Today")), (std::vector<int>{2}));
  EXPECT_EQ(Ids(GetDailyDetailRs(*db, 1, "admin", "alice", "This week")), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Ids(GetDailyDetailRs(*db, -1, "bob", "bob", "Yesterday")), (std::vector<int>{101}));
  EXPECT_EQ(Ids(GetDailyDetailRs(*db, -1, "alice", "bob", "Yesterday")), (std::vector<int>{}));
  EXPECT_EQ(Ids(GetDailyDetailRs(*db, 2, "alice", "bob", "Yesterday")), (std::vector<int>{}));
  EXPECT_EQ(Ids(GetDailyDetailRs(*db, -1, "dave", "dave", "Yesterday")), (std::vector<int>{1, 201}));
}

TEST_F(DailyReportsTest, AFailureReachesTheCallerThroughTheErrorProtocol) {
  sql->Exec("ALTER TABLE IssueHistory RENAME TO OldHistory");
  try {
    GetDailySummaryRs(*db, 1, "alice", "Today");
    FAIL() << "no error";
  } catch (const automation::ComError& e) {
    EXPECT_NE(e.source.find("Database.GetDailySummaryRs"), std::string::npos) << e.source;
  }
  EXPECT_EQ(db->LastErrorMessage(), "");
}

}  // namespace
}  // namespace brisquel::testing
