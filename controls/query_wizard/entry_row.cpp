// What the wizard's dialog does: choosing a field, a condition and a value in the entry row, adding
// and changing criteria with it, and the list's Modify, Remove and move buttons.
#include <algorithm>
#include <ctime>

#include "automation/text.h"
#include "query_wizard/query_wizard.h"

namespace tamsolo {

namespace cr = criteria;

namespace {

const std::string kNoCondition;

bool IsTyped(const std::string& op) { return op == "contains" || op == "doesn't contain" || op == "is (exactly)"; }
bool IsContains(const std::string& op) { return op == "contains" || op == "doesn't contain"; }
bool IsSingleDate(const std::string& op) { return op == "on" || op == "on or after" || op == "on or before"; }

// Whether the criterion's value 1 is text typed into the edit box.
bool TakesTypedText(int32_t type, const std::string& op) {
  switch (type) {
    case cr::kText: return IsTyped(op);
    case cr::kCode: case cr::kProjectCode: case cr::kCommentLog: return IsContains(op);
    case cr::kNumber: return true;
    default: return false;
  }
}

int IndexOf(const std::vector<std::string>& items, const std::string& text) {
  auto it = std::find(items.begin(), items.end(), text);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

const std::string& SelectedText(const Widget& w) {
  return w.selected >= 0 && w.selected < static_cast<int>(w.items.size()) ? w.items[w.selected] : kNoCondition;
}

std::string TwoDigits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
}

// A picker's text, en-US short date ("M/d/yyyy") with " HH:mm" for a date-time picker, from the
// stored form "YYYY-MM-DD HH:MM..." of a value that reads as a date; "" when it does not.
std::string PickerText(const std::string& value, bool withTime) {
  const std::string stored = cr::StoredDateText(value, withTime);
  if (stored.empty()) return {};
  const int y = std::stoi(stored.substr(0, 4)), m = std::stoi(stored.substr(5, 2)), d = std::stoi(stored.substr(8, 2));
  std::string out = std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
  if (withTime) out += " " + stored.substr(11, 5);
  return out;
}

// Now, as a picker shows it when the dialog opens.
std::string Today(bool withTime) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  std::string out =
      std::to_string(t.tm_mon + 1) + "/" + std::to_string(t.tm_mday) + "/" + std::to_string(t.tm_year + 1900);
  if (withTime) out += " " + TwoDigits(t.tm_hour) + ":" + TwoDigits(t.tm_min);
  return out;
}

std::string DigitsOf(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c >= '0' && c <= '9') out += c;
  return out;
}

}  // namespace

const cr::FilterField* QueryWizard::ChosenField() const {
  const std::string& caption = SelectedText(state_[qw::kFields]);
  if (caption.empty()) return nullptr;
  for (const cr::FieldRef& f : catalogue_)
    if (f->caption == caption) return f.get();
  return nullptr;
}

const std::string& QueryWizard::ChosenCondition() const { return SelectedText(state_[qw::kConditions]); }

void QueryWizard::ChooseField(int index) {
  Widget& fields = state_[qw::kFields];
  fields.selected = index >= 0 && index < static_cast<int>(fields.items.size()) ? index : -1;
  if (!criteria_.empty() && !state_[qw::kAnd].pressed && !state_[qw::kOr].pressed) state_[qw::kAnd].pressed = true;
  const cr::FilterField* f = ChosenField();
  Widget& conditions = state_[qw::kConditions];
  conditions.items = f ? cr::OperatorsOf(*f) : std::vector<std::string>{};
  conditions.selected = conditions.items.empty() ? -1 : 0;
  if (!f) return;
  if (f->type == cr::kCode) {
    Widget& values = state_[qw::kCodeValues];
    values.items.clear();
    for (const cr::ValuePair& p : f->values) values.items.push_back(p.second);
    std::sort(values.items.begin(), values.items.end(), [](const std::string& a, const std::string& b) {
      return automation::LowerAscii(a) < automation::LowerAscii(b);
    });
    values.selected = -1;
  }
  if (f->type == cr::kProjectCode) {
    // Without a "ProjectCode" field there are no projects to offer.
    Widget& projects = state_[qw::kProjects];
    projects.items.clear();
    projects.selected = -1;
    for (const cr::FieldRef& p : catalogue_)
      if (automation::EqualsNoCase(p->name, "ProjectCode"))
        for (const cr::ValuePair& v : p->values) projects.items.push_back(v.second);
    state_[qw::kProjectValues].items.clear();
    state_[qw::kProjectValues].selected = -1;
  }
}

