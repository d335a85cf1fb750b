// The 100,000-issue site the benchmarks share: one year in five projects, each issue with one
// comment, made once per benchmark program.
#pragma once

#include <filesystem>
#include <string>

#include "automation/vbdate.h"
#include "support/site_db.h"

namespace benchsite {

inline constexpr int kIssues = 100000;

struct Site {
  std::filesystem::path file;
  explicit Site(int issues = kIssues) {
    automation::SetClockForTesting(*automation::MakeDate({2024, 6, 30, 12, 0, 0}));
    file = sitedb::FreshSite(true);
    sitedb::Db sql(file);
    sql.Exec(
        "BEGIN;"
        "INSERT INTO Projects (ProjectId, ProjectCode, PublicAccessible) VALUES"
        "  (2, 'P2', 0), (3, 'P3', 0), (4, 'P4', 1), (5, 'P5', 0);"
        "INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (2, 'alice'), (3, 'bob'), (4, 'alice'), (5, 'carol');"
        "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder)"
        "  SELECT p, b, s FROM (SELECT 2 AS p UNION ALL SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5),"
        "       (SELECT '' AS b, 1 AS s UNION ALL SELECT '1.0', 2 UNION ALL SELECT '1.1', 3);"
        "INSERT INTO ProjectModules (ProjectId, ModuleCode)"
        "  SELECT p, '' FROM (SELECT 2 AS p UNION ALL SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5);"
        // Issue n: project n % 5 + 1, opened on one of the 366 days up to today, half of them closed
        // 0 to 29 days later; one in 5,000 mentions the searched word.
        "WITH RECURSIVE n(x) AS (SELECT 7 UNION ALL SELECT x + 1 FROM n WHERE x < " +
        std::to_string(issues + 6) +
        ") "
        "INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId,"
        "  DateOpened, DateClosed, Valid, Summary, PriorityCode, SeverityCode, DetectedInBuildCode)"
        "SELECT x, x % 5 + 1, CASE x % 4 WHEN 0 THEN 'alice' WHEN 1 THEN 'bob' WHEN 2 THEN 'carol' ELSE '' END,"
        "  CASE WHEN x % 2 = 0 THEN 'Fixed' ELSE 'New' END, CASE WHEN x % 2 = 0 THEN 'Closed' ELSE 'Open' END,"
        "  'dave', strftime('%Y-%m-%d 00:00:00.000', '2024-06-30', '-' || (x * 7919 % 366) || ' days'),"
        "  CASE WHEN x % 2 = 0 THEN strftime('%Y-%m-%d 00:00:00.000', '2024-06-30',"
        "    '-' || max(0, x * 7919 % 366 - x % 30) || ' days') END,"
        "  1, 'Issue ' || x || CASE WHEN x % 5000 = 0 THEN ' needle in the haystack' ELSE ' about the screen' END,"
        "  CASE x % 5 WHEN 0 THEN '' WHEN 1 THEN 'Urgent' WHEN 2 THEN 'High' WHEN 3 THEN 'Normal' ELSE 'Low' END,"
        "  CASE x % 3 WHEN 0 THEN 'Major' WHEN 1 THEN 'Minor' ELSE 'Cosmetic' END,"
        "  CASE x % 3 WHEN 0 THEN '' WHEN 1 THEN '1.0' ELSE '1.1' END FROM n;"
        "INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText)"
        "  SELECT IssueId, 'Comments', 'dave', 'Steps: open the page, press the button and wait ' || IssueId"
        "  FROM Issues WHERE IssueId > 6;"
        "COMMIT;"
        "ANALYZE;");
  }
};

inline Site& TheSite() {
  static Site site;
  return site;
}

// The same site with 1,000,000 issues, made only by the benchmarks that ask for it.
inline Site& MillionSite() {
  static Site site(1000000);
  return site;
}

}  // namespace benchsite
