#include "issues/statistics.h"

#include <gtest/gtest.h>

#include <map>

#include "issue_lists_fixture.h"

namespace brisquel::testing {
namespace {

using automation::Date;

using Points = std::vector<std::pair<std::string, int>>;

class TrendTest : public IssueListsTest {
 protected:
  void SetUp() override {
    IssueListsTest::SetUp();
    automation::SetClockForTesting(*automation::MakeDate({2024, 3, 10, 16, 45, 0}));
    sql->Exec("DELETE FROM Issues");
    Issue(1, 1, "2024-01-05", "2024-02-01");
    Issue(2, 1, "2024-03-01", "2024-03-08");
    Issue(3, 1, "2024-03-07", "");
    Issue(4, 1, "2024-03-07", "2024-03-09");
    Issue(5, 1, "2024-03-10", "");
    Issue(6, 1, "2024-03-10", "");
    Issue(8, 1, "2024-02-20", "2024-02-28");
    Issue(7, 2, "2024-03-08", "2024-03-09");
  }
  void Issue(int id, int project, const std::string& opened, const std::string& closed) {
    sql->Exec("INSERT INTO Issues (IssueId, ProjectId, StatusCode, DateOpened, DateClosed) VALUES (" +
              std::to_string(id) + ", " + std::to_string(project) + ", '" + (closed.empty() ? "Open" : "Closed") +
              "', '" + opened + " 00:00:00.000', " + (closed.empty() ? "NULL" : "'" + closed + " 00:00:00.000'") +
              ")");
  }
  Points Trend(const std::string& user, int project, const std::string& series, const std::string& period) {
    auto rs = GetTrendData(*db, user, project, series, period);
    Points out;
    EXPECT_EQ(rs->State(), ado::adStateOpen) << db->LastErrorMessage();
    if (rs->State() != ado::adStateOpen) return out;
    for (; !rs->IsEOF(); rs->MoveNext())
      out.emplace_back(automation::FormatDbDate(rs->Value("Date").ToDate()).substr(0, 10),
                       rs->Value("NumIssues").ToLong());
    return out;
  }
};

TEST_F(TrendTest, PeriodsStartOnTheDayBeforeTheirFirstDate) {
  EXPECT_EQ(TrendPeriodStart("Today"), Day(2024, 3, 10));
  EXPECT_EQ(TrendPeriodStart("last 7 DAYS"), Day(2024, 3, 3));
  EXPECT_EQ(TrendPeriodStart("Last 14 days"), Day(2024, 2, 25));
  EXPECT_EQ(TrendPeriodStart("Last 30 days"), Day(2024, 2, 9));
  EXPECT_EQ(TrendPeriodStart("Last 90 days"), Day(2023, 12, 11));
  EXPECT_EQ(TrendPeriodStart("All dates"), Day(1990, 1, 1));
  EXPECT_EQ(TrendPeriodStart("Since ever").value, 0.0);
}

TEST_F(TrendTest, DailySeriesFillTheDaysBetweenTheirDatesOnly) {
  EXPECT_EQ(Trend("alice", 1, "New Issues", "Last 7 days"),
            (Points{{"2024-03-07", 2}, {"2024-03-08", 0}, {"2024-03-09", 0}, {"2024-03-10", 2}}));
  EXPECT_EQ(Trend("alice", 1, "New Issues", "Today"), (Points{}));
  EXPECT_EQ(Trend("alice", 1, "closed issues", "Last 30 days"),
            (Points{{"2024-02-28", 1}, {"2024-02-29", 0}, {"2024-03-01", 0}, {"2024-03-02", 0}, {"2024-03-03", 0},
                    {"2024-03-04", 0}, {"2024-03-05", 0}, {"2024-03-06", 0}, {"2024-03-07", 0}, {"2024-03-08", 1},
                    {"2024-03-09", 1}}));
  // Every project of bob: the Secret issue opened on the 8th counts too.
  EXPECT_EQ(Trend("bob", -1, "New Issues", "Last 7 days"),
            (Points{{"2024-03-07", 2}, {"2024-03-08", 1}, {"2024-03-09", 0}, {"2024-03-10", 2}}));
}

TEST_F(TrendTest, RunningTotalsStartFromTheFirstDayAndEndWithToday) {
  EXPECT_EQ(Trend("alice", 1, "Total Issues", "Today"), (Points{{"2024-03-10", 7}}));
  EXPECT_EQ(Trend("alice", 1, "Total Issues", "Last 7 days"),
            (Points{{"2024-03-07", 5}, {"2024-03-10", 7}, {"2024-03-10", 7}}));
  EXPECT_EQ(Trend("alice", 1, "Total Issues", "All dates"),
            (Points{{"2024-01-05", 1}, {"2024-02-20", 2}, {"2024-03-01", 3}, {"2024-03-07", 5}, {"2024-03-10", 7},
                    {"2024-03-10", 7}}));
  EXPECT_EQ(Trend("alice", 1, "Total Closed Issues", "Last 7 days"),
            (Points{{"2024-03-08", 3}, {"2024-03-09", 4}, {"2024-03-10", 4}}));
  // Nothing in the period: one point, today.
  sql->Exec("DELETE FROM Issues WHERE DateOpened > '2024-03-05'");
  EXPECT_EQ(Trend("alice", 1, "Total Issues", "Last 7 days"), (Points{{"2024-03-10", 3}}));
}

// Total Open Issues on every date of either series is the issues opened up to that date minus the
// issues closed up to that date, whatever the period, scope or order of the first dates.
TEST_F(TrendTest, TotalOpenIssuesIsOpenedMinusClosedOnEveryDate) {
  struct Scope {
    std::string user;
    int project;
    std::string projects;  // for the oracle
  };
  for (const Scope& s : {Scope{"alice", 1, "1"}, Scope{"admin", -1, "1, 2"}, Scope{"bob", -1, "1, 2"},
                         Scope{"bob", 2, "2"}, Scope{"alice", 2, "-5"}}) {
    for (const char* period : {"Today", "Last 7 days", "Last 14 days", "Last 30 days", "Last 90 days", "All dates"}) {
      Points points = Trend(s.user, s.project, "Total Open Issues", period);
      ASSERT_FALSE(points.empty()) << s.user << " " << period;
      EXPECT_EQ(points.back().first, "2024-03-10");
      for (size_t i = 0; i < points.size(); ++i) {
        if (i > 0) {
          EXPECT_LT(points[i - 1].first, points[i].first) << period;  // one point a date
        }
        std::string upTo = "'" + points[i].first + " 00:00:00.000'";
        std::string in = " and ProjectId in (" + s.projects + ")";
        long long expected = sql->Int("select count(*) from Issues where DateOpened <= " + upTo + in) -
                             sql->Int("select count(*) from Issues where DateClosed <= " + upTo + in);
        EXPECT_EQ(points[i].second, expected) << s.user << " " << s.project << " " << period << " " << points[i].first;
      }
    }
  }
  // A day with closings only has its own point, and the openings after it still come.
  EXPECT_EQ(Trend("alice", 1, "Total Open Issues", "Last 14 days"),
            (Points{{"2024-02-28", 0}, {"2024-03-01", 1}, {"2024-03-07", 3}, {"2024-03-08", 2}, {"2024-03-09", 1},
                    {"2024-03-10", 3}}));
}

TEST_F(TrendTest, TotalsAreNotLimitedToSixteenBits) {
  sql->Exec(
      "INSERT INTO Issues (ProjectId, StatusCode, DateOpened, DateClosed) "
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 33000) "
      "SELECT 1, 'Closed', '2023-06-01 00:00:00.000', '2023-06-02 00:00:00.000' FROM n");
  Points points = Trend("alice", 1, "Total Open Issues", "All dates");
  ASSERT_GE(points.size(), 2u);
  EXPECT_EQ(points[0], (std::pair<std::string, int>{"2023-06-01", 33000}));
  EXPECT_EQ(points[1], (std::pair<std::string, int>{"2023-06-02", 0}));
  EXPECT_EQ(points.back(), (std::pair<std::string, int>{"2024-03-10", 3}));
  EXPECT_EQ(Trend("alice", 1, "Total Closed Issues", "All dates").back().second, 33004);
}

TEST_F(TrendTest, AnUnknownSeriesGivesARecordsetNeverOpened) {
  auto rs = GetTrendData(*db, "alice", 1, "Reopened Issues", "Today");
  EXPECT_EQ(rs->State(), ado::adStateClosed);
  EXPECT_EQ(db->LastErrorMessage(), "The trend series 'Reopened Issues' is not known.");
  EXPECT_EQ(Trend("alice", 1, "Total Issues", "Today").size(), 1u);
  EXPECT_EQ(db->LastErrorMessage(), "");
  // A project the user may not see counts nothing.
  EXPECT_EQ(Trend("alice", 2, "Total Issues", "Last 7 days"), (Points{{"2024-03-10", 0}}));
}

class DistributionTest : public IssueListsTest {
 protected:
  using Counts = std::map<std::string, int>;
  Counts Distribution(const std::string& user, int project, const std::string& id) {
    auto rs = GetDistributionData(*db, user, project, id);
    Counts out;
    EXPECT_EQ(rs->State(), ado::adStateOpen) << id << ": " << db->LastErrorMessage();
    if (rs->State() != ado::adStateOpen) return out;
    for (; !rs->IsEOF(); rs->MoveNext()) out[rs->Value(size_t{0}).ToString()] = rs->Value("NumIssues").ToLong();
    return out;
  }
  std::vector<std::string> Queries(bool all) {
    std::vector<std::string> ids;
    auto rs = GetDistributionQueriesRs(*db, all);
    for (; !rs->IsEOF(); rs->MoveNext())
      ids.push_back(rs->Value("QueryId").ToString() + "|" + rs->Value("QueryName").ToString());
    return ids;
  }
};

TEST_F(DistributionTest, TheQueriesOfferTheCodedFieldsAndTheOpenListHasNoStatus) {
  EXPECT_EQ(Queries(true),
            (std::vector<std::string>{"s:all:AssignedToUser|All Issues by Assigned to",
                                      "s:all:CreatedByUserId|All Issues by Created by",
                                      "s:all:DetectedInBuildCode|All Issues by Detected in build",
                                      "s:all:ModuleCode|All Issues by Module",
                                      "s:all:PriorityCode|All Issues by Priority",
                                      "s:all:ResolutionCode|All Issues by Resolution",
                                      "s:all:SeverityCode|All Issues by Severity",
                                      "s:all:StatusCode|All Issues by Status",
                                      "s:all:VerifiedInBuildCode|All Issues by Verified in build"}));
  auto open = Queries(false);
  EXPECT_EQ(open.size(), 8u);
  for (const auto& q : open) EXPECT_EQ(q.find("StatusCode"), std::string::npos) << q;
  EXPECT_EQ(open[0], "s:open:AssignedToUser|Open Issues by Assigned to");
}

TEST_F(DistributionTest, CountsPerValueWithinTheScope) {
  EXPECT_EQ(Distribution("alice", 1, "s:all:PriorityCode"), (Counts{{"High", 1}, {"Urgent", 1}, {"Low", 2}, {"Normal", 2}}));
  EXPECT_EQ(Distribution("alice", 1, "s:open:PriorityCode"), (Counts{{"High", 1}, {"Urgent", 1}, {"Normal", 1}}));
  EXPECT_EQ(Distribution("alice", 2, "s:all:PriorityCode"), (Counts{}));
  // Over every project, a field whose list varies by project counts per project.
  EXPECT_EQ(Distribution("admin", -1, "s:all:DetectedInBuildCode"),
            (Counts{{"Demo/1.0", 4}, {"Demo/1.1", 2}, {"Secret/", 2}, {"Forum/", 2}}));
  EXPECT_EQ(Distribution("admin", -1, "s:open:DetectedInBuildCode"),
            (Counts{{"Demo/1.0", 1}, {"Demo/1.1", 2}, {"Secret/", 1}, {"Forum/", 1}}));
  EXPECT_EQ(Distribution("alice", -1, "s:open:DetectedInBuildCode"), (Counts{{"Demo/1.0", 1}, {"Demo/1.1", 2}}));
  EXPECT_EQ(Distribution("bob", -1, "s:all:DetectedInBuildCode"),
            (Counts{{"Demo/1.0", 4}, {"Demo/1.1", 2}, {"Secret/", 2}}));
  EXPECT_EQ(Distribution("admin", -1, "s:all:StatusCode"), (Counts{{"Open", 5}, {"Closed", 5}}));
  EXPECT_EQ(Distribution("bob", -1, "S:ALL:statuscode"), (Counts{{"Open", 4}, {"Closed", 4}}));
  EXPECT_EQ(Distribution("bob", -1, "s:open:ResolutionCode"), (Counts{{"New", 3}, {"Fixed", 1}}));
}

TEST_F(DistributionTest, OnlyOfferedQueriesAreRun) {
  for (const char* id : {"s:all:Password", "s:all:Summary", "s:open:StatusCode", "x:all:PriorityCode",
                         "s:all:PriorityCode:x", "s:all:PriorityCode from Users --", "s:any:PriorityCode",
                         "s:all:ProjectCode"}) {
    auto rs = GetDistributionData(*db, "admin", -1, id);
    EXPECT_EQ(rs->State(), ado::adStateClosed) << id;
    EXPECT_EQ(db->LastErrorMessage(), "The chart query '" + std::string(id) + "' is not offered.");
  }
  EXPECT_THROW(GetDistributionData(*db, "admin", -1, "s:all"), automation::ComError);
}

}  // namespace
}  // namespace brisquel::testing
