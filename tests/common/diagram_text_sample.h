// A diagram text of three states and three actions (one of them state 5's reassignment rule), and
// the canvas walk that writes it back unchanged: each state's node where the text put it, each
// action's link from its state with both ends and its loaded line type.
#pragma once

#include <string>
#include <vector>

#include "common/diagram_text.h"

namespace tamsolo::diagramtest {

inline std::string CrLf(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

inline std::string TextD() {
  return CrLf({"<!-- diagram -->", "1", "1",
               "3",
               "1", "1", "na", "na", "na", "False", "False", "300", "300", "1500", "600", "0", "2", "Customers",
               "Testers", "1", "Developers",
               "5", "0", "New", "New", "Open", "True", "False", "300", "2900", "1800", "600", "2", "Summary",
               "PriorityCode",
               "7", "0", "Fixed - Closed", "Fixed", "Closed", "True", "True", "2100", "2900", "1800", "600", "0",
               "3",
               "10", "2", "1", "5", "0", "Submit", "False", "", "0", "1", "Developers",
               "11", "2", "5", "7", "1", "Fix", "True", "Developers", "2", "3500", "1200", "3600.5", "1800", "2",
               "Developers", "QA \"Team\"",
               "0", "2", "5", "5", "1", "Testers"});
}

// The walk of a canvas loaded from `d`: nodes in the text's order, links of each state's actions.
inline std::vector<diagram::SaveNode> Walk(const diagram::Diagram& d) {
  std::vector<diagram::SaveNode> nodes;
  for (const diagram::DiagramState& s : d.states) {
    diagram::SaveNode n{&s, s.top, s.left, s.width, s.height, {}};
    for (const diagram::DiagramAction& a : d.actions) {
      if (a.fromId != s.id) continue;
      diagram::SaveLink l{&a, a.toId, a.lineType, {{1, 1}}};
      l.points.insert(l.points.end(), a.points.begin(), a.points.end());
      l.points.push_back({2, 2});
      n.links.push_back(l);
    }
    nodes.push_back(n);
  }
  return nodes;
}

}  // namespace tamsolo::diagramtest
