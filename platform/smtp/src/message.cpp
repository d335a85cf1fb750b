// The message objects and the MIME writer.
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <random>
#include <set>

#include "automation/text.h"
#include "mime_text.h"
#include "smtp/smtp.h"

namespace smtp {

using mime::HasLineBreak;
using mime::ToLower;
using automation::TrimBlanks;

void SmtpHeaderList::AddHeader(const std::string& name, const std::string& value) {
  items_.push_back({name, value});
}

MimeEntity::MimeEntity() : headers_(std::make_shared<SmtpHeaderList>()) {}

std::shared_ptr<SmtpChildPart> SmtpPartList::AddPart(const std::string& partName) {
  items_.push_back(std::make_shared<SmtpChildPart>(partName));
  return items_.back();
}

std::shared_ptr<SmtpChildPart> SmtpPartList::Item(int32_t index) const {
  if (index < 1 || index > Count()) automation::RaiseRuntime(automation::vberr::kSubscript);
  return items_[static_cast<size_t>(index - 1)];
}

SmtpMessagePart::SmtpMessagePart()
    : sender_(std::make_shared<SmtpAddress>()), parts_(std::make_shared<SmtpPartList>()) {}

void SmtpMessage::SetEncodingMode(int32_t mode) {
  if (mode < kEncodeNone || mode > kEncodeBinary) automation::RaiseRuntime(automation::vberr::kInvalidCall);
  mode_ = mode;
}

void SmtpMessage::EncodeText(const std::string& text, std::string& result, int32_t mode) {
  if (mode < kEncodeNone || mode > kEncodeBinary) automation::RaiseRuntime(automation::vberr::kInvalidCall);
  if (!encoderOn_) {
    result = text;
    return;
  }
  switch (mode) {
    case kEncodeBase64: result = mime::Base64(text); break;
    case kEncodeQuotedPrintable: result = mime::QuotedPrintable(text); break;
    default: result = text; break;
  }
}

namespace {

// Headers the writer makes from the message's properties; list entries of these names are left
// out, since each may appear once and the MIME ones must describe the body as written.
const std::set<std::string> kOwnHeaders = {"date",         "message-id",  "from",
                                           "to",           "subject",     "mime-version",
                                           "content-type", "content-transfer-encoding"};
const std::set<std::string> kPartOwnHeaders = {"mime-version", "content-type",
                                               "content-transfer-encoding"};
const std::set<std::string> kAddressHeaders = {"cc", "bcc", "reply-to", "sender"};

std::mt19937_64& Random() {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  return rng;
}

std::string RandomHex(size_t digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  uint64_t bits = 0;
  for (size_t i = 0; i < digits; ++i) {
    if (i % 16 == 0) bits = Random()();
    s += kHex[bits & 15];
    bits >>= 4;
  }
  return s;
}

std::string DateHeaderValue() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  long off = tm.tm_gmtoff / 60;
  char sign = off < 0 ? '-' : '+';
  if (off < 0) off = -off;
  char buf[64];
  snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday],
           tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sign,
           off / 60, off % 60);
  return buf;
}

bool IsDomain(std::string_view d) {
  if (d.empty()) return false;
  for (char c : d) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.')) return false;
  }
  return true;
}

std::string MessageId(const std::string& senderMailbox) {
  std::string domain = senderMailbox.substr(senderMailbox.rfind('@') + 1);
  if (!IsDomain(domain)) {
    char host[256] = {};
    domain = gethostname(host, sizeof host - 1) == 0 && IsDomain(host) ? host : "localhost";
  }
  return "<" + std::to_string(time(nullptr)) + "." + RandomHex(20) + "@" + domain + ">";
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || std::string_view("()<>@,;:\\\"/[]?=").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

bool IsFieldName(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == ':') return false;
  }
  return true;
}

bool HasEightBit(std::string_view s) { return !mime::IsAscii(s); }

bool HasLongLine(std::string_view crlfText) {
  size_t start = 0;
  while (start <= crlfText.size()) {
    size_t end = crlfText.find("\r\n", start);
    if (end == std::string_view::npos) end = crlfText.size();
    if (end - start > 998) return true;
    start = end + 2;
  }
  return false;
}

