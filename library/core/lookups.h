// The Database's permission questions and lookups: login and roles, one issue with what hangs off
// it, the site directory, the filters a user may apply, and the issue-form configuration. Each is a
// free function on a Database, registered by name on Database from its own source file.
#pragma once

#include <cstdint>
#include <memory>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "core/sql.h"

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;
using RecordsetPtr = std::shared_ptr<ado::Recordset>;

// Login and permission questions (login.cpp).
bool Login(Database& db, const std::string& userId, const std::string& password);
bool UserCanModifyIssue(Database& db, const std::string& userId, int32_t issueId);
bool UserIsPublic(Database& db, const std::string& userId);
bool UserIsSiteAdmin(Database& db, const std::string& userId);
bool UserIsProjectAdmin(Database& db, const std::string& userId, int32_t projectId = -1);
bool UserCanOverrideWorkflow(Database& db, const std::string& userId, int32_t projectId);
std::string ProjectGroupLead(Database& db, int32_t projectId, const std::string& groupCode);
bool UserIsProjectMember(Database& db, const std::string& userId, int32_t projectId);
bool UserCanAdmin(Database& db, const std::string& userId);
RecordsetPtr GetUserAdminProjectsRs(Database& db, const std::string& userId);
automation::Variant UserInGroup(Database& db, const std::string& userId, const std::string& groupCode);

// A user's roles that hold without a project, read by one statement: for the callers that would
// otherwise ask UserIsSiteAdmin, UserIsPublic and UserCanAdmin one after the other (not by name).
struct UserRoles {
  bool siteAdmin = false;     // Users.SiteAdministrator
  bool publicUser = false;    // Users.PublicUser
  bool projectAdmin = false;  // administrator of at least one project
  bool CanAdmin() const { return siteAdmin || projectAdmin; }
};
// An unknown user has no role.
UserRoles ReadUserRoles(Database& db, const std::string& userId);

// One issue and what hangs off it (issue_lookups.cpp).
RecordsetPtr GetIssueRs(Database& db, int32_t issueId);
RecordsetPtr GetCommentsRs(Database& db, int32_t issueId, const std::string& fieldName);
RecordsetPtr GetLastCommentRs(Database& db, int32_t issueId, const std::string& fieldName);
RecordsetPtr GetAttachmentsRs(Database& db, int32_t issueId);
RecordsetPtr GetAttachmentRs(Database& db, int32_t attachmentId);
std::vector<uint8_t> GetAttachmentData(Database& db, int32_t attachmentId, int32_t offset, int32_t length);
RecordsetPtr GetIssueHistoryRs(Database& db, int32_t issueId);

// The site directory (directory_lookups.cpp).
RecordsetPtr GetProjectsRs(Database& db);
RecordsetPtr GetProjectRs(Database& db, int32_t projectId);
RecordsetPtr GetBuildRs(Database& db, int32_t projectId, const std::string& buildCode);
RecordsetPtr GetUsersRs(Database& db);
RecordsetPtr GetInternalUsersRs(Database& db);
RecordsetPtr GetUserRs(Database& db, const std::string& userId);
RecordsetPtr GetUserGroupsRs(Database& db, const std::string& userId);
RecordsetPtr GetGroupsRs(Database& db);
RecordsetPtr GetGroupRs(Database& db, const std::string& groupCode);
RecordsetPtr GetReassignToRs(Database& db, int32_t currentIssueId);
RecordsetPtr GetResolutionsRs(Database& db);
RecordsetPtr GetResolutionRs(Database& db, const std::string& resolutionCode);
RecordsetPtr GetStatusCodesRs(Database& db);
RecordsetPtr GetProjectUsersRs(Database& db, int32_t projectId);
RecordsetPtr GetUserProjectsRs(Database& db, const std::string& userId);
RecordsetPtr GetUserProjectsUsersRs(Database& db, const std::string& userId);
RecordsetPtr GetGroupUsersRs(Database& db, const std::string& groupCode, int32_t projectId);

// The filters a user may apply (filters.cpp).
RecordsetPtr GetUserFiltersRs(Database& db, int32_t projectId, const std::string& userId);

// Issue-form configuration (form_metadata.cpp).
RecordsetPtr GetIssueFieldsRs(Database& db, const std::string& userId);
RecordsetPtr GetIssueCodedFieldsRs(Database& db);
RecordsetPtr GetIssueDataEntryFieldsRs(Database& db);
RecordsetPtr GetIssueValidationFieldsRs(Database& db);
RecordsetPtr GetIssueValidationsRs(Database& db, const std::string& resolutionCode, const std::string& statusCode);
RecordsetPtr GetIssueValidationByResolutionRs(Database& db, const std::string& resolutionCode,
                                              const std::string& statusCode);
