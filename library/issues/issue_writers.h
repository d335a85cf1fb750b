// The issue writers of the Database: a new issue from the posted form, a posted change of an
// issue (with "Return to sender"), and the reassignment of several issues at once. Each writes in
// one transaction with its history rows, comments, attachments and queued notifications; an
// expected failure leaves a sentence in LastErrorMessage.
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
class MultipartFormData;

// The new IssueId; -1 with LastErrorMessage set when the issue was not created.
int32_t CreateIssue(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);

// Writes the posted form into the issue read with GetIssueRs (one row) and sends it back. The
// files posted with it come as the ids of the ProvisionalAttachments rows the page wrote for them
// (Empty, one id or an array): they become the issue's in the same transaction.
bool UpdateIssue(Database& db, const std::string& userId, std::shared_ptr<ado::Recordset> rsIssue,
                 std::shared_ptr<MultipartFormData> formData,
                 const automation::Variant& newAttachments = automation::Variant());

// Moves the ticked issues (chkIssue) to cmbResolution, cmbStatus and cmbAssignedTo.
bool MassReassign(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);

}  // namespace brisquel
