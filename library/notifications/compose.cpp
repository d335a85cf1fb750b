#include "notifications/compose.h"

#include <cctype>
#include <cstdio>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/writer.h"
#include "notifications/email_config.h"
#include "smtp/smtp.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "Notifications";

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// A column as text; Null (and Empty) give "".
std::string Text(const Variant& v) { return v.ToText(); }

std::string HtmlEncode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A header value stays on its line: a value with a line break would end the header early (or
// inject another one).
std::string OneLine(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      out += ' ';
    } else if (c != '\0') {
      out += c;
    }
  }
  return out;
}

// "charset="x"" and the additional parameters after a semicolon.
std::string MediaParameters(const std::string& charset, const std::string& additional) {
  std::string p = "charset=\"" + charset + "\"";
  if (!additional.empty()) p += "; " + additional;
  return p;
}

// The short date and time of the en-US settings the system runs under.
std::string ShortDate(automation::Date d) {
  auto p = automation::SplitDate(d);
  return std::to_string(p.month) + "/" + std::to_string(p.day) + "/" + std::to_string(p.year);
}
std::string ShortTime(automation::Date d) {
  auto p = automation::SplitDate(d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d", p.hour, p.minute);
  return buf;
}

// Content, transfer encoding and charset of one body as it goes out. Our text is UTF-8: text that
// is not plain ASCII is declared as such, and a body declared 7bit is then encoded, since 7bit
// promises ASCII only.
struct Body {
  std::string mediaParameters;
  std::string transferEncoding;
  std::string bodyText;
};
Body EncodeBody(smtp::SmtpMessage& encoder, const std::string& content, std::string charset,
                const std::string& additional, std::string transferEncoding) {
  if (!IsAscii(content)) {
    charset = "utf-8";
    std::string enc = automation::LowerAscii(Trim(transferEncoding));
    if (EncodingCode(enc) == smtp::kEncodeNone && enc != "8bit") transferEncoding = "quoted-printable";
  }
  encoder.SetEncodingMode(EncodingCode(transferEncoding));
  Body b;
  b.mediaParameters = MediaParameters(charset, additional);
  b.transferEncoding = transferEncoding;
  encoder.EncodeText(content, b.bodyText, encoder.EncodingMode());
  return b;
}

bool IsHtmlPart(ado::Recordset& part) {
  return EqualsNoCase(Trim(part.Text("ContentType")), "text") &&
         EqualsNoCase(Trim(part.Text("ContentTypeSubtype")), "html");
}

}  // namespace

int32_t EncodingCode(std::string_view contentTransferEncoding) {
  std::string e = automation::LowerAscii(contentTransferEncoding);
  if (e == "quoted-printable") return smtp::kEncodeQuotedPrintable;
  if (e == "base64") return smtp::kEncodeBase64;
  if (e == "binary") return smtp::kEncodeBinary;
  return smtp::kEncodeNone;
}

std::string AddTrailingSlash(const std::string& address) {
  if (!address.empty() && address.back() == '/') return address;
  return address + "/";
}

MessageComposer::MessageComposer(Database& db, std::string siteAddress, RecordsetPtr issueFields)
    : db_(db), siteAddress_(std::move(siteAddress)), issueFields_(std::move(issueFields)) {}

void MessageComposer::IndexFields() {
  fieldsIndexed_ = true;
  if (!issueFields_ || issueFields_->State() != ado::adStateOpen) return;
  if (issueFields_->IsBOF() && issueFields_->IsEOF()) return;
  issueFields_->MoveFirst();
  for (; !issueFields_->IsEOF(); issueFields_->MoveNext()) {
    representation_.try_emplace(issueFields_->Text("FieldName"), issueFields_->Text("Representation"));
  }
  issueFields_->MoveFirst();
}

std::string MessageComposer::ProjectCode(ado::Recordset& issue) {
  int32_t projectId = issue.Value("ProjectId").ToLong();
  auto it = projectCodes_.find(projectId);
  if (it != projectCodes_.end()) return it->second;
  auto rs = GetProjectRs(db_, projectId);
  std::string code = rs->IsEOF() ? std::string() : rs->Text("ProjectCode");
  projectCodes_.emplace(projectId, code);
  return code;
}

