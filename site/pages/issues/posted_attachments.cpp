#include "site/pages/issues/posted_attachments.h"

#include <string>

#include "site/pages/records.h"

namespace site {

using automation::Variant;

namespace {

// ADO's type and direction numbers for the parameters below.
constexpr int32_t kInteger = 3, kVarWChar = 202, kLongVarBinary = 205, kParamInput = 1;
// The widths of the name and type columns.
constexpr int32_t kFilenameChars = 1024, kMimeTypeChars = 255;

struct Param {
  const char* name;
  int32_t type;
  int32_t size;
  Variant value;
};

// Runs one parameterised statement on the database's connection; returns the command's recordset.
std::shared_ptr<automation::Object> Run(automation::Object& db, const std::string& sql, std::vector<Param> params) {
  auto command = automation::CreateObject("ADODB.Command");
  command->PutRef("ActiveConnection", db.Get("ActiveConnection"));
  command->Put("CommandText", Variant(sql));
  auto list = command->Get("Parameters").ToObject();
  for (Param& p : params)
    list->Call("Append", {command->Call("CreateParameter", {Variant(p.name), Variant(p.type), Variant(kParamInput),
                                                             Variant(p.size), std::move(p.value)})});
  return command->Call("Execute").ToObject();
}

}  // namespace

std::string PostedFilesProblem(automation::Object& form) {
  auto files = form.Get("Files").ToObject();
  const int32_t count = files->Get("Count").ToLong();
  for (int32_t i = 1; i <= count; ++i) {
    auto file = files->Get("Item", {Variant(i)}).ToObject();
    if (automation::CharLength(file->Get("Filename").ToText()) > size_t{kFilenameChars})
      return "File name cannot be longer than " + std::to_string(kFilenameChars) + " characters.";
    if (automation::CharLength(file->Get("MimeType").ToText()) > size_t{kMimeTypeChars})
      return "File type cannot be longer than " + std::to_string(kMimeTypeChars) + " characters.";
  }
  return "";
}

std::vector<int32_t> KeepPostedFiles(automation::Object& db, automation::Object& form) {
  std::vector<int32_t> ids;
  auto files = form.Get("Files").ToObject();
  const int32_t count = files->Get("Count").ToLong();
  for (int32_t i = 1; i <= count; ++i) {
    auto file = files->Get("Item", {Variant(i)}).ToObject();
    Variant bytes = file->Get("BinaryData");
    const auto shared = bytes.SharedBytes();
    const auto size = static_cast<int32_t>(shared ? shared->size() : bytes.ToBytes().size());
    Run(db,
        "INSERT INTO ProvisionalAttachments (AttachmentMimeType, AttachmentFilename, AttachmentData) "
        "VALUES (?, ?, ?)",
        {{"AttachmentMimeType", kVarWChar, kMimeTypeChars, file->Get("MimeType")},
         {"AttachmentFilename", kVarWChar, kFilenameChars, file->Get("Filename")},
         {"AttachmentData", kLongVarBinary, size, std::move(bytes)}});
    auto rs = Run(db, "SELECT last_insert_rowid() AS Id", {});
    const int32_t id = FieldValue(*rs, "Id").ToLong();
    ids.push_back(id);
  }
  return ids;
}

void NameForNewIssue(automation::Object& form, const std::vector<int32_t>& ids) {
  auto fields = form.Get("Fields").ToObject();
  if (!fields->Get("Item", {Variant("chkAttachment")}).IsEmpty()) fields->Call("Remove", {Variant("chkAttachment")});
  for (int32_t id : ids) fields->Call("Add", {Variant("chkAttachment"), Variant(std::to_string(id))});
}

void DropProvisionalAttachments(automation::Object& db, const std::vector<int32_t>& ids) {
  for (int32_t id : ids)
    Run(db, "DELETE FROM ProvisionalAttachments WHERE ProvisionalAttachmentId = ?",
        {{"ProvisionalAttachmentId", kInteger, 4, Variant(id)}});
}

}  // namespace site