// The value of a parameter in a Content-Type parameter text ("boundary"), or empty.
std::string ParameterValue(std::string_view params, std::string_view name) {
  std::string lower = ToLower(params);
  std::string key = std::string(name) + "=";
  size_t pos = 0;
  while ((pos = lower.find(key, pos)) != std::string::npos) {
    bool atStart = pos == 0 || lower[pos - 1] == ';' || lower[pos - 1] == ' ' || lower[pos - 1] == '\t';
    if (atStart) {
      std::string_view rest = params.substr(pos + key.size());
      if (!rest.empty() && rest.front() == '"') {
        size_t close = rest.find('"', 1);
        return std::string(rest.substr(1, close == std::string_view::npos ? rest.size() - 1 : close - 1));
      }
      return std::string(TrimBlanks(rest.substr(0, rest.find(';'))));
    }
    pos += key.size();
  }
  return {};
}

class Writer {
 public:
  explicit Writer(std::string& error) : error_(error) {}

  bool Fail(std::string text) {
    error_ = std::move(text);
    return false;
  }

  bool CheckText(std::string_view value, std::string_view what) {
    if (HasLineBreak(value)) return Fail(std::string(what) + " contains a line break.");
    return true;
  }

  // The list headers of a message or part, as header lines; collects Cc and Bcc addresses.
  bool ListHeaders(const SmtpHeaderList& list, const std::set<std::string>& own, bool top,
                   std::string& out, std::vector<std::string>& envelope) {
    for (const Header& h : list.Items()) {
      if (!IsFieldName(h.name)) {
        if (TrimBlanks(h.name).empty() && TrimBlanks(h.value).empty()) continue;
        return Fail("The header name '" + h.name + "' is not valid.");
      }
      if (!CheckText(h.value, "The value of the header '" + h.name + "'")) return false;
      if (TrimBlanks(h.value).empty()) continue;
      std::string lower = ToLower(h.name);
      if (own.count(lower)) continue;
      if (top && kAddressHeaders.count(lower)) {
        std::vector<mime::Address> addresses;
        if (!mime::ParseAddressList(h.value, addresses, error_)) return false;
        if (lower == "cc" || lower == "bcc") {
          for (const auto& a : addresses) envelope.push_back(a.mailbox);
        }
        if (lower != "bcc") out += mime::AddressHeader(h.name, addresses) + "\r\n";
        continue;
      }
      out += mime::UnstructuredHeader(h.name, h.value) + "\r\n";
    }
    return true;
  }

  // Content-Type and Content-Transfer-Encoding of a single body, and the body as it is written.
  bool Leaf(const MimeEntity& e, const std::string& what, std::string& headers, std::string& body) {
    if (!CheckText(e.MediaType(), what + " media type") ||
        !CheckText(e.MediaSubtype(), what + " media subtype") ||
        !CheckText(e.MediaParameters(), what + " media parameters") ||
        !CheckText(e.TransferEncoding(), what + " transfer encoding")) {
      return false;
    }
    std::string type = ToLower(TrimBlanks(e.MediaType()));
    std::string subtype = ToLower(TrimBlanks(e.MediaSubtype()));
    if (type.empty()) type = "text";
    if (subtype.empty()) subtype = type == "text" ? "plain" : "octet-stream";
    if (!IsToken(type) || !IsToken(subtype)) {
      return Fail("The media type '" + type + "/" + subtype + "' is not valid.");
    }
    std::string encoding(TrimBlanks(e.TransferEncoding()));
    if (!encoding.empty() && !IsToken(encoding)) {
      return Fail("The transfer encoding '" + encoding + "' is not valid.");
    }
    body = mime::NormalizeLineEnds(e.BodyText());
    std::string lowerEnc = ToLower(encoding);
    bool identity = lowerEnc.empty() || lowerEnc == "7bit" || lowerEnc == "8bit" || lowerEnc == "binary";
    if (identity && HasLongLine(body)) {
      // SMTP lines end at 998 octets: such a body can only travel encoded.
      body = mime::QuotedPrintable(e.BodyText());
      encoding = "quoted-printable";
    } else if (lowerEnc.empty() && HasEightBit(body)) {
      encoding = "8bit";
    }
    std::string params = Params(e.MediaParameters());
    if (type == "text" && HasEightBit(body) && ParameterValue(params, "charset").empty()) {
      params += std::string(params.empty() ? "" : "; ") + "charset=\"utf-8\"";
    }
    headers += ContentType(type, subtype, params);
    if (!encoding.empty()) headers += "Content-Transfer-Encoding: " + encoding + "\r\n";
    return true;
  }