RecordsetPtr GetIssueDataEntryLayoutFieldsRs(Database& db);
RecordsetPtr GetIssueCodeTablesRs(Database& db);
RecordsetPtr GetIssueCodeTableRs(Database& db, const std::string& userId, const std::string& tableName);
RecordsetPtr GetCodeRs(Database& db, const std::string& userId, const std::string& tableName, int32_t projectId,
                       const std::string& codeValue);
RecordsetPtr GetCodesRs(Database& db, const std::string& userId, const std::string& tableName, int32_t projectId);
RecordsetPtr GetIssueFieldRs(Database& db, const std::string& fieldName);
RecordsetPtr GetSummaryLayoutRs(Database& db, const std::string& userId, const std::string& layoutName);
RecordsetPtr GetSummaryLayoutsRs(Database& db, const std::string& userId);
RecordsetPtr GetSummaryLayoutFieldsRs(Database& db, const std::string& userId, const std::string& layoutName,
                                      int16_t rowNumber);
RecordsetPtr GetEntryLayoutRowsRs(Database& db);
RecordsetPtr GetEntryLayoutFieldsRs(Database& db, int16_t rowNumber);
RecordsetPtr GetDataEntryLayoutRs(Database& db);
RecordsetPtr GetDataEntryDetails(Database& db, const std::string& userId);
RecordsetPtr GetDataEntryLayoutFieldsRs(Database& db, int32_t rowNum);
automation::Variant GetFieldComboValuesRs(Database& db, const std::string& currentUser, int32_t projectId,
                                          const std::string& fieldName);
RecordsetPtr GetSummaryFiltersRs(Database& db, const std::string& userId);
RecordsetPtr GetSummaryFilterRs(Database& db, const std::string& userId, const std::string& filterName);

// ---- typed forms of the same statements, for the writers inside the library (not by name)
using RowFn = std::function<void(const sql::Row&)>;
// The rows of GetUserProjectsRs (ProjectCode, ProjectId).
void EachUserProject(Database& db, const std::string& userId, const RowFn& fn);
// Whether the project is one of those the user may use (GetUserProjectsRs holds it).
bool IsUserProject(Database& db, const std::string& userId, int32_t projectId);
// The rows of GetProjectUsersRs (UserId).
void EachProjectUser(Database& db, int32_t projectId, const RowFn& fn);
// The rows of GetUserProjectsUsersRs (UserId, and every Users column for a site administrator).
void EachUserProjectsUser(Database& db, const std::string& userId, const RowFn& fn);
// The rows of GetSummaryFiltersRs: the user's saved filters by name.
void EachSummaryFilter(Database& db, const std::string& userId, const RowFn& fn);
// The rows of GetDataEntryLayoutFieldsRs(-1): every field of the entry form, in display order.
void EachEntryFormField(Database& db, const RowFn& fn);
// The rows of GetIssueValidationByResolutionRs: the fields the state requires.
struct RequiredField {
  std::string fieldName;
  std::string friendlyName;
  std::string representation;
};
std::vector<RequiredField> RequiredFieldsOf(Database& db, const std::string& resolutionCode,
                                            const std::string& statusCode);

// The row of GetIssueRs: each column as text (Null kept apart), found by name without regard to case.
struct IssueRow {
  std::vector<std::pair<std::string, std::optional<std::string>>> columns;
  // nullptr when the issue has no such column.
  const std::optional<std::string>* Column(std::string_view name) const;
  std::string Text(std::string_view name) const;  // Null and a missing column give ""
  int32_t Long(std::string_view name) const;
};
std::optional<IssueRow> ReadIssueRow(Database& db, int32_t issueId);

// The same row with each column as the recordset gives it (a date as a Date, a flag as a Boolean),
// for what shows an issue's values as the readers' recordsets show them (a notification).
struct IssueValues {
  std::vector<std::pair<std::string, automation::Variant>> columns;
  // Raises &H800A0CC1 for a column the row does not have, as a recordset does.
  const automation::Variant& Value(std::string_view name) const;
};
std::optional<IssueValues> ReadIssueValues(Database& db, int32_t issueId);

// The rows of GetIssueFieldsRs: every issue field, by friendly name.
void EachIssueField(Database& db, const RowFn& fn);

// The row of GetLastCommentRs: the newest entry of one comments field.
struct CommentRow {
  std::string author;
  std::optional<automation::Date> createdOn;  // nullopt when Null or no date
  std::string text;
};
std::optional<CommentRow> ReadLastComment(Database& db, int32_t issueId, const std::string& fieldName);

}  // namespace brisquel
