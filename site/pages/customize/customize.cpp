#include "site/pages/customize/customize.h"

#include "automation/text.h"
#include "site/host.h"
#include "site/pages/issue_lists.h"
#include "site/pages/records.h"

namespace site::customize {

namespace {

using automation::Variant;

bool KeptByProjectPages(std::string_view name) {
  return automation::EqualsNoCase(name, "Projects") || automation::EqualsNoCase(name, "ProjectUsers");
}

CodeTable ReadRow(automation::Object& rs) {
  const Variant varies = FieldValue(rs, "VariesByProject"), natural = FieldValue(rs, "NaturalSort");
  return {FieldText(rs, "TableName"), FieldText(rs, "TableFriendlyName"), FieldText(rs, "TableFriendlyNameSingular"),
          FieldText(rs, "TableFieldName"), !varies.IsNull() && varies.ToBool(), !natural.IsNull() && !natural.ToBool()};
}

}  // namespace

std::optional<CodeTable> FindCodeTable(PageContext& page, const std::string& name) {
  if (name.empty() || KeptByProjectPages(name)) return std::nullopt;
  auto rs = LookUp(name, 50, [&] {
    return page.Database()->Call("GetIssueCodeTableRs", {Variant(page.UserId()), Variant(name)}).ToObject();
  });
  if (!rs) return std::nullopt;
  return ReadRow(*rs);
}

std::vector<CodeTable> CodeTables(PageContext& page) {
  std::vector<CodeTable> out;
  auto rs = page.Database()->Call("GetIssueCodeTablesRs").ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext"))
    if (!KeptByProjectPages(FieldText(*rs, "TableName"))) out.push_back(ReadRow(*rs));
  return out;
}

void SendNotFound(PageContext& page, std::string_view title, const std::string& sentence) {
  page.SendPage(title, lists::ErrorParagraph("Message", sentence), 404);
}

}  // namespace site::customize
