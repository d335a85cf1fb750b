// /Setup/SiteWorkflow.asp: the site workflow in its editor. Site administrators edit it; everyone
// else sees the inquiry form.
#include "automation/automation.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/workflow_pages.h"
#include "site/routes.h"

namespace site {

using automation::Variant;
using brisquel::encode::HtmlAttribute;

namespace {

std::string Param(const std::string& name, const std::string& value) {
  return "<param name=\"" + name + "\" value=\"" + HtmlAttribute(value) + "\">\r\n";
}

// The buttons follow the control's two events: they are live only while saving makes sense.
constexpr const char* kButtons =
    "<p><input type=button id=Save value=\"Save\" disabled onclick=\"Workflow.Save();\">&nbsp;"
    "<input type=button id=Cancel value=\"Cancel\" disabled onclick=\"Workflow.SendCommand(231);\"></p>\r\n"
    "<script language=javascript for=Workflow event=ReadyToSave>\r\n"
    "document.getElementById('Save').disabled = false;\r\n"
    "document.getElementById('Cancel').disabled = false;\r\n"
    "</script>\r\n"
    "<script language=javascript for=Workflow event=NotReadyToSave>\r\n"
    "document.getElementById('Save').disabled = true;\r\n"
    "document.getElementById('Cancel').disabled = true;\r\n"
    "</script>\r\n";

void SiteWorkflowPage(PageContext& page) {
  const bool admin = page.Database()->Call("UserIsSiteAdmin", {Variant(page.UserId())}).ToBool();
  page.SendPage("Workflow", WorkflowEditorBody(page, !admin));
}

AddPage siteWorkflow("/Setup/SiteWorkflow.asp", {.get = SiteWorkflowPage});

}  // namespace

std::string WorkflowEditorBody(PageContext& page, bool inquiry) {
  std::string body =
      "<object id=Workflow classid=\"clsid:5A978598-17E3-45A5-8C46-8F424EEA2E31\" width=900 height=520>\r\n";
  body += Param("DataURL", page.Url("/Setup/WorkflowData.asp?Text=lists"));
  body += Param("DownloadURL", page.Url("/Setup/WorkflowData.asp?Text=diagram"));
  if (inquiry) {
    body += Param("InquiryMode", "True");
  } else {
    body += Param("UploadURL", page.Url("/Setup/WorkflowSave.asp?_token=") + (page.SignIn() ? page.SignIn()->token : ""));
  }
  body += "</object>\r\n";
  if (!inquiry) body += kButtons;
  return body;
}

}  // namespace site
