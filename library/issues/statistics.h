// The statistics behind the chart controls: issue counts per day over a named period, and issue
// counts per value of one issue field. Members of Database, registered from statistics.cpp.
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

// The day after which a chart period's issue dates are taken: "Today", "Last 7 days",
// "Last 14 days", "Last 30 days", "Last 90 days", "All dates" (1 January 1990); any other text
// is the zero date (no lower bound).
automation::Date TrendPeriodStart(const std::string& graphPeriod);

// Fields Date and NumIssues, ascending dates. GraphData: "New Issues", "Closed Issues" (daily
// counts, days between two dates filled with 0), "Total Issues", "Total Closed Issues" (running
// totals ending with today), "Total Open Issues" (opened total minus closed total on every date
// of either series). A series that cannot be read gives a recordset never opened, the reason in
// LastErrorMessage.
std::shared_ptr<ado::Recordset> GetTrendData(Database& db, const std::string& userId, int32_t projectId,
                                             const std::string& graphData, const std::string& graphPeriod);
// QueryId ("s:all:<field>" or "s:open:<field>") and QueryName of each distribution offered.
std::shared_ptr<ado::Recordset> GetDistributionQueriesRs(Database& db, bool allIssues);
// The field's values (project code, "/" and value for a field whose list varies by project, over
// every project) and NumIssues. Only ids GetDistributionQueriesRs offers are accepted; another
// gives a recordset never opened, the reason in LastErrorMessage.
std::shared_ptr<ado::Recordset> GetDistributionData(Database& db, const std::string& userId, int32_t projectId,
                                                    const std::string& graphData);

}  // namespace brisquel
