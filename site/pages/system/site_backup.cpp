// /Setup/SiteBackup.asp: the backup settings (on a schedule or not, how often, at what hour, the
// folder, how long old backups stay), "Back up now", and the history of the backup job with each
// run's report (?Report=<report file>). Site administrators only. The job agent runs the backups;
// while it does not run the page says so.
#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/issue_lists.h"
#include "site/pages/records.h"
#include "site/pages/system/system_pages.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;
using syspages::ObjectPtr;

constexpr std::string_view kPath = "/Setup/SiteBackup.asp";
constexpr std::string_view kReportPrefix = "BackupLog_";

// The settings as the form shows them: the stored row, or what was posted when it was refused.
struct BackupForm {
  bool on = false, expire = false;
  std::string frequency, time, archive, retention;
  std::string image;  // the stored row as read, for UpdateBackup
};

BackupForm StoredForm(automation::Object& db, automation::Object& admin) {
  auto rs = admin.Call("GetBackupRs").ToObject();
  BackupForm f;
  if (AtEnd(*rs)) return f;
  f.on = FieldValue(*rs, "BackupDatabase").ToBool();
  f.frequency = FieldText(*rs, "BackupFrequency");
  f.time = FieldText(*rs, "BackupTime");
  f.archive = FieldText(*rs, "BackupArchive");
  f.expire = FieldValue(*rs, "ExpireBackups").ToBool();
  f.retention = FieldText(*rs, "BackupRetention");
  f.image = db.Call("rsToXml", {Variant(rs)}).ToString();
  return f;
}

BackupForm PostedBackupForm(PageContext& page) {
  BackupForm f;
  f.on = automation::EqualsNoCase(page.Form("BackupDatabase"), "on");
  f.frequency = page.Form("BackupFrequency");
  f.time = page.Form("BackupTime");
  f.archive = page.Form("BackupArchive");
  f.expire = automation::EqualsNoCase(page.Form("ExpireBackups"), "on");
  f.retention = page.Form("BackupRetention");
  f.image = page.Form("rsBackup");
  return f;
}

std::vector<forms::Option> Codes(automation::Object& admin, const char* reader, const char* field) {
  auto rs = admin.Call(reader).ToObject();
  return forms::Options(*rs, field, field);
}

std::string SettingsForm(PageContext& page, automation::Object& admin, const BackupForm& f, const std::string& message) {
  const std::string rows =
      forms::Row("Scheduled backups", forms::CheckBox("BackupDatabase", "on", f.on) + " Back the site up on a schedule") +
      forms::Row("Every", forms::Select("BackupFrequency", Codes(admin, "GetBackupFrequencyRs", "BackupFrequency"),
                                        f.frequency)) +
      forms::Row("At", forms::Select("BackupTime", Codes(admin, "GetBackupTimesRs", "BackupTime"), f.time)) +
      forms::Row("Backup folder", forms::TextBox("BackupArchive", f.archive, 60, 1024)) +
      forms::Row("Old backups", forms::CheckBox("ExpireBackups", "on", f.expire) + " Remove them after " +
                                    forms::Select("BackupRetention",
                                                  Codes(admin, "GetBackupRetentionRs", "BackupRetention"), f.retention));
  // The library's message may carry markup of its own (the agent's start failure), which the edit
  // page's text paragraph would show as text: it stands in a block that holds a list item (a
  // paragraph would end before it).
  const std::string shown =
      message.empty() ? std::string() : "<div class=ErrorText id=Message>" + syspages::MessageHtml(message) + "</div>\r\n";
  return "<span class=PageTitle>Database Backup</span><br>\r\n" + shown +
         forms::EditForm(page, kPath, rows, forms::Hidden("Action", "Save") + forms::Hidden("rsBackup", f.image));
}

std::string History(PageContext& page, automation::Object& admin) {
  ObjectPtr rs;
  try {
    rs = admin.Call("GetBackupHistoryRs").ToObject();
  } catch (const automation::ComError& e) {
    // The job store cannot be reached: the settings stay usable, the history says why it is missing.
    return lists::ErrorParagraph("HistoryMessage", syspages::Described(e));
  }
  std::vector<std::vector<std::string>> rows;
  for (; rs && !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string report = FieldText(*rs, "StatusReport");
    std::string cell = HtmlText(report);
    if (report.starts_with(kReportPrefix))
      cell = "<a class=ReportLink href=\"" + HtmlAttribute(page.Url(std::string(kPath) + "?Report=" + UrlComponent(report))) +
             "\">" + cell + "</a>";
    rows.push_back({FieldText(*rs, "RunDateTime"), FieldText(*rs, "RunStatus"), FieldText(*rs, "RunDuration"),
                    FieldText(*rs, "BackupFile"), cell, FieldText(*rs, "Message")});
  }
  if (rows.empty()) return "<p id=BackupHistory>No backup has run yet.</p>\r\n";
  return syspages::PlainTable("BackupHistory", {"Started", "Status", "Duration", "Backup file", "Report", "Message"},
                              rows, 4);
}

