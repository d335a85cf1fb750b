#include "query_wizard/browser_view.h"

#include <emscripten/emscripten.h>

#include "gdi/colors.h"
#include "host/web_host.h"
#include "query_wizard/query_wizard.h"

extern "C" {
int tamsolo_wizard_open(int host, void* view);
void tamsolo_wizard_render(int dialog, const char* json);
void tamsolo_wizard_focus(int dialog, int id);
void tamsolo_wizard_close(int dialog);
}

namespace tamsolo {

namespace {

using automation::Variant;

// What the page reports, by the kind of its event.
enum EventKind { kClick = 0, kSelect = 1, kDoubleClick = 2, kInput = 3, kPicker = 4 };

const char* KindName(WidgetKind k) {
  switch (k) {
    case WidgetKind::kLabel: return "label";
    case WidgetKind::kList: return "list";
    case WidgetKind::kButton: return "button";
    case WidgetKind::kDropDown: return "dropdown";
    case WidgetKind::kEdit: return "edit";
    case WidgetKind::kDate: return "date";
    case WidgetKind::kDateTime: return "datetime";
    case WidgetKind::kRadio: return "radio";
    case WidgetKind::kToggle: return "toggle";
  }
  return "label";
}

Variant WidgetJson(const Widget& w) {
  std::vector<Variant> items(w.items.begin(), w.items.end());
  return Variant(std::vector<Variant>{
      Variant(w.id), Variant(KindName(w.kind)), Variant(w.text), Variant(std::move(items)), Variant(w.selected),
      Variant(w.pressed), Variant(w.enabled), Variant(w.visible), Variant(w.digitsOnly), Variant(w.rect.left),
      Variant(w.rect.top), Variant(w.rect.Width()), Variant(w.rect.Height()),
      Variant(gdi::WebFontFace(w.font.face)), Variant(w.font.height), Variant(w.font.bold)});
}

class BrowserView : public WizardView {
 public:
  BrowserView(QueryWizard& wizard, int host) : wizard_(wizard), dialog_(tamsolo_wizard_open(host, this)) {}
  ~BrowserView() override { tamsolo_wizard_close(dialog_); }

  void Render(const WizardState& state) override {
    std::vector<Variant> widgets;
    for (const Widget& w : state.widgets) widgets.push_back(WidgetJson(w));
    tamsolo_wizard_render(dialog_, ArgumentsJson(widgets).c_str());
  }
  void Focus(int id) override { tamsolo_wizard_focus(dialog_, id); }

  void OnEvent(int id, int kind, int index, const std::string& value) {
    switch (kind) {
      case kClick: return wizard_.OnClick(id);
      case kDoubleClick: return wizard_.OnDoubleClickRow(index);
      case kInput: return wizard_.OnType(value);
      case kPicker: return wizard_.OnPicker(id, value);
      default: break;
    }
    if (id == qw::kCriteria) return wizard_.OnSelectRow(index);
    if (id == qw::kFields) return wizard_.OnChooseField(index);
    if (id == qw::kConditions) return wizard_.OnChooseCondition(index);
    if (id == qw::kProjects) return wizard_.OnChooseProject(index);
    wizard_.OnChooseItem(id, index);
  }

 private:
  QueryWizard& wizard_;
  int dialog_;
};

std::unique_ptr<WizardView> MakeBrowserView(QueryWizard& wizard, Host& host) {
  auto* web = dynamic_cast<WebHost*>(&host);
  if (!web) return nullptr;
  return std::make_unique<BrowserView>(wizard, web->Id());
}

}  // namespace

void UseBrowserWizardView() { SetWizardViewFactory(&MakeBrowserView); }

}  // namespace tamsolo

extern "C" EMSCRIPTEN_KEEPALIVE void tamsolo_wizard_event(void* view, int id, int kind, int index, const char* value) {
  static_cast<tamsolo::BrowserView*>(view)->OnEvent(id, kind, index, value);
}