void QueryWizard::ChooseProject() {
  Widget& values = state_[qw::kProjectValues];
  values.items.clear();
  values.selected = -1;
  const cr::FilterField* f = ChosenField();
  const std::string& project = SelectedText(state_[qw::kProjects]);
  if (!f || project.empty()) return;
  for (const cr::ValuePair& p : f->values)
    if (p.first == project) values.items.push_back(p.second);
}

void QueryWizard::UpdateStates() {
  const Widget& list = state_[qw::kCriteria];
  const int n = static_cast<int>(list.items.size()), sel = list.selected;
  state_[qw::kModify].enabled = state_[qw::kRemove].enabled = sel >= 0;
  state_[qw::kMoveUp].enabled = sel > 0 && n > 1;
  state_[qw::kMoveDown].enabled = sel >= 0 && sel < n - 1 && n > 1;
  for (int id : {qw::kCodeValues, qw::kProjects, qw::kProjectValues, qw::kDate1, qw::kDate2, qw::kDateTime1,
                 qw::kDateTime2})
    state_[id].visible = false;
  Widget& edit = state_[qw::kValue];
  edit.visible = true;
  edit.digitsOnly = false;
  state_[qw::kValueLabel].text = "Value:";
  const cr::FilterField* f = ChosenField();
  for (int id : {qw::kConditions, qw::kOpen, qw::kClose, qw::kNot, qw::kAdd, qw::kClear}) state_[id].enabled = f;
  const bool conjunctions = f && (modifying_ < 0 ? n > 0 : modifying_ != 0);
  state_[qw::kAnd].enabled = state_[qw::kOr].enabled = conjunctions;
  if (!f) {
    edit.enabled = false;
    edit.text.clear();
    return;
  }
  UpdateValueControls(*f, ChosenCondition());
}

void QueryWizard::UpdateValueControls(const cr::FilterField& f, const std::string& op) {
  Widget& edit = state_[qw::kValue];
  edit.enabled = TakesTypedText(f.type, op);
  edit.digitsOnly = f.type == cr::kNumber;
  auto show = [&](std::initializer_list<int> ids, const char* label) {
    edit.visible = false;
    for (int id : ids) state_[id].visible = true;
    if (label) state_[qw::kValueLabel].text = label;
  };
  const bool dates = f.type == cr::kDate, times = f.type == cr::kDateTime;
  if (dates && IsSingleDate(op)) show({qw::kDate1}, nullptr);
  if (dates && op == "between") show({qw::kDate1, qw::kDate2}, "From and to dates:");
  if (times && IsSingleDate(op)) show({qw::kDateTime1}, nullptr);
  if (times && op == "between") show({qw::kDateTime1, qw::kDateTime2}, "From and to date/times:");
  if (f.type == cr::kCode && op == "is (exactly)") show({qw::kCodeValues}, nullptr);
  if (f.type == cr::kProjectCode && op == "is (exactly)")
    show({qw::kProjects, qw::kProjectValues}, "Project and value:");
}

// The focus goes to the missing value once the box is closed. False, for the reader that asked.
bool QueryWizard::Blank(int focus) {
  host_.MessageBox("Value cannot be blank.", "Error", mb::kIconWarning, mb::kOk, [this, focus](int) {
    if (view_) view_->Focus(focus);
  });
  return false;
}

// The values of the entry row into `c`; false (after telling the user) when one is missing.
bool QueryWizard::ReadValues(cr::FilterCriterion& c) {
  const int32_t t = c.field->type;
  c.value1.clear();
  c.value2.clear();
  if (TakesTypedText(t, c.op)) {
    c.value1 = std::string(automation::TrimBlanks(state_[qw::kValue].text));
    if (c.value1.empty()) return Blank(qw::kValue);
  } else if (t == cr::kCode && c.op == "is (exactly)") {
    c.value1 = SelectedText(state_[qw::kCodeValues]);
    if (c.value1.empty()) return Blank(qw::kCodeValues);
  } else if (t == cr::kProjectCode && c.op == "is (exactly)") {
    c.value1 = SelectedText(state_[qw::kProjectValues]);
    c.value2 = SelectedText(state_[qw::kProjects]);
    if (c.value1.empty() || c.value2.empty()) return Blank(qw::kProjectValues);
  } else if ((t == cr::kDate || t == cr::kDateTime) && (IsSingleDate(c.op) || c.op == "between")) {
    const bool times = t == cr::kDateTime;
    c.value1 = PickerText(state_[times ? qw::kDateTime1 : qw::kDate1].text, times);
    if (c.op == "between") c.value2 = PickerText(state_[times ? qw::kDateTime2 : qw::kDate2].text, times);
  }
  return true;
}

