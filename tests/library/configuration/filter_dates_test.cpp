// The date conditions of wizard filters, run on a real site with the clock fixed. One issue is
// opened on each day of two periods; its number is the day (yyyymmdd). The demo's own issues are
// moved back to 1990.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "filter_site.h"

namespace brisquel::filtertest {
namespace {

class FilterDatesTest : public FilterSite {
 protected:
  void SetUp() override {
    FilterSite::SetUp();
    raw->Exec("update Issues set DateOpened = '1990-06-01 00:00:00.000', DateTimeLastUpdated = NULL");
    for (auto [from, to] : {std::pair{"2023-12-25", "2024-03-05"}, std::pair{"2024-12-20", "2025-03-25"}}) {
      raw->Exec(std::string("with recursive d(x) as (select '") + from + "' union all select date(x, '+1 day') from d " +
                "where x < '" + to +
                "') insert into Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, Valid, "
                "Summary, DateOpened) select cast(strftime('%Y%m%d', x) as integer), 1, 'alice', 'New', 'Open', 1, "
                "'Opened ' || x, x || ' 00:00:00.000' from d");
    }
    // A date-and-time field of the filter catalogue.
    raw->Exec(
        "insert into IssueFields (FieldName, FieldFriendlyName, Representation, FilterFieldName, FilterFqFieldName, "
        "FilterFieldType) values ('DateTimeLastUpdated', 'Last change', 'date', 'DateTimeLastUpdated', "
        "'Issues.DateTimeLastUpdated', 7);"
        "update Issues set DateTimeLastUpdated = '2025-03-10 08:30:00.000' where IssueId = 20250310;"
        "update Issues set DateTimeLastUpdated = '2025-03-11 17:05:00.000' where IssueId = 20250311;");
    for (const std::string& id : raw->Rows("select IssueId from Issues")) issues.insert(std::stoi(id));
  }

  // The issues opened from one day to another, both included.
  std::set<int> Days(int from, int to) const {
    return std::set<int>(issues.lower_bound(from), issues.upper_bound(to));
  }
  std::set<int> Listing(const std::string& expression) {
    const std::string name = "f" + std::to_string(++made);
    if (!CreateFilter(*db, "admin", Wizard(name, expression))) {
      ADD_FAILURE() << expression << ": " << db->LastErrorMessage();
      return {};
    }
    return Listed(name);
  }
  static void At(int y, int m, int d, int hour, int minute) {
    automation::SetClockForTesting(*automation::MakeDate({y, m, d, hour, minute}));
  }

  std::set<int> issues;
  int made = 0;
};

TEST_F(FilterDatesTest, DaysAndWeeksOnAMondayAndOnASunday) {
  At(2025, 3, 10, 10, 30);  // a Monday
  EXPECT_EQ(Listing("yesterday DateOpened "), Days(20250309, 20250309));
  EXPECT_EQ(Listing("today DateOpened "), Days(20250310, 20250310));
  EXPECT_EQ(Listing("in_the_last_7_days DateOpened "), Days(20250303, 20250310));
  EXPECT_EQ(Listing("this_week DateOpened "), Days(20250310, 20250316));
  EXPECT_EQ(Listing("last_week DateOpened "), Days(20250303, 20250309));

  At(2025, 3, 16, 23, 59);  // the Sunday that ends that week
  EXPECT_EQ(Listing("today DateOpened "), Days(20250316, 20250316));
  EXPECT_EQ(Listing("this_week DateOpened "), Days(20250310, 20250316));
  EXPECT_EQ(Listing("last_week DateOpened "), Days(20250303, 20250309));
  EXPECT_EQ(Listing("not this_week DateOpened \r\nand in_the_last_7_days DateOpened "), Days(20250309, 20250309));
}

TEST_F(FilterDatesTest, MonthsInJanuaryAndInALeapFebruary) {
  At(2025, 1, 15, 9, 0);
  EXPECT_EQ(Listing("this_month DateOpened "), Days(20250101, 20250131));
  EXPECT_EQ(Listing("last_month DateOpened "), Days(20241201, 20241231));

  At(2024, 2, 29, 12, 0);
  EXPECT_EQ(Listing("this_month DateOpened "), Days(20240201, 20240229));
  EXPECT_EQ(Listing("last_month DateOpened "), Days(20240101, 20240131));
  EXPECT_EQ(Listing("yesterday DateOpened "), Days(20240228, 20240228));
}

TEST_F(FilterDatesTest, FixedDatesAndDateTimes) {
  std::set<int> early = Days(20231225, 20231227);
  early.insert({1, 2, 3, 4, 5, 6});
  const std::vector<std::pair<std::string, std::set<int>>> cases = {
      {"on DateOpened \"3/1/2025\"", Days(20250301, 20250301)},
      {"on_or_after DateOpened \"3/20/2025\"", Days(20250320, 20250325)},
      {"on_or_before DateOpened \"12/27/2023\"", early},
      {"between DateOpened \"2/27/2024\" \"3/2/2024\"", Days(20240227, 20240302)},
      {"on DateTimeLastUpdated \"3/10/2025 08:30\"", {20250310}},
      {"between DateTimeLastUpdated \"3/10/2025 08:00\" \"3/11/2025 17:04\"", {20250310}},
      {"on_or_after DateTimeLastUpdated \"3/10/2025 08:31\"", {20250311}},
      {"any_time DateTimeLastUpdated ", {20250310, 20250311}},
  };
  for (const auto& [expression, ids] : cases) EXPECT_EQ(Listing(expression), ids) << expression;
  At(2025, 3, 11, 18, 0);
  EXPECT_EQ(Listing("today DateTimeLastUpdated "), std::set<int>{20250311});
}

}  // namespace
}  // namespace brisquel::filtertest
