// One issue and what hangs off it: the row itself, the entries of one comments field, the newest
// of them, the attachment list and the history of changes. Plain readers; each returns a detached
// recordset that a writer can take back.
#include <algorithm>

#include "automation/text.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "Database";
constexpr int32_t kFieldNameSize = 20;

}  // namespace

namespace {
constexpr const char* kIssue = "select * from Issues where IssueId = ?";
// The newest entry of one comments field: by time, then by id.
constexpr const char* kLastComment =
    "select * from IssueComments where IssueId = ? and FieldName = ? "
    "order by CommentCreatedOn desc, CommentId desc limit 1";
}  // namespace

RecordsetPtr GetIssueRs(Database& db, int32_t issueId) {
  return Procedure(kClass, "GetIssueRs", [&] { return db.Read(kIssue, {ado::Param::Long(issueId)}); });
}

std::optional<IssueRow> ReadIssueRow(Database& db, int32_t issueId) {
  std::optional<IssueRow> out;
  db.Each(kIssue, {ado::Param::Long(issueId)}, [&](const sql::Row& r) {
    IssueRow row;
    for (int i = 0; i < r.Columns(); ++i)
      row.columns.emplace_back(sqlite3_column_name(r.Statement(), i),
                               r.IsNull(i) ? std::nullopt : std::optional<std::string>(r.Text(i)));
    out = std::move(row);
  });
  return out;
}

std::optional<IssueValues> ReadIssueValues(Database& db, int32_t issueId) {
  std::optional<IssueValues> out;
  db.Each(kIssue, {ado::Param::Long(issueId)}, [&](const sql::Row& r) {
    IssueValues row;
    for (int i = 0; i < r.Columns(); ++i) row.columns.emplace_back(sqlite3_column_name(r.Statement(), i), r.Value(i));
    out = std::move(row);
  });
  return out;
}

const automation::Variant& IssueValues::Value(std::string_view name) const {
  for (const auto& [n, v] : columns)
    if (automation::EqualsNoCase(n, name)) return v;
  ado::Raise(ado::err::kItemNotFound, "ADODB.Fields", "Item '" + std::string(name) + "' cannot be found.");
}

const std::optional<std::string>* IssueRow::Column(std::string_view name) const {
  for (const auto& [n, v] : columns)
    if (automation::EqualsNoCase(n, name)) return &v;
  return nullptr;
}

std::string IssueRow::Text(std::string_view name) const {
  const std::optional<std::string>* v = Column(name);
  return v && *v ? **v : std::string();
}

int32_t IssueRow::Long(std::string_view name) const {
  const std::string t = Text(name);
  return t.empty() ? 0 : static_cast<int32_t>(std::stoll(t));
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
    return db.Read(kLastComment, {ado::Param::Long(issueId), ado::Param::Text(fieldName, kFieldNameSize)});
  });
}

std::optional<CommentRow> ReadLastComment(Database& db, int32_t issueId, const std::string& fieldName) {
  std::optional<CommentRow> out;
  db.Each(kLastComment, {ado::Param::Long(issueId), ado::Param::Text(fieldName, kFieldNameSize)},
          [&](const sql::Row& r) { out = CommentRow{r.Text("CommentAuthor"), r.OptDate("CommentCreatedOn"),
                                                    r.Text("CommentText")}; });
  return out;
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

// One attachment without its data: which issue it belongs to, its name and type as uploaded, and
// its size in bytes (0 without data), so that a page can decide before any byte is read.
RecordsetPtr GetAttachmentRs(Database& db, int32_t attachmentId) {
  return Procedure(kClass, "GetAttachmentRs", [&] {
    return db.Read(
        "select AttachmentId, IssueId, AttachmentMimeType, AttachmentFilename, "
        "case typeof(AttachmentData) when 'null' then 0 when 'blob' then length(AttachmentData) "
        "else length(cast(AttachmentData as blob)) end as AttachmentSize "
        "from IssueAttachments where AttachmentId = ?",
        {ado::Param::Long(attachmentId, "AttachmentId")}, kReadOnlyRows);
  });
}

// Up to `length` bytes of an attachment's data from byte `offset` on, read from the file in place
// (incremental blob I/O), so a download of any size holds one piece at a time. Empty past the end,
// for an attachment without data and for one that is gone (removed since its size was read).
std::vector<uint8_t> GetAttachmentData(Database& db, int32_t attachmentId, int32_t offset, int32_t length) {
  return Procedure(kClass, "GetAttachmentData", [&] {
    std::vector<uint8_t> out;
    if (offset < 0 || length <= 0) return out;
    sqlite3_blob* blob = nullptr;
    sqlite3* handle = db.Connection().Handle();
    if (sqlite3_blob_open(handle, "main", "IssueAttachments", "AttachmentData", attachmentId, 0, &blob) != SQLITE_OK) {
      sqlite3_blob_close(blob);
      return out;
    }
    const int size = sqlite3_blob_bytes(blob);
    if (offset < size) {
      out.resize(static_cast<size_t>(std::min(length, size - offset)));
      if (sqlite3_blob_read(blob, out.data(), static_cast<int>(out.size()), offset) != SQLITE_OK) out.clear();
    }
    sqlite3_blob_close(blob);
    return out;
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
  c.Method("GetAttachmentRs", &GetAttachmentRs);
  c.Method("GetAttachmentData", &GetAttachmentData);
  c.Method("GetIssueHistoryRs", &GetIssueHistoryRs);
});

}  // namespace

}  // namespace brisquel
