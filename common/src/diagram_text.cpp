#include "common/diagram_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace tamsolo::diagram {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kCommentEnd = "-->\r\n";
constexpr std::string_view kDebugInfo = "<!--METADATA TYPE=\"ASP_DEBUG_INFO\"";
constexpr const char* kEmptyPair = "\"\"";

// The lines of a text received whole. Text after the last CR LF reads as one empty line. Every
// list stops early when the text runs out, keeping the items it got; since each item takes at
// least one line, a count of two thousand million cannot keep the editor looping.
class Reader {
 public:
  explicit Reader(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find(kCrLf, at);
      if (end == std::string_view::npos) {
        lines_.emplace_back();
        break;
      }
      lines_.emplace_back(text.substr(at, end - at));
      at = end + kCrLf.size();
    }
  }
  bool AtEnd() const { return next_ >= lines_.size(); }
  std::string Line() { return AtEnd() ? std::string() : lines_[next_++]; }
  int32_t Int() { return Integer(Line()); }
  float Pos() { return Position(Line()); }
  bool Flag() { return Line() == "True"; }
  int32_t Count() { return std::max(Int(), 0); }
  void List(Texts& out) {
    for (int32_t n = Count(); n > 0 && !AtEnd(); --n) out.push_back(Line());
  }

 private:
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

DiagramState ReadState(Reader& r) {
  DiagramState s;
  s.id = r.Int();
  s.type = r.Int();
  s.name = r.Line();
  s.resolutionCode = r.Line();
  s.statusCode = r.Line();
  s.valid = r.Flag();
  s.fixed = r.Flag();
  s.top = r.Pos();
  s.left = r.Pos();
  s.width = r.Pos();
  s.height = r.Pos();
  r.List(s.validations);
  if (s.type == 1) {
    r.List(s.createByGroups);
    r.List(s.createByTeamLeads);
  }
  return s;
}

void ReadLink(Reader& r, DiagramAction& a) {
  a.lineType = r.Int();
  a.name = r.Line();
  a.allowAutoAssign = r.Flag();
  a.autoAssignsTo = r.Line();
  for (int32_t n = r.Count(); n > 0 && !r.AtEnd(); --n) {
    float x = r.Pos(), y = r.Pos();
    a.points.emplace_back(x < 0 ? 0.0f : x, y < 0 ? 0.0f : y);
  }
  r.List(a.canBeAssignedTo);
}

DiagramState* StateById(Diagram& d, int32_t id) {
  for (DiagramState& s : d.states)
    if (s.id == id) return &s;
  return nullptr;
}

void ReadAction(Reader& r, Diagram& d) {
  DiagramAction a;
  a.id = r.Int();
  a.type = r.Int();
  a.fromId = r.Int();
  a.toId = r.Int();
  if (a.fromId == a.toId) {
    Texts groups;
    r.List(groups);
    if (DiagramState* s = StateById(d, a.fromId)) s->reassignGroups = std::move(groups);
    return;
  }
  ReadLink(r, a);
  bool placed = StateById(d, a.fromId) && StateById(d, a.toId);
  (placed ? d.actions : d.unplaceable).push_back(std::move(a));
}

std::string Fixed(float v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", static_cast<double>(v));
  return buf;
}

std::string Joined(const Texts& items, const char* none) {
  if (items.empty()) return none;
  std::string s;
  for (const std::string& i : items) s += (s.empty() ? "" : ",") + i;
  return s;
}

std::string Quoted(const Texts& groups) {
  if (groups.empty()) return kEmptyPair;
  std::string s;
  for (const std::string& g : groups) {
    if (!s.empty()) s += ',';
    s += '"';
    for (char c : g) s += c == '"' ? std::string("\"\"") : std::string(1, c);
    s += '"';
  }
  return s;
}

std::string Bends(const std::vector<Point>& points) {
  if (points.size() <= 2) return "-1,-1";
  std::string s;
  for (size_t i = 1; i + 1 < points.size(); ++i)
    s += (i == 1 ? "" : ",") + Fixed(points[i].first) + "," + Fixed(points[i].second);
  return s;
}

