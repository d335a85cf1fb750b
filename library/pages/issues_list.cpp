#include "pages/issues_list.h"

#include <algorithm>

#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "brisquel/encode.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "IssuesList";

// The sort markers: an up-pointing triangle for a descending sort, a down-pointing one for an
// ascending sort, in the size the list's headings use.
constexpr std::string_view kSortedDescending = "&nbsp;<font face='Webdings' size=2>\xE2\x96\xB2</font>&nbsp;&nbsp;";
constexpr std::string_view kSortedAscending = "&nbsp;<font face='Webdings' size=2>\xE2\x96\xBC</font>&nbsp;&nbsp;";

}  // namespace

std::string ListSortKey(const IssuesList::LayoutField& f) {
  if (f.naturalSort.IsNull() || f.naturalSort.ToBool()) return f.sortByFieldName;
  if (f.fieldName == "ProjectCode") return f.tableName + ".ProjectCode";
  return f.fieldName + "_" + f.tableName + ".SortOrder";
}

// All rows of the layout, read once. A row opens a section when its count differs from the row
// before (row 2 always opens one) and closes it when its count differs from the row after; a
// missing neighbour counts 0.
IssuesList::Layout IssuesList::ReadLayout() const {
  Layout layout;
  auto rs = GetSummaryLayoutFieldsRs(*db_, userId_, layoutCode_, -1);
  while (!rs->IsEOF()) {
    LayoutField f;
    f.row = rs->Value("RowNumber").ToLong();
    f.fieldName = rs->Text("FieldName");
    f.friendlyName = rs->Text("FieldFriendlyName");
    f.representation = rs->Text("Representation");
    f.tableName = rs->Text("TableName");
    f.sortByFieldName = rs->Text("SortByFieldName");
    f.naturalSort = rs->Value("NaturalSort");
    ++layout.counts[f.row];
    layout.fields.push_back(std::move(f));
    rs->MoveNext();
  }
  try {
    rs->Close();
  } catch (...) {
  }
  auto count = [&](int32_t r) {
    auto it = layout.counts.find(r);
    return it == layout.counts.end() ? 0 : it->second;
  };
  for (const auto& [r, n] : layout.counts) {
    layout.opens[r] = r <= 2 || n != count(r - 1);
    layout.closes[r] = r <= 1 || n != count(r + 1);
  }
  return layout;
}

int32_t IssuesList::Headings(const Layout& layout, bool naturalKeys, const std::string& border,
                             const std::string& layoutPrefix) {
  int32_t columns = 1;
  for (size_t k = 0; k < layout.fields.size(); ++k) {
    const LayoutField& f = layout.fields[k];
    if (k > 0 && f.row != 1) break;
    out_->Append("<td nowrap style='BORDER-BOTTOM: ");
    out_->Append(border);
    out_->Append(" 1px solid'>");
    ColumnSortLink(orderBy_, orderSeq_, naturalKeys ? ListSortKey(f) : f.sortByFieldName, f.friendlyName, layoutPrefix);
    out_->Append("</td>");
    ++columns;
  }
  return columns - 1;
}

void IssuesList::IssueRows(const Layout& layout, int64_t i, int32_t columns) {
  const bool odd = i % 2 == 1;
  const auto& fields = layout.fields;
  for (size_t k = 0; k < fields.size();) {
    const int32_t r = fields[k].row;
    if (r > 1) {
      out_->Append(odd ? "<tr><td></td></tr><tr>" : "<tr bgcolor=#dadada><td colspan=99></td></tr><tr bgcolor=#dadada>");
      if (layout.opens.at(r)) {
        out_->Append("<td colspan=1></td><td colspan=" + std::to_string(columns) + " valign=top><table class=box2 ");
        if (thisURL_.empty()) out_->Append("style='color:#000000' ");
        out_->Append("cellpadding=0 cellspacing=0 border=0><tr>");
      } else {
        out_->Append("<tr>");
      }
    }
    for (bool first = true; k < fields.size() && fields[k].row == r; ++k, first = false) {
      if (!first && r > 1) out_->Append("<td>&nbsp;&nbsp;&nbsp;</td>");
      OutputIssueField(r != 1, fields[k]);
    }
    out_->Append(r != 1 && layout.closes.at(r) ? "</tr></table></td></tr>" : "</tr>");
  }
}

