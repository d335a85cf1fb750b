// The validation script and the pieces the entry form and the printer page share.
#include <cmath>

#include "automation/vbdate.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "pages/data_entry_form.h"
#include "brisquel/encode.h"

namespace brisquel::issue_form {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// One check: the condition line, then the alert, the focus and the early return.
void Check(Buffer& out, const std::string& condition, const std::string& field, const std::string& friendlyName) {
  out.Append(condition);
  out.Append(kCrLf);
  out.Append("alert('" + encode::ScriptString(friendlyName + " cannot be blank.") + "'); ");
  out.Append(kCrLf);
  out.Append("fIssueDetail." + field + ".focus(); ");
  out.Append(kCrLf);
  out.Append("return false; ");
  out.Append(kCrLf);
  out.Append("} ");
  out.Append(kCrLf);
}

// A required field's check by its representation; fields of other representations have none.
void FieldCheck(Buffer& out, ado::Recordset& rs, bool stateChange) {
  const std::string f = rs.Value("FieldName").ToString();
  const std::string n = rs.Value("FieldFriendlyName").ToString();
  const automation::Variant rep = rs.Value("Representation");
  const std::string r = rep.IsNull() ? std::string() : rep.ToString();
  const std::string trimmed = "if (Trim(fIssueDetail." + f + ".value) == '') { ";
  if (r == "combo")
    Check(out, "if (fIssueDetail." + f + ".options[fIssueDetail." + f + ".selectedIndex].text == '') { ", f, n);
  else if (r == "text" || r == "multiline" || (r == "comments" && stateChange))
    Check(out, trimmed, f, n);
}

bool Differs(const automation::Variant& stored, const std::string& target) {
  return stored.IsNull() || stored.ToString() != target;
}

}  // namespace

std::string ValidationScript(std::string_view className, const std::shared_ptr<Database>& dbRef, const std::string& userId, int32_t issueId,
                             const std::string& resolutionCode, const std::string& statusCode,
                             NewIssueChecks newIssue) {
  return Procedure(className, "Header", [&] {
    if (!dbRef) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    Database& db = *dbRef;
    Buffer out;
    bool stateChange = false;
    if (issueId != -1) {
      auto issue = GetIssueRs(db, issueId);
      stateChange = Differs(issue->Value("ResolutionCode"), resolutionCode) ||
                    Differs(issue->Value("StatusCode"), statusCode);
      issue->Close();
    }
    auto required = GetIssueValidationsRs(db, resolutionCode, statusCode);
    const bool any = !required->IsEOF();
    const bool allowed = UserCanModifyIssue(db, userId, issueId);
    const bool checks = any && (allowed || (issueId == -1 && newIssue == NewIssueChecks::kAlways));
    out.Append("<SCRIPT LANGUAGE=javascript>");
    out.Append(kCrLf);
    out.Append("function Validate() { ");
    out.Append(kCrLf);
    for (; checks && !required->IsEOF(); required->MoveNext()) FieldCheck(out, *required, stateChange);
    out.Append("return true;");
    out.Append(kCrLf);
    out.Append("}");
    out.Append(kCrLf);
    out.Append("</SCRIPT>");
    out.Append(kCrLf);
    required->Close();
    return out.Text();
  });
}

std::string CellWidth(int32_t cells) {
  return std::to_string(static_cast<long>(std::nearbyint(100.0 / static_cast<double>(cells))));
}

std::string HtmlLines(std::string_view text) {
  std::string encoded = encode::HtmlText(text);
  std::string out;
  out.reserve(encoded.size());
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '\r' && i + 1 < encoded.size() && encoded[i + 1] == '\n') {
      out += "<br>";
      ++i;
    } else {
      out += encoded[i];
    }
  }
  return out;
}

void CommentRows(Buffer& out, Database& db, int32_t issueId, const std::string& field) {
  auto comments = GetCommentsRs(db, issueId, field);
  for (; !comments->IsEOF(); comments->MoveNext()) {
    const automation::Date on = comments->Value("CommentCreatedOn").ToDate();
    out.Append("<tr>");
    out.Append("<td nowrap class=FormFields valign=top style='border-bottom: buttonface 1px solid'>");
    out.Append(automation::ShortDateText(on) + " " + automation::ShortTimeText(on) + " " +
               encode::HtmlText(comments->Value("CommentAuthor").ToString()));
    out.Append("</td>");
    out.Append("<td valign=top class=FormFields style='border-bottom: buttonface 1px solid'>&nbsp;&nbsp;</td>");
    out.Append("<td width=100% class=FormFields style='border-bottom: buttonface 1px solid'>");
    out.Append(HtmlLines(comments->Value("CommentText").ToString()));
    out.Append("</td>");
    out.Append("</tr>");
  }
  comments->Close();
}

std::shared_ptr<Database> DatabaseOf(const automation::Variant& v) {
  if (!v.IsObject()) automation::RaiseRuntime(automation::vberr::kTypeMismatch);
  auto db = std::dynamic_pointer_cast<Database>(v.ToObject());
  if (!db) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
  return db;
}

}  // namespace brisquel::issue_form