class Body {
 public:
  void Part(const char* name, const std::string& value) {
    text_ += kBoundary;
    text_ += "\r\nContent-Disposition: form-data; name=\"";
    text_ += name;
    text_ += "\"\r\n\r\n" + value + "\r\n";
  }
  std::string Close() { return text_ + kBoundary + "--\r\n"; }

 private:
  std::string text_;
};

void StateParts(Body& b, const SaveNode& n) {
  const DiagramState& s = *n.state;
  const bool create = s.type == 1;
  b.Part("StateId", std::to_string(s.id));
  b.Part("StateType", std::to_string(s.type));
  b.Part("DiagramTop", Fixed(n.top));
  b.Part("DiagramLeft", Fixed(n.left));
  b.Part("DiagramWidth", Fixed(n.width));
  b.Part("DiagramHeight", Fixed(n.height));
  b.Part("Validations", Joined(s.validations, "*none*"));
  b.Part("StateName", create ? "na" : PageSafe(s.name));
  b.Part("ResolutionCode", create ? "na" : PageSafe(s.resolutionCode));
  b.Part("StatusCode", create ? "na" : PageSafe(s.statusCode));
  b.Part("IssueValid", create ? "na" : s.valid ? "on" : "off");
  b.Part("IssueFixed", create ? "na" : s.fixed ? "on" : "off");
  b.Part("CreateByGroups", create ? Joined(s.createByGroups, kEmptyPair) : kEmptyPair);
  b.Part("CreateByTeamLeads", create ? Joined(s.createByTeamLeads, kEmptyPair) : kEmptyPair);
}

struct ActionFields {
  int32_t id, type, fromId, toId, lineType;
  std::string points, name;
  bool allowAutoAssign;
  std::string autoAssignsTo;
  const Texts& groups;
};

void ActionParts(Body& b, const ActionFields& a) {
  b.Part("ActionId", std::to_string(a.id));
  b.Part("ActionType", std::to_string(a.type));
  b.Part("FromId", std::to_string(a.fromId));
  b.Part("ToId", std::to_string(a.toId));
  b.Part("LineType", std::to_string(a.lineType));
  b.Part("Points", a.points);
  b.Part("ActionName", a.name);
  b.Part("AllowAutoAssign", a.allowAutoAssign ? "yes" : "no");
  b.Part("AutoAssignsTo", a.autoAssignsTo);
  b.Part("CanBeAssignedTo", Quoted(a.groups));
}

void NodeActions(Body& b, const SaveNode& n) {
  const DiagramState& s = *n.state;
  if (!s.reassignGroups.empty())
    ActionParts(b, {0, 2, s.id, s.id, 0, "-1,-1", "", false, "", s.reassignGroups});
  for (const SaveLink& l : n.links) {
    if (!l.action) continue;
    const DiagramAction& a = *l.action;
    ActionParts(b, {a.id, a.type, s.id, l.toId, l.lineType, Bends(l.points), a.name, a.allowAutoAssign,
                    a.autoAssignsTo, a.canBeAssignedTo});
  }
}