std::string IssuesList::List(const std::shared_ptr<Database>& db, const std::shared_ptr<ado::Recordset>& rs,
                             const std::string& thisURL, const std::string& issuesURL, const std::string& userId,
                             int32_t projectId, const std::string& navSource, const std::string& navQS,
                             const std::string& layoutCode, const std::string& orderBy, int16_t orderSeq,
                             int16_t pageNum, int16_t issuesPerPage, bool allowSelection,
                             const std::string& layoutPrefix) {
  return Procedure(kClass, "List", [&] {
    if (!db || !rs) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    CallScope scope{*this};
    db_ = db, rs_ = rs, thisURL_ = thisURL, issuesURL_ = issuesURL, userId_ = userId, projectId_ = projectId;
    navSource_ = navSource, navQS_ = navQS, layoutCode_ = layoutCode, orderBy_ = orderBy, orderSeq_ = orderSeq;
    allowSelection_ = allowSelection;
    // A stored page size of 0 or an old link past the last page still shows a page.
    if (!rs->IsEOF()) {
      rs->SetPageSize(std::max<int32_t>(issuesPerPage, 1));
      rs->SetAbsolutePage(std::clamp<int32_t>(pageNum, 1, rs->PageCount()));
    }
    out_ = std::make_unique<Buffer>();
    out_->Append("<table class=box2 ");
    if (thisURL.empty()) out_->Append("style='color:#000000' ");
    out_->Append("border=0 cellspacing=0 cellpadding=0 width='100%'><tr>");
    const Layout layout = ReadLayout();
    const int32_t columns =
        Headings(layout, true, thisURL.empty() ? "#000000" : "#6294cd", layoutPrefix);
    out_->Append("</tr>");
    if (!rs->IsEOF()) {
      const int32_t pageSize = rs->PageSize();
      for (int32_t i = 1; i <= pageSize; ++i) {
        const bool odd = i % 2 == 1;
        if (allowSelection)
          out_->Append(odd ? "<tr><td></td></tr><tr>"
                           : "<tr bgcolor=#dadada style='page-break-before: auto'><td colspan=99></td></tr>"
                             "<tr bgcolor=#dadada>");
        else
          out_->Append(odd ? "<tr><td style='height:3'><div></div></td></tr><tr>"
                           : "<tr bgcolor=#dadada style='page-break-before: auto'><td colspan=99 "
                             "style='height:3'><div></div></td></tr><tr bgcolor=#dadada>");
        IssueRows(layout, i, columns);
        out_->Append(odd ? "<tr><td style='height:3'><div></div></td></tr><tr>"
                         : "<tr bgcolor=#dadada><td colspan=99 style='height:3'><div></div></td></tr><tr>");
        rs->MoveNext();
        if (rs->IsEOF()) break;
      }
    }
    out_->Append("</td></tr></table>");
    return out_->Text();
  });
}

void IssuesList::ColumnSortLink(const std::string& orderBy, int16_t orderSeq, const std::string& sortKey,
                                const std::string& caption, const std::string& layoutPrefix) {
  Procedure(kClass, "ColumnSortLink", [&] {
    const bool sorted = sortKey == orderBy;
    const std::string_view marker = !sorted ? "&nbsp;" : orderSeq != 0 ? kSortedDescending : kSortedAscending;
    const std::string label = encode::HtmlText(caption);
    if (sortKey.empty()) {
      out_->Append("<span class=formlabels>" + label + "</span>");
    } else if (thisURL_.empty()) {
      out_->Append("<span class=formlabels  style='color:#000000'>" + label);
      out_->Append(marker);
      out_->Append("</span>");
    } else {
      const int16_t next = sorted && orderSeq == 0 ? 1 : 0;
      out_->Append("<A tabindex=-1 class=formlabels " + ThisHref(1, sortKey, next, layoutPrefix) + ">" + label);
      out_->Append(marker);
      out_->Append("</a>");
    }
  });
}

// Each value is a URL component first, so a layout or sort key holding "&", "=" or "#" comes back
// as itself; the whole URL is then canonicalised as every link of the site is.
std::string IssuesList::ThisHref(int16_t pageNum, const std::string& sortKey, int16_t orderSeq,
                                 const std::string& layoutPrefix) {
  return Procedure(kClass, "ThisHref", [&] {
    const std::string p = encode::UrlComponent(layoutPrefix);
    std::string url = thisURL_;
    url += thisURL_.find('?') != std::string::npos ? "&" : "?";
    url += p + "Layout=" + encode::UrlComponent(layoutCode_);
    url += "&" + p + "ProjectId=" + std::to_string(projectId_);
    url += "&" + p + "PageNum=" + std::to_string(pageNum);
    url += "&" + p + "OrderBy=" + encode::UrlComponent(sortKey);
    url += "&" + p + "OrderSeq=" + std::to_string(orderSeq);
    return " href ='" + encode::CanonicalUrl(url) + "&" + p + encode::HtmlAttribute(navQS_) + "'";
  });
}

std::string IssuesList::IssueHref(const std::string& url, int32_t issueId) {
  return Procedure(kClass, "IssueHref", [&] {
    std::string u = url;
    u += url.find('?') != std::string::npos ? "&" : "?";
    u += "IssueId=" + std::to_string(issueId);
    u += "&NavSource=" + encode::UrlComponent(navSource_);
    u += "&ProjectId=" + std::to_string(projectId_);
    u += "&OrderBy=" + encode::UrlComponent(orderBy_);
    u += "&OrderSeq=" + std::to_string(orderSeq_);
    return " href ='" + encode::CanonicalUrl(u) + "&" + encode::HtmlAttribute(navQS_) + "'";
  });
}

void IssuesList::Release() {
  db_.reset();
  rs_.reset();
  out_.reset();
}

namespace {

automation::Register<IssuesList> reg("IssuesList", "Brisquel.IssuesList", [](auto& c) {
  c.Method("DataFile", &IssuesList::DataFile);
  c.Method("List", &IssuesList::List);
  c.Method("PrinterFriendly", &IssuesList::PrinterFriendly);
});

}  // namespace

}  // namespace brisquel
