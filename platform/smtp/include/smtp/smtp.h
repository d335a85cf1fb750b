// Outgoing mail: an SMTP client session (SmtpMailer), the message objects it sends
// (SmtpMessagePart with its SmtpChildPart body parts) and the transfer encoder (SmtpMessage).
// Messages are written by our own MIME writer; the transport is libcurl. One connected SmtpMailer
// carries any number of messages over one SMTP session.
//
// Failures of the server or of the network never raise: they leave ErrorCode and ErrorText set.
// ErrorCode is then the server's reply code (400-599), a transport code (1-99, libcurl's numbers),
// or one of the kErr codes below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"

namespace smtp {

inline constexpr int16_t kErrNotConnected = 1001;    // SendMessage before ConnectServer
inline constexpr int16_t kErrInvalidMessage = 1002;  // refused before anything was sent
inline constexpr int16_t kErrInvalidSetting = 1003;  // host, port or session option unusable

// ConnectionState values.
inline constexpr int32_t kStateDisconnected = 0;
inline constexpr int32_t kStateConnected = 3;

// SessionOption values: how TLS is used.
inline constexpr int32_t kSessionPlain = 0;            // never TLS
inline constexpr int32_t kSessionStartTlsIfOffered = 1;  // STARTTLS when the server offers it
inline constexpr int32_t kSessionStartTlsRequired = 2;   // STARTTLS or fail
inline constexpr int32_t kSessionImplicitTls = 3;        // TLS from the first byte (smtps)

// LoginSetting values: whether the session logs in (AUTH) after connecting.
inline constexpr int32_t kLoginNone = 0;
inline constexpr int32_t kLoginRequired = 1;

// LoginScheme values: which SASL mechanism AUTH uses.
inline constexpr int32_t kLoginAnyScheme = 1;  // the strongest the server offers
inline constexpr int32_t kLoginPlain = 2;
inline constexpr int32_t kLoginLogin = 3;

// EncodingMode values.
inline constexpr int32_t kEncodeNone = 0;
inline constexpr int32_t kEncodeBase64 = 1;
inline constexpr int32_t kEncodeQuotedPrintable = 2;
inline constexpr int32_t kEncodeBinary = 3;

struct Header {
  std::string name;
  std::string value;
};

// Headers of a message or part, kept in the order added.
class SmtpHeaderList : public automation::Dispatchable<SmtpHeaderList> {
 public:
  void AddHeader(const std::string& name, const std::string& value);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const std::vector<Header>& Items() const { return items_; }

 private:
  std::vector<Header> items_;
};

// An address as written in a header: "name@host" or "Display Name <name@host>".
class SmtpAddress : public automation::Dispatchable<SmtpAddress> {
 public:
  const std::string& AddressText() const { return text_; }
  void SetAddressText(const std::string& text) { text_ = text; }

 private:
  std::string text_;
};

// Properties shared by a whole message and by its body parts.
class MimeEntity {
 public:
  MimeEntity();
  const std::string& MediaType() const { return mediaType_; }
  void SetMediaType(const std::string& v) { mediaType_ = v; }
  const std::string& MediaSubtype() const { return mediaSubtype_; }
  void SetMediaSubtype(const std::string& v) { mediaSubtype_ = v; }
  // Parameters of Content-Type after type/subtype, as written ("charset=\"us-ascii\"").
  const std::string& MediaParameters() const { return mediaParameters_; }
  void SetMediaParameters(const std::string& v) { mediaParameters_ = v; }
  // The Content-Transfer-Encoding the body is already in; the body is never encoded again.
  const std::string& TransferEncoding() const { return transferEncoding_; }
  void SetTransferEncoding(const std::string& v) { transferEncoding_ = v; }
  const std::string& BodyText() const { return bodyText_; }
  void SetBodyText(const std::string& v) { bodyText_ = v; }
  std::shared_ptr<SmtpHeaderList> HeaderList() const { return headers_; }

 private:
  std::string mediaType_;
  std::string mediaSubtype_;
  std::string mediaParameters_;
  std::string transferEncoding_;
  std::string bodyText_;
  std::shared_ptr<SmtpHeaderList> headers_;
};

// One body part of a multipart message.
class SmtpChildPart : public automation::Dispatchable<SmtpChildPart>, public MimeEntity {
 public:
  SmtpChildPart() = default;
  explicit SmtpChildPart(std::string partName) : partName_(std::move(partName)) {}
  const std::string& PartName() const { return partName_; }

 private:
  std::string partName_;
};

// The body parts of a message, in the order added.
class SmtpPartList : public automation::Dispatchable<SmtpPartList> {
 public:
  std::shared_ptr<SmtpChildPart> AddPart(const std::string& partName);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  std::shared_ptr<SmtpChildPart> Item(int32_t index) const;  // 1-based
  const std::vector<std::shared_ptr<SmtpChildPart>>& Items() const { return items_; }