  static std::string Params(std::string_view raw) {
    std::string p(TrimBlanks(raw));
    while (!p.empty() && (p.front() == ';' || p.front() == ' ')) p.erase(0, 1);
    return p;
  }

  static std::string ContentType(const std::string& type, const std::string& subtype,
                                 const std::string& params) {
    std::string line = "Content-Type: " + type + "/" + subtype;
    if (!params.empty()) line += "; " + params;
    return line + "\r\n";
  }

 private:
  std::string& error_;
};

}  // namespace

bool RenderMessage(const SmtpMessagePart& m, RenderedMessage& out, std::string& error) {
  Writer w(error);
  out = RenderedMessage{};

  const std::string& fromText = m.Sender()->AddressText();
  if (!w.CheckText(fromText, "The sender address")) return false;
  std::vector<mime::Address> from;
  if (!mime::ParseAddressList(fromText, from, error)) return false;
  if (from.empty()) return w.Fail("The message has no sender.");
  if (from.size() > 1) return w.Fail("The message has more than one sender.");

  if (!w.CheckText(m.Recipient(), "The recipient address")) return false;
  std::vector<mime::Address> to;
  if (!mime::ParseAddressList(m.Recipient(), to, error)) return false;
  if (!w.CheckText(m.SubjectLine(), "The subject") || !w.CheckText(m.MimeVersion(), "The MIME version")) {
    return false;
  }

  out.envelopeFrom = from.front().mailbox;
  for (const auto& a : to) out.envelopeTo.push_back(a.mailbox);

  std::string head = "Date: " + DateHeaderValue() + "\r\n";
  head += mime::AddressHeader("From", from) + "\r\n";
  if (!to.empty()) head += mime::AddressHeader("To", to) + "\r\n";
  if (!TrimBlanks(m.SubjectLine()).empty()) head += mime::UnstructuredHeader("Subject", m.SubjectLine()) + "\r\n";
  head += "Message-ID: " + MessageId(out.envelopeFrom) + "\r\n";
  if (!w.ListHeaders(*m.HeaderList(), kOwnHeaders, true, head, out.envelopeTo)) return false;
  if (out.envelopeTo.empty()) return w.Fail("The message has no recipient.");
  std::string version(TrimBlanks(m.MimeVersion()));
  head += "MIME-Version: " + (version.empty() ? std::string("1.0") : version) + "\r\n";

  std::string body;
  const auto& parts = m.PartList()->Items();
  if (parts.empty()) {
    // Also a multipart type left without parts: there is nothing to divide, so one plain body.
    MimeEntity single = m;
    if (ToLower(TrimBlanks(m.MediaType())) == "multipart") {
      single.SetMediaType("text");
      single.SetMediaSubtype("plain");
      single.SetMediaParameters("");
    }
    if (!w.Leaf(single, "The message", head, body)) return false;
  } else {
    if (!w.CheckText(m.MediaSubtype(), "The message media subtype") ||
        !w.CheckText(m.MediaParameters(), "The message media parameters") ||
        !w.CheckText(m.TransferEncoding(), "The message transfer encoding")) {
      return false;
    }
    std::string subtype = ToLower(TrimBlanks(m.MediaSubtype()));
    if (ToLower(TrimBlanks(m.MediaType())) != "multipart" || subtype.empty()) subtype = "mixed";
    if (!IsToken(subtype)) return w.Fail("The media type 'multipart/" + subtype + "' is not valid.");

    std::vector<std::string> rendered;
    bool eightBit = false;
    for (const auto& p : parts) {
      std::string ph;
      std::string pb;
      std::vector<std::string> none;
      if (!w.Leaf(*p, "The part '" + p->PartName() + "'", ph, pb)) return false;
      if (!w.ListHeaders(*p->HeaderList(), kPartOwnHeaders, false, ph, none)) return false;
      eightBit = eightBit || HasEightBit(ph) || HasEightBit(pb);
      rendered.push_back(ph + "\r\n" + pb);
    }
    std::string preamble = TrimBlanks(m.BodyText()).empty() ? "" : mime::NormalizeLineEnds(m.BodyText());

    std::string params = Writer::Params(m.MediaParameters());
    std::string boundary = ParameterValue(params, "boundary");
    auto clashes = [&](const std::string& b) {
      if (preamble.find(b) != std::string::npos) return true;
      for (const auto& r : rendered) {
        if (r.find(b) != std::string::npos) return true;
      }
      return false;
    };
    if (boundary.empty()) {
      do {
        boundary = "=_Part_" + RandomHex(24);
      } while (clashes(boundary));
      params += std::string(params.empty() ? "" : "; ") + "boundary=\"" + boundary + "\"";
    } else if (clashes("--" + boundary)) {
      return w.Fail("The boundary '" + boundary + "' occurs in the message.");
    }
    head += Writer::ContentType("multipart", subtype, params);
    std::string outer = ToLower(TrimBlanks(m.TransferEncoding()));
    if (outer == "7bit" || outer == "8bit" || outer == "binary") {
      head += "Content-Transfer-Encoding: " + std::string(TrimBlanks(m.TransferEncoding())) + "\r\n";
    } else if (eightBit) {
      head += "Content-Transfer-Encoding: 8bit\r\n";
    }

    if (!preamble.empty()) body += preamble + "\r\n";
    for (const auto& r : rendered) body += "--" + boundary + "\r\n" + r + "\r\n";
    body += "--" + boundary + "--";
  }
  if (!body.empty() && (body.size() < 2 || body.compare(body.size() - 2, 2, "\r\n") != 0)) {
    body += "\r\n";
  }
  out.data = head + "\r\n" + body;
  return true;
}

