// The steps the issue writers share: reading the posted issue form, looking up the target workflow
// state, checking required fields and lengths (every problem reported at once), converting posted
// values into column values, resolving an automatic assignee, the checked attachments and the
// comment rows. Private to the writers; none is a member callers see.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "automation/text.h"
#include "core/lookups.h"

namespace brisquel {

class Database;
class MultipartFormData;

namespace issueform {

inline constexpr std::string_view kCrLf = "\r\n";
inline constexpr std::string_view kReturnToSender = "Return to sender";
inline constexpr std::string_view kAutomaticPrefix = "Automatic (";
// What the issue columns and statements hold: a status code on issues has at most 6 characters,
// a resolution code, a user id or a list value 50, a comment 7900.
inline constexpr size_t kStatusWidth = 6;
inline constexpr size_t kCodeWidth = 50;
inline constexpr size_t kUserWidth = 50;
inline constexpr size_t kCommentWidth = 7900;

// One field of the issue entry form.
struct LayoutField {
  std::string name;
  std::string friendlyName;
  std::string representation;  // "text", "multiline", "combo", "checkbox", "comments" or other
  int32_t textMaxLength = 0;
  bool Is(std::string_view rep) const;
  bool IsProject() const;  // the field "ProjectCode"
};

// Every field of the entry form, in display order (GetDataEntryLayoutFieldsRs(-1)).
std::vector<LayoutField> ReadLayoutFields(Database& db);
bool HasProjectField(const std::vector<LayoutField>& fields);

// A posted value as text: "" when not posted; a name posted more than once is a type mismatch.
std::string FormText(const MultipartFormData& form, std::string_view name);

// The WorkflowStates row of workflow 1 for the pair; nullopt when the pair is no state (also for
// codes longer than any state can hold).
struct StateRow {
  int32_t stateId = 0;
  bool issueValid = false;
  bool issueFixed = false;
};
std::optional<StateRow> FindWorkflowState(Database& db, const std::string& resolutionCode,
                                          const std::string& statusCode);

// "The status code (...) is longer than 6 characters." when the status cannot be stored on an
// issue; "" when it fits.
std::string StatusWidthMessage(const std::string& statusCode);

// Appends "<friendly name> cannot be blank." CR LF for each required field (rows of
// RequiredFieldsOf) whose trimmed posted value is empty. `checkComments` false
// skips the rows of comments fields.
void CheckRequiredFields(const std::vector<RequiredField>& required, const MultipartFormData& form,
                         bool checkComments, std::string& messages);

// Appends "<friendly name> cannot be longer than <n> characters." CR LF for each value longer
// than what will be stored: text and multiline values as the writer stores them (trimmed on
// update), comments as posted (at most the comment column's width), list values at 50.
void CheckLengths(const std::vector<LayoutField>& fields, const MultipartFormData& form, bool trimText,
                  std::string& messages);

// Appends "<friendly name> (<value>) is not one of the values of its list." CR LF for each list
// field whose posted value its code table does not hold (a table kept per project: the list of
// `projectId`), so that a value no list offers is refused with a sentence, never by the database.
// The writers look once the other checks have passed. `held` is the issue row as read (nullptr for a new issue): a value it holds already
// is kept without a look.
void CheckListValues(Database& db, const std::vector<LayoutField>& fields, const MultipartFormData& form,
                     int32_t projectId, const ado::Recordset* held, std::string& messages);

// Appends a message when the posted assignee cannot be stored: an automatic assignment that is
// not "Automatic (" + user id + ")", or a user id longer than a user id can be.
void CheckAssignee(const std::string& postedAssignee, std::string& messages);

// The message list as the writers report it: the final CR LF removed. Empty when no message.
std::string CloseMessageList(std::string messages);

// A layout field as a column value, or nothing (comments fields and the empty cell).
struct ColumnValue {
  std::string column;     // "ProjectId" for the project field
  std::string paramName;  // the layout field's name
  int32_t type = ado::adVarChar;
  int32_t size = 0;
  automation::Variant value;
};
std::optional<ColumnValue> ConvertField(const LayoutField& field, const MultipartFormData& form, bool forUpdate);

// The posted project as a project id; nullopt when it is not a whole number.
std::optional<int32_t> PostedProjectId(const MultipartFormData& form);

// "Automatic (" + user id + ")" (any letter case of the prefix) gives the user id inside; any
// other value is the assignee itself. A malformed automatic value gives nullopt.
bool IsAutomatic(std::string_view postedAssignee);
std::optional<std::string> ResolveAssignee(const std::string& postedAssignee);

// The ids of the checked attachments (chkAttachment), in posted order. A value that is not a
// whole number refuses the form.
std::vector<int32_t> AttachmentIds(const MultipartFormData& form);

// Files a page held as ProvisionalAttachments rows become the issue's attachments (and leave the
// provisional table), each statement trapped inside the writer's transaction. An id without a
// provisional row moves nothing.
void TakeOverProvisionalAttachments(Database& db, int32_t issueId, const std::vector<int32_t>& provisionalIds);

// The comments fields that were filled in, with their posted text (not trimmed).
struct Comment {
  std::string fieldName;
  std::string text;
};
std::vector<Comment> FilledComments(const std::vector<LayoutField>& fields, const MultipartFormData& form);


}  // namespace issueform
}  // namespace brisquel
