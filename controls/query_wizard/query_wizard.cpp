#include "query_wizard/query_wizard.h"

#include <algorithm>
#include <cmath>

#include "automation/text.h"
#include "frame/control_classes.h"
#include "gdi/colors.h"

namespace tamsolo {

namespace cr = criteria;

namespace {

constexpr int32_t kDispAvailableFields = 1, kDispFilterExpression = 2, kDispFq = 3, kDispCanSave = 4;
// The extents have no DISPID of their own; these stay clear of the control's and the stock ones.
constexpr int32_t kDispCx = -2001, kDispCy = -2002;

struct TemplateItem {
  int id;
  WidgetKind kind;
  const char* caption;
  int x, y, w, h;  // dialog units
  bool hidden;
};

// The dialog template (dialog units of 8 point "MS Sans Serif"). Drop-down lists are given the
// height of their closed box.
constexpr TemplateItem kTemplate[] = {
    {qw::kTitle, WidgetKind::kLabel, "Find issues that match these criteria:", 1, 0, 209, 8, false},
    {qw::kCriteria, WidgetKind::kList, "", 1, 10, 327, 72, false},
    {qw::kModify, WidgetKind::kButton, "Modify", 334, 10, 75, 14, false},
    {qw::kRemove, WidgetKind::kButton, "Remove", 334, 29, 75, 14, false},
    {qw::kMoveUp, WidgetKind::kButton, "5", 334, 48, 34, 14, false},
    {qw::kMoveDown, WidgetKind::kButton, "6", 375, 48, 34, 14, false},
    {qw::kMore, WidgetKind::kLabel, "Define more criteria", 1, 93, 93, 8, false},
    {qw::kFieldLabel, WidgetKind::kLabel, "Field:", 3, 104, 72, 8, false},
    {qw::kConditionLabel, WidgetKind::kLabel, "Condition:", 109, 104, 61, 8, false},
    {qw::kValueLabel, WidgetKind::kLabel, "Value:", 186, 104, 140, 8, false},
    {qw::kFields, WidgetKind::kDropDown, "", 2, 113, 101, 15, false},
    {qw::kConditions, WidgetKind::kDropDown, "", 109, 113, 29, 15, false},
    {qw::kValue, WidgetKind::kEdit, "", 157, 113, 23, 15, false},
    {qw::kCodeValues, WidgetKind::kDropDown, "", 186, 113, 24, 15, true},
    {qw::kProjects, WidgetKind::kDropDown, "", 186, 113, 98, 15, true},
    {qw::kProjectValues, WidgetKind::kDropDown, "", 261, 113, 103, 15, true},
    {qw::kDate1, WidgetKind::kDate, "", 188, 113, 59, 15, true},
    {qw::kDate2, WidgetKind::kDate, "", 253, 113, 57, 15, true},
    {qw::kDateTime1, WidgetKind::kDateTime, "", 185, 113, 77, 15, true},
    {qw::kDateTime2, WidgetKind::kDateTime, "", 268, 113, 77, 15, true},
    {qw::kAnd, WidgetKind::kRadio, "And", 3, 132, 35, 14, false},
    {qw::kOr, WidgetKind::kRadio, "Or", 41, 132, 35, 14, false},
    {qw::kOpen, WidgetKind::kToggle, "(", 88, 132, 23, 14, false},
    {qw::kClose, WidgetKind::kToggle, ")", 115, 132, 23, 14, false},
    {qw::kNot, WidgetKind::kToggle, "Not", 141, 132, 23, 14, false},
    {qw::kAdd, WidgetKind::kButton, "Add to List", 307, 132, 50, 14, false},
    {qw::kClear, WidgetKind::kButton, "Clear", 361, 132, 50, 14, false},
};

// A dialog unit is 1.5 pixels across and 1.625 down (8 point "MS Sans Serif" at 96 dpi).
int AcrossPx(int du) { return static_cast<int>(std::lround(du * 1.5)); }
int DownPx(int du) { return static_cast<int>(std::lround(du * 1.625)); }
int PointsPx(int points) { return (points * gdi::kDpi + 36) / 72; }

gdi::Font FontOf(int id, WidgetKind kind) {
  gdi::Font f;
  f.height = PointsPx(8);
  switch (id) {
    case qw::kTitle: case qw::kMore: case qw::kFieldLabel: case qw::kConditionLabel: case qw::kValueLabel:
      f.face = "Verdana";
      f.bold = true;
      return f;
    case qw::kAdd: case qw::kModify: case qw::kRemove: case qw::kAnd: case qw::kOr: case qw::kOpen:
    case qw::kClose: case qw::kNot:
      f.face = "Verdana";
      return f;
    case qw::kMoveUp: case qw::kMoveDown:
      f.face = "Webdings";
      f.height = PointsPx(11);
      return f;
    default: break;
  }
  if (kind == WidgetKind::kList || kind == WidgetKind::kDropDown || kind == WidgetKind::kEdit ||
      kind == WidgetKind::kDate || kind == WidgetKind::kDateTime) {
    f.face = "Microsoft Sans Serif";
    f.height = PointsPx(10);
  }
  return f;
}

WizardState MakeState() {
  WizardState s;
  for (const TemplateItem& t : kTemplate) {
    Widget w;
    w.id = t.id;
    w.kind = t.kind;
    w.font = FontOf(t.id, t.kind);
    w.text = gdi::MapSymbolText(w.font.face, t.caption);
    w.visible = !t.hidden;
    w.rect = {AcrossPx(t.x), DownPx(t.y), AcrossPx(t.x + t.w), DownPx(t.y + t.h)};
    s.widgets.push_back(std::move(w));
  }
  return s;
}

}  // namespace

Widget& WizardState::operator[](int id) {
  return *std::find_if(widgets.begin(), widgets.end(), [id](const Widget& w) { return w.id == id; });
}
const Widget& WizardState::operator[](int id) const {
  return *std::find_if(widgets.begin(), widgets.end(), [id](const Widget& w) { return w.id == id; });
}

WizardView::~WizardView() = default;

QueryWizard::QueryWizard(Host& host) : Control(host, *FindClassByName("QueryWizard")), state_(MakeState()) {
  using automation::Variant;
  // The extents come first, so the catalogue and then the criteria follow them.
  AddProperty(
      "_cx", kDispCx, [this] { return Variant(Extent().cx); },
      [this](const Variant& v) { SetExtent({v.ToLong(), Extent().cy}); });
  AddProperty(
      "_cy", kDispCy, [this] { return Variant(Extent().cy); },
      [this](const Variant& v) { SetExtent({Extent().cx, v.ToLong()}); });
  AddProperty(
      "AvailableFields", kDispAvailableFields, [this] { return Variant(availableText_); },
      [this](const Variant& v) { SetAvailableFields(v.ToString()); });
  AddProperty(
      "FilterExpression", kDispFilterExpression, [this] { return Variant(FilterExpression()); },
      [this](const Variant& v) { SetFilterExpression(v.ToString()); });
  AddProperty("fqFilterExpression", kDispFq, [this] { return Variant(FqFilterExpression()); }, nullptr, false);
  AddProperty("CanSave", kDispCanSave, [this] { return Variant(CanSave()); }, nullptr, false);
}

QueryWizard::~QueryWizard() = default;

// The dialog covers the control; the canvas under it only shows the dialog's white.
HRESULT QueryWizard::Draw(gdi::Dc& dc, const gdi::Rect& bounds) {
  dc.FillRect(bounds, gdi::RGB(255, 255, 255));
  return hr::kOk;
}

namespace {
WizardViewFactory viewFactory = nullptr;
}  // namespace

void SetWizardViewFactory(WizardViewFactory factory) { viewFactory = factory; }

void QueryWizard::Activate() {
  if (!view_) Open(viewFactory ? viewFactory(*this, host_) : nullptr);
}

void QueryWizard::Open(std::unique_ptr<WizardView> view) {
  view_ = std::move(view);
  Widget& fields = state_[qw::kFields];
  fields.items.clear();
  for (const cr::FieldRef& f : catalogue_) fields.items.push_back(f->caption);
  std::sort(fields.items.begin(), fields.items.end(), [](const std::string& a, const std::string& b) {
    return automation::LowerAscii(a) < automation::LowerAscii(b);
  });
  FillRows();
  ClearEntry();
  Refresh();
}

bool QueryWizard::SetAvailableFields(const std::string& text) {
  // Asked, stored, marked changed and announced as any property; then read.
  if (!SetStock(kDispAvailableFields, availableText_, text)) return false;
  catalogue_ = cr::ReadAvailableFields(text);
  // Criteria keep their field by name in the new catalogue; those whose field is gone go.
  std::erase_if(criteria_, [&](cr::FilterCriterion& c) {
    c.field = c.field ? cr::FindField(catalogue_, c.field->name) : nullptr;
    return !c.field;
  });
  if (!criteria_.empty()) criteria_.front().conjunction = cr::kNone;
  widestCaption_ = widestPair_ = 0;
  if (auto dc = host_.GetDc()) {
    dc->SetFont(state_[qw::kFields].font);
    for (const cr::FieldRef& f : catalogue_) {
      widestCaption_ = std::max(widestCaption_, dc->TextWidth(f->caption));
      for (const cr::ValuePair& p : f->values) widestPair_ = std::max(widestPair_, dc->TextWidth(p.first));
    }
  }
  Open(std::move(view_));
  return true;
}

std::string QueryWizard::FilterExpression() const { return cr::FormatFilterExpression(criteria_); }
std::string QueryWizard::FqFilterExpression() const { return cr::FormatFqFilterExpression(criteria_); }

void QueryWizard::SetFilterExpression(const std::string& text) {
  criteria_ = cr::ReadFilterExpression(text, catalogue_).criteria;
  FillRows();
  ClearEntry();
  Refresh();
}

bool QueryWizard::CanSave() {
  if (modifying_ >= 0) {
    // The page's confirm box has no title of its own: the question stands alone.
    if (!host_.Confirm("Discard changes to criteria currently being modified?")) return false;
    ClearEntry();
    Refresh();
  }
  if (cr::ParenthesisMismatch(criteria_) == std::string::npos) return true;
  host_.MessageBox("Mismatched parenthesis.", "Error", mb::kIconWarning, mb::kOk, nullptr);
  return false;
}

std::string QueryWizard::RowText(const cr::FilterCriterion& c) {
  std::string out;
  if (c.conjunction == cr::kAnd) out += "and ";
  if (c.conjunction == cr::kOr) out += "or ";
  if (c.open) out += "(";
  if (c.negate) out += "not (";
  const int32_t t = c.field ? c.field->type : -1;
  out += (c.field ? c.field->caption : std::string()) + " " + c.op;
  const bool typed = c.op == "contains" || c.op == "is (exactly)" || c.op == "doesn't contain";
  const bool single = c.op == "on" || c.op == "on or after" || c.op == "on or before";
  if (((t == cr::kText || t == cr::kCode || t == cr::kProjectCode) && typed) ||
      (t == cr::kCommentLog && (c.op == "contains" || c.op == "doesn't contain")))
    out += " '" + c.value1 + "'";
  else if (t == cr::kNumber)
    out += " " + c.value1;
  else if ((t == cr::kDate || t == cr::kDateTime) && single)
    out += " " + c.value1;
  else if ((t == cr::kDate || t == cr::kDateTime) && c.op == "between")
    out += " " + c.value1 + " and " + c.value2;
  if (c.negate) out += ")";
  if (c.close) out += ")";
  return out;
}

void QueryWizard::FillRows() {
  Widget& list = state_[qw::kCriteria];
  list.items.clear();
  for (const cr::FilterCriterion& c : criteria_) list.items.push_back(RowText(c));
  list.selected = -1;
}

// The entry row's pixels: each control after the one before it, the value controls up to the
// right edge.
void QueryWizard::Layout() {
  const int right = (host_.ClientSize().cx > 0 ? host_.ClientSize().cx : AcrossPx(413)) - 2;
  auto place = [&](int id, int left, int width) {
    gdi::Rect& r = state_[id].rect;
    r.right = left + width;
    r.left = left;
  };
  gdi::Rect& fields = state_[qw::kFields].rect;
  place(qw::kFields, fields.left, widestCaption_ + 16);
  const int condition = fields.right + 8;
  place(qw::kConditions, condition, 130);
  place(qw::kConditionLabel, condition, 125);
  const int edit = condition + 130 + 8;
  for (int id : {qw::kValue, qw::kCodeValues}) place(id, edit, right - edit);
  place(qw::kValueLabel, edit, 200);
  place(qw::kDate1, edit, 95);
  place(qw::kDate2, edit + 95 + 8, 95);
  place(qw::kDateTime1, edit, 130);
  place(qw::kDateTime2, edit + 130 + 8, 130);
  place(qw::kProjects, edit, widestPair_ + 19);
  const int values = edit + widestPair_ + 19 + 8;
  place(qw::kProjectValues, values, right - values);
}

void QueryWizard::Refresh() {
  UpdateStates();
  if (view_) view_->Render(state_);
}

void RegisterQueryWizard() {
  RegisterControlClass("QueryWizard", [](Host& host) { return std::make_unique<QueryWizard>(host); });
}

}  // namespace tamsolo
