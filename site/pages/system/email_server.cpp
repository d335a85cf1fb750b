// /Setup/SiteEMailServer.asp: the site's outgoing e-mail (the SMTP server, the sender address, the
// delivery rhythm and the site's address for the links in messages), and /Setup/EMailServer.asp:
// a test message with its SMTP dialogue, and the log of the notifications sent. Site
// administrators only. The SMTP password is write-only: its box is always empty, and a blank one
// keeps the stored password.
#include <filesystem>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/pages/system/system_pages.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

constexpr std::string_view kSettingsPath = "/Setup/SiteEMailServer.asp";
constexpr std::string_view kTestPath = "/Setup/EMailServer.asp";
constexpr size_t kLogRows = 200;  // the newest notifications the log shows

// The settings as the form shows them: the stored row, or what was posted when it was refused.
struct MailForm {
  bool enabled = false;
  std::string host, port, userId, from, url, timeout, attempts, frequency;
  std::string image;  // the stored row as read, for UpdateEMailConfig
};

// The address of this site as a browser reaches it, the root included, for the links in messages.
std::string OwnAddress(PageContext& page) {
  return std::string(page.SiteHost().Options().behindTls ? "https://" : "http://") + page.Header("Host") +
         page.Url("/");
}

MailForm StoredForm(PageContext& page, automation::Object& db) {
  auto rs = db.Call("GetEMailConfigRs").ToObject();
  MailForm f;
  if (AtEnd(*rs)) return f;
  f.enabled = FieldValue(*rs, "EMailEnabled").ToBool();
  f.host = FieldText(*rs, "SmtpHost");
  f.port = FieldText(*rs, "SmtpPort");
  f.userId = FieldText(*rs, "SmtpUserId");
  f.from = FieldText(*rs, "FromEMailAddress");
  f.url = FieldText(*rs, "WebSiteURL");
  if (f.url.empty()) f.url = OwnAddress(page);
  f.timeout = FieldText(*rs, "SendTimeout");
  f.attempts = FieldText(*rs, "MaximumDeliveryAttempts");
  f.frequency = FieldText(*rs, "DeliveryFrequency");
  f.image = db.Call("rsToXml", {Variant(rs)}).ToString();
  return f;
}

MailForm PostedMailForm(PageContext& page) {
  MailForm f;
  f.enabled = automation::TrimBlanks(page.Form("EMailEnabled")) == "1";
  f.host = page.Form("SmtpHost");
  f.port = page.Form("SmtpPort");
  f.userId = page.Form("SmtpUserId");
  f.from = page.Form("FromEMailAddress");
  f.url = page.Form("WebsiteURL");
  f.timeout = page.Form("SendTimeout");
  f.attempts = page.Form("MaximumDeliveryAttempts");
  f.frequency = page.Form("DeliveryFrequency");
  f.image = page.Form("rsEMailConfig");
  return f;
}

void SendSettings(PageContext& page, automation::Object& db, const MailForm& f, const std::string& message) {
  auto frequencies = db.Call("GetEMailDeliveryFrequencyRs").ToObject();
  std::string rows =
      forms::Row("E-Mail notifications", forms::CheckBox("EMailEnabled", "1", f.enabled) + " Send notification e-mails") +
      forms::Row("SMTP server", forms::TextBox("SmtpHost", f.host, 30, 50)) +
      forms::Row("Port", forms::TextBox("SmtpPort", f.port, 6, 5)) +
      forms::Row("User id", forms::TextBox("SmtpUserId", f.userId, 30, 50)) +
      forms::Row("Password", forms::PasswordBox("SmtpPassword", 30, 50) +
                                 " Left blank, the stored password stays (with a user id).") +
      forms::Row("From address", forms::TextBox("FromEMailAddress", f.from, 30, 50)) +
      forms::Row("Website URL", forms::TextBox("WebsiteURL", f.url, 50, 100)) +
      forms::Row("Delivery timeout (seconds)", forms::TextBox("SendTimeout", f.timeout, 6, 5)) +
      forms::Row("Delivery attempts", forms::TextBox("MaximumDeliveryAttempts", f.attempts, 6, 5)) +
      forms::Row("Delivery frequency",
                 forms::Select("DeliveryFrequency", forms::Options(*frequencies, "Frequency", "FrequencyName"),
                               f.frequency));
  std::string body = forms::EditPage(page, "Outgoing E-Mail", kSettingsPath, message, rows,
                                     forms::Hidden("rsEMailConfig", f.image));
  body += "<p><a id=TestLink href=\"" + HtmlAttribute(page.Url(kTestPath)) + "\">Send a test message</a></p>\r\n";
  page.SendPage("Outgoing E-Mail", body);
}

