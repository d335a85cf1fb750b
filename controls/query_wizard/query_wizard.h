// The query wizard: the criteria of a saved issue filter, built row by row in a dialog (a list of
// criteria and an entry row of field, condition and value) and exchanged with the page as the
// three filter texts of core/criteria.h.
//
// The behaviour lives here, over a WizardState that models every control of the dialog by its
// template id; a WizardView draws that state (in the page: positioned DOM elements; in tests: a
// fake that keeps what it was given) and reports the user's actions back through the On... calls.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "common/criteria.h"
#include "frame/control.h"

namespace tamsolo {

// The dialog's controls by template id.
namespace qw {
inline constexpr int kTitle = 281, kCriteria = 272, kModify = 273, kRemove = 274, kMoveUp = 301, kMoveDown = 302;
inline constexpr int kMore = 290, kFieldLabel = 294, kConditionLabel = 295, kValueLabel = 296;
inline constexpr int kFields = 282, kConditions = 283, kValue = 289, kCodeValues = 284, kProjects = 299,
                     kProjectValues = 300;
inline constexpr int kDate1 = 209, kDate2 = 211, kDateTime1 = 210, kDateTime2 = 212;
inline constexpr int kAnd = 291, kOr = 292, kOpen = 293, kClose = 260, kNot = 261, kAdd = 271, kClear = 298;
}  // namespace qw

enum class WidgetKind { kLabel, kList, kButton, kDropDown, kEdit, kDate, kDateTime, kRadio, kToggle };

struct Widget {
  int id = 0;
  WidgetKind kind = WidgetKind::kLabel;
  std::string text;                // caption, typed text or picker value
  std::vector<std::string> items;  // list and drop-down rows
  int selected = -1;
  bool pressed = false;  // radio and toggle buttons
  bool enabled = true, visible = true;
  bool digitsOnly = false;
  gdi::Rect rect{};  // pixels, in the control
  gdi::Font font{};
};

struct WizardState {
  std::vector<Widget> widgets;  // in template order
  Widget& operator[](int id);
  const Widget& operator[](int id) const;
};

class WizardView {
 public:
  virtual ~WizardView();
  virtual void Render(const WizardState& state) = 0;
  virtual void Focus(int id) = 0;
};

class QueryWizard : public Control {
 public:
  explicit QueryWizard(Host& host);
  ~QueryWizard() override;

  HRESULT Draw(gdi::Dc& dc, const gdi::Rect& bounds) override;
  void Activate() override;

  // Opens the dialog on a view (in the page, the browser view made by Activate).
  void Open(std::unique_ptr<WizardView> view);
  const WizardState& State() const { return state_; }
  const std::vector<criteria::FilterCriterion>& Criteria() const { return criteria_; }
  int WidestCaption() const { return widestCaption_; }
  int WidestPairText() const { return widestPair_; }

  // Properties.
  const std::string& AvailableFields() const { return availableText_; }
  bool SetAvailableFields(const std::string& text);  // false: the container vetoed it
  std::string FilterExpression() const;
  void SetFilterExpression(const std::string& text);
  std::string FqFilterExpression() const;
  bool CanSave();

  // What the user does in the dialog.
  void OnClick(int id);  // buttons, And/Or, "(", ")", "Not"
  void OnSelectRow(int row);
  void OnDoubleClickRow(int row);
  void OnChooseField(int index);
  void OnChooseCondition(int index);
  void OnChooseProject(int index);
  void OnChooseItem(int id, int index);  // code values, per-project values
  void OnType(const std::string& text);
  void OnPicker(int id, const std::string& value);  // "M/d/yyyy", with " HH:mm" for date-times

  // The text a criteria row shows.
  static std::string RowText(const criteria::FilterCriterion& c);

 private:
  const criteria::FilterField* ChosenField() const;
  const std::string& ChosenCondition() const;
  void FillRows();
  void Layout();
  void ChooseField(int index);
  void ChooseProject();
  void UpdateStates();
  void UpdateValueControls(const criteria::FilterField& f, const std::string& op);
  void AddOrUpdate();
  bool ReadValues(criteria::FilterCriterion& c);
  void Modify();
  void Remove();
  void Move(int by);
  void ClearEntry();
  void Refresh();
  bool Blank(int focus);

  std::string availableText_;
  criteria::FieldCatalogue catalogue_;
  std::vector<criteria::FilterCriterion> criteria_;
  int modifying_ = -1;
  int widestCaption_ = 0, widestPair_ = 0;
  WizardState state_;
  std::unique_ptr<WizardView> view_;
};

// How a wizard gets its view when it activates: the browser module sets the page's view; natively
// there is none (tests open the dialog on a view of their own).
using WizardViewFactory = std::unique_ptr<WizardView> (*)(QueryWizard& wizard, Host& host);
void SetWizardViewFactory(WizardViewFactory factory);

void RegisterQueryWizard();

}  // namespace tamsolo
