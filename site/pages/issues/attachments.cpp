// /Issues/Attachment.asp?AttachmentId=N: one file of an issue, sent as a download to a user who
// may see the issue. Unknown and foreign ids get the same 404. The bytes are read from the
// database piece by piece as the answer goes out.
#include "site/pages/issues/attachments.h"

#include <algorithm>
#include <cstring>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

namespace {

// The types that cannot run script in the page's origin; anything else (HTML, SVG, XML, script)
// goes out as bytes.
constexpr std::string_view kSafeTypes[] = {"image/png", "image/jpeg", "image/gif", "image/bmp",
                                           "text/plain", "application/pdf", "application/zip"};

// RFC 5987 attr-char: the bytes that stand for themselves in filename*.
bool IsAttrChar(unsigned char c) {
  return std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c) != nullptr;
}

// The issue the user may see, asked as the issue page asks it.
bool MaySeeIssue(automation::Object& db, const std::string& user, int32_t issueId) {
  return !AtEnd(*db.Call("FindIssueByIdRs", {Variant(user), Variant(-1), Variant(issueId)}).ToObject());
}

}  // namespace

std::string AttachmentName(std::string_view stored) {
  const size_t cut = stored.find_last_of("/\\");
  std::string name(cut == std::string_view::npos ? stored : stored.substr(cut + 1));
  return name.empty() ? std::string("attachment") : name;
}

std::string AttachmentDisposition(std::string_view name) {
  std::string fallback, full;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    // One "_" for each character the quoted form cannot hold (a UTF-8 sequence counts once).
    if (c >= 0x80 && c < 0xC0) {
      // a continuation byte: its character has its "_" already
    } else if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      fallback += '_';
    } else {
      fallback += static_cast<char>(c);
    }
    if (IsAttrChar(c)) {
      full += static_cast<char>(c);
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      full += '%';
      full += kHex[c >> 4];
      full += kHex[c & 15];
    }
  }
  return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" + full;
}

std::string AttachmentContentType(std::string_view stored) {
  std::string type = automation::LowerAscii(stored.substr(0, stored.find(';')));
  type.erase(std::remove_if(type.begin(), type.end(), [](char c) { return c == ' ' || c == '\t'; }), type.end());
  for (std::string_view safe : kSafeTypes)
    if (type == safe) return type;
  return "application/octet-stream";
}

std::string AttachmentList(PageContext& page, automation::Object& db, int32_t issueId, bool removable,
                           const std::vector<std::string>& ticked, std::string_view extra) {
  auto rs = db.Call("GetAttachmentsRs", {Variant(issueId)}).ToObject();
  std::string rows;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string id = FieldText(*rs, "AttachmentId");
    const std::string href = page.Url("/Issues/Attachment.asp?AttachmentId=" + UrlComponent(id));
    rows += "<tr>";
    if (removable) {
      const bool on = std::find(ticked.begin(), ticked.end(), id) != ticked.end();
      rows += "<td class=FormFields style='width:1%'><input type=checkbox name=chkAttachment id=\"chkAttachment" +
              HtmlAttribute(id) + "\" value=\"" + HtmlAttribute(id) + "\"" + (on ? " checked" : "") + "></td>";
    }
    rows += "<td class=FormFields><a href=\"" + HtmlAttribute(href) + "\">" +
            HtmlText(AttachmentName(FieldText(*rs, "AttachmentFilename"))) + "</a></td></tr>\r\n";
  }
  if (rows.empty() && extra.empty()) return {};
  const std::string columns = removable ? "2" : "1";
  const std::string cell = "<tr><td class=FormFields colspan=" + columns + ">";
  std::string out = "<table id=Attachments cellpadding=0 cellspacing=0 border=0 width='98%'>\r\n"
                    "<tr><td class=FormLabels colspan=" + columns + ">Attachments" +
                    (removable && !rows.empty() ? " (tick a file to remove it when you save)" : "") + "</td></tr>\r\n";
  out += rows.empty() ? cell + "No files are attached.</td></tr>\r\n" : rows;
  if (!extra.empty()) out += cell + std::string(extra) + "</td></tr>\r\n";
  return out + "</table>\r\n";
}

namespace {

void AttachmentPage(PageContext& page) {
  auto db = page.Database();
  const std::optional<int32_t> id = WholeNumber(page.Query("AttachmentId"));
  RecordsetObject rs = id && *id > 0 ? db->Call("GetAttachmentRs", {Variant(*id)}).ToObject() : nullptr;
  if (!rs || AtEnd(*rs) || !MaySeeIssue(*db, page.UserId(), FieldValue(*rs, "IssueId").ToLong())) {
    page.SendPage("Attachment", "<p class=ErrorText>The attachment cannot be found.</p>", 404);
    return;
  }
  const int64_t size = FieldValue(*rs, "AttachmentSize").ToLongLong();
  page.SetHeader("Content-Disposition", AttachmentDisposition(AttachmentName(FieldText(*rs, "AttachmentFilename"))));
  // Even a browser that ignored the disposition would run nothing of it.
  page.SetHeader("Content-Security-Policy", "default-src 'none'; sandbox");
  const Variant attachment(*id);
  page.SendStream(AttachmentContentType(FieldText(*rs, "AttachmentMimeType")), static_cast<uint64_t>(size),
                  [db, attachment](uint64_t offset, char* buffer, size_t max) -> size_t {
                    // The answer is under way: a failure can only cut it short.
                    try {
                      const std::vector<uint8_t> piece =
                          db->Call("GetAttachmentData", {attachment, Variant(static_cast<int32_t>(offset)),
                                                         Variant(static_cast<int32_t>(max))})
                              .ToBytes();
                      std::memcpy(buffer, piece.data(), std::min(piece.size(), max));
                      return std::min(piece.size(), max);
                    } catch (const std::exception&) {
                      return 0;
                    }
                  });
}

AddPage attachmentPage("/Issues/Attachment.asp", {.get = AttachmentPage});

}  // namespace

}  // namespace site
