#include "notifications/smtp_session.h"

#include "automation/text.h"
#include "core/error_protocol.h"
#include "smtp/smtp.h"

namespace brisquel {

namespace {
constexpr const char* kCrLf = "\r\n";
}

std::string WithoutFinalCrLf(const std::string& s) {
  if (s.size() >= 2 && s.compare(s.size() - 2, 2, kCrLf) == 0) return s.substr(0, s.size() - 2);
  return s;
}

SmtpSession::SmtpSession(const SmtpSettings& settings)
    : client_(std::make_shared<smtp::SmtpMailer>()), password_(settings.password) {
  client_->SetDebugHandler([this](const std::string& line) { OnDebug(line); });
  client_->SetServerHost(settings.host);
  client_->SetServerPort(settings.port);
  client_->SetTimeoutValue(settings.timeout);
  client_->SetDebugOutput(true);
  if (settings.login) {
    client_->SetLoginSetting(smtp::kLoginRequired);
    client_->SetLoginScheme(smtp::kLoginAnyScheme);
    client_->SetLoginUser(settings.user);
    client_->SetLoginPassword(settings.password);
  }
  client_->SetSessionOption(smtp::kSessionStartTlsIfOffered);
}

SmtpSession::~SmtpSession() {
  try {
    client_->Disconnect();
  } catch (...) {
  }
}

std::string SmtpSession::Connect() {
  try {
    client_->ConnectServer();
  } catch (...) {
    automation::LastError e = CurrentError();
    return "Error: " + std::to_string(e.number) + " (" + e.description + ")";
  }
  if (client_->ConnectionState() != smtp::kStateConnected) return ClientError();
  return {};
}

std::string SmtpSession::ClientError() const {
  return "Error: " + std::to_string(client_->ErrorCode()) + " (" + client_->ErrorText() + ")";
}

std::string SmtpSession::WithLog(const std::string& error) const {
  std::string text = error;
  if (log_.size() >= 2) text += std::string(kCrLf) + "Log details follow:" + kCrLf + WithoutFinalCrLf(log_);
  return Scrub(text);
}

std::string SmtpSession::Scrub(std::string text) const {
  // A short password is a secret too: every length is masked.
  if (password_.empty()) return text;
  size_t pos;
  while ((pos = text.find(password_)) != std::string::npos) text.replace(pos, password_.size(), "***");
  return text;
}

void SmtpSession::OnDebug(const std::string& line) {
  std::string text = line;
  // A login line carries the credentials after its mechanism.
  if (text.size() >= 5 && automation::EqualsNoCase(std::string_view(text).substr(0, 5), "AUTH ")) {
    size_t mechEnd = text.find(' ', 5);
    if (mechEnd != std::string::npos) text = text.substr(0, mechEnd) + " ***";
  }
  log_ += text;
  if (text.size() < 2 || text.compare(text.size() - 2, 2, kCrLf) != 0) log_ += kCrLf;
}

}  // namespace brisquel
