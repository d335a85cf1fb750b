// Composing a notification: a template names its message type (headers, single part or the
// parts of a multipart body) and gives the subject and each part's content; placeholders in
// square brackets are filled from the issue.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "automation/automation.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "notifications/message_format.h"

namespace ado {
class Recordset;
}
namespace smtp {
class MimeEntity;
class SmtpMessage;
class SmtpMessagePart;
}

namespace brisquel {

class Database;
using RecordsetPtr = std::shared_ptr<ado::Recordset>;

// The encoder's mode for a part's ContentTransferEncoding: quoted-printable 2, base64 1,
// binary 3, anything else 0 (no encoding).
int32_t EncodingCode(std::string_view contentTransferEncoding);

// The address with a "/" after it unless it already ends in one ("" gives "/").
std::string AddTrailingSlash(const std::string& address);

// A delivery failure text fitted to `limit` characters: the error line is kept, and as much of
// the end of the protocol dialogue after it as fits.
std::string FitFailureText(const std::string& text, size_t limit);

// Where an expanded placeholder value lands; the value is made safe for that place.
enum class ValueContext {
  Text,    // plain text: as it is
  Html,    // an HTML part: HTML-encoded
  Header,  // a header or the subject: line breaks become blanks
};

// Each issue field's Representation by FieldName (the first row of each name of GetIssueFieldsRs).
using FieldRepresentations = std::unordered_map<std::string, std::string, NoCaseHash, NoCaseEqual>;
FieldRepresentations ReadFieldRepresentations(Database& db);

// One sending pass's composer: the site address and the issue fields are read once and shared by
// every message of the pass, as are the template contents and project codes it reads. The issue
// comes as its values (ReadIssueValues): a placeholder shows a column as the issue's recordset would.
class MessageComposer {
 public:
  MessageComposer(Database& db, std::string siteAddress, FieldRepresentations issueFields);

  // The whole message for one recipient, from the format the sender read once.
  std::shared_ptr<smtp::SmtpMessagePart> BuildMailMessage(const std::string& fromAddress, const std::string& address,
                                                          const IssueValues& issue, const MessageFormat& format);
  // The same from the readers' recordsets as a caller holds them (GetEMailConfigRs, GetIssueRs,
  // GetEMailTemplateRs, ...). `headers` may be null (the type has no header rows).
  std::shared_ptr<smtp::SmtpMessagePart> BuildMailMessage(ado::Recordset& config, const std::string& address,
                                                          ado::Recordset& issue, ado::Recordset& tmpl,
                                                          ado::Recordset& type, ado::Recordset* headers,
                                                          ado::Recordset& parts);

  // Replaces each "[name]" by its value; an escaped ("\[") or unclosed "[" stays as written. A
  // value is put in once and never scanned again.
  std::string FormatMessage(const IssueValues& issue, const std::string& address, const std::string& text,
                            ValueContext context = ValueContext::Text);

  // The value of one placeholder; never fails: what cannot be worked out gives "[name]".
  automation::Variant GetMessageFieldValue(const IssueValues& issue, const std::string& name);

  const std::string& SiteAddress() const { return siteAddress_; }

 private:
  struct PartContent {
    bool found = false;
    std::string text;
  };
  const PartContent& TemplatePart(const std::string& templateName, const std::string& typeName,
                                  const std::string& partName);
  const std::vector<MessageHeader>& PartHeaders(const std::string& typeName, const std::string& partName);
  std::shared_ptr<smtp::SmtpMessagePart> Compose(const std::string& fromAddress, const std::string& address,
                                                 const IssueValues& issue, const MessageFormat& format);
  void AddParts(smtp::SmtpMessagePart& message, smtp::SmtpMessage& encoder, const std::string& address,
                const IssueValues& issue, const MessageFormat& format);
  void SetBody(smtp::MimeEntity& part, smtp::SmtpMessage& encoder, const std::string& content,
               const MessagePart& row);
  std::string ProjectCode(const IssueValues& issue);
  std::string LastComment(const IssueValues& issue, const std::string& fieldName);

  Database& db_;
  std::string siteAddress_;
  FieldRepresentations representation_;
  std::unordered_map<int32_t, std::string> projectCodes_;
  std::unordered_map<std::string, PartContent> partContents_;  // template|type|part, lower case
  std::unordered_map<std::string, std::vector<MessageHeader>> partHeaders_;  // type|part, lower case
};

}  // namespace brisquel
