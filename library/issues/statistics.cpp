#include "issues/statistics.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "automation/vbdate.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "issues/issue_scope.h"
#include "issues/sql_guard.h"

namespace brisquel {

using automation::Date;
using automation::Variant;
using automation::EqualsNoCase;

namespace {

constexpr std::string_view kClass = "Database";

// ---- trends

enum class DateColumn { Opened, Closed };

struct TrendScope {
  enum Kind { Project, SiteAdmin, Member } kind = Project;
  int32_t projectId = -1;
  std::string userId;
  bool visible = true;  // one project: the user may see it
};

struct Series {
  std::vector<std::pair<Date, int64_t>> rows;
  int64_t start = 0;  // the running count before the first row
};

std::string ColumnName(DateColumn c) { return c == DateColumn::Opened ? "DateOpened" : "DateClosed"; }

// "from Issues ... where Issues.<column> is not null and <scope> and Issues.<column> <op> ?"
std::string TrendSource(DateColumn column, const TrendScope& scope, const char* op) {
  std::string c = "Issues." + ColumnName(column);
  switch (scope.kind) {
    case TrendScope::Project:
      return "from Issues where " + c + " is not null and Issues.ProjectId = ?" +
             (scope.visible ? "" : lists::kNoRows) + " and " + c + " " + op + " ?";
    case TrendScope::SiteAdmin:
      return "from Issues where " + c + " is not null and " + c + " " + op + " ?";
    case TrendScope::Member:
      break;
  }
  return "from Issues inner join ProjectUsers on Issues.ProjectId = ProjectUsers.ProjectId where " + c +
         " is not null and ProjectUsers.UserId = ?  and " + c + " " + op + " ?";
}

ado::Params TrendParams(const TrendScope& scope, Date day) {
  ado::Params p;
  if (scope.kind == TrendScope::Project) p.push_back(ado::Param::Long(scope.projectId));
  if (scope.kind == TrendScope::Member) p.push_back(lists::UserParam(scope.userId));
  p.push_back(ado::Param::DateTime(Variant::FromDate(day)));
  return p;
}

// The grouped rows of one date column after `first`, ascending (the gap filling and the merge rely
// on it); nullopt, with LastErrorMessage set, when they cannot be read.
std::optional<std::vector<std::pair<Date, int64_t>>> GroupedCounts(Database& db, DateColumn column,
                                                                   const TrendScope& scope, Date first) {
  std::string c = ColumnName(column);
  std::string sql = "select " + c + ", count(*) as 'NumIssues' " + TrendSource(column, scope, ">") +
                    " group by Issues." + c + " order by Issues." + c;
  std::vector<std::pair<Date, int64_t>> rows;
  auto failure = db.Trap([&] {
    db.Each(sql, TrendParams(scope, first), [&](const sql::Row& r) {
      std::optional<Date> day = r.OptDate(c);
      if (!day) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
      rows.emplace_back(*day, r.Int64("NumIssues"));
    });
  });
  if (failure) {
    db.Fail(db.UnexpectedReport(*failure));
    return std::nullopt;
  }
  return rows;
}

int64_t CountUpTo(Database& db, DateColumn column, const TrendScope& scope, Date first) {
  std::string sql = "select count(*) as 'NumIssues' " + TrendSource(column, scope, "<=") + " ";
  return db.One<int64_t>(sql, TrendParams(scope, first)).value_or(0);
}

// A daily series (days without a date between two dates count 0) or a running total that starts
// with the issues dated up to the first day (except over all dates) and ends with today.
std::optional<Series> BuildSeries(Database& db, DateColumn column, bool running, const TrendScope& scope,
                                  Date first, bool allDates) {
  auto grouped = GroupedCounts(db, column, scope, first);
  if (!grouped) return std::nullopt;
  Series s;
  if (running && !allDates) s.start = CountUpTo(db, column, scope, first);
  int64_t count = s.start;
  std::optional<Date> previous;
  for (const auto& [date, n] : *grouped) {
    if (!running && previous)
      for (Date d{previous->value + 1}; d.value < date.value; d.value += 1) s.rows.emplace_back(d, 0);
    s.rows.emplace_back(date, running ? count + n : n);
    previous = date;
    count += n;
  }
  if (running) s.rows.emplace_back(automation::Today(), count);
  return s;
}

// Opened total minus closed total on every date of either series, each total taken as of that
// date (its starting count before its first row).
std::vector<std::pair<Date, int64_t>> OpenTotals(const Series& opened, const Series& closed) {
  std::vector<double> dates;
  for (const auto& r : opened.rows) dates.push_back(r.first.value);
  for (const auto& r : closed.rows) dates.push_back(r.first.value);
  std::sort(dates.begin(), dates.end());
  dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
  std::vector<std::pair<Date, int64_t>> out;
  size_t io = 0, ik = 0;
  int64_t o = opened.start, k = closed.start;
  for (double d : dates) {
    while (io < opened.rows.size() && opened.rows[io].first.value <= d) o = opened.rows[io++].second;
    while (ik < closed.rows.size() && closed.rows[ik].first.value <= d) k = closed.rows[ik++].second;
    out.emplace_back(Date{d}, o - k);
  }
  return out;
}

std::shared_ptr<ado::Recordset> TrendRecordset(const std::vector<std::pair<Date, int64_t>>& rows) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->AppendField("Date", ado::adDBTimeStamp, 0, 0);
  rs->AppendField("NumIssues", ado::adInteger, 4, 0);
  rs->Open(Variant(), Variant(), ado::adOpenUnspecified, ado::adLockUnspecified, -1);
  for (const auto& [date, n] : rows) {
    if (n > std::numeric_limits<int32_t>::max() || n < std::numeric_limits<int32_t>::min())
      automation::RaiseRuntime(automation::vberr::kOverflow);
    rs->AddNew();
    rs->SetValue(size_t{0}, Variant::FromDate(date));
    rs->SetValue(size_t{1}, Variant(static_cast<int32_t>(n)));
    rs->Update();
  }
  if (!rows.empty()) rs->MoveFirst();
  return rs;
}

// ---- distributions

std::string DistributionQueriesSql(bool allIssues) {
  if (allIssues)
    return "select 's:all:' || IssueFields.FieldName as QueryId, 'All Issues by ' || IssueFields.FieldFriendlyName "
           "as QueryName from IssueFields where (IssueFields.TableName <> '' and IssueFields.FieldName <> "
           "'ProjectCode') or (IssueFields.FieldName = 'StatusCode' or IssueFields.FieldName = 'ResolutionCode' or "
           "IssueFields.FieldName = 'CreatedByUserId' or IssueFields.FieldName = 'AssignedToUser') order by "
           "FieldFriendlyName";
  // Every open issue has the status Open: the status, which has a code table here, is no category.
  return "select 's:open:' || IssueFields.FieldName as QueryId, 'Open Issues by ' || IssueFields.FieldFriendlyName "
         "as QueryName from IssueFields where (IssueFields.TableName <> ''  and IssueFields.FieldName <> "
         "'ProjectCode' and IssueFields.FieldName <> 'StatusCode') or (IssueFields.FieldName = 'ResolutionCode' or IssueFields.FieldName = 'CreatedByUserId' "
         "or IssueFields.FieldName = 'AssignedToUser') order by FieldFriendlyName";
}

std::vector<std::string> SplitAtColons(const std::string& s) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = s.find(':', from);
    parts.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

}  // namespace

