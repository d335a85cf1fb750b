// The SMTP client on libcurl. One easy handle is the session: libcurl keeps its connection open
// between transfers, so ConnectServer (a NOOP transfer) and every later SendMessage share one SMTP
// session until a failure closes it or Disconnect ends it.
#include <curl/curl.h>
#include <unistd.h>

#include <cctype>
#include <exception>
#include <mutex>

#include "automation/text.h"
#include "mime_text.h"
#include "smtp/smtp.h"

namespace smtp {

namespace {

constexpr const char* kHidden = "***";

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool ValidHost(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || u >= 0x80 || c == '.' || c == '-' || c == '_' || c == ':')) return false;
  }
  return true;
}

std::string EhloDomain() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || !ValidHost(host) ||
      std::string_view(host).find(':') != std::string_view::npos) {
    return "localhost";
  }
  return host;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

struct SmtpMailer::Session {
  explicit Session(SmtpMailer& o) : owner(o) {}
  ~Session() {
    if (curl) curl_easy_cleanup(curl);
  }

  struct Rejection {
    std::string address;
    int code;
    std::string text;
  };

  SmtpMailer& owner;
  CURL* curl = nullptr;
  char errbuf[CURL_ERROR_SIZE] = {};
  bool connected = false;

  // Dialogue state of the current transfer.
  std::string partial[2];  // incomplete lines: [0] from the server, [1] to it
  bool authInProgress = false;
  bool awaitingReply = false;
  bool quitSent = false;
  std::string lastCommand;
  std::string lastRecipient;
  std::string replyText;  // lines of a multi-line reply so far
  int lastCode = 0;
  std::string lastText;
  std::vector<Rejection> rejected;
  bool abortedForRecipients = false;
  std::exception_ptr handlerError;

  // The message being uploaded.
  const std::string* data = nullptr;
  size_t offset = 0;

  void ResetDialogue() {
    partial[0].clear();
    partial[1].clear();
    authInProgress = awaitingReply = quitSent = abortedForRecipients = false;
    lastCommand.clear();
    lastRecipient.clear();
    replyText.clear();
    lastCode = 0;
    lastText.clear();
    rejected.clear();
    handlerError = nullptr;
    errbuf[0] = '\0';
  }

  void Emit(const std::string& line) {
    if (handlerError) return;
    try {
      owner.Emit(line);
    } catch (...) {
      // Unwinding through libcurl is not allowed: keep it for after the transfer.
      handlerError = std::current_exception();
    }
  }

  void Outgoing(const std::string& line) {
    std::string verb = Upper(line.substr(0, line.find(' ')));
    if (verb == "AUTH") {
      // The mechanism stays visible; an initial response carries credentials.
      size_t mechEnd = line.find(' ', 5);
      Emit(mechEnd == std::string::npos ? line : line.substr(0, mechEnd) + " " + kHidden);
      authInProgress = true;
    } else if (authInProgress) {
      Emit(kHidden);  // a response to a challenge: credentials
    } else {
      Emit(line);
    }
    if (verb == "QUIT") {
      quitSent = true;  // what follows is the close, not the outcome
      return;
    }
    lastCommand = authInProgress ? "AUTH" : verb;
    if (verb == "RCPT") {
      size_t lt = line.find('<');
      size_t gt = line.find('>', lt == std::string::npos ? 0 : lt);
      lastRecipient = lt != std::string::npos && gt != std::string::npos
                          ? line.substr(lt + 1, gt - lt - 1)
                          : line.substr(std::min(line.size(), size_t{8}));
    }
    awaitingReply = true;
  }

  void Incoming(const std::string& line) {
    Emit(line);
    if (quitSent) return;  // the close after a failure: the failure's own reply is already kept
    bool coded = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                 std::isdigit(static_cast<unsigned char>(line[1])) &&
                 std::isdigit(static_cast<unsigned char>(line[2]));
    if (!coded) return;
    std::string text = line.size() > 4 ? line.substr(4) : "";
    if (!text.empty()) replyText += (replyText.empty() ? "" : " ") + text;
    if (line.size() > 3 && line[3] == '-') return;
    lastCode = std::stoi(line.substr(0, 3));
    lastText = std::move(replyText);
    replyText.clear();
    awaitingReply = false;
    if (authInProgress && lastCode != 334) authInProgress = false;
    if (lastCommand == "RCPT" && lastCode >= 400) rejected.push_back({lastRecipient, lastCode, lastText});
  }

  void Lines(int direction, const char* bytes, size_t size) {
    std::string& buf = partial[direction];
    buf.append(bytes, size);
    size_t nl;
    while ((nl = buf.find('\n')) != std::string::npos) {
      std::string line = buf.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      buf.erase(0, nl + 1);
      direction ? Outgoing(line) : Incoming(line);
    }
  }

  void FlushLines() {
    for (int d = 0; d < 2; ++d) {
      if (!partial[d].empty()) {
        std::string rest = std::move(partial[d]);
        partial[d].clear();
        d ? Outgoing(rest) : Incoming(rest);
      }
    }
  }

