#include "issues/release_notes.h"

#include <optional>

#include "ado/ado.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "issues/issue_scope.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "Database";

// Builds compare as their codes when the builds table is naturally sorted, else by SortOrder.
bool BuildsNaturallySorted(Database& db) {
  std::optional<bool> natural;
  db.Each("select NaturalSort from IssueCodeTables where TableName = 'ProjectBuilds'", {},
          [&](const sql::Row& r) { natural = natural.value_or(r.Flag(0)); });
  if (!natural) automation::RaiseRuntime(ado::err::kNoCurrentRecord, "There is no code table 'ProjectBuilds'.");
  return *natural;
}

// The SortOrder of one of the project's builds; an unknown build has no row to read it from.
ado::Param BuildSortOrder(Database& db, int32_t projectId, const std::string& build) {
  std::optional<automation::Variant> order;
  db.Each("select SortOrder from ProjectBuilds where ProjectId = ? and BuildCode = ?",
          {ado::Param::Long(projectId), ado::Param::Text(build, 50)}, [&](const sql::Row& r) {
            if (!order) order = r.IsNull(0) ? automation::Variant::Null() : automation::Variant(r.Long(0));
          });
  if (!order)
    automation::RaiseRuntime(ado::err::kNoCurrentRecord, "The project has no build '" + build + "'.");
  return ado::Param::Long(*order);
}

ado::Param Build(const std::string& code) { return ado::Param::Text(code, 50); }

}  // namespace

std::shared_ptr<ado::Recordset> GetReleaseNotesKnownRs(Database& db, int32_t projectId, const std::string& thisBuild,
                                                       const std::string&) {
  return Procedure(kClass, "GetReleaseNotesKnownRs", [&] {
    // The lists keep to the project released; its builds join on the project too, since build
    // codes repeat across projects.
    if (BuildsNaturallySorted(db))
      return db.Read(
          "select Projects.ProjectCode, Issues.* "
          "from Issues "
          "   inner join Projects on Projects.ProjectId = Issues.ProjectId "
          "where VerifiedinBuildCode = '' and DetectedInBuildCode <= ? "
          "    and StatusCode = 'Open' "
          "    and Valid = 1 "
          "    and Issues.ProjectId = ? "
          "order by IssueId ",
          {Build(thisBuild), ado::Param::Long(projectId)});
    ado::Param thisOrder = BuildSortOrder(db, projectId, thisBuild);
    return db.Read(
        "select Projects.ProjectCode, Issues.* "
        "from Issues "
        "   inner join Projects on Projects.ProjectId = Issues.ProjectId "
        "   inner join ProjectBuilds on ProjectBuilds.BuildCode = Issues.DetectedInBuildCode "
        "and ProjectBuilds.ProjectId = Issues.ProjectId "
        "where VerifiedinBuildCode = '' and ProjectBuilds.SortOrder <= ? "
        "    and StatusCode = 'Open' "
        "    and Valid = 1 "
        "    and Issues.ProjectId = ? "
        "order by IssueId ",
        {thisOrder, ado::Param::Long(projectId)});
  });
}

std::shared_ptr<ado::Recordset> GetReleaseNotesCorrectedRs(Database& db, int32_t projectId,
                                                           const std::string& thisBuild,
                                                           const std::string& prevBuild) {
  return Procedure(kClass, "GetReleaseNotesCorrectedRs", [&] {
    if (BuildsNaturallySorted(db))
      return db.Read(
          "select Projects.ProjectCode, Issues.* "
          "from Issues "
          "   inner join Projects on Projects.ProjectId = Issues.ProjectId "
          "where VerifiedInBuildCode <= ? and VerifiedInBuildCode > ? "
          "    and DetectedInBuildCode <= ? "
          "    and Valid = 1 "
          "    and StatusCode = 'Closed' "
          "    and Issues.ProjectId = ? "
          "order by IssueId ",
          {Build(thisBuild), Build(prevBuild), Build(thisBuild), ado::Param::Long(projectId)});
    ado::Param thisOrder = BuildSortOrder(db, projectId, thisBuild);
    ado::Param prevOrder = BuildSortOrder(db, projectId, prevBuild);
    return db.Read(
        "select Projects.ProjectCode, Issues.* "
        "from Issues "
        "   inner join Projects on Projects.ProjectId = Issues.ProjectId "
        "   inner join ProjectBuilds as DetectedBuilds on DetectedBuilds.BuildCode = Issues.DetectedInBuildCode "
        "and DetectedBuilds.ProjectId = Issues.ProjectId "
        "   inner join ProjectBuilds as VerifiedBuilds on VerifiedBuilds.BuildCode = Issues.VerifiedInBuildCode "
        "and VerifiedBuilds.ProjectId = Issues.ProjectId "
        "where VerifiedBuilds.SortOrder <= ? and VerifiedBuilds.SortOrder > ? "
        "    and DetectedBuilds.SortOrder <= ? "
        "    and Valid = 1 "
        "    and StatusCode = 'Closed' "
        "    and Issues.ProjectId = ? "
        "order by IssueId ",
        {thisOrder, prevOrder, thisOrder, ado::Param::Long(projectId)});
  });
}

bool CanDoReleaseNotes(Database& db) {
  return Procedure(kClass, "CanDoReleaseNotes", [&] {
    return db.Exists(
        "select 1 from IssueFields where exists(select * from IssueFields where FieldName = 'VerifiedInBuildCode') "
        "and exists(select * from IssueFields where FieldName = 'DetectedInBuildCode')");
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetReleaseNotesKnownRs", &GetReleaseNotesKnownRs);
  c.Method("GetReleaseNotesCorrectedRs", &GetReleaseNotesCorrectedRs);
  c.Method("CanDoReleaseNotes", &CanDoReleaseNotes);
});

}  // namespace

}  // namespace brisquel
