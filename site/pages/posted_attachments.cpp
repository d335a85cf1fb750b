#include "site/pages/posted_attachments.h"

#include <string>

#include "core/database.h"
#include "core/multipart.h"

namespace site {

std::vector<int32_t> KeepPostedFiles(brisquel::Database& db, brisquel::MultipartFormData& form) {
  std::vector<int32_t> ids;
  for (const auto& file : *form.Files()) {
    const std::vector<uint8_t>& bytes = file->Bytes();
    db.Exec("INSERT INTO ProvisionalAttachments (AttachmentMimeType, AttachmentFilename, AttachmentData) "
            "VALUES (?, ?, ?)",
            {ado::Param::Text(file->MimeType(), 255, "AttachmentMimeType"),
             ado::Param::Text(file->Filename(), 1024, "AttachmentFilename"),
             ado::Param::Blob(file->BinaryData(), static_cast<int32_t>(bytes.size()), "AttachmentData")});
    const int32_t id = db.Scalar("SELECT last_insert_rowid()").ToLong();
    ids.push_back(id);
    form.Fields()->Add("chkAttachment", std::to_string(id));
  }
  return ids;
}

void DropProvisionalAttachments(brisquel::Database& db, const std::vector<int32_t>& ids) {
  for (int32_t id : ids)
    db.Exec("DELETE FROM ProvisionalAttachments WHERE ProvisionalAttachmentId = ?",
            {ado::Param::Long(id, "ProvisionalAttachmentId")});
}

}  // namespace site
