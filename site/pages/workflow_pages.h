// The workflow pages of the administration: the editor's page (SiteWorkflow.asp, and its inquiry
// form SiteWorkflowInquiry.asp) places the WorkflowDiagram control; WorkflowData.asp answers its
// two loads and WorkflowSave.asp its save.
#pragma once

#include <string>

namespace site {

class PageContext;

// The page body around the control: editable with Save and Cancel, or for looking only.
std::string WorkflowEditorBody(PageContext& page, bool inquiry);

// The name under which WorkflowData.asp keeps the workflow row with the sign-in for the save.
inline constexpr const char* kKeptWorkflow = "SiteWorkflowRs";

}  // namespace site
