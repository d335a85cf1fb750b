// The field writers of the entry form: one per representation, each writing the elements of one
// issue field into the cell Body has opened. Every element posted back carries the field's name.
#include "automation/vbdate.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "pages/data_entry_form.h"
#include "brisquel/encode.h"
#include "pages/ui_helpers.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "DataEntryForm";
constexpr std::string_view kUpdated =
    " class='formfields' onchange='return IssueUpdated();' oncut='return IssueUpdated();' "
    "onkeydown='return IssueUpdated();' rows=";
constexpr std::string_view kSunkenCell =
    "<tr><td style='border-top: 1px solid buttonshadow; border-left: 1px solid buttonshadow; "
    "border-right: 1px solid buttonface; border-bottom: 1px solid buttonface;'>";
constexpr std::string_view kScrolled =
    "overflow-y: scroll; border-top: 1px solid threeddarkshadow; border-left: 1px solid threeddarkshadow;'>";

std::string Attr(std::string_view s) { return encode::HtmlAttribute(s); }

// The hidden input that posts a value under the field's name.
std::string HiddenInput(const std::string& field, const std::string& value) {
  return "<input id='" + Attr(field) + "' name='" + Attr(field) + "' type='hidden' value=\"" + Attr(value) + "\">";
}

std::string CommentBox(const std::string& field, std::string_view rows, const std::string& value) {
  return "<textarea id='" + Attr(field) + "' name='" + Attr(field) + "' style='clip:hard; width:100%'" +
         std::string(kUpdated) + std::string(rows) + ">" + encode::HtmlText(value) + "</textarea>";
}

}  // namespace

void DataEntryForm::WriteField(Layout& layout) {
  const Variant rep = layout.Value("Representation");
  const std::string r = rep.IsNull() ? std::string("\x01") : rep.ToString();
  if (r == "combo") WriteComboField(layout);
  else if (r == "checkbox") WriteCheckBoxField(layout);
  else if (r == "text" || r == "multiline") WriteMultilineField(layout);
  else if (r == "comments") WriteCommentField(layout);
  else if (r == "datetime") WriteDataTimeField(layout);
  else if (r.empty()) out_.Append("&nbsp;");
  else out_.Append("*** bad rep ***");
}

void DataEntryForm::WriteMultilineField(Layout& layout) {
  Procedure(kClass, "WriteMultilineField", [&] {
    const std::string f = layout.Value("FieldName").ToString();
    const int32_t lines = layout.Value("NumLines").ToLong();
    if (!Inquiry()) {
      out_.Append("<textarea id='" + Attr(f) + "' name='" + Attr(f) + "' style='width:100%; ");
      if (lines == 1) out_.Append(" overflow:hidden; ");
      out_.Append("'" + std::string(kUpdated) + std::to_string(lines) + " onfocus='" + Attr(f) + ".select();'>");
      if (Posted()) out_.Append(encode::HtmlText(PostedValue(f)));
      else if (Modify()) out_.Append(encode::HtmlText(StoredValue(f)));
      out_.Append("</textarea>");
      return;
    }
    const std::string stored = StoredValue(f);
    out_.Append("<table cellspacing='0' cellpadding='0' border='0' width='100%'>");
    out_.Append(kSunkenCell);
    out_.Append("<div class='formfields' style='padding: 1px; width: 100%; ");
    out_.Append("height:" + std::to_string(lines * 18 + 1) + "px; ");
    out_.Append(kScrolled);
    out_.Append("<table cellspacing='0' cellpadding='0' border='0' width='100%'><tr><td class='formfields' "
                "style='color:graytext'>");
    out_.Append(issue_form::HtmlLines(stored));
    out_.Append("</td></tr></table>");
    out_.Append("</div>");
    out_.Append("</td></tr>");
    out_.Append("</table>");
    out_.Append(HiddenInput(f, stored));
  });
}

void DataEntryForm::WriteComboField(Layout& layout) {
  Procedure(kClass, "WriteComboField", [&] {
    const std::string f = layout.Value("FieldName").ToString();
    const bool project = f == "ProjectCode";
    const bool disabled = Inquiry() || (project && Modify());
    std::string selected;
    if (Inquiry() || (Modify() && !Posted()))
      selected = project ? issue_->Value("ProjectId").ToString() : StoredValue(f);
    else if (Posted())
      selected = PostedValue(f);
    else if (project)
      selected = std::to_string(project_);
    if (disabled) {
      out_.Append("<select onkeydown='return EnterInComboBox();' id='inq_" + Attr(f) + "' name='inq_" + Attr(f) +
                  "' style='width:98%' disabled ");
    } else {
      out_.Append("<select onkeydown='return EnterInComboBox();' id='" + Attr(f) + "' name='" + Attr(f) +
                  "' style='width:98%' onkeydown='return EnterInComboBox();'");
      out_.Append(project ? " onchange='return cmbProject_onchange();' " : " onchange='return IssueUpdated();' ");
    }
    out_.Append(">");
    auto values = std::dynamic_pointer_cast<ado::Recordset>(
        GetFieldComboValuesRs(*db_, user_, project_, f).ToObject());
    if (!values) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
    UIHelpers ui;
    if (project)
      out_.Append(ui.OptionList(values, "ProjectId", "ProjectCode", selected));
    else if (values->IsEOF())
      out_.Append("<option></option>");
    else
      out_.Append(ui.OptionList(values, "", layout.Value("TableFieldName").ToString(), selected));
    out_.Append("</select>");
    if (disabled) out_.Append(HiddenInput(f, selected));
    values->Close();
  });
}

