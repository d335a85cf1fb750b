// The editor's three dialogs, as logic over the forms the user fills in: the state dialog (233),
// the action dialog (235) and the issue-create dialog (236). Opening fills a form from the record
// and the choice lists; the view shows it and lets the user change it; OK runs the checks in
// order and writes the form back into the record only when all pass. The view is a DOM dialog
// in the page, or a fake in the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/diagram_text.h"

namespace tamsolo::dialogs {

using diagram::ChoiceLists;
using diagram::DiagramAction;
using diagram::DiagramState;
using diagram::Texts;

// A row of a check list (a ticked row is a selected one) or of a drop-down list.
struct Item {
  std::string text;
  bool ticked = false;
  int index = -1;  // in its choice list
};
// Rows sorted as the lists keep them: by text without regard to case, in a stable way.
void SortItems(std::vector<Item>& items);

// A failed check: its sentence and the control that gets the focus.
struct Refusal {
  std::string message;
  int focus = 0;
};

struct StateForm {
  std::string title;
  std::vector<Item> resolutions, statuses;  // 251, 252
  int resolution = -1, status = -1;         // the selected row, -1 none
  bool valid = false, fixed = false;        // 253, 254
  std::vector<Item> required;               // 240, in the order added
  std::vector<Item> reassign;               // 245
};
StateForm OpenState(const DiagramState& s, bool isNew, const ChoiceLists& lists);
// `others`: the states of the diagram; the record itself (by id) is left out of the pair check.
std::optional<Refusal> CheckState(const StateForm& f, int32_t stateId, const std::map<int32_t, DiagramState>& others);
void WriteState(const StateForm& f, const ChoiceLists& lists, DiagramState& s);

enum ActionChoice { kCannotReassign = 248, kToCreator = 243, kToMembers = 244 };
struct ActionForm {
  std::string title;
  std::string name;                    // 242, at most 50 characters
  int choice = kToMembers;             // 248, 243 or 244
  bool fromIssueCreate = false;        // 248 and 243 disabled
  std::vector<Item> groups;            // 245
  bool automatic = false;              // 246
  std::vector<Item> assignees;         // 247: the ticked groups of 245
  int assignee = -1;                   // the selected row of 247
  // What the enabling rules allow now.
  bool groupsEnabled = true, automaticEnabled = true, assigneeEnabled = true, teamLead = true;
};
inline constexpr size_t kActionNameLimit = 50;
ActionForm OpenAction(const DiagramAction& a, bool isNew, int32_t sourceType, const ChoiceLists& lists);
// After a click of 248, 243, 244 or 246, and after each change of the ticks of 245 or of the
// choice in 247: the enabling rules and the refill of 247 that keeps its choice.
void Refresh(ActionForm& f);
std::optional<Refusal> CheckAction(const ActionForm& f);
void WriteAction(const ActionForm& f, DiagramAction& a);

struct IssueCreateForm {
  std::string title = "New Issue Properties";
  std::vector<Item> creators, teamLeads;  // 237, 238
};
IssueCreateForm OpenIssueCreate(const DiagramState& s, const ChoiceLists& lists);
std::optional<Refusal> CheckIssueCreate(const IssueCreateForm& f);
void WriteIssueCreate(const IssueCreateForm& f, DiagramState& s);

Texts Ticked(const std::vector<Item>& items);

}  // namespace tamsolo::dialogs
