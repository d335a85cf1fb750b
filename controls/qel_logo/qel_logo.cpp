#include "qel_logo/qel_logo.h"

#include "automation/text.h"
#include "gdi/image.h"
#include "frame/control_classes.h"

namespace tamsolo {

QELLogo::QELLogo(Host& host)
    : BitmapControl(host, *FindClassByName("QELLogo"), kLogoBitmap, ExtentFixed{kLogoExtent},
                    false) {}

bool QELLogo::Implements(std::string_view iid) const {
  for (std::string_view name :
       {"ISpecifyPropertyPages", "IQuickActivate", "IPersistStorage", "IDataObject", "IObjectSafety"})
    if (automation::EqualsNoCase(iid, name)) return true;
  return BitmapControl::Implements(iid);
}

void RegisterQELLogo() {
  gdi::RegisterImage(kLogoBitmap, MakeLogoImage);
  RegisterControlClass("QELLogo", [](Host& host) { return std::make_unique<QELLogo>(host); });
}

}  // namespace tamsolo
