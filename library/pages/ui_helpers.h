// UIHelpers (Brisquel.UIHelpers): option lists from recordsets, the script that refills a child
// select box when its parent changes, the assignment filter choices, and the HTML and URL
// encodings. No state: one instance serves any number of calls.
#pragma once

#include <memory>
#include <string>

#include "ado/ado.h"
#include "automation/automation.h"

namespace brisquel {

class UIHelpers : public automation::Dispatchable<UIHelpers> {
 public:
  // One "<option ...>text</option>" CRLF per row; see ui_helpers.cpp for the selection rule.
  std::string OptionList(const std::shared_ptr<ado::Recordset>& rs, const std::string& idField,
                         const std::string& displayField, const std::string& selected);
  // A script block defining FunctionName(ParentId, cmbChild), holding every parent's children.
  automation::Variant DependantCombo(const std::string& functionName, const std::shared_ptr<ado::Recordset>& rsParent,
                                     const std::shared_ptr<ado::Command>& cmdChild, const std::string& parentId,
                                     const std::string& childFieldId, const std::string& childFieldText);
  std::string FilterOptionList(const std::string& projectId, const std::string& userId,
                               const std::shared_ptr<ado::Recordset>& rsProjectUsers, const std::string& selected);
  std::string SimpleHtmlEncode(const std::string& quotedString);
  std::string HtmlEncode(const std::string& quotedString);
  std::string UrlEncode(const std::string& s);
  std::string UrlDecode(const std::string& s);
};

// The part of s before its first NUL; without a NUL, s with leading and trailing blanks removed.
std::string TrimNull(const std::string& s);

}  // namespace brisquel
