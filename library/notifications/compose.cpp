#include "notifications/compose.h"

#include <optional>

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
    std::string enc = automation::LowerAscii(TrimSpaces(transferEncoding));
    if (EncodingCode(enc) == smtp::kEncodeNone && enc != "8bit") transferEncoding = "quoted-printable";
  }
  encoder.SetEncodingMode(EncodingCode(transferEncoding));
  Body b;
  b.mediaParameters = MediaParameters(charset, additional);
  b.transferEncoding = transferEncoding;
  encoder.EncodeText(content, b.bodyText, encoder.EncodingMode());
  return b;
}

bool IsHtmlPart(const MessagePart& part) {
  return EqualsNoCase(TrimSpaces(part.contentType), "text") && EqualsNoCase(TrimSpaces(part.contentSubtype), "html");
}

[[noreturn]] void NoContent(const std::string& templateName, const std::string& partName) {
  automation::RaiseRuntime(ado::err::kNoCurrentRecord,
                           "The template '" + templateName + "' has no content for its part '" + partName + "'.");
}

// The format as the readers' recordsets a caller holds give it.
MessageFormat FormatOf(ado::Recordset& tmpl, ado::Recordset& type, ado::Recordset* headers, ado::Recordset& parts) {
  MessageFormat f;
  if (headers && headers->State() == ado::adStateOpen && !(headers->IsBOF() && headers->IsEOF())) {
    for (headers->MoveFirst(); !headers->IsEOF(); headers->MoveNext()) f.headers.push_back(HeaderOf(*headers));
  }
  f.tmpl = TemplateOf(tmpl);
  f.type = TypeOf(type);
  if (!(parts.IsBOF() && parts.IsEOF())) {
    for (parts.MoveFirst(); !parts.IsEOF(); parts.MoveNext()) f.parts.push_back(PartOf(parts));
  }
  return f;
}

// The current row of an issue recordset a caller holds, as its values; none when there is no
// current row (every placeholder that needs a column then stays as written, as reading it would fail).
IssueValues ValuesOf(ado::Recordset& issue) {
  IssueValues v;
  try {
    if (issue.State() != ado::adStateOpen || issue.IsBOF() || issue.IsEOF()) return v;
    for (size_t i = 0; i < issue.FieldCount(); ++i) v.columns.emplace_back(issue.Info(i).name, issue.Value(i));
  } catch (...) {
    v.columns.clear();
  }
  return v;
}

}  // namespace

FieldRepresentations ReadFieldRepresentations(Database& db) {
  FieldRepresentations out;
  EachIssueField(db, [&](const sql::Row& r) { out.try_emplace(r.Text("FieldName"), r.Text("Representation")); });
  return out;
}

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

MessageComposer::MessageComposer(Database& db, std::string siteAddress, FieldRepresentations issueFields)
    : db_(db), siteAddress_(std::move(siteAddress)), representation_(std::move(issueFields)) {}

std::string MessageComposer::ProjectCode(const IssueValues& issue) {
  int32_t projectId = issue.Value("ProjectId").ToLong();
  auto it = projectCodes_.find(projectId);
  if (it != projectCodes_.end()) return it->second;
  std::string code = db_.One<std::string>("select ProjectCode from Projects where ProjectId = ?",
                                          {ado::Param::Long(projectId)})
                         .value_or("");
  projectCodes_.emplace(projectId, code);
  return code;
}

std::string MessageComposer::LastComment(const IssueValues& issue, const std::string& fieldName) {
  std::optional<CommentRow> c = ReadLastComment(db_, issue.Value("IssueId").ToLong(), fieldName);
  if (!c) return {};
  if (!c->createdOn) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
  const automation::Date d = *c->createdOn;
  return c->author + " on " + automation::ShortDateText(d) + " " + automation::ShortTimeText(d) + " " + c->text;
}

Variant MessageComposer::GetMessageFieldValue(const IssueValues& issue, const std::string& name) {
  try {
    if (EqualsNoCase(name, "IssueURL")) {
      return Variant(siteAddress_ + "Issues/Issue.asp?IssueId=" + issue.Value("IssueId").ToText());
    }
    if (EqualsNoCase(name, "WebSiteUrl")) return Variant(siteAddress_);
    if (EqualsNoCase(name, "ProjectCode")) return Variant(ProjectCode(issue));
    auto it = representation_.find(name);
    if (it == representation_.end()) return Variant("[" + name + "]");
    if (EqualsNoCase(it->second, "comments")) return Variant(LastComment(issue, name));
    return Variant(issue.Value(name).ToText());
  } catch (...) {
    return Variant("[" + name + "]");
  }
}

std::string MessageComposer::FormatMessage(const IssueValues& issue, const std::string& /*address*/,
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
  PartContent c;
  if (std::optional<std::string> text = ReadTemplatePart(db_, templateName, typeName, partName)) {
    c.found = true;
    c.text = std::move(*text);
  }
  return partContents_.emplace(key, std::move(c)).first->second;
}

