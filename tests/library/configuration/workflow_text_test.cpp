// The editor's save body, written from a diagram text by the shared exchange code, decoded by the
// page's MultipartFormData and stored by UpdateWorkflow on a real site.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/diagram_text_sample.h"
#include "common/diagram_text.h"
#include "workflow_editor.h"

namespace brisquel::workflowtest {
namespace {

namespace diagram = tamsolo::diagram;
using tamsolo::diagramtest::TextD;
using tamsolo::diagramtest::Walk;

class WorkflowText : public WorkflowSite {
 protected:
  bool Post(const std::string& body) {
    return UpdateWorkflow(*db, "admin", GetSiteWorkflowRs(*db), Decoded(body));
  }
};

TEST_F(WorkflowText, TextDSavedThroughThePageStoresItsStatesActionsPointsAndGroups) {
  sql->Exec("insert into Groups (GroupCode) values ('QA \"Team\"')");
  diagram::Diagram d = diagram::ReadDiagram(TextD());
  std::string body = diagram::SaveBody(Walk(d));
  auto form = Decoded(body);
  EXPECT_EQ(form->Fields()->Values("CanBeAssignedTo").size(), 3u);
  ASSERT_TRUE(Post(body)) << db->LastErrorMessage();
  EXPECT_EQ(Definition(),
            (std::vector<std::string>{
                // names in the site's order, which ignores case; field keys as the key orders them
                "Fixed - Closed|0|Fixed|Closed|1|1|2100.0|2900.0|1800.0|600.0|||",
                "na|1|na|na|0|0|300.0|300.0|1500.0|600.0||Customers,Testers|Developers",
                "New|0|New|Open|1|0|300.0|2900.0|1800.0|600.0|PriorityCode,Summary||",
                "action 2|na|New|0|Submit|0|||Developers",
                "action 2|New|Fixed - Closed|1|Fix|1|Developers|3500.0,1200.0;3600.5,1800.0|Developers,QA \"Team\"",
                "action 2|New|New|0||0|||Testers",
            }));
}

TEST_F(WorkflowText, PercentAndPlusInStateTextsSurviveASave) {
  diagram::DiagramState s;
  s.id = -1;
  s.name = s.resolutionCode = "C++ 50%";
  s.statusCode = "Open+";
  std::string body = diagram::SaveBody({diagram::SaveNode{&s, 1, 2, 3, 4, {}}});
  EXPECT_NE(body.find("\r\n\r\nC%2B%2B 50%25\r\n"), std::string::npos);
  ASSERT_TRUE(Post(body)) << db->LastErrorMessage();
  EXPECT_EQ(sql->Rows("select StateName, ResolutionCode, StatusCode from WorkflowStates"),
            (std::vector<std::string>{"C++ 50%|C++ 50%|Open+"}));
}

}  // namespace
}  // namespace brisquel::workflowtest
