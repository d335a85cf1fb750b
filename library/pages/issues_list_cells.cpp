// The cells of one issue for one layout field: the issue number (a link, with or without its
// selection box), a comments field (a small table of the comments, newest first) or any other value.
#include <string>

#include "automation/vbdate.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "pages/data_entry_form.h"
#include "brisquel/encode.h"
#include "pages/issues_list.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "IssuesList";
constexpr std::string_view kClickHandlers =
    "onclick='IssueId_Click();' onmouseover='IssueId_MouseOver()' onmouseout='IssueId_MouseOut()'";

// The label and spacer cells that stand before a sub-row's value.
std::string SubRowLabel(const IssuesList::LayoutField& f) {
  return "<td valign=top nowrap>" + encode::HtmlText(f.friendlyName) + ":</td><td nowrap valign=top>&nbsp;</td>";
}

}  // namespace

void IssuesList::OutputIssueField(bool subRow, const LayoutField& f) {
  Procedure(kClass, "OutputIssueField", [&] {
    if (f.fieldName == "IssueId") return IssueNumberCell(subRow, f);
    if (f.representation == "comments") return CommentsCell(subRow, f);
    const automation::Variant v = rs_->Value(f.fieldName);
    const std::string value = v.IsNull() ? std::string() : v.ToString();
    if (subRow) {
      out_->Append(SubRowLabel(f) + "<td valign=top>" + issue_form::HtmlLines(value) + "</td>");
    } else {
      out_->Append(allowSelection_ ? "<td nowrap valign=bottom>" : "<td nowrap>");
      out_->Append(encode::HtmlText(value));
      out_->Append("</td>");
    }
  });
}

void IssuesList::IssueNumberCell(bool subRow, const LayoutField& f) {
  const automation::Variant id = rs_->Value("IssueId");
  const std::string number = encode::HtmlText(id.ToString());
  const std::string label = encode::HtmlText(f.friendlyName);
  if (!allowSelection_) {
    if (issuesURL_.empty()) {
      out_->Append(subRow ? "<td valign=top nowrap>" + label + ":</td><td>" + number + "</td>"
                          : "<td>" + number + "</td>");
      return;
    }
    const std::string link = "<a tabindex=-1 class=box " + IssueHref(issuesURL_, id.ToLong()) + ">" + number + "</a></td>";
    out_->Append(subRow ? SubRowLabel(f) + "<td valign=top " : std::string("<td "));
    out_->Append(kClickHandlers);
    out_->Append(">" + link);
    return;
  }
  const std::string disabled = UserCanModifyIssue(*db_, userId_, id.ToLong()) ? "" : " disabled";
  const std::string box = "type=checkbox id=chkIssue name=chkIssue onclick='chkIssue_Click()'" + disabled +
                          " value='" + number + "'>&nbsp;</td>";
  const std::string link = "<a tabindex=-1 class=box " + IssueHref(issuesURL_, id.ToLong()) + ">" + number + "</a>";
  if (!subRow) {
    out_->Append("<td nowrap><table border=0 cellspacing=0 cellpadding=0><tr><td valign=top style='height:10px' >"
                 "<input style='height:12px' valign=top " +
                 box + "<td valign=bottom width=100% ");
  } else {
    out_->Append("<td nowrap><table class=box border=0 cellspacing=0 cellpadding=0><tr><td nowrap>" + label +
                 ":&nbsp;</td><td><input " + box + "<td width=100% ");
  }
  out_->Append(kClickHandlers);
  out_->Append(">" + link + "</td></tr></table></td>");
}

// An issue without comments of the field keeps the cell's frame, so the row's cells stay under
// their headings.
void IssuesList::CommentsCell(bool subRow, const LayoutField& f) {
  auto comments = GetCommentsRs(*db_, rs_->Value("IssueId").ToLong(), f.fieldName);
  out_->Append(subRow ? SubRowLabel(f) + "<td valign=top>" : std::string("<td valign=top>"));
  out_->Append("<table cellspacing=0 cellpadding=0 border=0 width='100%'>");
  while (!comments->IsEOF()) {
    const automation::Date on = comments->Value("CommentCreatedOn").ToDate();
    out_->Append("<tr><td nowrap class=box2 valign=top>" + automation::ShortDateText(on) + " " +
                 automation::ShortTimeText(on) + " " + encode::HtmlText(comments->Value("CommentAuthor").ToString()) +
                 "</td><td valign=top class=box2>&nbsp;&nbsp;</td><td width=100% class=box2>" +
                 issue_form::HtmlLines(comments->Value("CommentText").ToString()) + "</td></tr>");
    comments->MoveNext();
  }
  out_->Append("</table></td>");
  comments->Close();
}

}  // namespace brisquel