const std::vector<MessageHeader>& MessageComposer::PartHeaders(const std::string& typeName,
                                                               const std::string& partName) {
  std::string key = automation::LowerAscii(typeName + "|" + partName);
  auto it = partHeaders_.find(key);
  if (it != partHeaders_.end()) return it->second;
  return partHeaders_.emplace(key, ReadPartHeaders(db_, typeName, partName)).first->second;
}

void MessageComposer::SetBody(smtp::MimeEntity& part, smtp::SmtpMessage& encoder, const std::string& content,
                              const MessagePart& row) {
  Body b = EncodeBody(encoder, content, row.charset, row.additionalParameters, row.transferEncoding);
  part.SetMediaParameters(b.mediaParameters);
  part.SetTransferEncoding(b.transferEncoding);
  part.SetBodyText(b.bodyText);
}

// The parts of a multipart body, in the type's order; a part the template leaves empty is left out.
void MessageComposer::AddParts(smtp::SmtpMessagePart& message, smtp::SmtpMessage& encoder, const std::string& address,
                               const IssueValues& issue, const MessageFormat& f) {
  for (const MessagePart& part : f.parts) {
    const PartContent& pc = TemplatePart(f.tmpl.name, f.tmpl.typeName, part.name);
    if (!pc.found) NoContent(f.tmpl.name, part.name);
    if (TrimSpaces(pc.text).empty()) continue;
    auto child = message.PartList()->AddPart(part.name);
    child->SetMediaType(part.contentType);
    child->SetMediaSubtype(part.contentSubtype);
    for (const MessageHeader& h : PartHeaders(part.typeName, part.name))
      child->HeaderList()->AddHeader(h.name, FormatMessage(issue, address, h.value, ValueContext::Header));
    const ValueContext context = IsHtmlPart(part) ? ValueContext::Html : ValueContext::Text;
    SetBody(*child, encoder, FormatMessage(issue, address, pc.text, context), part);
  }
}

std::shared_ptr<smtp::SmtpMessagePart> MessageComposer::Compose(const std::string& fromAddress,
                                                                const std::string& address, const IssueValues& issue,
                                                                const MessageFormat& f) {
  smtp::SmtpMessage encoder;
  encoder.SetEncoderSwitch(true);
  auto message = std::make_shared<smtp::SmtpMessagePart>();
  auto format = [&](const std::string& text, ValueContext context) {
    return FormatMessage(issue, address, text, context);
  };
  for (const MessageHeader& h : f.headers)
    message->HeaderList()->AddHeader(h.name, format(h.value, ValueContext::Header));
  message->SetMimeVersion("1.0");
  if (!f.type.multiPart) {
    // A single part: the first part row of the type, whose content the template gives.
    if (f.parts.empty()) ado::Raise(ado::err::kNoCurrentRecord, "ADODB.Recordset");
    const MessagePart& part = f.parts.front();
    message->SetMediaType(part.contentType);
    message->SetMediaSubtype(part.contentSubtype);
    message->SetSubjectLine(format(f.tmpl.subject, ValueContext::Header));
    const PartContent& pc = TemplatePart(f.tmpl.name, f.tmpl.typeName, part.name);
    if (!pc.found) NoContent(f.tmpl.name, part.name);
    SetBody(*message, encoder, format(pc.text, IsHtmlPart(part) ? ValueContext::Html : ValueContext::Text), part);
  } else {
    message->SetMediaType(f.type.contentType);
    message->SetMediaSubtype(f.type.contentSubtype);
    message->SetMediaParameters(f.type.additionalParameters);
    message->SetSubjectLine(format(f.tmpl.subject, ValueContext::Header));
    AddParts(*message, encoder, address, issue, f);
  }
  message->SetRecipient(address);
  message->Sender()->SetAddressText(fromAddress);
  return message;
}

std::shared_ptr<smtp::SmtpMessagePart> MessageComposer::BuildMailMessage(const std::string& fromAddress,
                                                                         const std::string& address,
                                                                         const IssueValues& issue,
                                                                         const MessageFormat& format) {
  return Procedure(kClass, "BuildMailMessage", [&] { return Compose(fromAddress, address, issue, format); });
}

std::shared_ptr<smtp::SmtpMessagePart> MessageComposer::BuildMailMessage(
    ado::Recordset& config, const std::string& address, ado::Recordset& issue, ado::Recordset& tmpl,
    ado::Recordset& type, ado::Recordset* headers, ado::Recordset& parts) {
  return Procedure(kClass, "BuildMailMessage", [&] {
    MessageFormat f = FormatOf(tmpl, type, headers, parts);
    return Compose(config.Text("FromEMailAddress"), address, ValuesOf(issue), f);
  });
}

}  // namespace brisquel