std::string MessageComposer::LastComment(ado::Recordset& issue, const std::string& fieldName) {
  auto rs = GetLastCommentRs(db_, issue.Value("IssueId").ToLong(), fieldName);
  if (rs->IsEOF()) return {};
  Variant created = rs->Value("CommentCreatedOn");
  automation::Date d = created.ToDate();
  return rs->Text("CommentAuthor") + " on " + ShortDate(d) + " " + ShortTime(d) + " " + rs->Text("CommentText");
}

Variant MessageComposer::GetMessageFieldValue(ado::Recordset& issue, const std::string& name) {
  try {
    if (EqualsNoCase(name, "IssueURL")) {
      return Variant(siteAddress_ + "Issues/Issue.asp?IssueId=" + issue.Text("IssueId"));
    }
    if (EqualsNoCase(name, "WebSiteUrl")) return Variant(siteAddress_);
    if (EqualsNoCase(name, "ProjectCode")) return Variant(ProjectCode(issue));
    if (!fieldsIndexed_) IndexFields();
    auto it = representation_.find(name);
    if (it == representation_.end()) return Variant("[" + name + "]");
    if (EqualsNoCase(it->second, "comments")) return Variant(LastComment(issue, name));
    return Variant(issue.Text(name));
  } catch (...) {
    return Variant("[" + name + "]");
  }
}

std::string MessageComposer::FormatMessage(ado::Recordset& issue, const std::string& /*address*/,
                                           const std::string& text, ValueContext context) {
  return Procedure(kClass, "FormatMessage", [&] {
    Buffer out;
    size_t search = 0;  // where the next "[" is looked for
    size_t copied = 0;  // text before this is in the buffer
    for (;;) {
      size_t open = text.find('[', search);
      if (open == std::string::npos) break;
      bool escaped = open > 0 && text[open - 1] == '\\';
      size_t close = escaped ? std::string::npos : text.find(']', open);
      if (close == std::string::npos) {
        search = open + 1;
        continue;
      }
      out.Append(std::string_view(text).substr(copied, open - copied));
      std::string value = Text(GetMessageFieldValue(issue, text.substr(open + 1, close - open - 1)));
      switch (context) {
        case ValueContext::Html: out.Append(HtmlEncode(value)); break;
        case ValueContext::Header: out.Append(OneLine(value)); break;
        case ValueContext::Text: out.Append(value); break;
      }
      copied = close + 1;
      search = close + 1;
    }
    out.Append(std::string_view(text).substr(copied));
    return out.Text();
  });
}

const MessageComposer::PartContent& MessageComposer::TemplatePart(const std::string& templateName,
                                                                  const std::string& typeName,
                                                                  const std::string& partName) {
  std::string key = automation::LowerAscii(templateName + "|" + typeName + "|" + partName);
  auto it = partContents_.find(key);
  if (it != partContents_.end()) return it->second;
  auto rs = GetEMailTemplatePartRs(db_, templateName, typeName, partName);
  PartContent c;
  if (!rs->IsEOF()) {
    c.found = true;
    c.text = rs->Text("PartContent");
  }
  return partContents_.emplace(key, std::move(c)).first->second;
}

RecordsetPtr MessageComposer::PartHeaders(const std::string& typeName, const std::string& partName) {
  std::string key = automation::LowerAscii(typeName + "|" + partName);
  auto it = partHeaders_.find(key);
  if (it != partHeaders_.end()) return it->second;
  return partHeaders_.emplace(key, GetEMailTemplateTypePartHeadersRs(db_, typeName, partName)).first->second;
}

