// The rows that pages write themselves: files posted with an issue form (the file input
// Attachment, a screen capture among them) are held as ProvisionalAttachments rows before the
// issue writer runs. A new issue takes them over through the form's "chkAttachment" values
// (CreateIssue), an existing one through UpdateIssue's list of new attachments; a refused save
// removes the rows again. The only SQL text of the site.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace site {

// What an issue form carries for it: the file input, and the handler that adds a saved
// screen capture to it (through a DataTransfer, keeping the files already chosen).
inline constexpr std::string_view kAttachmentInput = "<input type=file name=Attachment multiple>";
inline constexpr std::string_view kAttachCaptureScript =
    "<script for=CaptureCtl event=\"CaptureSaved(Filename)\" language=javascript>\r\n"
    "var input = document.fIssueDetail.Attachment, chosen = new DataTransfer();\r\n"
    "for (var i = 0; i < input.files.length; i++) chosen.items.add(input.files[i]);\r\n"
    "chosen.items.add(CaptureCtl.SavedFile);\r\n"
    "input.files = chosen.files;\r\n"
    "</script>";

// "" when every posted file's name and type fit their columns, else the sentence of the first
// that does not: the form is refused before any row is written.
std::string PostedFilesProblem(automation::Object& form);

// The ids of the rows written, in posted order (a file input left empty posts no file).
// `db` is the page's Brisquel.Database, `form` the posted Brisquel.MultipartFormData; the rows go
// through the database's own connection (ADODB by name).
std::vector<int32_t> KeepPostedFiles(automation::Object& db, automation::Object& form);
void DropProvisionalAttachments(automation::Object& db, const std::vector<int32_t>& ids);

// A new issue's form names the rows it takes over: exactly `ids`. A "chkAttachment" value posted
// by the browser is dropped, so no post can take over the uploads of somebody else's form.
void NameForNewIssue(automation::Object& form, const std::vector<int32_t>& ids);

}  // namespace site
