// The workflow questions of the Database: which resolutions, statuses and assignees a move of an
// issue may take, which states a new issue may start in, who may create issues, whether public
// sign-up makes sense, whether a submitted change follows the workflow, and who gets an issue
// assigned automatically. Read-only; free functions on a Database, registered by name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;
using RecordsetPtr = std::shared_ptr<ado::Recordset>;

// Allowed transitions, assignees and creation rights.
RecordsetPtr GetAllowedResolutionRs(Database& db, int32_t projectId, const std::string& currentUser,
                                    const std::string& resolutionCode, const std::string& statusCode);
RecordsetPtr GetAllowedStatusRs(Database& db, int32_t projectId, const std::string& currentUser,
                                const std::string& resolutionCode, const std::string& statusCode,
                                const std::string& newResolutionCode);
bool CanUserCreateIssue(Database& db, const std::string& currentUser);
bool CanDoPublicSignup(Database& db);
RecordsetPtr GetAllowedNewResolutionRs(Database& db, int32_t projectId, const std::string& currentUser);
RecordsetPtr GetAllowedNewStatusRs(Database& db, int32_t projectId, const std::string& currentUser);
RecordsetPtr GetAllowedAssigneeForNewRs(Database& db, int32_t projectId, int32_t actionId);
RecordsetPtr GetAllowedAssigneeFromActionRs(Database& db, int32_t issueId, const std::string& toResolutionCode,
                                            const std::string& toStatusCode);

// Whether moving the issue to the state and assignee follows the workflow: "" when it does, the
// sentence to show otherwise. Not callable by name (the writers' own check).
std::string ValidIssueAssignment(Database& db, const std::string& userId, int32_t projectId, int32_t issueId,
                                 const std::string& resolutionCode, const std::string& statusCode,
                                 const std::string& assignedToUser);

// The lead who gets the issue automatically on a move, or on creation into a state; "" for none.
automation::Variant GetAutomaticAssignTo(Database& db, int32_t projectId, const std::string& fromResolutionCode,
                                         const std::string& fromStatusCode, const std::string& toResolutionCode,
                                         const std::string& toStatusCode);
automation::Variant GetAutomaticAssignNew(Database& db, int32_t projectId, const std::string& toResolutionCode,
                                          const std::string& toStatusCode);

// ---- typed forms of the same statements, for the writers (not by name)
// An action out of the initial state the user may take in the project, and the pair it leads to.
struct NewAction {
  int32_t actionId = 0;
  std::string resolutionCode;
  std::string statusCode;
};
std::vector<NewAction> AllowedNewActions(Database& db, int32_t projectId, const std::string& userId);
// The assignees GetAllowedAssigneeForNewRs / GetAllowedAssigneeFromActionRs offer (Null left out).
std::vector<std::string> AllowedAssigneesForNew(Database& db, int32_t projectId, int32_t actionId);
std::vector<std::string> AllowedAssigneesOfMove(Database& db, int32_t issueId, const std::string& toResolutionCode,
                                                const std::string& toStatusCode);

}  // namespace brisquel