std::shared_ptr<smtp::SmtpMessagePart> MessageComposer::BuildMailMessage(
    ado::Recordset& config, const std::string& address, ado::Recordset& issue, ado::Recordset& tmpl,
    ado::Recordset& type, ado::Recordset* headers, ado::Recordset& parts) {
  return Procedure(kClass, "BuildMailMessage", [&] {
    smtp::SmtpMessage encoder;
    encoder.SetEncoderSwitch(true);
    auto message = std::make_shared<smtp::SmtpMessagePart>();
    auto format = [&](const std::string& text, ValueContext context) {
      return FormatMessage(issue, address, text, context);
    };

    if (headers && headers->State() == ado::adStateOpen && !(headers->IsBOF() && headers->IsEOF())) {
      headers->MoveFirst();
      for (; !headers->IsEOF(); headers->MoveNext()) {
        message->HeaderList()->AddHeader(headers->Text("HeaderFieldName"),
                                         format(headers->Text("HeaderFieldValue"), ValueContext::Header));
      }
    }

    const std::string templateName = tmpl.Text("TemplateName");
    const std::string typeName = tmpl.Text("TemplateTypeName");
    message->SetMimeVersion("1.0");
    if (!type.Value("MultiPart").ToBool()) {
      // A single part: the first part row of the type, whose content the template gives.
      if (!(parts.IsBOF() && parts.IsEOF())) parts.MoveFirst();
      message->SetMediaType(parts.Text("ContentType"));
      message->SetMediaSubtype(parts.Text("ContentTypeSubtype"));
      message->SetSubjectLine(format(tmpl.Text("Subject"), ValueContext::Header));
      const std::string partName = parts.Text("PartName");
      const PartContent& pc = TemplatePart(templateName, typeName, partName);
      if (!pc.found) {
        automation::RaiseRuntime(ado::err::kNoCurrentRecord,
                                 "The template '" + templateName + "' has no content for its part '" + partName + "'.");
      }
      std::string content = format(pc.text, IsHtmlPart(parts) ? ValueContext::Html : ValueContext::Text);
      Body b = EncodeBody(encoder, content, parts.Text("ContentTypeCharset"),
                          parts.Text("ContentTypeAdditionalParameters"), parts.Text("ContentTransferEncoding"));
      message->SetMediaParameters(b.mediaParameters);
      message->SetTransferEncoding(b.transferEncoding);
      message->SetBodyText(b.bodyText);
    } else {
      message->SetMediaType(type.Text("MultipartContentType"));
      message->SetMediaSubtype(type.Text("MultipartContentTypeSubtype"));
      message->SetMediaParameters(type.Text("MultipartContentTypeAdditionalParameters"));
      message->SetSubjectLine(format(tmpl.Text("Subject"), ValueContext::Header));
      if (!(parts.IsBOF() && parts.IsEOF())) {
        parts.MoveFirst();
        for (; !parts.IsEOF(); parts.MoveNext()) {
          const std::string partName = parts.Text("PartName");
          const PartContent& pc = TemplatePart(templateName, typeName, partName);
          if (!pc.found) {
            automation::RaiseRuntime(ado::err::kNoCurrentRecord, "The template '" + templateName +
                                                                     "' has no content for its part '" + partName + "'.");
          }
          if (Trim(pc.text).empty()) continue;  // a part the template leaves empty is left out
          auto child = message->PartList()->AddPart(partName);
          child->SetMediaType(parts.Text("ContentType"));
          child->SetMediaSubtype(parts.Text("ContentTypeSubtype"));
          auto partHeaders = PartHeaders(parts.Text("TemplateTypeName"), partName);
          if (!(partHeaders->IsBOF() && partHeaders->IsEOF())) {
            partHeaders->MoveFirst();
            for (; !partHeaders->IsEOF(); partHeaders->MoveNext()) {
              child->HeaderList()->AddHeader(partHeaders->Text("HeaderFieldName"),
                                             format(partHeaders->Text("HeaderFieldValue"), ValueContext::Header));
            }
          }
          std::string content = format(pc.text, IsHtmlPart(parts) ? ValueContext::Html : ValueContext::Text);
          Body b = EncodeBody(encoder, content, parts.Text("ContentTypeCharset"),
                              parts.Text("ContentTypeAdditionalParameters"), parts.Text("ContentTransferEncoding"));
          child->SetMediaParameters(b.mediaParameters);
          child->SetTransferEncoding(b.transferEncoding);
          child->SetBodyText(b.bodyText);
        }
      }
    }

    message->SetRecipient(address);
    message->Sender()->SetAddressText(config.Text("FromEMailAddress"));
    return message;
  });
}

}  // namespace brisquel
