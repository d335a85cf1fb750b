#include "issues/reports.h"

#include "automation/vbdate.h"
#include "automation/text.h"
#include "core/conversions.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "issues/issue_scope.h"

namespace brisquel {

using automation::Date;
using automation::EqualsNoCase;

namespace {

constexpr std::string_view kClass = "Database";

// The period test of every report: from the first day on, before the day after the last day, so
// the last day counts whole.
const char* const kPeriod =
    "IssueHistory.CreatedOn >= ? and IssueHistory.CreatedOn < strftime('%Y-%m-%d %H:%M:%f', ?, '+1 day')";

Date Plus(Date d, double days) { return Date{d.value + days}; }

ado::Param Day(Date d) { return ado::Param::DateTime(automation::Variant::FromDate(d)); }

}  // namespace

ReportPeriod DailyReportPeriod(const std::string& dateRange) {
  Date today = automation::Today();
  automation::DateParts parts = automation::SplitDate(today);
  if (EqualsNoCase(dateRange, "Yesterday")) return {Plus(today, -1), Plus(today, -1)};
  // Monday is day 1 of the week, Sunday day 7.
  int weekday = (automation::Weekday(today) + 5) % 7 + 1;
  Date monday = Plus(today, -(weekday - 1));
  if (EqualsNoCase(dateRange, "This week")) return {monday, today};
  if (EqualsNoCase(dateRange, "Last week")) return {Plus(monday, -7), Plus(monday, -1)};
  if (EqualsNoCase(dateRange, "This month")) return {Plus(today, -(parts.day - 1)), today};
  if (EqualsNoCase(dateRange, "Last month")) {
    Date firstOfMonth = CnvToDate(parts.year, parts.month, 1);
    Date firstOfLast = parts.month == 1 ? CnvToDate(parts.year - 1, 12, 1) : CnvToDate(parts.year, parts.month - 1, 1);
    return {firstOfLast, Plus(firstOfMonth, -1)};
  }
  return {today, today};
}

std::shared_ptr<ado::Recordset> GetDailySummaryRs(Database& db, int32_t projectId, const std::string& currentUser,
                                                  const std::string& dateRange) {
  return Procedure(kClass, "GetDailySummaryRs", [&] {
    ReportPeriod period = DailyReportPeriod(dateRange);
    std::string periodTest = std::string("        and ") + kPeriod;
    if (projectId != -1) {
      bool visible = lists::MayViewProject(db, currentUser, projectId);
      std::string counted =
          "           From IssueHistory "
          "           Where IssueHistory.ProjectId = TeamMember.ProjectId "
          "        and IssueHistory.UserId = TeamMember.UserId ";
      std::string sql = "select  TeamMember.UserId, "
                        "    (select count(distinct IssueId) " +
                        counted + periodTest + ") as NumIssues, " + "    (select count(*) " + counted + periodTest +
                        ") as NumChanges " + "from ProjectUsers as TeamMember " + "Where ProjectId = ?" +
                        (visible ? "" : lists::kNoRows);
      return db.Read(sql, {Day(period.first), Day(period.last), Day(period.first), Day(period.last),
                           ado::Param::Long(projectId, "Project")});
    }
    std::string teamLead =
        "                 from ProjectUsers as TeamLead "
        "                 where TeamLead.UserId = ?) ";
    std::string counted = "           From IssueHistory "
                          "           where IssueHistory.ProjectId in (select TeamLead.ProjectId " +
                          teamLead + "        and IssueHistory.UserId = TeamMember.UserId ";
    std::string sql = "select  TeamMember.UserId, "
                      "    (select count(distinct IssueId) " +
                      counted + periodTest + ") as NumIssues, " + "    (select count(*) " + counted + periodTest +
                      ") as NumChanges " + "from ProjectUsers as TeamMember " +
                      "where TeamMember.ProjectId in (select TeamLead.ProjectId " + teamLead +
                      "group by TeamMember.UserId ";
    ado::Param user = lists::UserParam(currentUser, "User");
    return db.Read(sql, {user, Day(period.first), Day(period.last), user, Day(period.first), Day(period.last), user});
  });
}

std::shared_ptr<ado::Recordset> GetPublicDailySummaryRs(Database& db, int32_t projectId,
                                                        const std::string& currentUser,
                                                        const std::string& dateRange) {
  return Procedure(kClass, "GetPublicDailySummaryRs", [&] {
    ReportPeriod period = DailyReportPeriod(dateRange);
    ado::Params params{Day(period.first), Day(period.last)};
    std::string sql = std::string(
                          "select  Users.UserId, "
                          "    count(distinct IssueId) as NumIssues, "
                          "    count(*) as NumChanges "
                          "from Users inner join IssueHistory on IssueHistory.UserId = Users.UserId "
                          "where Users.PublicUser = 1 "
                          "    and ") +
                      kPeriod + " ";
    if (projectId != -1) {
      sql += std::string("    and IssueHistory.ProjectId = ? ") +
             (lists::MayViewProject(db, currentUser, projectId) ? "" : lists::kNoRows);
      params.push_back(ado::Param::Long(projectId, "ProjectId"));
    } else {
      // Every project means every project the caller may see, not the whole site.
      sql += lists::VisibleProjectsTest(db, currentUser, "IssueHistory.ProjectId", params);
    }
    sql += "group by Users.UserId";
    return db.Read(sql, params);
  });
}

std::shared_ptr<ado::Recordset> GetDailyDetailRs(Database& db, int32_t projectId, const std::string& currentUser,
                                                 const std::string& forUser, const std::string& dateRange) {
  return Procedure(kClass, "GetDailyDetailRs", [&] {
    ReportPeriod period = DailyReportPeriod(dateRange);
    ado::Params params{lists::UserParam(forUser, "User"), Day(period.first), Day(period.last)};
    std::string sql = std::string(
                          "select distinct Issues.IssueId, Projects.ProjectCode, Issues.ResolutionCode, "
                          "Issues.StatusCode, Issues.PriorityCode, Issues.Summary "
                          "from IssueHistory "
                          "    inner join Issues on Issues.IssueId = IssueHistory.IssueId "
                          "    inner join Projects on Projects.ProjectId = Issues.ProjectId "
                          "where "
                          "    IssueHistory.UserId = ? "
                          "    and ") +
                      kPeriod + " ";
    if (projectId != -1) {
      sql += std::string("    and IssueHistory.ProjectId = ? ") +
             (lists::MayViewProject(db, currentUser, projectId) ? "" : lists::kNoRows);
      params.push_back(ado::Param::Long(projectId, "Project"));
    } else {
      sql += lists::VisibleProjectsTest(db, currentUser, "IssueHistory.ProjectId", params);
    }
    sql += "order by Projects.ProjectCode, Issues.IssueId";
    return db.Read(sql, params);
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetDailySummaryRs", &GetDailySummaryRs);
  c.Method("GetPublicDailySummaryRs", &GetPublicDailySummaryRs);
  c.Method("GetDailyDetailRs", &GetDailyDetailRs);
});

}  // namespace

}  // namespace brisquel
