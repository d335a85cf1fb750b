// The three dialogs as modal DOM dialogs in the page. Every click changes the form and draws the
// dialog again; the name edit is read when something else changes and at OK.
#include <map>

#include "gdi/colors.h"
#include "workflow_diagram/workflow_diagram.h"

namespace tamsolo {

namespace {

using dialogs::Item;

// Bitmaps 217 (ticked), 218 (not ticked) and 222 (a disabled list), 12 x 12.
std::string TickPicture(bool ticked, bool enabled) {
  const std::string frame = enabled ? "%23808080" : "%23C0C0C0";
  std::string svg = "data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' width='12' height='12'%3E"
                    "%3Crect x='.5' y='.5' width='11' height='11' fill='" +
                    std::string(enabled ? "white" : "%23D4D0C8") + "' stroke='" + frame + "'/%3E";
  if (ticked && enabled) svg += "%3Cpath d='M2.5 6l2.5 2.5 4.5-5' fill='none' stroke='black' stroke-width='1.6'/%3E";
  return svg + "%3C/svg%3E";
}

std::string Css(gdi::COLORREF c) { return "#" + gdi::HexColor(c); }

class DomDialogView : public DialogView {
 public:
  explicit DomDialogView(Host& host) : host_(host) {}

  void ShowState(dialogs::StateForm& form, Answer answer) override { Open(&form, nullptr, nullptr, std::move(answer)); }
  void ShowAction(dialogs::ActionForm& form, Answer answer) override { Open(nullptr, &form, nullptr, std::move(answer)); }
  void ShowIssueCreate(dialogs::IssueCreateForm& form, Answer answer) override {
    Open(nullptr, nullptr, &form, std::move(answer));
  }

  void Focus(int control) override {
    if (state_ && (control == 240 || control == 245)) page_ = 1;
    Render();
    if (auto it = controls_.find(control); it != controls_.end()) it->second->Focus();
  }

 private:
  void Open(dialogs::StateForm* s, dialogs::ActionForm* a, dialogs::IssueCreateForm* c, Answer answer) {
    state_ = s, action_ = a, create_ = c;
    answer_ = std::move(answer);
    page_ = 0;
    focusList_ = 0;
    Render();
  }

  DomElement& Add(DomElement& parent, std::string_view tag, const std::string& style = "", const std::string& text = "") {
    auto e = host_.CreateElement(tag);
    if (!style.empty()) e->SetAttribute("style", style);
    if (!text.empty()) e->SetText(text);
    parent.Append(*e);
    live_.push_back(std::move(e));
    return *live_.back();
  }

  void Changed() {
    if (action_ && nameEdit_) action_->name = nameEdit_->Value();
    if (action_) dialogs::Refresh(*action_);
    Render();
  }

  // Out of the page, kept until the view goes: a handler of one of them may be running now.
  void Retire() {
    if (!live_.empty()) live_.front()->Detach();
    for (auto& e : live_) retired_.push_back(std::move(e));
    live_.clear();
    controls_.clear();
    nameEdit_ = nullptr;
  }

  void Render();
  void StatePage(DomElement& page);
  void ActionPage(DomElement& page);
  void CreatePage(DomElement& page);
  void CheckList(DomElement& parent, int id, std::vector<Item>& items, bool enabled);
  void DropDown(DomElement& parent, int id, const std::vector<Item>& items, int& selected, bool enabled);
  void Radio(DomElement& parent, int id, const std::string& label, bool enabled);
  void Ok();

