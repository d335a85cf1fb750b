#include "workflow_diagram/tool_pictures.h"

#include "workflow_diagram/workflow_diagram.h"

namespace tamsolo {

namespace {

// Drawn on the button face; every "#" of the SVG's colours is written "%23" in the URL.
std::string Svg(const std::string& shapes) {
  return "data:image/svg+xml," 
         "%3Csvg xmlns='http://www.w3.org/2000/svg' width='21' height='21' viewBox='0 0 21 21'%3E" +
         shapes + "%3C/svg%3E";
}

}  // namespace

std::string ToolPicture(int32_t command) {
  switch (command) {
    case wf::kSelect:
      return Svg("%3Cpath d='M6 3v13l3-3 2.5 5 2-1-2.5-5h4z' fill='white' stroke='black'/%3E");
    case wf::kNewState:
      return Svg("%3Crect x='3.5' y='6.5' width='14' height='9' fill='white' stroke='black'/%3E");
    case wf::kNewIssueCreate:
      return Svg("%3Crect x='3.5' y='6.5' width='14' height='9' fill='white' stroke='black'/%3E"
                 "%3Cpath d='M10.5 7.5l1 2.2 2.3.2-1.8 1.5.6 2.3-2.1-1.3-2.1 1.3.6-2.3-1.8-1.5 2.3-.2z' "
                 "fill='%23FFD700' stroke='%23806000' stroke-width='.5'/%3E");
    case wf::kNewAction:
      return Svg("%3Cpath d='M3 17L16 4' stroke='black' stroke-width='1.2'/%3E"
                 "%3Cpath d='M17 3l-6 2 4 4z' fill='black'/%3E");
    default:
      return "";
  }
}

std::string ToolTitle(int32_t command) {
  switch (command) {
    case wf::kSelect: return "Select";
    case wf::kNewState: return "New state";
    case wf::kNewIssueCreate: return "New issue-create state";
    case wf::kNewAction: return "New action";
    default: return "";
  }
}

}  // namespace tamsolo
