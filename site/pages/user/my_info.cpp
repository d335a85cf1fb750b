// /User/MyInfo.asp: the signed-in user's own name, e-mail address, password and secret question,
// written back through the row they were read as (UpdateMyUserInfo). The password and the answer
// are never shown: blank boxes keep them.
#include <string>

#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using namespace forms;

constexpr std::string_view kPath = "/User/MyInfo.asp";

struct MyInfo {
  std::string image;  // the row as read
  std::string name, email, question;
  bool emailEnabled = false;
};

void SendMyInfo(PageContext& page, const MyInfo& m, const std::string& message) {
  std::string rows = Row("Id", "<span id=UserId>" + HtmlText(page.UserId()) + "</span>");
  rows += Row("Name", TextBox("UserName", m.name, 50, 50));
  rows += Row("E-Mail", TextBox("UserEMail", m.email, 50, 50));
  rows += Row("E-mail notifications", CheckBox("EMailEnabled", "on", m.emailEnabled));
  rows += Row("New password (blank keeps it)", PasswordBox("Password1"));
  rows += Row("New password again", PasswordBox("Password2"));
  rows += Row("Secret question", TextBox("SecretQuestion", m.question, 50, 50));
  rows += Row("New answer (blank keeps it)", TextBox("SecretQuestionAnswer", "", 50, 50));
  std::string body = EditPage(page, "My Info", kPath, message, rows, Hidden("rsUser", m.image));
  if (page.Query("Saved") == "1" && message.empty()) body += "<p id=Saved>Your information has been saved.</p>\r\n";
  body += "<p><a id=PersonalizeLink href=\"" + HtmlAttribute(page.Url("/User/Personalize.asp")) +
          "\">My Issues settings...</a><br>\r\n<a id=PersonalizeSearchLink href=\"" +
          HtmlAttribute(page.Url("/User/PersonalizeSearch.asp")) + "\">Search settings...</a></p>\r\n";
  page.SendPage("My Info", body);
}

void MyInfoPage(PageContext& page) {
  auto db = page.Database();
  auto rs = db->Call("GetUserRs", {Variant(page.UserId())}).ToObject();
  if (AtEnd(*rs)) return page.SendPage("My Info", Message("Your user cannot be found."), 404);
  MyInfo m;
  m.image = db->Call("rsToXml", {Variant(rs)}).ToString();
  m.name = FieldText(*rs, "UserName");
  m.email = FieldText(*rs, "UserEMail");
  m.question = FieldText(*rs, "SecretQuestion");
  m.emailEnabled = FieldValue(*rs, "EMailEnabled").ToBool();
  SendMyInfo(page, m, "");
}

void MyInfoPost(PageContext& page) {
  auto db = page.Database();
  auto form = PostedForm(page);
  if (!form) return;
  MyInfo m;
  m.image = page.Form("rsUser");
  m.name = page.Form("UserName");
  m.email = page.Form("UserEMail");
  m.question = page.Form("SecretQuestion");
  m.emailEnabled = !page.Form("EMailEnabled").empty();
  std::string message;
  const ObjectPtr stored = PostedImage(page, *db, "rsUser", message);
  if (!stored) {
    SendMyInfo(page, m, message);
    return Refused(page);
  }
  if (!CallWriter(page, *db, "UpdateMyUserInfo", {Variant(page.UserId()), Variant(stored), Variant(form)},
                  std::string(kPath) + "?Saved=1", message))
    SendMyInfo(page, m, message);
}

AddPage myInfo(std::string(kPath), {.get = MyInfoPage, .post = MyInfoPost});

}  // namespace

}  // namespace site
