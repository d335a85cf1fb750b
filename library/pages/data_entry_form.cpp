#include "pages/data_entry_form.h"

#include <algorithm>

#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "brisquel/encode.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "DataEntryForm";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSpacer = "<tr><td style='height:2px'><div></div></td></tr>";

// Whether the project is one of those open to the user.
bool UserMayUse(Database& db, const std::string& userId, int32_t projectId) {
  auto projects = GetUserProjectsRs(db, userId);
  bool found = false;
  for (; !found && !projects->IsEOF(); projects->MoveNext())
    found = projects->Value("ProjectId").ToLong() == projectId;
  projects->Close();
  return found;
}

// The whole number of a text as the form posts it; 0 for a text that is none.
int32_t ProjectNumber(const std::string& text) {
  int32_t n = 0;
  try {
    n = Variant(text).ToLong();
  } catch (const automation::ComError&) {
  }
  return n;
}

}  // namespace

std::string DataEntryForm::PostedValue(const std::string& field) const { return form_->Fields()->Text(field); }

std::string DataEntryForm::StoredValue(const std::string& field) const {
  if (!issue_) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
  return issue_->Value(field).ToString();
}

// The project whose code values the boxes offer. A posted or given project the user may not use
// is passed over, so no page can make the form list another project's codes.
int32_t DataEntryForm::FormProject(const std::string& lastProjectId) {
  if (Modify() || Inquiry()) {
    if (!issue_) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    return issue_->Value("ProjectId").ToLong();
  }
  if (Posted()) {
    const int32_t posted = ProjectNumber(PostedValue("ProjectCode"));
    if (UserMayUse(*db_, user_, posted)) return posted;
  }
  if (!lastProjectId.empty()) {
    const int32_t last = ProjectNumber(lastProjectId);
    if (UserMayUse(*db_, user_, last)) return last;
  }
  auto user = GetUserRs(*db_, user_);
  const Variant preferred = user->IsEOF() ? Variant::Null() : user->Value("DefaultProject");
  user->Close();
  if (!preferred.IsNull() && preferred.ToLong() != -1 && UserMayUse(*db_, user_, preferred.ToLong()))
    return preferred.ToLong();
  auto projects = GetUserProjectsRs(*db_, user_);
  const int32_t first = projects->Value("ProjectId").ToLong();
  projects->Close();
  return first;
}

// One layout row: a table whose first row holds the labels and whose second the fields, the
// cells walked twice from the row's first record.
void DataEntryForm::LayoutRow(Layout& layout) {
  const int32_t row = layout.Value("RowNumber").ToLong();
  auto inRow = [&] { return !layout.IsEOF() && layout.Value("RowNumber").ToLong() == row; };
  out_.Append("<table cellpadding='0' cellspacing='0' border='0' width='98%'>");
  out_.Append(kSpacer);
  out_.Append("<tr>");
  const Variant start = layout.Bookmark();
  for (; inRow(); layout.MoveNext()) {
    out_.Append("<td nowrap class='FormLabels' style='width: " +
                issue_form::CellWidth(layout.Value("NumFieldsOnRow").ToLong()) + "%'>");
    if (layout.Value("Representation").ToText() != "checkbox")
      out_.Append(encode::HtmlText(layout.Value("FieldFriendlyName").ToString()));
    out_.Append("</td>");
  }
  out_.Append("</tr>");
  out_.Append(kSpacer);
  layout.SetBookmark(start);
  out_.Append("<tr>");
  for (; inRow(); layout.MoveNext()) {
    out_.Append("<td class='FormFields' style='width:" +
                issue_form::CellWidth(layout.Value("NumFieldsOnRow").ToLong()) + "%'>");
    WriteField(layout);
    out_.Append("</td>");
  }
  out_.Append("</tr>");
  out_.Append("<tr><td style='height:3px'><div></div></td></tr>");
  out_.Append("</table>");
  out_.Append(kCrLf);
}

std::string DataEntryForm::Body(Variant& db, Variant& rs, std::string& mode, Variant& lastFormData,
                                std::string& lastProjectId, std::string& currentUser) {
  return Procedure(kClass, "Body", [&] {
    db_ = issue_form::DatabaseOf(db);
    issue_ = rs.IsEmpty() ? nullptr : std::dynamic_pointer_cast<ado::Recordset>(rs.ToObject());
    mode_ = mode;
    form_ = lastFormData.IsObject() ? std::dynamic_pointer_cast<MultipartFormData>(lastFormData.ToObject()) : nullptr;
    out_ = Buffer();
    user_ = currentUser;
    project_ = FormProject(lastProjectId);
    auto layout = GetDataEntryDetails(*db_, user_);
    while (!layout->IsEOF()) LayoutRow(*layout);
    std::string text = out_.Text();
    layout->Close();
    out_ = Buffer();
    issue_.reset();
    db_.reset();
    return text;
  });
}

std::string DataEntryForm::Hidden(Variant& db, const std::shared_ptr<MultipartFormData>& formData,
                                  const std::string& currentUser) {
  return Procedure(kClass, "Hidden", [&] {
    if (!formData) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    Buffer out;
    auto layout = db.ToObject()->Call("GetDataEntryDetails", {Variant(currentUser)});
    auto rs = std::dynamic_pointer_cast<ado::Recordset>(layout.ToObject());
    if (!rs) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
    const auto fields = formData->Fields();
    for (; !rs->IsEOF(); rs->MoveNext()) {
      const std::string f = rs->Value("FieldName").ToString();
      if (f.empty()) continue;  // an empty cell of the layout
      const std::string name = encode::HtmlAttribute(f);
      out.Append("<input type=hidden id=" + name + " name=" + name + " value=\"" +
                 encode::HtmlAttribute(fields->Text(f)) + "\">");
      out.Append(kCrLf);
    }
    rs->Close();
    return out.Text();
  });
}

std::string DataEntryForm::Header(const std::string& userId, const std::shared_ptr<Database>& db, int32_t issueId,
                                  const std::string& resolutionCode, const std::string& statusCode) {
  return issue_form::ValidationScript(kClass, db, userId, issueId, resolutionCode, statusCode,
                                      issue_form::NewIssueChecks::kAlways);
}

namespace {

automation::Register<DataEntryForm> reg("DataEntryForm", "Brisquel.DataEntryForm", [](auto& c) {
  c.Method("Hidden", &DataEntryForm::Hidden);
  c.Method("Header", &DataEntryForm::Header);
  c.Method("Body", &DataEntryForm::Body);
});

}  // namespace

}  // namespace brisquel