// Lines as the readers above take them back.
class Writer {
 public:
  void Line(std::string_view s) {
    text_ += s;
    text_ += kCrLf;
  }
  void Int(int64_t v) { Line(std::to_string(v)); }
  void Flag(bool v) { Line(v ? "True" : "False"); }
  // The shortest decimal that reads back as the same float.
  void Pos(float v) {
    char buf[64] = "0";
    for (int decimals = 0; decimals <= 9; ++decimals) {
      std::snprintf(buf, sizeof buf, "%.*f", decimals, static_cast<double>(v));
      if (std::strtof(buf, nullptr) == v) break;
    }
    Line(buf);
  }
  void List(const Texts& items) {
    Int(static_cast<int64_t>(items.size()));
    for (const std::string& i : items) Line(i);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

void WriteState(Writer& w, const DiagramState& s) {
  w.Int(s.id);
  w.Int(s.type);
  w.Line(s.name);
  w.Line(s.resolutionCode);
  w.Line(s.statusCode);
  w.Flag(s.valid);
  w.Flag(s.fixed);
  for (float v : {s.top, s.left, s.width, s.height}) w.Pos(v);
  w.List(s.validations);
  if (s.type == 1) {
    w.List(s.createByGroups);
    w.List(s.createByTeamLeads);
  }
}

void WriteLink(Writer& w, const DiagramAction& a) {
  for (int32_t v : {a.id, a.type, a.fromId, a.toId, a.lineType}) w.Int(v);
  w.Line(a.name);
  w.Flag(a.allowAutoAssign);
  w.Line(a.autoAssignsTo);
  w.Int(static_cast<int64_t>(a.points.size()));
  for (const Point& p : a.points) {
    w.Pos(p.first);
    w.Pos(p.second);
  }
  w.List(a.canBeAssignedTo);
}

}  // namespace

std::string WriteChoiceLists(const ChoiceLists& lists) {
  Writer w;
  for (const Texts* list : {&lists.resolutions, &lists.statuses, &lists.groups, &lists.fieldCaptions, &lists.fieldKeys})
    w.List(*list);
  return w.Take();
}

std::string WriteDiagram(int32_t version, const Diagram& d) {
  Writer w;
  w.Int(1);
  w.Int(version);
  w.Int(static_cast<int64_t>(d.states.size()));
  for (const DiagramState& s : d.states) WriteState(w, s);
  size_t rules = 0;
  for (const DiagramState& s : d.states) rules += s.reassignGroups.empty() ? 0 : 1;
  w.Int(static_cast<int64_t>(d.actions.size() + rules));
  for (const DiagramAction& a : d.actions) WriteLink(w, a);
  for (const DiagramState& s : d.states) {
    if (s.reassignGroups.empty()) continue;
    for (int32_t v : {0, 2, s.id, s.id}) w.Int(v);
    w.List(s.reassignGroups);
  }
  return w.Take();
}

std::string_view DropLeadingComment(std::string_view text) {
  if (!text.starts_with("<!--")) return text;
  size_t end = text.find(kCommentEnd, 4);
  return end == std::string_view::npos ? text : text.substr(end + kCommentEnd.size());
}

std::string_view DropDebugInfo(std::string_view text) {
  if (!text.starts_with(kDebugInfo)) return text;
  size_t end = text.find(kCommentEnd, kDebugInfo.size());
  return end == std::string_view::npos ? text : text.substr(end + kCommentEnd.size());
}

int32_t Integer(const std::string& line) {
  // Out of range saturates, as the editor's C library did, on every platform alike.
  long long v = std::strtoll(line.c_str(), nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

float Position(const std::string& line) { return static_cast<float>(std::strtod(line.c_str(), nullptr)); }

std::string PageSafe(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '%' ? std::string("%25") : c == '+' ? std::string("%2B") : std::string(1, c);
  return out;
}

void ReadChoiceLists(std::string_view text, ChoiceLists& lists) {
  Reader r(DropLeadingComment(text));
  for (Texts* list : {&lists.resolutions, &lists.statuses, &lists.groups, &lists.fieldCaptions, &lists.fieldKeys}) {
    list->clear();
    r.List(*list);
  }
}

Diagram ReadDiagram(std::string_view text) {
  Reader r(DropLeadingComment(text));
  Diagram d;
  for (int32_t n = r.Count(); n > 0 && !r.AtEnd(); --n) r.Int();
  std::set<int32_t> seen;
  for (int32_t n = r.Count(); n > 0 && !r.AtEnd(); --n) {
    DiagramState s = ReadState(r);
    if (seen.insert(s.id).second) d.states.push_back(std::move(s));
  }
  for (int32_t n = r.Count(); n > 0 && !r.AtEnd(); --n) ReadAction(r, d);
  return d;
}

std::string SaveBody(const std::vector<SaveNode>& nodes) {
  Body b;
  b.Part("WorkflowId", "1");
  for (const SaveNode& n : nodes)
    if (n.state) StateParts(b, n);
  for (const SaveNode& n : nodes)
    if (n.state) NodeActions(b, n);
  return b.Close();
}

SaveReply ReadSaveReply(std::string_view text) {
  text = DropDebugInfo(text);
  if (text.empty()) return {false, kUnexpectedError};
  size_t first = text.find(kCrLf);
  if (first != std::string_view::npos && text.substr(0, first) == "ok") return {true, ""};
  for (int line = 0; line < 2 && !text.empty(); ++line) {
    size_t end = text.find(kCrLf);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + kCrLf.size());
  }
  return {false, std::string(text)};
}

}  // namespace tamsolo::diagram
