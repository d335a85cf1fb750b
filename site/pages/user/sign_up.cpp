// /User/SignUp.asp: a visitor makes himself a public user (CreatePublicUser), with a password and a
// secret question and answer. Open only while some project is public: a public user sees nothing
// else. After the sign-up the visitor signs in as anyone does.
#include <string>

#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using namespace forms;

constexpr std::string_view kPath = "/User/SignUp.asp";

bool SignUpOpen(PageContext& page) {
  if (page.Database()->Call("CanDoPublicSignup").ToBool()) return true;
  page.SendPage("Sign up", Message("This site has no public projects to sign up for."), 403);
  return false;
}

void SendSignUp(PageContext& page, const std::string& message) {
  const std::string rows = Row("User id", TextBox("UserId", page.Form("UserId"), 30, 50)) +
                           Row("Name", TextBox("UserName", page.Form("UserName"), 50, 50)) +
                           Row("E-Mail", TextBox("UserEMail", page.Form("UserEMail"), 50, 50)) +
                           Row("Password", PasswordBox("Password1")) + Row("Password again", PasswordBox("Password2")) +
                           Row("Secret question", TextBox("SecretQuestion", page.Form("SecretQuestion"), 50, 50)) +
                           Row("Answer", TextBox("SecretQuestionAnswer", "", 50, 50));
  page.SendPage("Sign up", EditPage(page, "Sign up", kPath, message, rows));
}

void SignUpPage(PageContext& page) {
  if (SignUpOpen(page)) SendSignUp(page, "");
}

void SignUpPost(PageContext& page) {
  if (!SignUpOpen(page)) return;
  auto db = page.Database();
  auto form = PostedForm(page);
  if (!form) return;
  std::string message;
  if (!CallWriter(page, *db, "CreatePublicUser", {Variant(form)}, "/Default.asp", message)) SendSignUp(page, message);
}

AddPage signUp(std::string(kPath), {.get = SignUpPage, .post = SignUpPost, .isPublic = true});

}  // namespace

}  // namespace site