// The lines of one report of the backup folder.
std::string Report(automation::Object& admin, const std::string& folder, const std::string& name) {
  auto rs = admin.Call("GetBackupLogRs", {Variant(folder + "/" + name)}).ToObject();
  const std::string refused = admin.Get("LastErrorMessage").ToText();
  if (!refused.empty()) return forms::Message(refused);
  std::string lines;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) lines += HtmlText(FieldText(*rs, "LogEntry")) + "\n";
  return "<span class=PageTitle>Report " + HtmlText(name) + "</span><br>\r\n<pre id=BackupReport>" + lines +
         "</pre>\r\n";
}

void SendBackup(PageContext& page, automation::Object& db, automation::Object& admin, const BackupForm* posted,
                const std::string& message) {
  const BackupForm stored = StoredForm(db, admin);
  const BackupForm& f = posted ? *posted : stored;
  std::string body;
  bool storeUsable = true;
  if (std::string agent = syspages::AgentSentence(admin, storeUsable); !agent.empty())
    body += "<p id=AgentSentence>" + HtmlText(agent) + "</p>\r\n";
  body += SettingsForm(page, admin, f, message);
  if (!page.Query("Started").empty())
    body += "<p id=Started>The backup has started: its run shows in the history below once it is over.</p>\r\n";
  body += syspages::ButtonForm(page, "fBackupNow", kPath, forms::Hidden("Action", "BackupNow"), "cmdBackupNow",
                               "Back up now");
  // The history and the reports are the job store's: without it, the sentence above says why.
  if (!storeUsable) return page.SendPage("Database Backup", body);
  body += "<span class=PageTitle>History</span><br>\r\n" + History(page, admin);
  if (const std::string report = page.Query("Report"); !report.empty()) body += Report(admin, stored.archive, report);
  page.SendPage("Database Backup", body);
}

// The page with the sentence of a failure a member raised, instead of an error page.
void SendFailure(PageContext& page, const std::string& message) {
  page.SendPage("Database Backup", "<span class=PageTitle>Database Backup</span><br>\r\n" + forms::Message(message));
}

// The request's maintenance object, or the page with the reason there is none.
ObjectPtr Admin(PageContext& page) {
  std::string message;
  ObjectPtr admin = syspages::OpenDbAdmin(page, message);
  if (!admin) SendFailure(page, message);
  return admin;
}

void BackupGet(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  ObjectPtr admin = Admin(page);
  if (!admin) return;
  try {
    SendBackup(page, *db, *admin, nullptr, "");
  } catch (const automation::ComError& e) {
    SendFailure(page, syspages::Described(e));
  }
}

// "Back up now" queues the job (starting the agent when it does not run); "Save" writes the
// settings through the row they were read as, and the job with them.
void BackupPost(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  ObjectPtr admin = Admin(page);
  if (!admin) return;
  const bool now = page.Form("Action") == "BackupNow";
  const BackupForm f = PostedBackupForm(page);
  std::string message;
  bool refused = false;  // the settings' row image is missing or damaged
  try {
    if (now) {
      admin->Call("DoBackup", {Variant(page.UserId())});
      message = admin->Get("LastErrorMessage").ToText();
      if (message.empty()) return page.Redirect(page.Url(std::string(kPath) + "?Started=1"));
    } else if (auto rs = forms::PostedImage(page, *db, "rsBackup", message); !rs) {
      refused = true;
    } else if (forms::CallWriter(page, *admin, "UpdateBackup", {Variant(page.UserId()), Variant(rs), Variant(form)},
                                 kPath, message)) {
      return;
    }
  } catch (const automation::ComError& e) {
    // A raised failure (the job store cannot be used) is shown like a refusal, over the form as posted.
    message = syspages::Described(e);
  }
  try {
    SendBackup(page, *db, *admin, now ? nullptr : &f, message);
    if (refused) forms::Refused(page);
  } catch (const automation::ComError& e) {
    SendFailure(page, message + " " + syspages::Described(e));
  }
}

AddPage backup(std::string(kPath), {.get = BackupGet, .post = BackupPost});

}  // namespace

}  // namespace site
