// Dates as the automation layer keeps them (OLE dates) and their text forms. The system speaks
// en-US: CStr of a date gives "M/d/yyyy h:mm:ss AM/PM", or "M/d/yyyy" when there is no time part.
// The database keeps dates as "YYYY-MM-DD HH:MM:SS.SSS" text in local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace automation {

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Valid dates run from 1 January 100 to 31 December 9999.
std::optional<Date> MakeDate(const DateParts& p);
DateParts SplitDate(Date d);
// The date with its time of day dropped.
Date DateOnly(Date d);
int Weekday(Date d);  // VB Weekday with Sunday first: 1 = Sunday .. 7 = Saturday

std::string FormatDate(Date d);  // CStr
// "YYYY-MM-DD HH:MM:SS.SSS", the database's form.
std::string FormatDbDate(Date d);
// The en-US short date "M/d/yyyy" and the 24-hour short time "HH:mm".
std::string ShortDateText(Date d);
std::string ShortTimeText(Date d);
// "yyyy-mm-dd", the value of a date input.
std::string IsoDate(Date d);
// CDate of text: en-US "M/d/yyyy[ h:mm[:ss][ AM|PM]]", ISO "yyyy-mm-dd[ HH:MM[:SS[.fff]]]" (also
// with a "T"), "d-MMM-yyyy" and a time alone. nullopt when the text is not a date.
std::optional<Date> ParseDate(std::string_view text);

// Now and Date of the run time. Tests can fix the clock.
Date Now();
Date Today();
void SetClockForTesting(std::optional<Date> fixed);

}  // namespace automation