namespace {

automation::Register<SmtpHeaderList> regHeaders("SmtpHeaderList", "", [](auto& c) {
  c.Method("AddHeader", &SmtpHeaderList::AddHeader);
  c.Property("Count", &SmtpHeaderList::Count);
});

automation::Register<SmtpAddress> regAddress("SmtpAddress", "", [](auto& c) {
  c.Property("AddressText", &SmtpAddress::AddressText, &SmtpAddress::SetAddressText);
});

template <class T>
void EntityMembers(automation::ClassBuilder<T>& c) {
  c.Property("MediaType", &T::MediaType, &T::SetMediaType);
  c.Property("MediaSubtype", &T::MediaSubtype, &T::SetMediaSubtype);
  c.Property("MediaParameters", &T::MediaParameters, &T::SetMediaParameters);
  c.Property("TransferEncoding", &T::TransferEncoding, &T::SetTransferEncoding);
  c.Property("BodyText", &T::BodyText, &T::SetBodyText);
  c.Property("HeaderList", &T::HeaderList);
}

automation::Register<SmtpChildPart> regChild("SmtpChildPart", "", [](auto& c) {
  EntityMembers(c);
  c.Property("PartName", &SmtpChildPart::PartName);
});

automation::Register<SmtpPartList> regParts("SmtpPartList", "", [](auto& c) {
  c.Method("AddPart", &SmtpPartList::AddPart);
  c.Property("Count", &SmtpPartList::Count);
  c.Property("Item", &SmtpPartList::Item);
  c.Default("Item");
});

automation::Register<SmtpMessagePart> regMessagePart("SmtpMessagePart", "SmtpX.SmtpMessagePart", [](auto& c) {
  EntityMembers(c);
  c.Property("MimeVersion", &SmtpMessagePart::MimeVersion, &SmtpMessagePart::SetMimeVersion);
  c.Property("SubjectLine", &SmtpMessagePart::SubjectLine, &SmtpMessagePart::SetSubjectLine);
  c.Property("Recipient", &SmtpMessagePart::Recipient, &SmtpMessagePart::SetRecipient);
  c.Property("Sender", &SmtpMessagePart::Sender);
  c.Property("PartList", &SmtpMessagePart::PartList);
});

automation::Register<SmtpMessage> regMessage("SmtpMessage", "SmtpX.SmtpMessage", [](auto& c) {
  c.Property("EncoderSwitch", &SmtpMessage::EncoderSwitch, &SmtpMessage::SetEncoderSwitch);
  c.Property("EncodingMode", &SmtpMessage::EncodingMode, &SmtpMessage::SetEncodingMode);
  c.Method("EncodeText", &SmtpMessage::EncodeText);
});

}  // namespace

}  // namespace smtp