void DataEntryForm::WriteCheckBoxField(Layout& layout) {
  Procedure(kClass, "WriteCheckBoxField", [&] {
    const std::string f = layout.Value("FieldName").ToString();
    std::string value;
    if (Inquiry() || (Modify() && !Posted())) {
      if (!issue_) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
      const Variant stored = issue_->Value(f);
      value = !stored.IsNull() && stored.ToBool() ? "on" : "";
    } else if (Posted()) {
      value = PostedValue(f);
    }
    out_.Append("<table class='box2' cellpadding='0' cellspacing='0' border='0'>");
    out_.Append("<tr>");
    out_.Append("<td valign='middle'>");
    if (Inquiry())
      out_.Append("<input id='inq_" + Attr(f) + "' name='inq_" + Attr(f) +
                  "' type='checkbox' onclick='return IssueUpdated();' disabled");
    else
      out_.Append("<input id='" + Attr(f) + "' name='" + Attr(f) + "' type='checkbox' onclick='return IssueUpdated();'");
    if (value == "on") out_.Append(" checked");
    out_.Append(">");
    if (Inquiry()) out_.Append(HiddenInput(f, value));
    out_.Append("</td>");
    out_.Append("<td class='FormLabels' valign='middle'>");
    out_.Append(encode::HtmlText(layout.Value("FieldFriendlyName").ToString()));
    out_.Append("</td>");
    out_.Append("</tr>");
    out_.Append("</table>");
  });
}

// No date picker control exists in a current browser: a date input stands in for it and copies
// its ISO value into the hidden input the writers read (the date parser takes ISO dates).
void DataEntryForm::WriteDataTimeField(Layout& layout) {
  Procedure(kClass, "WriteDataTimeField", [&] {
    const std::string f = layout.Value("FieldName").ToString();
    std::string value;
    if (Inquiry() || (Modify() && !Posted())) value = StoredValue(f);
    else if (Posted()) value = PostedValue(f);
    const auto date = automation::ParseDate(value);
    const std::string iso = date ? automation::IsoDate(*date) : std::string();
    out_.Append("<input type=date id='dt_" + Attr(f) + "' name='dt_" + Attr(f) + "' style='width:98%' value='" +
                Attr(iso) + "'");
    if (Inquiry())
      out_.Append(" disabled");
    else
      out_.Append(" onchange='this.form.elements[\"" + Attr(f) + "\"].value = this.value; return IssueUpdated();'");
    out_.Append(">");
    out_.Append(HiddenInput(f, value));
  });
}

void DataEntryForm::WriteCommentField(Layout& layout) {
  Procedure(kClass, "WriteCommentField", [&] {
    const std::string f = layout.Value("FieldName").ToString();
    const std::string newComment = Posted() ? PostedValue(f) : std::string();
    if (mode_ == "add") {
      out_.Append(CommentBox(f, "8", newComment));
      return;
    }
    CommentHistory(f);
    out_.Append("</td>");
    out_.Append("</tr>");
    out_.Append("<tr><td style='height:7px'><div></div></td></tr>");
    out_.Append("<tr>");
    out_.Append("<td nowrap class='FormLabels'>Your " +
                encode::HtmlText(layout.Value("FieldFriendlyName").ToString()) + "</td>");
    out_.Append("</tr>");
    out_.Append("<tr><td style='height:2px'><div></div></td></tr>");
    out_.Append("<tr>");
    out_.Append("<td>");
    out_.Append(CommentBox(f, "2", newComment));
  });
}

// The history box: a sunken, scrolled box of the comments, newest first.
void DataEntryForm::CommentHistory(const std::string& field) {
  if (!issue_) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
  out_.Append("<table cellspacing='0' cellpadding='0' border='0' width='100%'>");
  out_.Append(kSunkenCell);
  out_.Append("<div class='formfields' style='padding: 1px; width: 100%; height:88px; ");
  out_.Append(kScrolled);
  out_.Append("<table cellspacing='0' cellpadding='0' border='0' width='100%'>");
  issue_form::CommentRows(out_, *db_, issue_->Value("IssueId").ToLong(), field);
  out_.Append("</table>");
  out_.Append("</div>");
  out_.Append("</td></tr>");
  out_.Append("</table>");
}

}  // namespace brisquel
