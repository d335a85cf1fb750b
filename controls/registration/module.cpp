#include "registration/module.h"

#include "capture/capture_ctl.h"
#include "keyboard/keyboard.h"
#include "chart/chart.h"
#include "chart_bar/chart_bar.h"
#include "qel_logo/qel_logo.h"
#include "query_wizard/query_wizard.h"
#include "workflow_diagram/workflow_diagram.h"

namespace tamsolo {

void RegisterControls() {
  static bool done = [] {
    RegisterQELLogo();
    RegisterCaptureCtl();
    RegisterKeyboard();
    RegisterChart();
    RegisterChartBar();
    RegisterWorkflowDiagram();
    RegisterQueryWizard();
    return true;
  }();
  (void)done;
}

HRESULT ClassFactory::CreateInstance(Host& host, std::unique_ptr<Control>& out) const {
  out = creator_(host);
  HRESULT result = out->FinalConstruct();
  if (Failed(result)) out.reset();
  return result;
}

HRESULT ClassFactory::LockServer(bool lock) const {
  if (lock) ModuleAddRef();
  else ModuleRelease();
  return hr::kOk;
}

HRESULT DllGetClassObject(std::string_view clsid, std::shared_ptr<ClassFactory>& out) {
  RegisterControls();
  out.reset();
  const ClassEntry* entry = FindClassByClsid(clsid);
  if (!entry) return hr::kClassNotAvailable;
  const Creator* creator = FindCreator(*entry);
  if (!creator) return hr::kClassNotAvailable;
  out = std::make_shared<ClassFactory>(*entry, *creator);
  return hr::kOk;
}

HRESULT DllCanUnloadNow() { return ModuleCount() == 0 ? hr::kOk : hr::kFalse; }

std::vector<const ClassEntry*> AvailableClasses() {
  RegisterControls();
  std::vector<const ClassEntry*> out;
  for (const ClassEntry& c : ClassTable())
    if (FindCreator(c)) out.push_back(&c);
  return out;
}

}  // namespace tamsolo
