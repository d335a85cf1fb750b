// One issue and what hangs off it: the row itself, the entries of one comments field, the newest
// of them, the attachment list and the history of changes. Plain readers; each returns a detached
// recordset that a writer can take back.
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "Database";
constexpr int32_t kFieldNameSize = 20;

}  // namespace

RecordsetPtr GetIssueRs(Database& db, int32_t issueId) {
  return Procedure(kClass, "GetIssueRs", [&] {
    return db.Read("select * from Issues where IssueId = ?", {ado::Param::Long(issueId)});
  });
}

// Entries written in the same millisecond keep their order of insertion: the id breaks the tie.
RecordsetPtr GetCommentsRs(Database& db, int32_t issueId, const std::string& fieldName) {
  return Procedure(kClass, "GetCommentsRs", [&] {
    return db.Read(
        "select * from IssueComments where IssueId = ? and FieldName = ? "
        "order by CommentCreatedOn desc, CommentId desc",
        {ado::Param::Long(issueId), ado::Param::Text(fieldName, kFieldNameSize)});
  });
}

RecordsetPtr GetLastCommentRs(Database& db, int32_t issueId, const std::string& fieldName) {
  return Procedure(kClass, "GetLastCommentRs", [&] {
    return db.Read(
        "select * from IssueComments where IssueId = ? and FieldName = ? "
        "order by CommentCreatedOn desc, CommentId desc limit 1",
        {ado::Param::Long(issueId), ado::Param::Text(fieldName, kFieldNameSize)});
  });
}

// The list leaves the file contents out; a page fetches one attachment's data on its own.
RecordsetPtr GetAttachmentsRs(Database& db, int32_t issueId) {
  return Procedure(kClass, "GetAttachmentsRs", [&] {
    return db.Read(
        "select AttachmentId, IssueId, AttachmentMimeType, AttachmentFilename from IssueAttachments "
        "where IssueId = ? order by AttachmentFilename",
        {ado::Param::Long(issueId, "IssueId")});
  });
}

RecordsetPtr GetIssueHistoryRs(Database& db, int32_t issueId) {
  return Procedure(kClass, "GetIssueHistoryRs", [&] {
    return db.Read(
        "SELECT IssueHistory.UserId, IssueHistory.CreatedOn, IssueHistory.NewResolutionCode, "
        "IssueHistory.NewAssignedToUser, IssueHistory.NewStatusCode FROM IssueHistory "
        "WHERE (IssueHistory.IssueId = ?) "
        "order by IssueHistory.CreatedOn desc, IssueHistory.HistoryId desc",
        {ado::Param::Long(issueId)});
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetIssueRs", &GetIssueRs);
  c.Method("GetCommentsRs", &GetCommentsRs);
  c.Method("GetLastCommentRs", &GetLastCommentRs);
  c.Method("GetAttachmentsRs", &GetAttachmentsRs);
  c.Method("GetIssueHistoryRs", &GetIssueHistoryRs);
});

}  // namespace

}  // namespace brisquel