 private:
  std::vector<std::shared_ptr<SmtpChildPart>> items_;
};

// A whole message: its own headers and body, or its body parts when it has any.
class SmtpMessagePart : public automation::Dispatchable<SmtpMessagePart>, public MimeEntity {
 public:
  SmtpMessagePart();
  const std::string& MimeVersion() const { return mimeVersion_; }
  void SetMimeVersion(const std::string& v) { mimeVersion_ = v; }
  const std::string& SubjectLine() const { return subject_; }
  void SetSubjectLine(const std::string& v) { subject_ = v; }
  // The To address, or several separated by commas or semicolons.
  const std::string& Recipient() const { return recipient_; }
  void SetRecipient(const std::string& v) { recipient_ = v; }
  std::shared_ptr<SmtpAddress> Sender() const { return sender_; }
  std::shared_ptr<SmtpPartList> PartList() const { return parts_; }

 private:
  std::string mimeVersion_ = "1.0";
  std::string subject_;
  std::string recipient_;
  std::shared_ptr<SmtpAddress> sender_;
  std::shared_ptr<SmtpPartList> parts_;
};

// The transfer encoder.
class SmtpMessage : public automation::Dispatchable<SmtpMessage> {
 public:
  // Off: EncodeText hands the text back unchanged.
  bool EncoderSwitch() const { return encoderOn_; }
  void SetEncoderSwitch(bool on) { encoderOn_ = on; }
  int32_t EncodingMode() const { return mode_; }
  void SetEncodingMode(int32_t mode);  // 0 to 3, else run-time error 5
  void EncodeText(const std::string& text, std::string& result, int32_t mode);

 private:
  bool encoderOn_ = true;
  int32_t mode_ = kEncodeNone;
};

// A message as it goes on the wire.
struct RenderedMessage {
  std::string envelopeFrom;
  std::vector<std::string> envelopeTo;  // To, Cc and Bcc addresses
  std::string data;                     // headers and body, CRLF line ends
};

// Writes the message. False, with a reason in `error`, when it cannot be sent as it stands (no
// sender or recipient, a line break in a header value or address, a malformed header name).
bool RenderMessage(const SmtpMessagePart& message, RenderedMessage& out, std::string& error);

// The SMTP client.
class SmtpMailer : public automation::Dispatchable<SmtpMailer> {
 public:
  SmtpMailer();
  ~SmtpMailer() override;
  SmtpMailer(const SmtpMailer&) = delete;
  SmtpMailer& operator=(const SmtpMailer&) = delete;

  const std::string& ServerHost() const { return host_; }
  void SetServerHost(const std::string& v) { host_ = v; }
  int32_t ServerPort() const { return port_; }  // 0 means 25
  void SetServerPort(int32_t v) { port_ = v; }
  int16_t TimeoutValue() const { return timeout_; }  // seconds per connect or reply; 0: libcurl's
  void SetTimeoutValue(int16_t v) { timeout_ = v; }
  bool DebugOutput() const { return debugOutput_; }
  void SetDebugOutput(bool v) { debugOutput_ = v; }
  int32_t SessionOption() const { return sessionOption_; }
  void SetSessionOption(int32_t v) { sessionOption_ = v; }
  // Non-zero: authenticate with LoginUser and LoginPassword (when a user is given).
  int32_t LoginSetting() const { return loginSetting_; }
  void SetLoginSetting(int32_t v) { loginSetting_ = v; }
  int32_t LoginScheme() const { return loginScheme_; }
  void SetLoginScheme(int32_t v) { loginScheme_ = v; }
  const std::string& LoginUser() const { return loginUser_; }
  void SetLoginUser(const std::string& v) { loginUser_ = v; }
  void SetLoginPassword(const std::string& v) { loginPassword_ = v; }  // write-only

  // The Debug event: called once per protocol line (without its CRLF), in order, while connecting,
  // and sending, when DebugOutput is on. Lines that carry credentials are masked.
  using DebugHandler = std::function<void(const std::string& line)>;
  void SetDebugHandler(DebugHandler handler) { debugHandler_ = std::move(handler); }

  // Opens the session (greeting, EHLO, STARTTLS, AUTH). Arguments given override the settings.
  // True when connected; otherwise ErrorCode and ErrorText say why.
  bool ConnectServer(const std::string& host = "", int32_t port = 0, const std::string& user = "",
                     const std::string& password = "");
  int32_t ConnectionState() const;
  // Sends one message on the session; a session dropped since is opened again. True when the
  // server accepted it for every recipient; a message refused by any recipient is not sent at all.
  bool SendMessage(const std::shared_ptr<SmtpMessagePart>& message);
  // A plain text message.
  bool SendText(const std::string& from, const std::string& to, const std::string& subject,
                const std::string& body, const std::string& cc = "", const std::string& bcc = "");
  int16_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorText() const { return errorText_; }
  void Disconnect();

  struct Session;  // libcurl state, inside the implementation

 private:
  bool Transfer(const RenderedMessage* message);
  void SetError(int16_t code, std::string text);
  void Emit(const std::string& line);

  std::string host_;
  int32_t port_ = 25;
  int16_t timeout_ = 30;
  bool debugOutput_ = false;
  int32_t sessionOption_ = kSessionStartTlsIfOffered;
  int32_t loginSetting_ = 0;
  int32_t loginScheme_ = kLoginAnyScheme;
  std::string loginUser_;
  std::string loginPassword_;
  DebugHandler debugHandler_;
  int16_t errorCode_ = 0;
  std::string errorText_;
  std::unique_ptr<Session> session_;
};

}  // namespace smtp