// One handler for "Add to List" and "Update". The criterion changes only once its values are
// all there, so a refused update leaves the row as it was.
void QueryWizard::AddOrUpdate() {
  const cr::FilterField* f = ChosenField();
  if (!f) return;
  const bool adding = modifying_ < 0;
  cr::FilterCriterion c = adding ? cr::FilterCriterion{} : criteria_[modifying_];
  c.conjunction = cr::kNone;
  if ((adding && !criteria_.empty()) || (!adding && modifying_ > 0))
    c.conjunction = state_[qw::kOr].pressed ? cr::kOr : cr::kAnd;
  c.open = state_[qw::kOpen].pressed;
  c.close = state_[qw::kClose].pressed;
  c.negate = state_[qw::kNot].pressed;
  c.field = cr::FindField(catalogue_, f->name);
  c.op = ChosenCondition();
  if (!ReadValues(c)) return Refresh();
  Widget& list = state_[qw::kCriteria];
  if (adding) {
    criteria_.push_back(c);
    list.items.push_back(RowText(c));
  } else {
    criteria_[modifying_] = c;
    list.items[modifying_] = RowText(c);
  }
  ClearEntry();
}

void QueryWizard::Modify() {
  const int sel = state_[qw::kCriteria].selected;
  if (sel < 0 || sel >= static_cast<int>(criteria_.size())) return;
  const cr::FilterCriterion c = criteria_[sel];
  modifying_ = sel;
  state_[qw::kAdd].text = "Update";
  const auto& captions = state_[qw::kFields].items;
  auto first = std::find_if(captions.begin(), captions.end(),
                            [&](const std::string& s) { return s.starts_with(c.field->caption); });
  ChooseField(first == captions.end() ? -1 : static_cast<int>(first - captions.begin()));
  state_[qw::kConditions].selected = IndexOf(state_[qw::kConditions].items, c.op);
  state_[qw::kAnd].pressed = c.conjunction == cr::kAnd;
  state_[qw::kOr].pressed = c.conjunction == cr::kOr;
  state_[qw::kOpen].pressed = c.open;
  state_[qw::kClose].pressed = c.close;
  state_[qw::kNot].pressed = c.negate;
  const int32_t t = c.field->type;
  if (TakesTypedText(t, c.op)) state_[qw::kValue].text = c.value1;
  if (t == cr::kCode) state_[qw::kCodeValues].selected = IndexOf(state_[qw::kCodeValues].items, c.value1);
  if (t == cr::kProjectCode) {
    state_[qw::kProjects].selected = IndexOf(state_[qw::kProjects].items, c.value2);
    if (!c.value2.empty()) {
      ChooseProject();
      state_[qw::kProjectValues].selected = IndexOf(state_[qw::kProjectValues].items, c.value1);
    }
  }
  if (t == cr::kDate || t == cr::kDateTime) {
    const bool times = t == cr::kDateTime;
    const std::pair<int, const std::string*> pickers[] = {{times ? qw::kDateTime1 : qw::kDate1, &c.value1},
                                                          {times ? qw::kDateTime2 : qw::kDate2, &c.value2}};
    for (const auto& [id, value] : pickers)
      if (std::string text = PickerText(*value, times); !text.empty()) state_[id].text = text;
  }
  if (view_) view_->Focus(qw::kFields);
}

void QueryWizard::Remove() {
  Widget& list = state_[qw::kCriteria];
  const int sel = list.selected;
  if (sel < 0 || sel >= static_cast<int>(criteria_.size())) return;
  criteria_.erase(criteria_.begin() + sel);
  list.items.erase(list.items.begin() + sel);
  ClearEntry();
  if (sel == 0 && !criteria_.empty()) {
    criteria_[0].conjunction = cr::kNone;
    list.items[0] = RowText(criteria_[0]);
  }
  list.selected = std::min(sel, static_cast<int>(criteria_.size()) - 1);
}

