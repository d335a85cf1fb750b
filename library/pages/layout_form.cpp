#include "pages/layout_form.h"

#include <vector>

#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "pages/ui_helpers.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "LayoutForm";
constexpr int32_t kMinimumRows = 10;

struct Grid {
  Buffer& out;
  UIHelpers& ui;
  const std::shared_ptr<ado::Recordset>& fields;
  int32_t columns;
  std::string blank;

  std::string Options(const std::string& selected) const {
    return ui.OptionList(fields, "FieldName", "FieldFriendlyName", selected);
  }
  void Box(int32_t r, int32_t c, bool hidden, const std::string& options) {
    out.Append("<TD>");
    out.Append("<SELECT name=Field id=r" + std::to_string(r) + "f" + std::to_string(c) + " onchange='return FieldSelect(" +
               std::to_string(r) + "," + std::to_string(c) + ");'");
    if (hidden) out.Append(" style='display:none;'");
    out.Append(">");
    out.Append(options);
    out.Append("</SELECT></TD>");
    out.Append("\r\n");
  }
  std::string Label(int32_t r) const { return std::to_string(r + 1) + "</TD><td></td>"; }
};

// A stored layout row: its fields in order, then one shown blank box and hidden ones after it.
void LayoutRow(Grid& g, Database& db, const std::string& userId, const std::string& layoutName, int32_t r) {
  auto row = GetSummaryLayoutFieldsRs(db, userId, layoutName, static_cast<int16_t>(r + 1));
  g.out.Append("<tr><td align=right class=formlabels>" + g.Label(r));
  bool blankShown = false;
  for (int32_t c = 0; c < g.columns; ++c) {
    if (!row->IsEOF()) {
      g.Box(r, c, false, g.Options(row->Value("FieldName").ToString()));
      row->MoveNext();
    } else {
      g.Box(r, c, blankShown, g.blank);
      blankShown = true;
    }
  }
  row->Close();
  g.out.Append("</tr>\r\n");
}

void BlankRow(Grid& g, int32_t r) {
  g.out.Append("<tr><td nowrap align=right class=formlabels>" + g.Label(r) + "\r\n");
  for (int32_t c = 0; c < g.columns; ++c) g.Box(r, c, c > 0, g.blank);
  g.out.Append("</tr>");
}

// The browser's values: box c of row r is value r * C + c. Values the browser did not send count
// as empty, so a short or single-valued list still rebuilds the whole grid.
void PostedRow(Grid& g, const std::vector<std::string>& posted, int32_t r) {
  g.out.Append("<tr><td align=right class=formlabels>" + g.Label(r));
  bool emptySeen = false;
  for (int32_t c = 0; c < g.columns; ++c) {
    const size_t i = static_cast<size_t>(r) * static_cast<size_t>(g.columns) + static_cast<size_t>(c);
    const std::string v = i < posted.size() ? posted[i] : std::string();
    g.Box(r, c, v.empty() && emptySeen, v.empty() ? g.blank : g.Options(v));
    if (v.empty()) emptySeen = true;
  }
  g.out.Append("</tr>\r\n");
}

}  // namespace

std::string LayoutForm::Details(const std::string& userId, const std::shared_ptr<Database>& db,
                                const std::shared_ptr<UIHelpers>& ui, const std::shared_ptr<MultipartFormData>& formData,
                                const std::shared_ptr<ado::Recordset>& rsFields,
                                const std::shared_ptr<ado::Recordset>& rsLayout, bool errorOccurred) {
  return Procedure(kClass, "Details", [&] {
    if (!ui || !rsFields) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    Buffer out;
    Grid g{out, *ui, rsFields, rsFields->RecordCount(), {}};
    g.blank = g.Options("");
    if (errorOccurred) {
      if (!formData) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
      const std::vector<std::string>& posted = formData->Fields()->Values("Field");
      for (int32_t r = 0; r < kMinimumRows; ++r) PostedRow(g, posted, r);
      return out.Text();
    }
    int32_t rows = 0;
    if (rsLayout) {
      if (!db) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
      const std::string layoutName = rsLayout->Value("LayoutName").ToString();
      rows = rsLayout->Value("NumRows").ToLong();
      for (int32_t r = 0; r < rows; ++r) LayoutRow(g, *db, userId, layoutName, r);
    }
    for (int32_t r = rows; r < kMinimumRows; ++r) BlankRow(g, r);
    return out.Text();
  });
}

namespace {

automation::Register<LayoutForm> reg("LayoutForm", "Brisquel.LayoutForm",
                                      [](auto& c) { c.Method("Details", &LayoutForm::Details); });

}  // namespace

}  // namespace brisquel
