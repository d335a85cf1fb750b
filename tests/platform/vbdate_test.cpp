#include <gtest/gtest.h>

#include "automation/vbdate.h"

using automation::Date;
using automation::FormatDate;
using automation::MakeDate;
using automation::ParseDate;

namespace {

TEST(VbDate, OleEpochAndKnownDays) {
  EXPECT_EQ(MakeDate({1899, 12, 30})->value, 0);
  EXPECT_EQ(MakeDate({1900, 1, 1})->value, 2);
  EXPECT_EQ(MakeDate({2000, 1, 1})->value, 36526);
  EXPECT_DOUBLE_EQ(MakeDate({2000, 1, 1, 12})->value, 36526.5);
  EXPECT_FALSE(MakeDate({2023, 2, 29}));
  EXPECT_TRUE(MakeDate({2024, 2, 29}));
  EXPECT_FALSE(MakeDate({2024, 13, 1}));
  EXPECT_FALSE(MakeDate({2024, 1, 1, 24}));
}

TEST(VbDate, FormatsAsEnUs) {
  EXPECT_EQ(FormatDate(*MakeDate({2024, 1, 5, 0, 0, 1})), "1/5/2024 12:00:01 AM");
  EXPECT_EQ(FormatDate(*MakeDate({2024, 1, 5, 12, 30, 0})), "1/5/2024 12:30:00 PM");
  EXPECT_EQ(FormatDate(*MakeDate({2024, 1, 5})), "1/5/2024");
  EXPECT_EQ(FormatDate(Date{0.75}), "6:00:00 PM");
  EXPECT_EQ(automation::FormatDbDate(*MakeDate({2024, 3, 9, 8, 7, 6, 54})), "2024-03-09 08:07:06.054");
}

TEST(VbDate, ShortDateShortTimeAndIsoDate) {
  const auto d = *MakeDate({2024, 3, 9, 8, 7, 6, 54});
  EXPECT_EQ(automation::ShortDateText(d), "3/9/2024");
  EXPECT_EQ(automation::ShortTimeText(d), "08:07");
  EXPECT_EQ(automation::ShortTimeText(*MakeDate({2024, 12, 31, 23, 59, 0, 0})), "23:59");
  EXPECT_EQ(automation::IsoDate(d), "2024-03-09");
}

TEST(VbDate, ParsesTheFormsTheSystemWrites) {
  EXPECT_EQ(*ParseDate("2/1/2024 1:05:09 PM"), *MakeDate({2024, 2, 1, 13, 5, 9}));
  EXPECT_EQ(*ParseDate("12/31/2024"), *MakeDate({2024, 12, 31}));
  EXPECT_EQ(*ParseDate("2024-03-09 08:07:06.054"), *MakeDate({2024, 3, 9, 8, 7, 6, 54}));
  EXPECT_EQ(*ParseDate("2024-03-09T08:07"), *MakeDate({2024, 3, 9, 8, 7}));
  EXPECT_EQ(*ParseDate("1-Feb-2024"), *MakeDate({2024, 2, 1}));
  EXPECT_EQ(*ParseDate("12:00:00 AM"), Date{0});
  EXPECT_FALSE(ParseDate("30-Feb-2024"));
  EXPECT_FALSE(ParseDate("2/30/2024"));
  EXPECT_FALSE(ParseDate("tomorrow"));
  EXPECT_FALSE(ParseDate("2024-03-09 25:00"));
  EXPECT_FALSE(ParseDate("1/2/2024 junk"));
  // The text form survives a round trip for any second of the valid range.
  for (double v : {-657434.0, -1.25, 0.5, 45000.999988425926, 2958465.0}) {
    Date d{v};
    auto back = ParseDate(FormatDate(d));
    ASSERT_TRUE(back) << v;
    EXPECT_EQ(FormatDate(*back), FormatDate(d));
  }
}

TEST(VbDate, WeekdayAndFixedClock) {
  EXPECT_EQ(automation::Weekday(*MakeDate({2024, 1, 7})), 1);  // a Sunday
  EXPECT_EQ(automation::Weekday(*MakeDate({1899, 12, 30})), 7);
  automation::SetClockForTesting(*MakeDate({2024, 5, 6, 10}));
  EXPECT_EQ(automation::Today(), *MakeDate({2024, 5, 6}));
  automation::SetClockForTesting(std::nullopt);
  EXPECT_GT(automation::Now().value, MakeDate({2025, 1, 1})->value);
}

}  // namespace
