// DetailsPrinterFriendly (Brisquel.DetailsPrinterFriendly): one issue as read-only HTML for
// printing, in the entry layout, followed by its resolution, assignee and status.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/buffer.h"

namespace brisquel {

class Database;

class DetailsPrinterFriendly : public automation::Dispatchable<DetailsPrinterFriendly> {
 public:
  ~DetailsPrinterFriendly() override;  // the release step: closes an issue recordset a failed Body kept

  // The validation script; a new issue gets its checks only for those who may modify it.
  std::string Header(const std::string& userId, const std::shared_ptr<Database>& db, int32_t issueId,
                     const std::string& resolutionCode, const std::string& statusCode);
  std::string Body(const std::shared_ptr<Database>& db, const std::shared_ptr<ado::Recordset>& rs,
                   const std::string& currentUser);

 private:
  using Layout = ado::Recordset;
  void LayoutRow(Layout& layout, const std::string& width);
  void StateBlock();
  void WriteField(Layout& layout);
  void WriteComboField(Layout& layout);
  void WriteCheckboxField(Layout& layout);
  void WriteCommentField(Layout& layout);
  void WriteMultilineField(Layout& layout);
  void WriteDateTimeField(Layout& layout);

  std::shared_ptr<Database> db_;
  std::shared_ptr<ado::Recordset> rs_;
  std::unique_ptr<Buffer> out_;
};

}  // namespace brisquel
