// The printer-friendly list (every issue, black on white, headings repeated on each printed page)
// and the comma-separated download of the same issues.
#include <string>
#include <string_view>
#include <vector>

#include "automation/vbdate.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "pages/issues_list.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "IssuesList";

// The text of a quoted cell: each CRLF becomes LF, each double quote is doubled.
void AppendQuoted(std::string& out, const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    if (s[i] == '"') out += '"';
    out += s[i];
  }
}

// The start of a cell's text. A spreadsheet opening the download runs a cell that starts with
// = + - or @ as a formula, and a leading tab or CR can hide one, so such a cell's text gets a
// leading apostrophe and is read as text.
void AppendCellStart(std::string& out, const std::string& s) {
  constexpr std::string_view kFormulaStarts = "=+-@\t\r";
  if (!s.empty() && kFormulaStarts.find(s.front()) != std::string_view::npos) out += '\'';
  AppendQuoted(out, s);
}

}  // namespace

std::string IssuesList::PrinterFriendly(const std::shared_ptr<Database>& db, const std::shared_ptr<ado::Recordset>& rs,
                                        const std::string& pageHeader, const std::string& userId,
                                        const std::string& layoutCode, const std::string& orderBy, int16_t orderSeq) {
  return Procedure(kClass, "PrinterFriendly", [&] {
    if (!db || !rs) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    CallScope scope{*this};
    db_ = db, rs_ = rs, userId_ = userId, layoutCode_ = layoutCode;
    thisURL_.clear(), issuesURL_.clear(), allowSelection_ = false;
    if (!(rs->IsBOF() && rs->IsEOF())) rs->MoveFirst();
    out_ = std::make_unique<Buffer>();
    out_->Append(
        "<table class=box2 style='color:#000000' border=0 cellspacing=0 cellpadding=0 width='100%'>"
        "<thead style='display: table-header-group'><tr><td colspan=99>");
    out_->Append(pageHeader);
    out_->Append("</td></tr><tr><td style='height:6px;'><div></div></td></tr><tr>");
    const Layout layout = ReadLayout();
    // The headings of the printed list match the sort by the fields' own sort expressions.
    orderBy_ = orderBy, orderSeq_ = orderSeq;
    const int32_t columns = Headings(layout, false, "#000000", "");
    out_->Append("</tr></thead>");
    for (int64_t i = 1; !rs->IsEOF(); ++i) {
      const bool odd = i % 2 == 1;
      out_->Append(odd ? "<tr><td style='height:3px;'><div></div></td></tr><tr>"
                       : "<tr bgcolor=#dadada style='page-break-before: auto'><td colspan=99 "
                         "style='height:3px;'><div></div></td></tr><tr bgcolor=#dadada>");
      IssueRows(layout, i, columns);
      out_->Append(odd ? "<tr><td style='height:3'><div></div></td></tr><tr>"
                       : "<tr bgcolor=#dadada><td colspan=99 style='height:3'><div></div></td></tr><tr>");
      rs->MoveNext();
    }
    out_->Append(
        "<tr><td colspan=99 nowrap style='BORDER-BOTTOM: #000000 1px solid'><img height=1px width=0px></td></tr>");
    out_->Append("</table>");
    return out_->Text();
  });
}

// The layout is read once: the columns are the fields of rows 1 to the layout's NumRows.
automation::Variant IssuesList::DataFile(const std::shared_ptr<Database>& db, const std::shared_ptr<ado::Recordset>& rs,
                                         const std::string& userId, const std::string& layoutCode) {
  return Procedure(kClass, "DataFile", [&] {
    if (!db || !rs) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    CallScope scope{*this};
    db_ = db, rs_ = rs, userId_ = userId, layoutCode_ = layoutCode;
    auto summary = GetSummaryLayoutRs(*db, userId, layoutCode);
    const int32_t numRows = summary->Value("NumRows").ToLong();
    summary->Close();
    std::vector<LayoutField> columns;
    for (LayoutField& f : ReadLayout().fields)
      if (f.row >= 1 && f.row <= numRows) columns.push_back(std::move(f));
    out_ = std::make_unique<Buffer>();
    std::string line;
    for (size_t c = 0; c < columns.size(); ++c) {
      line += c ? ",\"" : "\"";
      AppendCellStart(line, columns[c].friendlyName);
      line += '"';
    }
    out_->Append(line + "\r\n");
    // Each column's field (a comments column: the issue's id) is found by its name once, at the
    // first row; the rows not read yet are read with those fields only.
    std::vector<size_t> fields;
    if (!rs->IsEOF())
      for (const LayoutField& f : columns)
        fields.push_back(rs->FieldIndex(f.representation == "comments" ? std::string_view("IssueId") : f.fieldName));
    rs->ReadRest(fields, [&](const std::vector<automation::Variant>& values) {
      line.clear();
      for (size_t c = 0; c < columns.size(); ++c) {
        if (c) line += ',';
        line += '"';
        if (columns[c].representation == "comments") {
          auto comments = GetCommentsRs(*db, values[c].ToLong(), columns[c].fieldName);
          for (bool first = true; !comments->IsEOF(); comments->MoveNext(), first = false) {
            const automation::Date on = comments->Value("CommentCreatedOn").ToDate();
            if (!first) line += '\n';
            (first ? AppendCellStart : AppendQuoted)(
                line, automation::ShortDateText(on) + " " + automation::ShortTimeText(on) + " " +
                          comments->Value("CommentAuthor").ToString() + "\n" +
                          comments->Value("CommentText").ToString());
          }
          comments->Close();
        } else if (!values[c].IsNull()) {
          AppendCellStart(line, values[c].ToString());
        }
        line += '"';
      }
      out_->Append(line + "\r\n");
    });
    return automation::Variant(out_->Text());
  });
}

}  // namespace brisquel
