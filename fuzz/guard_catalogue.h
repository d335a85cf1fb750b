// A small catalogue of the list's tables for the guard's fuzz target and benchmark: the issues,
// their projects, comments (per issue), priorities (a code table) and modules (per project).
#pragma once

#include "issues/sql_guard.h"

inline const brisquel::sqlguard::Catalogue& GuardCatalogue() {
  static const brisquel::sqlguard::Catalogue c = [] {
    brisquel::sqlguard::Catalogue c;
    c.tables["Issues"] = {"IssueId", "ProjectId", "Summary", "StatusCode", "PriorityCode"};
    c.tables["Projects"] = {"ProjectId", "ProjectCode"};
    c.tables["IssueComments"] = {"IssueId", "FieldName", "CommentText"};
    c.tables["Priorities"] = {"PriorityCode", "SortOrder"};
    c.tables["ProjectModules"] = {"ProjectId", "ModuleCode"};
    c.aliases["PriorityCode_Priorities"] = "Priorities";
    c.subqueryTables = {"IssueComments", "Priorities", "ProjectModules"};
    c.perIssueTables = {"IssueComments"};
    c.perProjectTables = {"ProjectModules"};
    return c;
  }();
  return c;
}
