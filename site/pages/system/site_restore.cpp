// /Setup/SiteRestore.asp: the backups of the site's backup folder; choosing one leads to a
// confirmation that names what the restore replaces, and the restore's messages follow it. Site
// administrators only.
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
using syspages::ObjectPtr;

constexpr std::string_view kPath = "/Setup/SiteRestore.asp";
constexpr std::string_view kTitle = "Database Restore";

struct Backup {
  std::string file, name, startedOn, size;
};

std::string BackupFolder(automation::Object& admin) {
  auto rs = admin.Call("GetBackupRs").ToObject();
  return AtEnd(*rs) ? std::string() : FieldText(*rs, "BackupArchive");
}

// The backups of the folder; a folder the reader refuses leaves its sentence in `message`.
std::vector<Backup> Backups(automation::Object& admin, const std::string& folder, std::string& message) {
  std::vector<Backup> out;
  auto rs = admin.Call("GetAvailableBackupsRs", {Variant(folder)}).ToObject();
  message = admin.Get("LastErrorMessage").ToText();
  for (; rs && !AtEnd(*rs); rs->Call("MoveNext")) {
    out.push_back({FieldText(*rs, "BackupFile"), FieldText(*rs, "BackupName"), FieldText(*rs, "BackupStartedOn"),
                   std::to_string(static_cast<long long>(FieldValue(*rs, "BackupSize").ToDouble()))});
  }
  return out;
}

std::string Heading(automation::Object& admin, bool& storeUsable) {
  std::string out = "<span class=PageTitle>" + HtmlText(kTitle) + "</span><br>\r\n";
  if (std::string agent = syspages::AgentSentence(admin, storeUsable); !agent.empty())
    out += "<p id=AgentSentence>" + HtmlText(agent) + "</p>\r\n";
  return out;
}

void SendList(PageContext& page, automation::Object& admin, const std::string& message) {
  bool storeUsable = true;
  std::string body = Heading(admin, storeUsable);
  // Listing needs the job store: without it the sentence above says why, and nothing more is read.
  if (!storeUsable) return page.SendPage(kTitle, body + forms::Message(message));
  const std::string folder = BackupFolder(admin);
  std::string refused;
  const std::vector<Backup> backups = Backups(admin, folder, refused);
  body += forms::Message(message.empty() ? refused : message);
  body += "<p>Backups in the folder " + HtmlText(folder) + " (set on the <a href=\"" +
          HtmlAttribute(page.Url("/Setup/SiteBackup.asp")) + "\">backup page</a>):</p>\r\n";
  std::vector<std::vector<std::string>> rows;
  for (const Backup& b : backups) {
    const std::string href =
        page.Url(std::string(kPath) + "?BackupFile=" + UrlComponent(b.file) + "&BackupSet=" + UrlComponent(b.name));
    rows.push_back({b.file, b.startedOn, b.size,
                    "<a class=RestoreLink href=\"" + HtmlAttribute(href) + "\">Restore...</a>"});
  }
  body += rows.empty() ? "<p id=Backups>There are no backups to restore.</p>\r\n"
                       : syspages::PlainTable("Backups", {"Backup file", "Made", "Size (bytes)", ""}, rows, 3);
  page.SendPage(kTitle, body);
}

// The step before a restore: what it replaces, and the button that does it.
void SendConfirmation(PageContext& page, automation::Object& admin, const Backup& b) {
  const std::string hidden = forms::Hidden("BackupFile", b.file) + forms::Hidden("BackupSet", b.name);
  bool storeUsable = true;
  std::string body = Heading(admin, storeUsable) + "<p id=Confirmation>Restoring the backup " + HtmlText(b.file) + " made " +
                     HtmlText(b.startedOn) +
                     " replaces the whole content of this site: every issue, comment, attachment, user, project and "
                     "setting as it is now. Whatever changed since the backup was made is lost. A safety copy of the "
                     "site as it is now is written to the backup folder first.</p>\r\n" +
                     syspages::ButtonForm(page, "fRestore", kPath, hidden, "cmdRestore", "Restore") + "<p><a id=Cancel href=\"" +
                     HtmlAttribute(page.Url(kPath)) + "\">Cancel</a></p>\r\n";
  page.SendPage(kTitle, body);
}

void SendFailure(PageContext& page, const std::string& message) {
  page.SendPage(kTitle, "<span class=PageTitle>" + HtmlText(kTitle) + "</span><br>\r\n" + forms::Message(message));
}

ObjectPtr Admin(PageContext& page) {
  std::string message;
  ObjectPtr admin = syspages::OpenDbAdmin(page, message);
  if (!admin) SendFailure(page, message);
  return admin;
}

void RestoreGet(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  ObjectPtr admin = Admin(page);
  if (!admin) return;
  try {
    const std::string file = page.Query("BackupFile");
    if (file.empty()) return SendList(page, *admin, "");
    std::string refused;
    for (const Backup& b : Backups(*admin, BackupFolder(*admin), refused))
      if (b.file == file) return SendConfirmation(page, *admin, b);
    SendList(page, *admin, "The backup " + file + " is not in the backup folder.");
  } catch (const automation::ComError& e) {
    SendFailure(page, syspages::Described(e));
  }
}

// The restore runs in this request; a backup it refuses (damaged, of another site, newer) is named
// over the list with the reason, and the site stays as it was.
void RestorePost(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  if (!forms::PostedForm(page)) return;
  ObjectPtr admin = Admin(page);
  if (!admin) return;
  const std::string file = page.Form("BackupFile");
  std::string result, message;
  try {
    result = admin->Call("DoRestore", {Variant(BackupFolder(*admin)), Variant(file), Variant(page.Form("BackupSet")),
                                       Variant(page.UserId())})
                 .ToText();
    message = admin->Get("LastErrorMessage").ToText();
  } catch (const automation::ComError& e) {
    message = syspages::Described(e);
  }
  if (!message.empty() || result.empty()) {
    try {
      return SendList(page, *admin, message.empty() ? "The restore ended without a word." : message);
    } catch (const automation::ComError& e) {
      return SendFailure(page, message + " " + syspages::Described(e));
    }
  }
  page.SendPage(kTitle, "<span class=PageTitle>" + HtmlText(kTitle) + "</span><br>\r\n<p id=Restored>The site was "
                        "restored from " + HtmlText(file) + ".</p>\r\n<pre id=RestoreMessages>" + HtmlText(result) +
                        "</pre>\r\n<p><a href=\"" + HtmlAttribute(page.Url(kPath)) + "\">Back to the backups</a></p>\r\n");
}

AddPage restore(std::string(kPath), {.get = RestoreGet, .post = RestorePost});

}  // namespace

}  // namespace site