// A move while a row is being modified abandons the modification: its row index would move.
void QueryWizard::Move(int by) {
  Widget& list = state_[qw::kCriteria];
  const int sel = list.selected, to = sel + by;
  if (sel < 0 || to < 0 || to >= static_cast<int>(criteria_.size())) return;
  if (modifying_ >= 0) ClearEntry();
  std::swap(criteria_[sel], criteria_[to]);
  if (criteria_[0].conjunction != cr::kNone) criteria_[0].conjunction = cr::kNone;
  if (criteria_.size() > 1 && criteria_[1].conjunction == cr::kNone) criteria_[1].conjunction = cr::kAnd;
  FillRows();
  list.selected = to;
}

void QueryWizard::ClearEntry() {
  state_[qw::kAdd].text = "Add to List";
  modifying_ = -1;
  state_[qw::kCriteria].selected = -1;
  state_[qw::kFields].selected = -1;
  state_[qw::kConditions].items.clear();
  state_[qw::kConditions].selected = -1;
  for (int id : {qw::kAnd, qw::kOr, qw::kOpen, qw::kClose, qw::kNot}) state_[id].pressed = false;
  state_[qw::kValue].text.clear();
  for (int id : {qw::kDate1, qw::kDate2, qw::kDateTime1, qw::kDateTime2})
    if (state_[id].text.empty()) state_[id].text = Today(id == qw::kDateTime1 || id == qw::kDateTime2);
  Layout();
}

void QueryWizard::OnClick(int id) {
  if (!state_[id].enabled || !state_[id].visible) return;
  switch (id) {
    case qw::kAnd:
    case qw::kOr:
      state_[qw::kAnd].pressed = id == qw::kAnd;
      state_[qw::kOr].pressed = id == qw::kOr;
      break;
    case qw::kOpen: case qw::kClose: case qw::kNot: state_[id].pressed = !state_[id].pressed; break;
    case qw::kModify: Modify(); break;
    case qw::kRemove: Remove(); break;
    case qw::kMoveUp: Move(-1); break;
    case qw::kMoveDown: Move(1); break;
    case qw::kAdd: AddOrUpdate(); break;
    case qw::kClear: ClearEntry(); break;
    default: return;
  }
  Refresh();
}

void QueryWizard::OnSelectRow(int row) {
  if (modifying_ >= 0 && row != modifying_) ClearEntry();
  Widget& list = state_[qw::kCriteria];
  list.selected = row >= 0 && row < static_cast<int>(list.items.size()) ? row : -1;
  Refresh();
}

void QueryWizard::OnDoubleClickRow(int row) {
  OnSelectRow(row);
  if (state_[qw::kCriteria].selected < 0) return;
  Modify();
  Refresh();
}

void QueryWizard::OnChooseField(int index) {
  ChooseField(index);
  Refresh();
}

void QueryWizard::OnChooseCondition(int index) {
  Widget& conditions = state_[qw::kConditions];
  conditions.selected = index >= 0 && index < static_cast<int>(conditions.items.size()) ? index : -1;
  Refresh();
}

void QueryWizard::OnChooseProject(int index) {
  Widget& projects = state_[qw::kProjects];
  projects.selected = index >= 0 && index < static_cast<int>(projects.items.size()) ? index : -1;
  ChooseProject();
  Refresh();
}

void QueryWizard::OnChooseItem(int id, int index) {
  if (id != qw::kCodeValues && id != qw::kProjectValues) return;
  Widget& list = state_[id];
  list.selected = index >= 0 && index < static_cast<int>(list.items.size()) ? index : -1;
  Refresh();
}

void QueryWizard::OnType(const std::string& text) {
  Widget& edit = state_[qw::kValue];
  edit.text = edit.digitsOnly ? DigitsOf(text) : text;
  Refresh();
}

void QueryWizard::OnPicker(int id, const std::string& value) {
  if (id != qw::kDate1 && id != qw::kDate2 && id != qw::kDateTime1 && id != qw::kDateTime2) return;
  const std::string text = PickerText(value, id == qw::kDateTime1 || id == qw::kDateTime2);
  if (!text.empty()) state_[id].text = text;
  Refresh();
}

}  // namespace tamsolo
