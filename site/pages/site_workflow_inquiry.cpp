// /Setup/SiteWorkflowInquiry.asp: the site workflow for looking at only.
#include "site/host.h"
#include "site/pages/workflow_pages.h"
#include "site/routes.h"

namespace site {

namespace {

void SiteWorkflowInquiryPage(PageContext& page) { page.SendPage("Workflow", WorkflowEditorBody(page, true)); }

AddPage siteWorkflowInquiry("/Setup/SiteWorkflowInquiry.asp", {.get = SiteWorkflowInquiryPage});

}  // namespace

}  // namespace site
