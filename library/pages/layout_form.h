// LayoutForm (Brisquel.LayoutForm): the rows of select boxes of the issue-list layout editor, one
// table row per layout row and one box per selectable issue field.
#pragma once

#include <memory>
#include <string>

#include "ado/ado.h"
#include "automation/automation.h"

namespace brisquel {

class Database;
class MultipartFormData;
class UIHelpers;

class LayoutForm : public automation::Dispatchable<LayoutForm> {
 public:
  // The grid rows of the layout in rsLayout (none for a new layout), at least 10; after a refused
  // submission exactly 10, rebuilt from the posted "Field" values.
  std::string Details(const std::string& userId, const std::shared_ptr<Database>& db,
                      const std::shared_ptr<UIHelpers>& ui, const std::shared_ptr<MultipartFormData>& formData,
                      const std::shared_ptr<ado::Recordset>& rsFields, const std::shared_ptr<ado::Recordset>& rsLayout,
                      bool errorOccurred);
};

}  // namespace brisquel
