// DataEntryForm (Brisquel.DataEntryForm): the issue entry form of the issue page. Header writes
// the validation script, Body the table of labels and input elements laid out by the site's entry
// layout, Hidden the posted values of every layout field again as hidden inputs. Each member
// returns one HTML fragment; the page puts Body inside its form "fIssueDetail".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/buffer.h"

namespace brisquel {

class Database;
class MultipartFormData;

class DataEntryForm : public automation::Dispatchable<DataEntryForm> {
 public:
  std::string Hidden(automation::Variant& db, const std::shared_ptr<MultipartFormData>& formData,
                     const std::string& currentUser);
  // The script defining Validate() for the target state (resolutionCode, statusCode).
  std::string Header(const std::string& userId, const std::shared_ptr<Database>& db, int32_t issueId,
                     const std::string& resolutionCode, const std::string& statusCode);
  // mode: "add", "modify" or "inquiry"; lastFormData: the posted form of a refused submission.
  std::string Body(automation::Variant& db, automation::Variant& rs, std::string& mode,
                   automation::Variant& lastFormData, std::string& lastProjectId, std::string& currentUser);

 private:
  using Layout = ado::Recordset;
  int32_t FormProject(const std::string& lastProjectId);
  void LayoutRow(Layout& layout);
  void WriteField(Layout& layout);
  void WriteMultilineField(Layout& layout);
  void WriteComboField(Layout& layout);
  void WriteCheckBoxField(Layout& layout);
  void WriteCommentField(Layout& layout);
  void WriteDataTimeField(Layout& layout);
  void CommentHistory(const std::string& field);

  bool Inquiry() const { return mode_ == "inquiry"; }
  bool Modify() const { return mode_ == "modify"; }
  bool Posted() const { return form_ != nullptr; }
  std::string PostedValue(const std::string& field) const;
  std::string StoredValue(const std::string& field) const;

  std::shared_ptr<Database> db_;
  std::shared_ptr<ado::Recordset> issue_;
  std::shared_ptr<MultipartFormData> form_;
  std::string mode_;
  std::string user_;
  int32_t project_ = 0;
  Buffer out_;
};

// What the two issue renderers share.
namespace issue_form {

// Who gets the checks for a new issue: anyone on the entry form, only those who may modify
// (site administrators) on the printer page.
enum class NewIssueChecks { kAlways, kWhenAllowed };
std::string ValidationScript(std::string_view className, const std::shared_ptr<Database>& db, const std::string& userId, int32_t issueId,
                             const std::string& resolutionCode, const std::string& statusCode,
                             NewIssueChecks newIssue);

// 100 / cells, rounded to the nearest whole number, a half to the even one.
std::string CellWidth(int32_t cells);
// The encoded text with every CRLF as "<br>".
std::string HtmlLines(std::string_view text);
// The rows of a comments field's history, newest first: date, time and author, a spacer cell,
// the text.
void CommentRows(Buffer& out, Database& db, int32_t issueId, const std::string& field);
// The Database a page hands over in a Variant.
std::shared_ptr<Database> DatabaseOf(const automation::Variant& v);

}  // namespace issue_form

}  // namespace brisquel