void SettingsPage(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  SendSettings(page, *db, StoredForm(page, *db), "");
}

// The settings go back through the row they were read as; the site's folder registers the site
// with the notification service.
void SettingsPost(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  const MailForm f = PostedMailForm(page);
  std::string message;
  auto rs = forms::PostedImage(page, *db, "rsEMailConfig", message);
  if (!rs) {
    SendSettings(page, *db, f, message);
    return forms::Refused(page);
  }
  try {
    const std::string folder = std::filesystem::absolute(page.SiteHost().Options().folder).string();
    if (forms::CallWriter(page, *db, "UpdateEMailConfig",
                          {Variant(page.UserId()), Variant(folder), Variant(rs), Variant(form)}, kSettingsPath,
                          message))
      return;
  } catch (const automation::ComError& e) {
    message = syspages::Described(e);
  }
  SendSettings(page, *db, f, message);
}

// ---- the test message and the log

std::string TestResults(automation::Object& db) {
  auto rs = db.Call("GetEMailTestResultsRs").ToObject();
  std::string lines;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) lines += HtmlText(FieldText(*rs, "TestResult")) + "\n";
  if (lines.empty()) return "<p>No test message has been sent yet.</p>\r\n";
  return "<pre id=TestResults>" + lines + "</pre>\r\n";
}

std::string NotificationLog(PageContext& page, automation::Object& db) {
  auto rs = db.Call("GetEMailNotificationsLogRs").ToObject();
  std::vector<std::vector<std::string>> rows;
  for (; !AtEnd(*rs) && rows.size() < kLogRows; rs->Call("MoveNext")) {
    const std::string issue = FieldText(*rs, "IssueId");
    rows.push_back({FieldText(*rs, "EMailNotificationId"), FieldText(*rs, "EMailAddress"),
                    "<a href=\"" + HtmlAttribute(page.Url("/Issues/Issue.asp?IssueId=" + UrlComponent(issue))) + "\">" +
                        HtmlText(issue) + "</a>",
                    FieldText(*rs, "TemplateName"), std::string(automation::TrimBlanks(FieldText(*rs, "StatusCode"))),
                    FieldText(*rs, "DeliveryAttempts"), FieldText(*rs, "DateTimeCompleted"),
                    FieldText(*rs, "AttemptedDeliveryErrorMsg")});
  }
  if (rows.empty()) return "<p id=NotificationLog>No notifications have been queued.</p>\r\n";
  return syspages::PlainTable("NotificationLog",
                              {"Id", "Address", "Issue", "Template", "Status", "Attempts", "Completed", "Last error"},
                              rows, 2);
}

void SendTest(PageContext& page, automation::Object& db, const std::string& to, const std::string& message) {
  std::string body = forms::EditPage(page, "Test Message", kTestPath, message,
                                     forms::Row("Send to", forms::TextBox("ToEMail", to, 40, 50)));
  body += "<p><a id=SettingsLink href=\"" + HtmlAttribute(page.Url(kSettingsPath)) +
          "\">Outgoing e-mail settings</a></p>\r\n<span class=PageTitle>Last test</span><br>\r\n" + TestResults(db) +
          "<span class=PageTitle>Notification log</span><br>\r\n" + NotificationLog(page, db);
  page.SendPage("Test Message", body);
}

void TestPage(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  std::string to = page.Query("ToEMail");
  if (to.empty()) {
    auto user = db->Call("GetUserRs", {Variant(page.UserId())}).ToObject();
    if (!AtEnd(*user)) to = FieldText(*user, "UserEMail");
  }
  SendTest(page, *db, to, "");
}

// The message goes out with the stored settings, switched on or not; its dialogue is on the page
// the post leads back to.
void TestPost(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  const std::string to(automation::TrimBlanks(page.Form("ToEMail")));
  if (to.empty()) return SendTest(page, *db, to, "Enter the address the test message goes to.");
  try {
    db->Call("SendTestEMailMessage", {Variant(to)});
  } catch (const automation::ComError& e) {
    return SendTest(page, *db, to, syspages::Described(e));
  }
  page.Redirect(page.Url(std::string(kTestPath) + "?ToEMail=" + UrlComponent(to)));
}

AddPage settings(std::string(kSettingsPath), {.get = SettingsPage, .post = SettingsPost});
AddPage test(std::string(kTestPath), {.get = TestPage, .post = TestPost});

}  // namespace

}  // namespace site
