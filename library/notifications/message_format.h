// A notification's message format as plain values: the template, its type, the type's header
// rows and part rows. The sender reads them once per template through the typed layer; a caller
// that holds the readers' recordsets (GetEMailTemplateRs and its kin) has them taken over by the
// same column mapping, so both ways give the same values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/ado.h"
#include "core/sql.h"

namespace brisquel {

class Database;

struct MessageTemplate {
  std::string name;
  std::string typeName;
  std::string subject;
};

struct MessageType {
  bool multiPart = false;
  std::string contentType;
  std::string contentSubtype;
  std::string additionalParameters;
};

struct MessageHeader {
  std::string name;
  std::string value;
};

struct MessagePart {
  std::string typeName;
  std::string name;
  std::string contentType;
  std::string contentSubtype;
  std::string charset;
  std::string additionalParameters;
  std::string transferEncoding;
};

struct MessageFormat {
  MessageTemplate tmpl;
  MessageType type;
  std::vector<MessageHeader> headers;
  std::vector<MessagePart> parts;
};

// ---- The column mapping, for a typed row and for the current row of a held recordset alike.
inline bool ColumnFlag(const sql::Row& r, std::string_view name) { return r.Flag(name); }
inline bool ColumnFlag(const ado::Recordset& r, std::string_view name) {
  automation::Variant v = r.Value(name);
  return !v.IsNull() && v.ToBool();
}

template <class R>
MessageTemplate TemplateOf(const R& r) {
  return {r.Text("TemplateName"), r.Text("TemplateTypeName"), r.Text("Subject")};
}
template <class R>
MessageType TypeOf(const R& r) {
  return {ColumnFlag(r, "MultiPart"), r.Text("MultipartContentType"), r.Text("MultipartContentTypeSubtype"),
          r.Text("MultipartContentTypeAdditionalParameters")};
}
template <class R>
MessageHeader HeaderOf(const R& r) {
  return {r.Text("HeaderFieldName"), r.Text("HeaderFieldValue")};
}
template <class R>
MessagePart PartOf(const R& r) {
  return {r.Text("TemplateTypeName"),     r.Text("PartName"),
          r.Text("ContentType"),          r.Text("ContentTypeSubtype"),
          r.Text("ContentTypeCharset"),   r.Text("ContentTypeAdditionalParameters"),
          r.Text("ContentTransferEncoding")};
}

// ---- The readers' statements, typed (email_config.cpp; not by name).
// The template and its type's rows; a missing template or type raises 3021 naming it.
MessageFormat ReadMessageFormat(Database& db, const std::string& templateName);
std::vector<MessageHeader> ReadPartHeaders(Database& db, const std::string& typeName, const std::string& partName);
// The content of a template's part; nullopt when the template has no row for the part (a Null
// content is "").
std::optional<std::string> ReadTemplatePart(Database& db, const std::string& templateName,
                                            const std::string& typeName, const std::string& partName);

}  // namespace brisquel
