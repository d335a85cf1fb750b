// /Setup/WorkflowSave.asp: the workflow editor's save. The posted diagram goes to UpdateWorkflow
// with the workflow row WorkflowData.asp kept when it was loaded; the editor reads the answer:
// "ok", or "error", a number and the sentence to show.
#include "automation/automation.h"
#include "brisquel/constants.h"
#include "site/host.h"
#include "site/pages/workflow_pages.h"
#include "site/routes.h"

namespace site {

using automation::Variant;

namespace {

std::string Refusal(int32_t number, const std::string& sentence) {
  return "error\r\n" + std::to_string(number) + "\r\n" + sentence + "\r\n";
}

std::string Saved(PageContext& page) {
  auto db = page.Database();
  const std::string user = page.UserId();
  if (!db->Call("UserIsSiteAdmin", {Variant(user)}).ToBool()) return Refusal(0, brisquel::kPermissionDenied);
  std::optional<std::string> kept = page.SiteHost().Sessions().Kept(page.SignIn()->id, kKeptWorkflow);
  if (!kept || kept->empty()) return Refusal(0, "Reload the workflow before saving it.");
  auto form = page.FormData();
  auto workflow = db->Call("rsFromString", {Variant(*kept)});
  if (db->Call("UpdateWorkflow", {Variant(user), workflow, Variant(form)}).ToBool()) return "ok\r\n";
  return Refusal(0, db->Get("LastErrorMessage").ToText());
}

void WorkflowSavePost(PageContext& page) {
  std::string reply;
  try {
    reply = Saved(page);
  } catch (const automation::ComError& e) {
    reply = Refusal(e.number, "An unexpected error has occurred. (Error number: " + std::to_string(e.number) + ")");
  }
  page.SendText("text/plain; charset=utf-8", reply);
}

AddPage workflowSave("/Setup/WorkflowSave.asp", {.post = WorkflowSavePost});

}  // namespace

}  // namespace site
