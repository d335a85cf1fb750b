// The files of an issue on its pages: the list (each a link to its download, with the remove box
// that UpdateIssue reads on the issue form), and the answer of the download page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace site {

class PageContext;

// The file name a client path ends in ("C:\Users\x\shot.bmp" gives "shot.bmp").
std::string AttachmentName(std::string_view stored);

// The Content-Disposition of a download: the name as an ASCII fallback in quotes and in full as
// UTF-8 (filename*), so no name can break out of the header.
std::string AttachmentDisposition(std::string_view name);

// The type a download goes out with: the stored type when it is one that a browser cannot run in
// the site's origin (a few image types, plain text, PDF, ZIP), else application/octet-stream.
std::string AttachmentContentType(std::string_view stored);

// The issue's attachments in a table (id Attachments). With `removable`, each row has its
// chkAttachment box (ticked when its id is in `ticked`); `extra` closes the table (the file input).
std::string AttachmentList(PageContext& page, automation::Object& db, int32_t issueId, bool removable,
                           const std::vector<std::string>& ticked = {}, std::string_view extra = "");

}  // namespace site
