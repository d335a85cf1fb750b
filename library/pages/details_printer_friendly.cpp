#include "pages/details_printer_friendly.h"

#include "automation/vbdate.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "pages/data_entry_form.h"
#include "brisquel/encode.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "DetailsPrinterFriendly";
constexpr std::string_view kTable = "<table cellpadding='0' cellspacing='5px' border='0' width='98%'>";

}  // namespace

DetailsPrinterFriendly::~DetailsPrinterFriendly() {
  try {
    if (rs_ && rs_->State() == ado::adStateOpen) rs_->Close();
  } catch (...) {
  }
}

std::string DetailsPrinterFriendly::Header(const std::string& userId, const std::shared_ptr<Database>& db,
                                           int32_t issueId, const std::string& resolutionCode,
                                           const std::string& statusCode) {
  return issue_form::ValidationScript(kClass, db, userId, issueId, resolutionCode, statusCode,
                                      issue_form::NewIssueChecks::kWhenAllowed);
}

void DetailsPrinterFriendly::LayoutRow(Layout& layout, const std::string& width) {
  const int32_t row = layout.Value("RowNumber").ToLong();
  auto inRow = [&] { return !layout.IsEOF() && layout.Value("RowNumber").ToLong() == row; };
  out_->Append(kTable);
  out_->Append("<tr>");
  const Variant start = layout.Bookmark();
  for (; inRow(); layout.MoveNext())
    out_->Append("<td nowrap class='FormLabels' style='width: " + width + "%; border-bottom: #222222 1px solid;'>" +
                 encode::HtmlText(layout.Value("FieldFriendlyName").ToString()) + "</td>");
  out_->Append("</tr>");
  layout.SetBookmark(start);
  out_->Append("<tr>");
  for (; inRow(); layout.MoveNext()) {
    out_->Append("<td class='FormFields' style='width:" + width + "%'>");
    WriteField(layout);
    out_->Append("</td>");
  }
  out_->Append("</tr>");
  out_->Append("</table>");
  out_->Append("\r\n");
}

void DetailsPrinterFriendly::StateBlock() {
  out_->Append(kTable);
  out_->Append("<tr><td style='height:2px'><div></div></td></tr>");
  out_->Append("<tr>");
  for (const char* label : {"Resolution", "Assign To", "Status"})
    out_->Append("<td nowrap class='FormLabels' style='width: 25%; border-bottom: #222222 1px solid'>" +
                 std::string(label) + "</td>");
  out_->Append("</tr>");
  out_->Append("<tr>");
  for (const char* column : {"ResolutionCode", "AssignedToUser", "StatusCode"})
    out_->Append("<td class='FormFields' style='width:33%'>" + encode::HtmlText(rs_->Value(column).ToString()) +
                 "</td>");
  out_->Append("</tr>");
  out_->Append("</table>");
}

std::string DetailsPrinterFriendly::Body(const std::shared_ptr<Database>& db,
                                         const std::shared_ptr<ado::Recordset>& rs, const std::string& currentUser) {
  return Procedure(kClass, "Body", [&] {
    out_ = std::make_unique<Buffer>();
    db_ = db;
    rs_ = rs;
    if (!db_ || !rs_) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    auto layout = GetDataEntryDetails(*db_, currentUser);
    const int32_t cells = layout->RecordCount();
    const std::string width = cells > 0 ? issue_form::CellWidth(cells) : std::string("0");
    while (!layout->IsEOF()) LayoutRow(*layout, width);
    StateBlock();
    std::string text = out_->Text();
    layout->Close();
    out_.reset();
    rs_.reset();
    db_.reset();
    return text;
  });
}

void DetailsPrinterFriendly::WriteField(Layout& layout) {
  const Variant rep = layout.Value("Representation");
  const std::string r = rep.IsNull() ? std::string("\x01") : rep.ToString();
  if (r == "combo") WriteComboField(layout);
  else if (r == "checkbox") WriteCheckboxField(layout);
  else if (r == "text" || r == "multiline") WriteMultilineField(layout);
  else if (r == "comments") WriteCommentField(layout);
  else if (r == "datetime") WriteDateTimeField(layout);
  else if (r.empty()) out_->Append("&nbsp;");
  else out_->Append("*** bad rep ***");
}

void DetailsPrinterFriendly::WriteComboField(Layout& layout) {
  Procedure(kClass, "WriteComboField", [&] {
    const std::string f = layout.Value("FieldName").ToString();
    std::string value;
    if (f == "ProjectCode") {
      auto project = GetProjectRs(*db_, rs_->Value("ProjectId").ToLong());
      value = project->Value("ProjectCode").ToString();
      project->Close();
    } else {
      value = rs_->Value(f).ToString();
    }
    out_->Append(encode::HtmlText(value));
  });
}

void DetailsPrinterFriendly::WriteCheckboxField(Layout& layout) {
  Procedure(kClass, "WriteCheckboxField", [&] {
    const Variant v = rs_->Value(layout.Value("FieldName").ToString());
    out_->Append(!v.IsNull() && v.ToBool() ? "Yes" : "No");
  });
}

void DetailsPrinterFriendly::WriteMultilineField(Layout& layout) {
  Procedure(kClass, "WriteMultilineField", [&] {
    out_->Append(issue_form::HtmlLines(rs_->Value(layout.Value("FieldName").ToString()).ToString()));
  });
}

// A read-only date shows its short date; an empty one nothing.
void DetailsPrinterFriendly::WriteDateTimeField(Layout& layout) {
  Procedure(kClass, "WriteDateTimeField", [&] {
    const Variant v = rs_->Value(layout.Value("FieldName").ToString());
    if (v.IsNull() || v.ToText().empty()) return;
    out_->Append(encode::HtmlText(automation::ShortDateText(v.ToDate())));
  });
}

void DetailsPrinterFriendly::WriteCommentField(Layout& layout) {
  Procedure(kClass, "WriteCommentField", [&] {
    out_->Append("<table cellspacing='0' cellpadding='0' border='0' width='100%'>");
    issue_form::CommentRows(*out_, *db_, rs_->Value("IssueId").ToLong(), layout.Value("FieldName").ToString());
    out_->Append("</table>");
  });
}

namespace {

automation::Register<DetailsPrinterFriendly> reg("DetailsPrinterFriendly", "Brisquel.DetailsPrinterFriendly",
                                                 [](auto& c) {
                                                   c.Method("Header", &DetailsPrinterFriendly::Header);
                                                   c.Method("Body", &DetailsPrinterFriendly::Body);
                                                 });

}  // namespace

}  // namespace brisquel
