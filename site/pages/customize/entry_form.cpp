// /Setup/SiteEntryForm.asp: the layout of the issue entry form, a grid of rows of up to five fields.
// Each row says how many of its boxes it uses; a row not in use is left out, and the rows in use
// close up. Site administrators only.
#include <algorithm>

#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;

constexpr std::string_view kPath = "/Setup/SiteEntryForm.asp";
constexpr size_t kCells = 5;      // the boxes of a row
constexpr size_t kLeastRows = 10;  // the editor shows at least this many rows

// The grid as the editor shows it: per row the number of boxes used ("" for a row not in use) and
// its five boxes.
struct Grid {
  std::vector<std::string> used;
  std::vector<std::vector<std::string>> cells;
  void AddRow(std::string n, std::vector<std::string> row) {
    row.resize(kCells);
    used.push_back(std::move(n));
    cells.push_back(std::move(row));
  }
  void Pad() {
    while (used.size() < std::max(kLeastRows, StoredRows() + 1)) AddRow("", {});
  }
  size_t StoredRows() const {
    size_t n = 0;
    for (size_t r = 0; r < used.size(); ++r)
      if (!used[r].empty()) n = r + 1;
    return n;
  }
};

Grid StoredGrid(PageContext& page) {
  Grid g;
  auto rs = page.Database()->Call("GetDataEntryDetails", {Variant(page.UserId())}).ToObject();
  std::vector<std::string> row;
  int32_t rowNumber = 0;
  auto flush = [&] {
    if (!row.empty()) g.AddRow(std::to_string(std::min(row.size(), kCells)), row);
    row.clear();
  };
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const int32_t n = FieldValue(*rs, "RowNumber").ToLong();
    if (n != rowNumber) flush();
    rowNumber = n;
    row.push_back(FieldText(*rs, "FieldName"));
  }
  flush();
  g.Pad();
  return g;
}

// The grid as it was posted, whole rows of five boxes.
Grid PostedGrid(PageContext& page) {
  Grid g;
  const std::vector<std::string> used = page.FormValues("NumFields");
  const std::vector<std::string> cells = page.FormValues("Field");
  for (size_t r = 0; r < used.size(); ++r) {
    std::vector<std::string> row;
    for (size_t c = 0; c < kCells && r * kCells + c < cells.size(); ++c) row.push_back(cells[r * kCells + c]);
    g.AddRow(used[r], std::move(row));
  }
  g.Pad();
  return g;
}

void SendGrid(PageContext& page, const Grid& g, const std::string& image, const std::string& message) {
  auto fields = page.Database()->Call("GetIssueDataEntryLayoutFieldsRs").ToObject();
  std::vector<forms::Option> options = forms::Options(*fields, "FieldName", "FieldFriendlyName");
  // A field that stands on the form but is no longer offered stays where it is.
  for (const auto& row : g.cells)
    for (const std::string& cell : row)
      if (std::none_of(options.begin(), options.end(), [&](const forms::Option& o) { return o.value == cell; }))
        options.push_back({cell, cell});
  std::vector<forms::Option> counts{{"", "Not used"}};
  for (size_t n = 0; n <= kCells; ++n) counts.push_back({std::to_string(n), std::to_string(n)});

  std::string rows = "<tr><td class=FormLabels>Row</td><td class=FormLabels>Fields used</td>";
  for (size_t c = 1; c <= kCells; ++c) rows += "<td class=FormLabels>Field " + std::to_string(c) + "</td>";
  rows += "</tr>\r\n";
  for (size_t r = 0; r < g.used.size(); ++r) {
    const std::string n = std::to_string(r + 1);
    rows += "<tr><td class=FormLabels>" + n + "</td><td class=FormFields>" +
            forms::GridSelect("NumFields", "NumFields" + n, counts, g.used[r]) + "</td>";
    for (size_t c = 0; c < kCells; ++c)
      rows += "<td class=FormFields>" +
              forms::GridSelect("Field", "Field" + n + "_" + std::to_string(c + 1), options, g.cells[r][c]) + "</td>";
    rows += "</tr>\r\n";
  }
  const std::string body =
      "<p class=FormFields>Each row of the issue form holds up to five fields. A row shows as many of its boxes as "
      "it uses; rows not used are left out.</p>\r\n" +
      forms::EditPage(page, "Data Entry Form", kPath, message, rows, forms::Hidden("rsLayout", image));
  page.SendPage("Data Entry Form", body);
}

void EntryFormPage(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  auto layouts = db->Call("GetDataEntryLayoutRs");
  SendGrid(page, StoredGrid(page), db->Call("rsToXml", {layouts}).ToString(), "");
}

void EntryFormPost(PageContext& page) {
  auto db = page.Database();
  if (!forms::RequireSiteAdmin(page, *db)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  const std::string image = page.Form("rsLayout");
  std::string message;
  auto stored = forms::PostedImage(page, *db, "rsLayout", message);
  if (!stored) {
    SendGrid(page, PostedGrid(page), image, message);
    return forms::Refused(page);
  }
  if (!forms::CallWriter(page, *db, "UpdateDataEntryLayout", {Variant(page.UserId()), Variant(stored), Variant(form)},
                         kPath, message))
    SendGrid(page, PostedGrid(page), image, message);
}

AddPage entryForm(std::string(kPath), {.get = EntryFormPage, .post = EntryFormPost});

}  // namespace

}  // namespace site
