// The daily reports: who changed issues over a named period, counted from the issue history.
// Members of Database, registered from reports.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "automation/automation.h"

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;

// The first and last day (both whole, both included) of a named period, counted from today:
// "Today", "Yesterday", "This week", "Last week" (weeks start on Monday), "This month",
// "Last month"; any other text is today. Names compare without regard to case.
struct ReportPeriod {
  automation::Date first;
  automation::Date last;
};
ReportPeriod DailyReportPeriod(const std::string& dateRange);

// For each member of the project (ProjectId -1: of every project of CurrentUser), the issues he
// touched (NumIssues) and the changes he made (NumChanges) in the period.
std::shared_ptr<ado::Recordset> GetDailySummaryRs(Database& db, int32_t projectId, const std::string& currentUser,
                                                  const std::string& dateRange);
// The same for the public users who made a change in the period.
std::shared_ptr<ado::Recordset> GetPublicDailySummaryRs(Database& db, int32_t projectId,
                                                        const std::string& currentUser,
                                                        const std::string& dateRange);
// The issues ForUser changed in the period.
std::shared_ptr<ado::Recordset> GetDailyDetailRs(Database& db, int32_t projectId, const std::string& currentUser,
                                                 const std::string& forUser, const std::string& dateRange);

}  // namespace brisquel
