#include "issues/issue_list.h"

#include <chrono>
#include <optional>

#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "issues/issue_scope.h"
#include "issues/paged_list.h"
#include "issues/sql_guard.h"
#include "issues/word_search.h"

namespace brisquel {

using automation::EqualsNoCase;

namespace {

constexpr std::string_view kClass = "Database";

// What a list is filtered by: a condition (from outside, or composed here with its own
// parameters) or a system value ("allopen", "all" or a user id).
struct Filter {
  bool custom = false;
  std::string condition;
  ado::Params conditionParams;  // for a condition composed here: bound after the scope's
  bool composedHere = false;
  std::vector<std::string> reads;  // the tables a condition composed here reads besides the list's
  std::vector<std::string> virtualTables;  // of those, the virtual ones
  std::string systemValue;
};

const char* const kFromA = " FROM Issues INNER JOIN Projects ON Issues.ProjectId = Projects.ProjectId ";
const char* const kFromB = " From Issues INNER JOIN Projects ON Issues.ProjectId = Projects.ProjectId ";
const char* const kFromM =
    " FROM ProjectUsers INNER JOIN Projects ON ProjectUsers.ProjectId = Projects.ProjectId INNER JOIN Issues ON "
    "Projects.ProjectId = Issues.ProjectId ";
const char* const kFromN =
    " From ProjectUsers INNER JOIN Projects ON ProjectUsers.ProjectId = Projects.ProjectId inner join Issues on "
    "Issues.ProjectId = Projects.ProjectId ";
// A member's list of all or of the open issues in issue order walks Issues in the order of its key
// and tests each issue's project against his (a probe of the ProjectUsers key): a page costs the
// issues before it, where reading his projects' index entries first sorts all his issues for every
// page. NOT INDEXED keeps the engine, which has no statistics on a site, from taking the index by
// status and sorting instead.
const char* const kFromMemberByIssue =
    " FROM Issues NOT INDEXED CROSS JOIN ProjectUsers ON ProjectUsers.ProjectId = Issues.ProjectId CROSS JOIN Projects ON "
    "Projects.ProjectId = Issues.ProjectId ";

// A member's list of the open issues assigned to a user, in issue order, walks the index by user
// and status (in issue order within a user and status) and probes his projects: a page costs the
// issues before it. The joins in this order keep the engine from reading his projects first by
// the index by project and user and sorting all their matches for every page.
const char* const kFromMemberAssignedByIssue =
    " FROM Issues CROSS JOIN ProjectUsers ON ProjectUsers.ProjectId = Issues.ProjectId CROSS JOIN Projects ON "
    "Projects.ProjectId = Issues.ProjectId ";

bool IsIssueId(const std::string& orderBy) {
  return EqualsNoCase(orderBy, "Issues.IssueId") || EqualsNoCase(orderBy, "IssueId");
}

// The joins of the code tables that are not naturally sorted, so that their SortOrder can be named
// (as <field>_<table>) in the order and in conditions. Only the tables that the order or the
// condition names are joined: every code an issue holds is in its table (the issue writers and the
// key triggers see to it), so the others would only cost a lookup per row.
// Also the joins the condition needs alone (`conditionJoins`), and the codes of the tables the
// order names (`codeKeys`, each followed by ", ").
std::string CodeTableJoins(Database& db, const std::string& condition, const std::string& orderBy,
                           std::string& conditionJoins, std::string& codeKeys) {
  std::string joins;
  db.Each("select IssueFields.FieldName, IssueFields.TableName, IssueCodeTables.TableFieldName, "
          "coalesce(IssueCodeTables.VariesByProject, 0) as VariesByProject from IssueFields "
          "inner join IssueCodeTables on IssueCodeTables.TableName = IssueFields.TableName "
          "where IssueFields.TableName <> '' and IssueFields.TableName <> 'Projects' "
          "and coalesce(IssueCodeTables.NaturalSort, 0) = 0 order by IssueFields.FieldFriendlyName",
          {}, [&](const sql::Row& r) {
            const std::string field = r.Text("FieldName"), table = r.Text("TableName");
            const std::string alias = field + "_" + table;
            if (!sqlguard::Mentions(orderBy, alias) && !sqlguard::Mentions(condition, alias)) return;
            const std::string key = r.Text("TableFieldName");
            if (!sqlguard::IsPlainName(field) || !sqlguard::IsPlainName(table) || !sqlguard::IsPlainName(key))
              ThrowError(kClass, "GetFilteredIssuesRs",
                         "The code table '" + table + "' of the field '" + field +
                             "' has a name that cannot be joined.");
            // The names quoted: a name SQL keeps for itself is still a column here.
            const std::string quotedKey = ado::QuoteIdentifier(key);
            std::string join = " inner join " + ado::QuoteIdentifier(table) + " as " + alias + " on " + alias + "." +
                               quotedKey + " = Issues." + ado::QuoteIdentifier(field);
            join += r.Flag("VariesByProject") ? " and " + alias + ".ProjectId = Issues.ProjectId " : std::string(" ");
            joins += join;
            if (sqlguard::Mentions(condition, alias)) conditionJoins += join;
            if (sqlguard::Mentions(orderBy, alias)) codeKeys += alias + "." + quotedKey + ", ";
          });
  return joins;
}

namespace {

// The reads of one call inside one read transaction of the caller's connection: one lock for all
// of them rather than one per statement. A transaction the caller has open, or the snapshot its
// reads share already, is left alone.
class ReadTransaction {
 public:
  explicit ReadTransaction(ado::Connection& c) : c_(c), own_(!c.InTransaction() && !c.HoldsReadSnapshot()) {
    if (own_) c_.ExecuteNonQuery("BEGIN");
  }
  ~ReadTransaction() {
    try {
      if (own_ && c_.InTransaction()) c_.ExecuteNonQuery("COMMIT");
    } catch (...) {
    }
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  ado::Connection& c_;
  bool own_;
};

// Whose issues a list of ProjectId -1 holds; a list of one project is Project.
enum class Scope { Project, Public, SiteAdmin, Member };

// The FROM and WHERE of the list and their parameters.
struct ListStatement {
  std::string from, where;
  ado::Params params;
};

// The scope of the list; `visible` false when the user may not see the one project he names.
Scope ScopeOf(Database& db, int32_t projectId, const std::string& currentUser, bool& visible) {
  visible = true;
  if (projectId != -1) {
    visible = lists::MayViewProject(db, currentUser, projectId);
    return Scope::Project;
  }
  if (UserIsPublic(db, currentUser)) return Scope::Public;
  if (UserIsSiteAdmin(db, currentUser)) return Scope::SiteAdmin;
  return Scope::Member;
}

// A custom filter: its condition inside the scope's test.
ListStatement CustomList(Scope scope, const std::string& projectTest, int32_t projectId,
                         const std::string& currentUser, const Filter& filter) {
  ListStatement st;
  std::string& from = st.from;
  std::string& where = st.where;
  ado::Params& params = st.params;
  switch (scope) {
    case Scope::Project:
      from = kFromA;
      where = " WHERE (" + projectTest + ") and (";
      params.push_back(ado::Param::Long(projectId, "ProjectId"));
      break;
    case Scope::Public:
      from = kFromA;
      where = " WHERE Projects.PublicAccessible = 1 and (";
      break;
    case Scope::SiteAdmin:
      from = kFromA;
      where = " WHERE (";
      break;
    case Scope::Member:
      from = kFromM;
      where = " WHERE (ProjectUsers.UserId = ?) and (";
      params.push_back(lists::UserParam(currentUser, "UserId"));
      break;
  }
  where += filter.condition + ") ";
  for (const ado::Param& p : filter.conditionParams) params.push_back(p);
  return st;
}

// A system filter: all issues, the open ones, or those open and assigned to a user.
ListStatement SystemList(Scope scope, const std::string& projectTest, int32_t projectId,
                         const std::string& currentUser, const Filter& filter) {
  ListStatement st;
  std::string& from = st.from;
  std::string& where = st.where;
  ado::Params& params = st.params;
  const std::string& v = filter.systemValue;
  bool allOpen = EqualsNoCase(v, "allopen"), all = EqualsNoCase(v, "all");
  const char* open = " and Issues.StatusCode = 'Open')";
  switch (scope) {
    case Scope::Project:
      params.push_back(ado::Param::Long(projectId, "ProjectId"));
      if (allOpen) {
        from = kFromA;
        where = " WHERE (" + projectTest + open;
      } else if (all) {
        from = kFromA;
        where = " WHERE (" + projectTest + ")";
      } else {
        from = kFromB;
        where = " WHERE (" + projectTest + " and Issues.AssignedToUser = ?" + open;
        params.push_back(lists::UserParam(v, "UserId"));
      }
      break;
    case Scope::Public:
      if (allOpen) {
        from = kFromA;
        where = std::string(" WHERE (Projects.PublicAccessible = 1") + open;
      } else if (all) {
        from = kFromA;
        where = " WHERE (Projects.PublicAccessible = 1)";
      } else {
        from = kFromB;
        where = std::string(" WHERE (Projects.PublicAccessible = 1 and Issues.AssignedToUser = ?") + open;
        params.push_back(lists::UserParam(v, "UserId"));
      }
      break;
    case Scope::SiteAdmin:
      if (allOpen) {
        from = kFromA;
        where = " WHERE (Issues.StatusCode = 'Open')";
      } else if (all) {
        from = kFromA;
      } else {
        from = kFromB;
        where = std::string(" WHERE (Issues.AssignedToUser = ?") + open;
        params.push_back(lists::UserParam(v, "UserId"));
      }
      break;
    case Scope::Member:
      params.push_back(lists::UserParam(currentUser, "UserId"));
      if (allOpen) {
        from = kFromM;
        where = std::string(" WHERE (ProjectUsers.UserId = ?") + open;
      } else if (all) {
        from = kFromM;
        where = " WHERE (ProjectUsers.UserId = ?)";
      } else {
        from = kFromN;
        where = std::string(" WHERE (ProjectUsers.UserId = ? and Issues.AssignedToUser = ?") + open;
        params.push_back(lists::UserParam(v, "UserId"));
      }
      break;
  }
  return st;
}

// The count of a standard list of all or of the open issues, from the counts the site keeps per
// project and status; false for any other list (its count reads the rows).
bool KeptCount(Scope scope, const Filter& filter, bool visible, int32_t projectId, const std::string& currentUser,
               PagedQuery& query) {
  const bool allOpen = EqualsNoCase(filter.systemValue, "allopen"), all = EqualsNoCase(filter.systemValue, "all");
  if (filter.custom || (!allOpen && !all)) return false;
  std::string sql = "select coalesce(sum(IssueCounts.Issues), 0) from ";
  ado::Params params;
  switch (scope) {
    case Scope::Project:
      sql += std::string("IssueCounts where (IssueCounts.ProjectId = ?") + (visible ? "" : lists::kNoRows) + ")";
      params.push_back(ado::Param::Long(projectId, "ProjectId"));
      break;
    case Scope::Public:
      sql += "Projects inner join IssueCounts on IssueCounts.ProjectId = Projects.ProjectId "
             "where (Projects.PublicAccessible = 1)";
      break;
    case Scope::SiteAdmin:
      sql += "IssueCounts where (1 = 1)";
      break;
    case Scope::Member:
      sql += "ProjectUsers inner join IssueCounts on IssueCounts.ProjectId = ProjectUsers.ProjectId "
             "where (ProjectUsers.UserId = ?)";
      params.push_back(lists::UserParam(currentUser, "UserId"));
      break;
  }
  if (allOpen) sql += " and IssueCounts.StatusCode = 'Open'";
  query.count = std::move(sql);
  query.countParams = std::move(params);
  return true;
}

// Whether text from outside may name Projects: the table, or one of its columns unqualified (as
// the checks allow).
bool MayNameProjects(const std::string& text, const sqlguard::Catalogue& catalogue) {
  if (sqlguard::Mentions(text, "Projects")) return true;
  if (auto projects = catalogue.tables.find("Projects"); projects != catalogue.tables.end())
    for (const std::string& column : projects->second)
      if (sqlguard::Mentions(text, column)) return true;
  return false;
}

// The FROM of the ids of a list's rows. Every issue has its project (the keys see to it), so a
// list whose own text names no column of Projects keeps its rows without the join; the member's
// projects come first, so that his issues are read from the index of Issues by project (in
// issue order, Issues comes first: kFromMemberByIssue).
std::string IdsFrom(Scope scope, const std::string& rowsFrom, bool namesProjects, bool byIssue) {
  if (namesProjects) return rowsFrom;
  switch (scope) {
    case Scope::SiteAdmin:
    case Scope::Project:
      return " FROM Issues ";
    case Scope::Member:
      if (byIssue) return " FROM Issues NOT INDEXED CROSS JOIN ProjectUsers ON ProjectUsers.ProjectId = Issues.ProjectId ";
      return " FROM ProjectUsers CROSS JOIN Issues ON ProjectUsers.ProjectId = Issues.ProjectId ";
    case Scope::Public:
      break;
  }
  return rowsFrom;
}

}  // namespace

// The issue id breaks ties, so that the pages of a list, each read on its own, keep one order;
// before it the codes of the code tables the order names, so that a list in the order of a
// code table's sort order reads the table's (unique) index in order and needs no sort.
namespace {
std::string ListOrder(const std::string& orderBy, int16_t orderSeq, const std::string& codeKeys) {
  const char* direction = orderSeq != 0 ? " desc" : " asc";
  std::string order = " order by " + orderBy + direction + ", ";
  for (size_t at = 0, comma; (comma = codeKeys.find(", ", at)) != std::string::npos; at = comma + 2)
    order += codeKeys.substr(at, comma - at) + direction + ", ";
  return order + "Issues.IssueId" + direction;
}
}  // namespace

// A sort order of one unqualified name names, in the list's statement, the list's own column of
// that name (one of Issues, or the project's code) before any other; qualified so, it names the same
// column in the statements that read the list's ids or some of its columns, which lack the list's.
std::string QualifiedOrder(const std::string& orderBy, const sqlguard::Catalogue& catalogue) {
  if (!sqlguard::IsColumn(orderBy) || orderBy.find('.') != std::string::npos) return orderBy;
  if (auto issues = catalogue.tables.find("Issues"); issues != catalogue.tables.end() && issues->second.count(orderBy))
    return "Issues." + orderBy;
  if (EqualsNoCase(orderBy, "ProjectCode")) return "Projects.ProjectCode";
  return orderBy;
}

std::shared_ptr<ado::Recordset> FilteredList(Database& db, int32_t projectId, const Filter& filter,
                                             const std::string& currentUser, const std::string& orderByAsGiven,
                                             int16_t orderSeq) {
  // A message of an earlier call must not pass for this call's.
  db.SetLastErrorMessage("");
  ReadTransaction reads(db.Connection());
  ado::Connection& connection = db.Connection();
  const sqlguard::Catalogue& catalogue = sqlguard::Catalogue::ForIssues(connection);
  const std::string orderBy = QualifiedOrder(orderByAsGiven, catalogue);
  // A condition composed here names no code-table alias nor Projects; it holds parameters, which
  // the check (and so Mentions) takes for the worst.
  const std::string& named = filter.composedHere ? std::string() : filter.condition;
  std::string codeKeys, conditionJoins;
  std::string joins = CodeTableJoins(db, named, orderBy, conditionJoins, codeKeys);
  const std::string order = ListOrder(orderBy, orderSeq, codeKeys);

  bool visible = true;
  const Scope scope = ScopeOf(db, projectId, currentUser, visible);
  // The project test of one project; nothing passes it when the user may not see the project.
  std::string projectTest = std::string("Issues.ProjectId = ?") + (visible ? "" : lists::kNoRows);
  ListStatement st = filter.custom ? CustomList(scope, projectTest, projectId, currentUser, filter)
                                   : SystemList(scope, projectTest, projectId, currentUser, filter);
  const ado::Params& params = st.params;
  // The lists of issues assigned to a user keep the index by user.
  const bool memberByIssue = scope == Scope::Member && IsIssueId(orderBy) &&
                             (filter.custom || EqualsNoCase(filter.systemValue, "allopen") ||
                              EqualsNoCase(filter.systemValue, "all"));
  const bool memberAssignedByIssue = scope == Scope::Member && IsIssueId(orderBy) && !filter.custom && !memberByIssue;
  const std::string rowsFrom = memberByIssue           ? std::string(kFromMemberByIssue)
                               : memberAssignedByIssue ? std::string(kFromMemberAssignedByIssue)
                                                       : st.from;
  std::string sql = "SELECT  Projects.ProjectCode, Issues.*" + rowsFrom + joins + st.where + order;

  // Text from outside stays inside its parentheses and names only the list's tables and columns.
  const bool outside = filter.custom && !filter.composedHere, outsideOrder = !sqlguard::IsColumn(orderBy);
  if (outside) {
    std::string why = sqlguard::Check(filter.condition, catalogue, sqlguard::Fragment::Condition);
    if (!why.empty()) {
      db.Fail("Invalid criteria (" + why + ").");
      return nullptr;
    }
  }
  std::string why = sqlguard::Check(orderBy, catalogue, sqlguard::Fragment::OrderBy);
  if (!why.empty()) {
    db.Fail("Invalid sort order (" + why + ").");
    return nullptr;
  }

  // The command's time-out bounds the statements; a condition or sort expression from outside, less.
  PagedQuery query;
  query.time = std::chrono::seconds(connection.CommandTimeout());
  if ((outside || outsideOrder) && (query.time.count() == 0 || query.time > sqlguard::kConditionTime))
    query.time = sqlguard::kConditionTime;
  query.orderFromOutside = outsideOrder;
  // A sort order from outside may name a column by its place among the list's.
  if (!outsideOrder) query.rowsFrom = rowsFrom + joins + st.where + order;
  query.select = std::move(sql);
  // A page past the first is found by its ids over the indexes, then read by them.
  const bool conditionNamesProjects = MayNameProjects(named, catalogue);
  query.ids = "SELECT Issues.IssueId" +
              IdsFrom(scope, rowsFrom, conditionNamesProjects || MayNameProjects(orderBy, catalogue),
                      memberByIssue) +
              joins + st.where + order;
  query.rowsOf =
      "SELECT  Projects.ProjectCode, Issues.* FROM PageIds CROSS JOIN Issues ON Issues.IssueId = PageIds.IssueId "
      "INNER JOIN Projects ON Issues.ProjectId = Projects.ProjectId ORDER BY PageIds.Position";
  // The ids' statement has one column: a place among the list's columns means nothing there.
  if (outsideOrder && sqlguard::HasPlaceKey(orderBy)) query.ids.clear();
  // Every issue has its project and its codes (keys and triggers see to it), so the joins drop no
  // row: a list of the whole site or one project whose condition names nothing of Projects counts Issues
  // with the joins its condition needs only (an index of Issues alone, for the standard filters).
  const bool issuesAlone = (scope == Scope::SiteAdmin || scope == Scope::Project) && !conditionNamesProjects;
  query.count = issuesAlone ? "SELECT count(*) FROM Issues " + conditionJoins + st.where
                            : "SELECT count(*)" + st.from + joins + st.where;
  query.params = params;
  query.countParams = params;
  if (catalogue.issueCounts) KeptCount(scope, filter, visible, projectId, currentUser, query);
  query.readable = catalogue.ReadableTables();
  query.readable.insert(filter.reads.begin(), filter.reads.end());
  query.virtualTables = filter.virtualTables;
  query.pageSize = 10;
  std::shared_ptr<ado::Recordset> rs;
  PagedFailure read;
  auto failure = db.Trap([&] { rs = ReadPaged(db, query, read); });
  if (!failure) return rs;
  // The count holds the condition and not the order: what it refuses is the condition's.
  const bool criteria = outside && (!outsideOrder || read.inCount);
  if (read.timedOut && (outside || outsideOrder)) {
    db.Fail(criteria ? "Invalid criteria (the criteria take too long to run)."
                     : "Invalid sort order (the sort order takes too long to run).");
  } else if (read.refused && (outside || outsideOrder)) {
    // Text from outside that the checks let through and the engine did not take: the caller's
    // mistake, told in our words; the engine's go to the log.
    LogInputFault(kClass, "GetFilteredIssuesRs",
                  (criteria ? "the criteria '" + filter.condition : "the sort order '" + orderBy) + "': " +
                      read.engineText);
    db.Fail(criteria ? "Invalid criteria (the list cannot be filtered by them)."
                     : "Invalid sort order (the list cannot be sorted by it).");
  } else {
    db.Fail(db.UnexpectedReport(*failure));
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<ado::Recordset> GetFilteredIssuesRs(Database& db, int32_t projectId, const std::string& filterText,
                                                    const std::string& currentUser, const std::string& orderBy,
                                                    int16_t orderSeq) {
  return Procedure(kClass, "GetFilteredIssuesRs", [&] {
    std::string prefix = filterText.substr(0, 2);
    std::string rest = filterText.size() > 2 ? filterText.substr(2) : std::string();
    Filter filter;
    if (EqualsNoCase(prefix, "s:")) {
      filter.systemValue = rest;
    } else if (EqualsNoCase(prefix, "x:")) {
      filter.custom = true;
      filter.condition = rest;
    } else {
      // A saved filter of the user; one he does not have lists his own open issues. A name longer
      // than any saved name cannot be his.
      std::optional<std::string> saved;
      if (CharLength(rest) <= 50)
        saved = db.One<std::string>(
            "select coalesce(fqFilterExpression, '') from SummaryFilters where UserId = ? and FilterName = ?",
            {lists::UserParam(currentUser), ado::Param::Text(rest, 50)});
      if (saved) {
        filter.custom = true;
        filter.condition = std::move(*saved);
      } else {
        filter.systemValue = currentUser;
      }
    }
    return FilteredList(db, projectId, filter, currentUser, orderBy, orderSeq);
  });
}

std::shared_ptr<ado::Recordset> FindIssueByTextRs(Database& db, const std::string& userId, int32_t projectId,
                                                  bool includeClosed, const std::string& orderBy, int16_t orderSeq,
                                                  const std::string& criteria) {
  return Procedure(kClass, "FindIssueByTextRs", [&] {
    WordCondition word = WordSearchCondition(db, criteria, true);
    if (word.sql.empty())
      ThrowError(kClass, "FindIssueByTextRs", "No issue field holds text that can be searched.");
    Filter filter;
    filter.custom = true;
    filter.composedHere = true;
    filter.conditionParams = std::move(word.params);
    filter.reads = std::move(word.reads);
    filter.virtualTables = std::move(word.indexes);
    filter.condition = includeClosed ? word.sql : "(Issues.StatusCode = 'Open' and " + word.sql + ")";
    return FilteredList(db, projectId, filter, userId, orderBy, orderSeq);
  });
}

std::shared_ptr<ado::Recordset> FindIssueByIdRs(Database& db, const std::string& userId, int32_t projectId,
                                                int32_t issueId) {
  return Procedure(kClass, "FindIssueByIdRs", [&] {
    return GetFilteredIssuesRs(db, projectId, "x:Issues.IssueId = " + std::to_string(issueId), userId,
                               "Issues.IssueId", 0);
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetFilteredIssuesRs", &GetFilteredIssuesRs);
  c.Method("FindIssueByTextRs", &FindIssueByTextRs);
  c.Method("FindIssueByIdRs", &FindIssueByIdRs);
});

}  // namespace

}  // namespace brisquel