  static int OnDebug(CURL*, curl_infotype type, char* bytes, size_t size, void* user) {
    auto* s = static_cast<Session*>(user);
    if (type == CURLINFO_HEADER_IN) s->Lines(0, bytes, size);
    if (type == CURLINFO_HEADER_OUT) s->Lines(1, bytes, size);
    return 0;
  }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* s = static_cast<Session*>(user);
    // Every RCPT has been answered before the first read: a message that some recipient refused
    // is abandoned inside DATA, so the server drops it and nobody gets a partial delivery.
    if (!s->rejected.empty()) {
      s->abortedForRecipients = true;
      return CURL_READFUNC_ABORT;
    }
    size_t n = std::min(size * count, s->data->size() - s->offset);
    std::copy_n(s->data->data() + s->offset, n, buffer);
    s->offset += n;
    return n;
  }

  static size_t OnWrite(char*, size_t size, size_t count, void*) { return size * count; }
};

SmtpMailer::SmtpMailer() = default;

SmtpMailer::~SmtpMailer() {
  // The owner of the handler may already be going; the closing QUIT is not reported.
  debugHandler_ = nullptr;
  session_.reset();
}

void SmtpMailer::SetError(int16_t code, std::string text) {
  errorCode_ = code;
  errorText_ = std::move(text);
}

void SmtpMailer::Emit(const std::string& line) {
  if (debugOutput_ && debugHandler_) debugHandler_(line);
}

bool SmtpMailer::ConnectServer(const std::string& host, int32_t port, const std::string& user,
                               const std::string& password) {
  SetError(0, "");
  if (session_) Disconnect();
  if (!host.empty()) host_ = host;
  if (port != 0) port_ = port;
  if (!user.empty()) {
    loginUser_ = user;
    loginPassword_ = password;
    if (loginSetting_ == kLoginNone) loginSetting_ = kLoginRequired;
  }

  std::string serverHost(automation::TrimBlanks(host_));
  if (!ValidHost(serverHost)) {
    SetError(kErrInvalidSetting, serverHost.empty() ? "No SMTP server is set."
                                                    : "The SMTP server name '" + serverHost + "' is not valid.");
    return false;
  }
  int32_t serverPort = port_ == 0 ? 25 : port_;
  if (serverPort < 1 || serverPort > 65535) {
    SetError(kErrInvalidSetting, "The SMTP port " + std::to_string(port_) + " is not valid.");
    return false;
  }
  if (sessionOption_ < kSessionPlain || sessionOption_ > kSessionImplicitTls) {
    SetError(kErrInvalidSetting, "The session option " + std::to_string(sessionOption_) + " is not valid.");
    return false;
  }

  GlobalInit();
  auto s = std::make_unique<Session>(*this);
  s->curl = curl_easy_init();
  if (!s->curl) {
    SetError(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
    return false;
  }
  CURL* c = s->curl;
  bool literal6 = serverHost.find(':') != std::string::npos;
  std::string url = std::string(sessionOption_ == kSessionImplicitTls ? "smtps://" : "smtp://") +
                    (literal6 ? "[" + serverHost + "]" : serverHost) + ":" + std::to_string(serverPort) +
                    "/" + EhloDomain();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, s->errbuf);
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);  // the dialogue arrives through the debug function
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &Session::OnDebug);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, s.get());
  curl_easy_setopt(c, CURLOPT_READFUNCTION, &Session::OnRead);
  curl_easy_setopt(c, CURLOPT_READDATA, s.get());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Session::OnWrite);
  if (timeout_ > 0) {
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeout_));
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(timeout_));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeout_));
  }
  switch (sessionOption_) {
    case kSessionPlain: curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE)); break;
    case kSessionStartTlsIfOffered: curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY)); break;
    default: curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL)); break;
  }
  if (loginSetting_ != kLoginNone && !loginUser_.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, loginUser_.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, loginPassword_.c_str());
    if (loginScheme_ == kLoginPlain) curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=PLAIN");
    if (loginScheme_ == kLoginLogin) curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
  }
  // Every recipient is tried, so that a refusal names all the refused ones.
#if LIBCURL_VERSION_NUM >= 0x080200
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT_ALLOWFAILS, 1L);
#else
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
#endif

  session_ = std::move(s);
  if (!Transfer(nullptr)) {
    session_.reset();
    return false;
  }
  return true;
}

int32_t SmtpMailer::ConnectionState() const {
  if (!session_ || !session_->connected) return kStateDisconnected;
  curl_socket_t sock = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(session_->curl, CURLINFO_ACTIVESOCKET, &sock) != CURLE_OK || sock == CURL_SOCKET_BAD) {
    return kStateDisconnected;
  }
  return kStateConnected;
}