Date TrendPeriodStart(const std::string& graphPeriod) {
  Date today = automation::Today();
  if (EqualsNoCase(graphPeriod, "Today")) return today;
  if (EqualsNoCase(graphPeriod, "Last 7 days")) return Date{today.value - 7};
  if (EqualsNoCase(graphPeriod, "Last 14 days")) return Date{today.value - 14};
  if (EqualsNoCase(graphPeriod, "Last 30 days")) return Date{today.value - 30};
  if (EqualsNoCase(graphPeriod, "Last 90 days")) return Date{today.value - 90};
  if (EqualsNoCase(graphPeriod, "All dates")) return *automation::MakeDate({1990, 1, 1});
  return Date{0};
}

std::shared_ptr<ado::Recordset> GetTrendData(Database& db, const std::string& userId, int32_t projectId,
                                             const std::string& graphData, const std::string& graphPeriod) {
  return Procedure(kClass, "GetTrendData", [&]() -> std::shared_ptr<ado::Recordset> {
    db.SetLastErrorMessage("");
    Date first = TrendPeriodStart(graphPeriod);
    bool allDates = EqualsNoCase(graphPeriod, "All dates");
    TrendScope scope;
    scope.projectId = projectId;
    scope.userId = userId;
    if (projectId != -1)
      scope.visible = lists::MayViewProject(db, userId, projectId);
    else
      scope.kind = UserIsSiteAdmin(db, userId) ? TrendScope::SiteAdmin : TrendScope::Member;

    std::optional<Series> series;
    if (EqualsNoCase(graphData, "New Issues")) {
      series = BuildSeries(db, DateColumn::Opened, false, scope, first, allDates);
    } else if (EqualsNoCase(graphData, "Closed Issues")) {
      series = BuildSeries(db, DateColumn::Closed, false, scope, first, allDates);
    } else if (EqualsNoCase(graphData, "Total Issues")) {
      series = BuildSeries(db, DateColumn::Opened, true, scope, first, allDates);
    } else if (EqualsNoCase(graphData, "Total Closed Issues")) {
      series = BuildSeries(db, DateColumn::Closed, true, scope, first, allDates);
    } else if (EqualsNoCase(graphData, "Total Open Issues")) {
      auto opened = BuildSeries(db, DateColumn::Opened, true, scope, first, allDates);
      if (!opened) return std::make_shared<ado::Recordset>();
      auto closed = BuildSeries(db, DateColumn::Closed, true, scope, first, allDates);
      if (!closed) return std::make_shared<ado::Recordset>();
      return TrendRecordset(OpenTotals(*opened, *closed));
    } else {
      db.Fail("The trend series '" + graphData + "' is not known.");
      return std::make_shared<ado::Recordset>();
    }
    if (!series) return std::make_shared<ado::Recordset>();
    return TrendRecordset(series->rows);
  });
}

