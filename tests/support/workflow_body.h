// The diagram editor's body of a workflow save, for the tests and the benchmark: states and
// actions as the editor holds them and the multipart body it posts for them (boundary line, parts
// in its order, numbers formatted as it formats them).
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/multipart.h"

namespace brisquel::workflowtest {

struct EditorState {
  long id = 0;
  int type = 0;  // 1: the issue-create state
  std::string name, resolutionCode, statusCode;
  bool valid = false, fixed = false;
  double top = 0, left = 0, width = 0, height = 0;
  std::vector<std::string> validations;
  std::vector<std::string> createByGroups, createByTeamLeads;
};

struct EditorAction {
  long id = 0;
  long type = 0;
  long fromId = 0, toId = 0;
  int lineType = 0;
  std::vector<std::pair<double, double>> points;  // the bends only
  std::string name;
  bool allowAutoAssign = false;
  std::string autoAssignsTo;
  std::vector<std::string> canBeAssignedTo;
};

inline constexpr const char* kBoundary = "-----------------------------7d114d2a100b3e";

inline std::string Fixed6(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

inline std::string Joined(const std::vector<std::string>& items, const std::string& none) {
  if (items.empty()) return none;
  std::string s;
  for (const std::string& i : items) s += (s.empty() ? "" : ",") + i;
  return s;
}

// Each code in double quotes, inner quotes doubled; "" for none.
inline std::string Quoted(const std::vector<std::string>& groups) {
  if (groups.empty()) return "\"\"";
  std::string s;
  for (const std::string& g : groups) {
    std::string q = "\"";
    for (char c : g) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    s += (s.empty() ? "" : ",") + q + "\"";
  }
  return s;
}

inline std::string Points(const std::vector<std::pair<double, double>>& pts) {
  if (pts.empty()) return "-1,-1";
  std::string s;
  for (const auto& [x, y] : pts) s += (s.empty() ? "" : ",") + Fixed6(x) + "," + Fixed6(y);
  return s;
}

// A body part by part, as the editor writes it.
class Body {
 public:
  Body& Part(const std::string& name, const std::string& value) {
    text_ += std::string(kBoundary) + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
             "\r\n";
    return *this;
  }
  std::string Text() const { return text_ + kBoundary + "--\r\n"; }

 private:
  std::string text_;
};

inline void StateParts(Body& b, const EditorState& s) {
  const bool create = s.type == 1;
  b.Part("StateId", std::to_string(s.id)).Part("StateType", std::to_string(s.type));
  b.Part("DiagramTop", Fixed6(s.top)).Part("DiagramLeft", Fixed6(s.left));
  b.Part("DiagramWidth", Fixed6(s.width)).Part("DiagramHeight", Fixed6(s.height));
  b.Part("Validations", Joined(s.validations, "*none*"));
  b.Part("StateName", create ? "na" : s.name).Part("ResolutionCode", create ? "na" : s.resolutionCode);
  b.Part("StatusCode", create ? "na" : s.statusCode);
  b.Part("IssueValid", create ? "na" : s.valid ? "on" : "off");
  b.Part("IssueFixed", create ? "na" : s.fixed ? "on" : "off");
  b.Part("CreateByGroups", create ? Joined(s.createByGroups, "\"\"") : "\"\"");
  b.Part("CreateByTeamLeads", create ? Joined(s.createByTeamLeads, "\"\"") : "\"\"");
}

inline void ActionParts(Body& b, const EditorAction& a) {
  b.Part("ActionId", std::to_string(a.id)).Part("ActionType", std::to_string(a.type));
  b.Part("FromId", std::to_string(a.fromId)).Part("ToId", std::to_string(a.toId));
  b.Part("LineType", std::to_string(a.lineType)).Part("Points", Points(a.points));
  b.Part("ActionName", a.name).Part("AllowAutoAssign", a.allowAutoAssign ? "yes" : "no");
  b.Part("AutoAssignsTo", a.autoAssignsTo).Part("CanBeAssignedTo", Quoted(a.canBeAssignedTo));
}

// The body of a save: the states, then for each state its actions (in the order given).
inline std::string SaveBody(const std::vector<EditorState>& states, const std::vector<EditorAction>& actions) {
  Body b;
  b.Part("WorkflowId", "1");
  for (const EditorState& s : states) StateParts(b, s);
  for (const EditorState& s : states)
    for (const EditorAction& a : actions)
      if (a.fromId == s.id) ActionParts(b, a);
  for (const EditorAction& a : actions) {  // actions from no posted state come last
    bool placed = false;
    for (const EditorState& s : states) placed = placed || a.fromId == s.id;
    if (!placed) ActionParts(b, a);
  }
  return b.Text();
}

// The posted form as the page decodes it.
inline std::shared_ptr<MultipartFormData> Decoded(const std::string& body) {
  auto form = std::make_shared<MultipartFormData>();
  form->SetBody(body);
  return form;
}

}  // namespace brisquel::workflowtest