  Host& host_;
  dialogs::StateForm* state_ = nullptr;
  dialogs::ActionForm* action_ = nullptr;
  dialogs::IssueCreateForm* create_ = nullptr;
  Answer answer_;
  int page_ = 0;
  std::vector<std::unique_ptr<DomElement>> live_, retired_;
  std::map<int, DomElement*> controls_;
  DomElement* nameEdit_ = nullptr;
  int focusList_ = 0;  // the check list and row last clicked
  size_t focusRow_ = 0;
};

void DomDialogView::Render() {
  if (action_ && nameEdit_) action_->name = nameEdit_->Value();
  Retire();
  auto veil = host_.CreateElement("div");
  veil->SetAttribute("class", "tamsolo-dialog-veil");
  veil->SetAttribute("style", "position:fixed;left:0;top:0;right:0;bottom:0;z-index:9000;background:rgba(0,0,0,0.1);"
                              "display:flex;align-items:center;justify-content:center");
  host_.AddToPage(*veil);
  live_.push_back(std::move(veil));
  DomElement& box = Add(*live_.front(), "div",
                        "background:#D4D0C8;border:2px outset #FFFFFF;width:380px;"
                        "font:11px 'Liberation Sans',sans-serif;color:#000000");
  box.SetAttribute("role", "dialog");
  box.SetAttribute("id", "wfdDialog");
  const std::string title = state_ ? state_->title : action_ ? action_->title : create_->title;
  Add(box, "div", "background:#0A246A;color:#FFFFFF;font-weight:bold;padding:3px 5px", title)
      .SetAttribute("class", "tamsolo-dialog-title");
  DomElement& tabs = Add(box, "div", "padding:6px 6px 0");
  const std::vector<std::string> names = state_ ? std::vector<std::string>{"General", "Rules"}
                                                : std::vector<std::string>{"General"};
  for (size_t i = 0; i < names.size(); ++i) {
    DomElement& tab = Add(tabs, "button", std::string("margin-right:2px;") + (static_cast<int>(i) == page_ ? "font-weight:bold" : ""),
                          names[i]);
    tab.SetAttribute("type", "button");
    tab.SetAttribute("id", "wfdTab" + names[i]);
    const int to = static_cast<int>(i);
    tab.Listen("click", [this, to] {
      page_ = to;
      Changed();
    });
  }
  DomElement& page = Add(box, "div", "border:1px solid #808080;margin:0 6px;padding:8px;min-height:200px");
  if (state_) StatePage(page);
  else if (action_) ActionPage(page);
  else CreatePage(page);
  DomElement& row = Add(box, "div", "text-align:right;padding:8px 6px");
  DomElement& ok = Add(row, "button", "min-width:70px;margin-left:6px", "OK");
  ok.SetAttribute("type", "button");
  ok.SetAttribute("id", "wfdOK");
  ok.Listen("click", [this] { Ok(); });
  DomElement& cancel = Add(row, "button", "min-width:70px;margin-left:6px", "Cancel");
  cancel.SetAttribute("type", "button");
  cancel.SetAttribute("id", "wfdCancel");
  cancel.Listen("click", [this] {
    if (answer_(false)) Retire();
  });
}

void DomDialogView::Ok() {
  if (action_ && nameEdit_) action_->name = nameEdit_->Value();
  page_ = 0;
  Render();
  if (answer_(true)) Retire();
}

void DomDialogView::CheckList(DomElement& parent, int id, std::vector<Item>& items, bool enabled) {
  const std::string back = Css(gdi::SysColor(enabled ? gdi::SysColorIndex::Window : gdi::SysColorIndex::BtnFace));
  const std::string ink = Css(gdi::SysColor(enabled ? gdi::SysColorIndex::WindowText : gdi::SysColorIndex::GrayText));
  DomElement& list = Add(parent, "div",
                         "border:2px inset #FFFFFF;height:84px;overflow-y:auto;background:" + back + ";color:" + ink +
                             ";font:12px '" + gdi::WebFontFace("MS Sans Serif") + "',sans-serif");
  list.SetAttribute("id", "wfd" + std::to_string(id));
  list.SetAttribute("tabindex", "0");
  controls_[id] = &list;
  for (size_t i = 0; i < items.size(); ++i) {
    // The row with the focus in the highlight colours.
    const bool focused = enabled && focusList_ == id && focusRow_ == i;
    std::string colours;
    if (focused)
      colours = ";background:" + Css(gdi::SysColor(gdi::SysColorIndex::Highlight)) +
                ";color:" + Css(gdi::SysColor(gdi::SysColorIndex::HighlightText));
    DomElement& r = Add(list, "div", "position:relative;height:14px;line-height:14px;cursor:default" + colours);
    r.SetAttribute("data-ticked", items[i].ticked ? "true" : "false");
    DomElement& img = Add(r, "img", "position:absolute;left:1px;top:1px");
    img.SetAttribute("src", TickPicture(items[i].ticked, enabled));
    img.SetAttribute("width", "12");
    img.SetAttribute("height", "12");
    Add(r, "span", "position:absolute;left:17px;white-space:nowrap", items[i].text);
    if (!enabled) continue;
    r.Listen("click", [this, &items, i, id] {
      items[i].ticked = !items[i].ticked;
      focusList_ = id, focusRow_ = i;
      Changed();
    });
  }
}

void DomDialogView::DropDown(DomElement& parent, int id, const std::vector<Item>& items, int& selected, bool enabled) {
  DomElement& box = Add(parent, "select", "width:200px");
  box.SetAttribute("id", "wfd" + std::to_string(id));
  if (!enabled) box.SetAttribute("disabled", "");
  controls_[id] = &box;
  DomElement& none = Add(box, "option", "", " ");
  none.SetAttribute("value", "-1");
  for (size_t i = 0; i < items.size(); ++i) {
    DomElement& o = Add(box, "option", "", items[i].text);
    o.SetAttribute("value", std::to_string(i));
    if (static_cast<int>(i) == selected) o.SetAttribute("selected", "");
  }
  DomElement* self = &box;
  box.Listen("change", [this, self, &selected] {
    selected = std::atoi(self->Value().c_str());
    Changed();
  });
}

void DomDialogView::Radio(DomElement& parent, int id, const std::string& label, bool enabled) {
  DomElement& line = Add(parent, "label", "display:block;margin:2px 0");
  DomElement& input = Add(line, "input");
  input.SetAttribute("type", "radio");
  input.SetAttribute("id", "wfd" + std::to_string(id));
  const bool on = id == 303 ? action_->teamLead : action_->choice == id;
  if (on) input.SetAttribute("checked", "");
  if (!enabled) input.SetAttribute("disabled", "");
  Add(line, "span", "", label);
  controls_[id] = &input;
  if (!enabled || id > 300) return;
  input.Listen("click", [this, id] {
    action_->choice = id;
    Changed();
  });
}

void DomDialogView::StatePage(DomElement& page) {
  dialogs::StateForm& f = *state_;
  if (page_ == 0) {
    DomElement& criteria = Add(page, "fieldset");
    Add(criteria, "legend", "", "Criteria");
    Add(criteria, "div", "", "When resolution is:");
    DropDown(criteria, 251, f.resolutions, f.resolution, true);
    Add(criteria, "div", "margin-top:4px", "And status Is:");
    DropDown(criteria, 252, f.statuses, f.status, true);
    DomElement& stats = Add(page, "fieldset");
    Add(stats, "legend", "", "Statistics");
    for (auto [id, label, field] : {std::tuple{253, "Counts as a Valid issue", &f.valid},
                                    std::tuple{254, "Counts as Fixed issue", &f.fixed}}) {
      DomElement& line = Add(stats, "label", "display:block");
      DomElement& box = Add(line, "input");
      box.SetAttribute("type", "checkbox");
      box.SetAttribute("id", "wfd" + std::to_string(id));
      if (*field) box.SetAttribute("checked", "");
      Add(line, "span", "", label);
      controls_[id] = &box;
      bool* flag = field;
      box.Listen("click", [this, flag] {
        *flag = !*flag;
        Changed();
      });
    }
    return;
  }
  DomElement& required = Add(page, "fieldset");
  Add(required, "legend", "", "Required fields (not blank)");
  CheckList(required, 240, f.required, true);
  DomElement& reassign = Add(page, "fieldset");
  Add(reassign, "legend", "", "Reassignment");
  Add(reassign, "div", "", "Can be reassigned to any member of:");
  CheckList(reassign, 245, f.reassign, true);
}

void DomDialogView::ActionPage(DomElement& page) {
  dialogs::ActionForm& f = *action_;
  DomElement& name = Add(page, "fieldset");
  Add(name, "legend", "", "Name");
  DomElement& edit = Add(name, "input", "width:320px");
  edit.SetAttribute("id", "wfd242");
  edit.SetAttribute("maxlength", std::to_string(dialogs::kActionNameLimit));
  edit.SetAttribute("value", f.name);
  controls_[242] = nameEdit_ = &edit;
  DomElement& assignment = Add(page, "fieldset");
  Add(assignment, "legend", "", "Assignment");
  Radio(assignment, dialogs::kCannotReassign, "Cannot be reassigned.", !f.fromIssueCreate);
  Radio(assignment, dialogs::kToCreator, "Must be assigned to original creator.", !f.fromIssueCreate);
  Radio(assignment, dialogs::kToMembers, "Can be assigned to any member of:", true);
  CheckList(assignment, 245, f.groups, f.groupsEnabled);
  DomElement& line = Add(assignment, "label", "display:block;margin-top:4px");
  DomElement& automatic = Add(line, "input");
  automatic.SetAttribute("type", "checkbox");
  automatic.SetAttribute("id", "wfd246");
  if (f.automatic) automatic.SetAttribute("checked", "");
  if (!f.automaticEnabled) automatic.SetAttribute("disabled", "");
  Add(line, "span", "", "Allow \"automatic\" assignment to:");
  controls_[246] = &automatic;
  if (f.automaticEnabled) automatic.Listen("click", [this] {
    action_->automatic = !action_->automatic;
    Changed();
  });
  Radio(assignment, 305, "Original creator", false);
  Radio(assignment, 304, "Previous assignee", false);
  Radio(assignment, 303, "Team lead of:", f.teamLead);
  DropDown(assignment, 247, f.assignees, f.assignee, f.assigneeEnabled);
}

void DomDialogView::CreatePage(DomElement& page) {
  DomElement& permissions = Add(page, "fieldset");
  Add(permissions, "legend", "", "Permissions");
  Add(permissions, "div", "", "Can be created by anyone in::");
  CheckList(permissions, 237, create_->creators, true);
  Add(permissions, "div", "margin-top:4px", "Can be created by team lead of:");
  CheckList(permissions, 238, create_->teamLeads, true);
}

}  // namespace

std::unique_ptr<DialogView> MakeDomDialogView(Host& host) { return std::make_unique<DomDialogView>(host); }

}  // namespace tamsolo