bool SmtpMailer::Transfer(const RenderedMessage* message) {
  Session& s = *session_;
  CURL* c = s.curl;
  s.ResetDialogue();
  curl_slist* rcpt = nullptr;
  if (message) {
    for (const auto& r : message->envelopeTo) rcpt = curl_slist_append(rcpt, ("<" + r + ">").c_str());
    s.data = &message->data;
    s.offset = 0;
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + message->envelopeFrom + ">").c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message->data.size()));
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  } else {
    // Connecting: greeting, EHLO, STARTTLS and AUTH happen before the command; NOOP proves the
    // session is usable and leaves it open.
    curl_easy_setopt(c, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, "NOOP");
  }
  CURLcode rc = curl_easy_perform(c);
  s.FlushLines();
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
  curl_slist_free_all(rcpt);
  s.data = nullptr;
  if (s.handlerError) {
    s.connected = rc == CURLE_OK;
    std::rethrow_exception(s.handlerError);
  }

  if (rc == CURLE_OK) {
    s.connected = true;
    return true;
  }
  s.connected = false;
  if (!s.rejected.empty()) {
    std::string text;
    for (const auto& r : s.rejected) {
      text += (text.empty() ? "" : "; ") + std::string("Recipient not accepted: <") + r.address + "> (" +
              std::to_string(r.code) + (r.text.empty() ? "" : " " + r.text) + ")";
    }
    SetError(static_cast<int16_t>(s.rejected.front().code), text);
  } else if (!s.awaitingReply && s.lastCode >= 400) {
    SetError(static_cast<int16_t>(s.lastCode), s.lastText);
  } else {
    SetError(static_cast<int16_t>(rc), s.errbuf[0] ? s.errbuf : curl_easy_strerror(rc));
  }
  return false;
}

bool SmtpMailer::SendMessage(const std::shared_ptr<SmtpMessagePart>& message) {
  SetError(0, "");
  if (!message) {
    SetError(kErrInvalidMessage, "No message was given.");
    return false;
  }
  if (!session_) {
    SetError(kErrNotConnected, "Not connected to an SMTP server.");
    return false;
  }
  RenderedMessage rendered;
  std::string error;
  if (!RenderMessage(*message, rendered, error)) {
    SetError(kErrInvalidMessage, error);
    return false;
  }
  return Transfer(&rendered);
}

bool SmtpMailer::SendText(const std::string& from, const std::string& to, const std::string& subject,
                          const std::string& body, const std::string& cc, const std::string& bcc) {
  auto m = std::make_shared<SmtpMessagePart>();
  m->Sender()->SetAddressText(from);
  m->SetRecipient(to);
  m->SetSubjectLine(subject);
  m->HeaderList()->AddHeader("Cc", cc);
  m->HeaderList()->AddHeader("Bcc", bcc);
  m->SetMediaType("text");
  m->SetMediaSubtype("plain");
  if (mime::IsAscii(body)) {
    m->SetMediaParameters("charset=\"us-ascii\"");
    m->SetTransferEncoding("7bit");
    m->SetBodyText(body);
  } else {
    m->SetMediaParameters("charset=\"utf-8\"");
    m->SetTransferEncoding("quoted-printable");
    m->SetBodyText(mime::QuotedPrintable(body));
  }
  return SendMessage(m);
}

void SmtpMailer::Disconnect() {
  session_.reset();  // libcurl ends the session with QUIT
}

namespace {

automation::Register<SmtpMailer> regMailer("SmtpMailer", "SmtpX.SmtpMailer", [](auto& c) {
  c.Property("ServerHost", &SmtpMailer::ServerHost, &SmtpMailer::SetServerHost);
  c.Property("ServerPort", &SmtpMailer::ServerPort, &SmtpMailer::SetServerPort);
  c.Property("TimeoutValue", &SmtpMailer::TimeoutValue, &SmtpMailer::SetTimeoutValue);
  c.Property("DebugOutput", &SmtpMailer::DebugOutput, &SmtpMailer::SetDebugOutput);
  c.Property("SessionOption", &SmtpMailer::SessionOption, &SmtpMailer::SetSessionOption);
  c.Property("LoginSetting", &SmtpMailer::LoginSetting, &SmtpMailer::SetLoginSetting);
  c.Property("LoginScheme", &SmtpMailer::LoginScheme, &SmtpMailer::SetLoginScheme);
  c.Property("LoginUser", &SmtpMailer::LoginUser, &SmtpMailer::SetLoginUser);
  c.WriteOnly("LoginPassword", &SmtpMailer::SetLoginPassword);
  c.Method("ConnectServer", &SmtpMailer::ConnectServer,
           {automation::Variant(""), automation::Variant(0), automation::Variant(""), automation::Variant("")});
  c.Property("ConnectionState", &SmtpMailer::ConnectionState);
  c.Method("SendMessage", &SmtpMailer::SendMessage);
  c.Method("SendText", &SmtpMailer::SendText, {automation::Variant(""), automation::Variant("")});
  c.Property("ErrorCode", &SmtpMailer::ErrorCode);
  c.Property("ErrorText", &SmtpMailer::ErrorText);
  c.Method("Disconnect", &SmtpMailer::Disconnect);
});

}  // namespace

}  // namespace smtp
