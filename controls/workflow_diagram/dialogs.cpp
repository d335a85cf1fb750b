#include "workflow_diagram/dialogs.h"

#include <algorithm>
#include <cctype>

#include "automation/text.h"

namespace tamsolo::dialogs {

namespace {

bool Holds(const Texts& list, const std::string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

std::vector<Item> Rows(const Texts& texts, const Texts& ticked) {
  std::vector<Item> out;
  for (size_t i = 0; i < texts.size(); ++i) out.push_back({texts[i], Holds(ticked, texts[i]), static_cast<int>(i)});
  SortItems(out);
  return out;
}

int RowOf(const std::vector<Item>& items, const std::string& text) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].text == text) return static_cast<int>(i);
  return -1;
}

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace

void SortItems(std::vector<Item>& items) {
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return automation::LowerAscii(a.text) < automation::LowerAscii(b.text);
  });
}

Texts Ticked(const std::vector<Item>& items) {
  Texts out;
  for (const Item& i : items)
    if (i.ticked) out.push_back(i.text);
  return out;
}

// ---- the state dialog

StateForm OpenState(const DiagramState& s, bool isNew, const ChoiceLists& lists) {
  StateForm f;
  f.title = isNew ? "New State" : "Modify State - " + s.name;
  f.resolutions = Rows(lists.resolutions, {});
  f.statuses = Rows(lists.statuses, {});
  f.resolution = RowOf(f.resolutions, s.resolutionCode);
  f.status = RowOf(f.statuses, s.statusCode);
  f.valid = s.valid;
  f.fixed = s.fixed;
  // The state's required fields first, in its order, then every other field; a key the field
  // lists no longer hold has no row, and so is dropped by OK.
  std::vector<bool> shown(lists.fieldKeys.size(), false);
  for (const std::string& key : s.validations)
    for (size_t i = 0; i < lists.fieldKeys.size() && i < lists.fieldCaptions.size(); ++i)
      if (lists.fieldKeys[i] == key && !shown[i]) {
        f.required.push_back({lists.fieldCaptions[i], true, static_cast<int>(i)});
        shown[i] = true;
      }
  for (size_t i = 0; i < lists.fieldKeys.size() && i < lists.fieldCaptions.size(); ++i)
    if (!shown[i]) f.required.push_back({lists.fieldCaptions[i], false, static_cast<int>(i)});
  f.reassign = Rows(lists.groups, s.reassignGroups);
  return f;
}

std::optional<Refusal> CheckState(const StateForm& f, int32_t stateId, const std::map<int32_t, DiagramState>& others) {
  if (f.resolution < 0) return Refusal{"Resolution cannot be blank.", 251};
  if (f.status < 0) return Refusal{"Status cannot be blank.", 252};
  // For a modified state too: two states of one pair would make the save's issue flags and its
  // relinking of the transition rules ambiguous.
  const std::string& resolution = f.resolutions[static_cast<size_t>(f.resolution)].text;
  const std::string& status = f.statuses[static_cast<size_t>(f.status)].text;
  for (const auto& [id, other] : others)
    if (id != stateId && other.resolutionCode == resolution && other.statusCode == status)
      return Refusal{"Another state exists for this resolution and status.", 251};
  return std::nullopt;
}

void WriteState(const StateForm& f, const ChoiceLists& lists, DiagramState& s) {
  s.resolutionCode = f.resolutions[static_cast<size_t>(f.resolution)].text;
  s.statusCode = f.statuses[static_cast<size_t>(f.status)].text;
  s.name = s.resolutionCode + (s.statusCode == "Open" ? "" : " - Closed");
  s.valid = f.valid;
  s.fixed = f.fixed;
  s.validations.clear();
  for (const Item& i : f.required)
    if (i.ticked && i.index >= 0 && static_cast<size_t>(i.index) < lists.fieldKeys.size())
      s.validations.push_back(lists.fieldKeys[static_cast<size_t>(i.index)]);
  s.reassignGroups = Ticked(f.reassign);
}

// ---- the action dialog

ActionForm OpenAction(const DiagramAction& a, bool isNew, int32_t sourceType, const ChoiceLists& lists) {
  ActionForm f;
  f.title = isNew ? "New Action" : "Modify Action - " + a.name;
  f.name = a.name;
  f.groups = Rows(lists.groups, a.canBeAssignedTo);
  f.choice = a.type == 0 ? kCannotReassign : a.type == 1 ? kToCreator : kToMembers;
  f.fromIssueCreate = sourceType == 1;
  if (f.fromIssueCreate) f.choice = kToMembers;
  f.automatic = a.allowAutoAssign;
  for (const Item& g : f.groups)
    if (g.ticked) f.assignees.push_back({g.text, false, g.index});
  f.assignee = RowOf(f.assignees, a.autoAssignsTo);
  Refresh(f);
  return f;
}

void Refresh(ActionForm& f) {
  const std::string chosen = f.assignee >= 0 && static_cast<size_t>(f.assignee) < f.assignees.size()
                                 ? f.assignees[static_cast<size_t>(f.assignee)].text
                                 : std::string();
  f.assignees.clear();
  for (const Item& g : f.groups)
    if (g.ticked) f.assignees.push_back({g.text, false, g.index});
  f.assignee = chosen.empty() ? -1 : RowOf(f.assignees, chosen);
  const bool members = f.choice == kToMembers;
  f.groupsEnabled = f.automaticEnabled = members;
  f.assigneeEnabled = f.teamLead = members && f.automatic;
}

std::optional<Refusal> CheckAction(const ActionForm& f) {
  if (f.choice != kToMembers) return std::nullopt;
  if (Ticked(f.groups).empty()) return Refusal{"At least one group must be selected.", 245};
  if (f.automatic && f.assignee < 0) return Refusal{"Automatic assigns to is required.", 247};
  return std::nullopt;
}

void WriteAction(const ActionForm& f, DiagramAction& a) {
  a.name = Trimmed(f.name);
  a.type = f.choice == kCannotReassign ? 0 : f.choice == kToCreator ? 1 : 2;
  const bool members = f.choice == kToMembers;
  a.canBeAssignedTo = members ? Ticked(f.groups) : Texts{};
  a.allowAutoAssign = members && f.automatic && f.assignee >= 0;
  a.autoAssignsTo = a.allowAutoAssign ? f.assignees[static_cast<size_t>(f.assignee)].text : std::string();
}

// ---- the issue-create dialog

IssueCreateForm OpenIssueCreate(const DiagramState& s, const ChoiceLists& lists) {
  IssueCreateForm f;
  f.creators = Rows(lists.groups, s.createByGroups);
  f.teamLeads = Rows(lists.groups, s.createByTeamLeads);
  return f;
}

std::optional<Refusal> CheckIssueCreate(const IssueCreateForm& f) {
  if (Ticked(f.creators).empty() && Ticked(f.teamLeads).empty())
    return Refusal{"At least one group must be allowed to create an issue.", 237};
  return std::nullopt;
}

void WriteIssueCreate(const IssueCreateForm& f, DiagramState& s) {
  s.createByGroups = Ticked(f.creators);
  s.createByTeamLeads = Ticked(f.teamLeads);
}

}  // namespace tamsolo::dialogs
