// /Default.asp (the sign-in) and /Logout.asp.
#include "site/sign_in.h"

#include <algorithm>
#include <chrono>

#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/records.h"
#include "site/routes.h"
#include "site/throttle.h"

namespace site {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;

namespace {

constexpr std::string_view kAfterSignIn = "/Assignments/MyAssignments.asp";

std::string SignInDelayed(std::chrono::milliseconds wait) {
  const auto seconds = std::max<int64_t>(1, std::chrono::ceil<std::chrono::seconds>(wait).count());
  return "Sign-in is delayed after failed tries: try again in " + std::to_string(seconds) +
         (seconds == 1 ? " second." : " seconds.");
}

void SignInPage(PageContext& page) {
  if (page.SignIn()) {
    page.Redirect(page.Url(kAfterSignIn));
    return;
  }
  SendSignInForm(page, page.Query("ReturnTo"), "");
}

// The user id as the site stores it: ids are typed in any case, but the pages compare them exactly.
std::string StoredUserId(automation::Object& db, const std::string& typed) {
  auto rs = db.Call("GetUserRs", {Variant(typed)}).ToObject();
  if (AtEnd(*rs)) return typed;
  return FieldText(*rs, "UserId");
}

void SignInPost(PageContext& page) {
  const std::string typed = page.Form("UserId");
  const std::string password = page.Form("Password");
  const std::string returnTo = page.Form("ReturnTo");
  const std::string address = page.ClientAddress();
  Host& host = page.SiteHost();
  // While the user id or the address is held back after wrong passwords, the password is not
  // checked at all, and every try hears how long the wait is: a guess then tells nothing, right or
  // not, and the real user knows to wait rather than doubt his password.
  if (const auto wait = host.Throttle().Wait(typed, address); wait > SignInThrottle::kNoWait) {
    SendSignInForm(page, returnTo, SignInDelayed(wait));
    return;
  }
  auto db = page.Database();
  if (!db->Call("Login", {Variant(typed), Variant(password)}).ToBool()) {
    host.Throttle().Failed(typed, address);
    SendSignInForm(page, returnTo, kSignInRefused);
    return;
  }
  host.Throttle().Succeeded(typed, address);
  const std::string userId = StoredUserId(*db, typed);
  // A new id on every sign-in: an id known before it opens nothing after it.
  if (page.SignIn()) host.Sessions().End(page.SignIn()->id);
  const Session s = host.Sessions().Start(userId);
  page.SetHeader("Set-Cookie", host.SignInCookie(s));
  page.Redirect(IsLocalPath(returnTo, host.Options().root) ? returnTo : page.Url(kAfterSignIn));
}

void LogoutPage(PageContext& page) {
  if (page.SignIn()) page.SiteHost().Sessions().End(page.SignIn()->id);
  page.SetHeader("Set-Cookie", page.SiteHost().SignOutCookie());
  page.Redirect(page.Url("/Default.asp"));
}

AddPage signIn("/Default.asp",
               {.get = SignInPage, .post = SignInPost, .form = FormType::UrlEncoded, .isPublic = true});
AddPage logout("/Logout.asp", {.get = LogoutPage, .post = LogoutPage, .form = FormType::Either, .isPublic = true});

// Every other page asked for without a sign-in answers with the form, and comes back after it.
const bool signInFormSet = [] {
  SetSignInFormWriter([](PageContext& page, std::string_view returnTo) { SendSignInForm(page, returnTo, ""); });
  return true;
}();

}  // namespace

void SendSignInForm(PageContext& page, std::string_view returnTo, std::string_view message) {
  std::string body =
      "<form name=fSignIn method=post action=\"" + HtmlAttribute(page.Url("/Default.asp")) + "\">\r\n"
      "<table class=box align=center cellpadding=4>\r\n"
      "<tr><td colspan=2 class=box2><b>Sign in</b></td></tr>\r\n"
      "<tr><td class=FormLabels>User id</td><td class=FormFields>"
      "<input id=UserId name=UserId maxlength=50 value=\"" +
      HtmlAttribute(page.Form("UserId")) +
      "\"></td></tr>\r\n"
      "<tr><td class=FormLabels>Password</td><td class=FormFields>"
      "<input id=Password name=Password type=password maxlength=50></td></tr>\r\n"
      "<tr><td></td><td><input id=SignIn type=submit value=\"Sign in\"></td></tr>\r\n"
      "</table>\r\n"
      "<input type=hidden name=ReturnTo value=\"" +
      HtmlAttribute(returnTo) + "\">\r\n" + page.TokenField() + "</form>\r\n";
  if (!message.empty()) body += "<p id=Message class=ErrorText align=center>" + HtmlText(message) + "</p>\r\n";
  // A visitor may make himself a public user while some project is open to public users.
  if (page.Database()->Call("CanDoPublicSignup").ToBool())
    body += "<p align=center><a id=SignUp href=\"" + HtmlAttribute(page.Url("/User/SignUp.asp")) +
            "\">Sign up as a new user...</a></p>\r\n";
  body += "<script>document.fSignIn.UserId.focus();</script>\r\n";
  page.SendPage("Sign in", body);
}

}  // namespace site