std::shared_ptr<ado::Recordset> GetDistributionQueriesRs(Database& db, bool allIssues) {
  return Procedure(kClass, "GetDistributionQueriesRs", [&] { return db.Read(DistributionQueriesSql(allIssues)); });
}

std::shared_ptr<ado::Recordset> GetDistributionData(Database& db, const std::string& userId, int32_t projectId,
                                                    const std::string& graphData) {
  return Procedure(kClass, "GetDistributionData", [&]() -> std::shared_ptr<ado::Recordset> {
    db.SetLastErrorMessage("");
    std::vector<std::string> parts = SplitAtColons(graphData);
    if (parts.size() < 3)
      ThrowError(kClass, "GetDistributionData", "The chart query '" + graphData + "' has no field.");
    bool all = EqualsNoCase(parts[1], "all");
    // The field name goes into the statement: only ids this library offers are taken.
    bool offered = false;
    db.Each(DistributionQueriesSql(all), {},
            [&](const sql::Row& r) { offered = offered || EqualsNoCase(r.Text("QueryId"), graphData); });
    const std::string& field = parts[2];
    if (!offered || !sqlguard::IsPlainName(field)) {
      db.Fail("The chart query '" + graphData + "' is not offered.");
      return std::make_shared<ado::Recordset>();
    }

    const char* p1 = "select Issues.";
    const char* p2 = "select Projects.ProjectCode || '/' || Issues.";
    const char* p3 = "select  Projects.ProjectCode || '/' || Issues.";
    std::string prefix = p1, tail;
    ado::Params params;
    if (projectId != -1) {
      std::string projectTest = std::string("Issues.ProjectId = ?") +
                                (lists::MayViewProject(db, userId, projectId) ? "" : lists::kNoRows);
      tail = all ? ", count(*) as NumIssues from Issues where " + projectTest + " group by Issues."
                 : ", count(*) as NumIssues from Issues where Issues.StatusCode = 'Open' and " + projectTest +
                       " group by Issues.";
      params.push_back(ado::Param::Long(projectId));
    } else {
      // Whether the field's code table varies by project (a field without a code table does not).
      bool varies = db.One<bool>(
                          "select IssueCodeTables.VariesByProject from IssueFields left join IssueCodeTables "
                          "on IssueFields.TableName = IssueCodeTables.TableName where FieldName = ?",
                          {ado::Param::Text(field, 20)})
                        .value_or(false);
      bool admin = UserIsSiteAdmin(db, userId);
      const char* byProject = " group by Projects.ProjectCode || '/' || Issues.";
      if (admin && varies) {
        prefix = all ? p2 : p3;
        tail = std::string(", count(*) as NumIssues from Issues inner join Projects on Projects.ProjectId = "
                           "Issues.ProjectId") +
               (all ? "" : " where Issues.StatusCode = 'Open'") + byProject;
      } else if (admin) {
        tail = all ? ", count(*) as NumIssues from Issues group by Issues."
                   : ", count(*) as NumIssues from Issues where Issues.StatusCode = 'Open' group by Issues.";
      } else {
        std::string members = " from Issues inner join ProjectUsers on Issues.ProjectId = ProjectUsers.ProjectId";
        std::string where = all ? " where ProjectUsers.UserId = ?"
                                : " where Issues.StatusCode = 'Open' and ProjectUsers.UserId = ?";
        if (varies) {
          prefix = all ? p2 : p3;
          tail = ", count(*) as NumIssues" + members +
                 " inner join Projects on Projects.ProjectId = Issues.ProjectId" + where + byProject;
        } else {
          tail = ", count(*) as NumIssues" + members + where + " group by Issues.";
        }
        params.push_back(lists::UserParam(userId));
      }
    }
    const std::string column = ado::QuoteIdentifier(field);
    std::string sql = prefix + column + " as " + column + tail + column;

    std::shared_ptr<ado::Recordset> rs;
    auto failure = db.Trap([&] {
      sqlguard::ReadOnlyScope readOnly(db.Connection(), {"Issues", "Projects", "ProjectUsers"},
                                       std::chrono::seconds(db.Connection().CommandTimeout()));
      rs = db.Read(sql, params);
    });
    if (failure) {
      db.Fail(db.UnexpectedReport(*failure));
      return std::make_shared<ado::Recordset>();
    }
    return rs;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetTrendData", &GetTrendData);
  c.Method("GetDistributionQueriesRs", &GetDistributionQueriesRs);
  c.Method("GetDistributionData", &GetDistributionData);
});

}  // namespace

}  // namespace brisquel
