// LayoutForm.Details called by name on layouts stored in a real site file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "core/database.h"
#include "core/multipart.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace {

using automation::Variant;
using ObjectPtr = std::shared_ptr<automation::Object>;

// The first C fields of the list, by name, as the editor page offers them.
const std::vector<std::string> kFields = {"AssignedToUser", "IssueId", "PriorityCode", "Summary"};

class LayoutFormTest : public ::testing::Test {
 protected:
  Variant Fields(size_t columns) {
    std::string in;
    for (size_t i = 0; i < columns; ++i) in += (i ? ",'" : "'") + kFields[i] + "'";
    return Variant(std::static_pointer_cast<automation::Object>(
        db->Read("select FieldName, FieldFriendlyName from IssueFields where FieldName in (" + in +
                 ") order by FieldName")));
  }
  // A stored layout of bob's; each row lists its field names.
  Variant Layout(const std::vector<std::vector<std::string>>& rows) {
    sitedb::Db raw(file);
    raw.Exec("INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) VALUES ('bob', 'Mine', " +
             std::to_string(rows.size()) + ")");
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t c = 0; c < rows[r].size(); ++c)
        raw.Exec("INSERT INTO SummaryLayoutFields VALUES ('bob', 'Mine', " + std::to_string(r + 1) + ", " +
                 std::to_string(c + 1) + ", '" + rows[r][c] + "')");
    return Variant(std::static_pointer_cast<automation::Object>(
        db->Read("select * from SummaryLayouts where UserId = 'bob' and LayoutName = 'Mine'")));
  }
  std::string Details(Variant fields, Variant layout, bool error = false, Variant form = Variant()) {
    return lf->Call("Details", {Variant("bob"), Variant(std::static_pointer_cast<automation::Object>(db)), ui, form,
                                fields, layout, Variant(error)})
        .ToString();
  }
  std::string Options(const Variant& fields, const std::string& selected) {
    return ui.ToObject()
        ->Call("OptionList", {fields, Variant("FieldName"), Variant("FieldFriendlyName"), Variant(selected)})
        .ToString();
  }
  std::string Box(int r, int c, bool hidden, const std::string& options) {
    return "<TD><SELECT name=Field id=r" + std::to_string(r) + "f" + std::to_string(c) +
           " onchange='return FieldSelect(" + std::to_string(r) + "," + std::to_string(c) + ");'" +
           (hidden ? " style='display:none;'" : "") + ">" + options + "</SELECT></TD>\r\n";
  }
  // A stored (or posted) row: label, then a box per value, "" for a blank box.
  std::string Row(int r, const Variant& fields, const std::vector<std::string>& values) {
    std::string s = "<tr><td align=right class=formlabels>" + std::to_string(r + 1) + "</TD><td></td>";
    bool blank = false;
    for (size_t c = 0; c < values.size(); ++c) {
      s += Box(r, static_cast<int>(c), values[c].empty() && blank, Options(fields, values[c]));
      blank = blank || values[c].empty();
    }
    return s + "</tr>\r\n";
  }
  std::string BlankRow(int r, const Variant& fields, size_t columns) {
    std::string s = "<tr><td nowrap align=right class=formlabels>" + std::to_string(r + 1) + "</TD><td></td>\r\n";
    for (size_t c = 0; c < columns; ++c) s += Box(r, static_cast<int>(c), c > 0, Options(fields, ""));
    return s + "</tr>";
  }
  Variant Posted(const std::vector<std::string>& values) {
    auto form = std::make_shared<brisquel::MultipartFormData>();
    for (const auto& v : values) form->Fields()->Add("Field", v);
    return Variant(std::static_pointer_cast<automation::Object>(form));
  }

  std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<brisquel::Database> db = sitedb::Open(file);
  Variant ui = Variant(automation::CreateObject("Brisquel.UIHelpers"));
  ObjectPtr lf = automation::CreateObject("Brisquel.LayoutForm");
};

TEST_F(LayoutFormTest, ANewLayoutGivesTenBlankRowsOfOneShownBox) {
  Variant fields = Fields(4);
  std::string expected;
  for (int r = 0; r < 10; ++r) expected += BlankRow(r, fields, 4);
  EXPECT_EQ(Details(fields, Variant()), expected);
  EXPECT_TRUE(Details(fields, Variant()).starts_with(
      "<tr><td nowrap align=right class=formlabels>1</TD><td></td>\r\n<TD><SELECT name=Field id=r0f0 "
      "onchange='return FieldSelect(0,0);'><option value = \"AssignedToUser\">"));
  EXPECT_NE(Details(fields, Variant())
                .find("<SELECT name=Field id=r0f1 onchange='return FieldSelect(0,1);' style='display:none;'>"),
            std::string::npos);
}

TEST_F(LayoutFormTest, StoredRowsComeFirstAndBlankRowsFillUpToTen) {
  Variant fields = Fields(4);
  Variant layout = Layout({{"Summary", "IssueId"}, {"PriorityCode"}, {"AssignedToUser", "IssueId", "PriorityCode", "Summary"}});
  std::string expected = Row(0, fields, {"Summary", "IssueId", "", ""}) + Row(1, fields, {"PriorityCode", "", "", ""}) +
                         Row(2, fields, {"AssignedToUser", "IssueId", "PriorityCode", "Summary"});
  for (int r = 3; r < 10; ++r) expected += BlankRow(r, fields, 4);
  EXPECT_EQ(Details(fields, layout), expected);
}

TEST_F(LayoutFormTest, TwelveStoredRowsGetNoBlankRowAndFieldsBeyondTheBoxesAreLeftOut) {
  Variant fields = Fields(2);
  std::vector<std::vector<std::string>> rows(12, {"IssueId"});
  rows[0] = {"AssignedToUser", "IssueId", "Summary"};
  Variant layout = Layout(rows);
  std::string expected = Row(0, fields, {"AssignedToUser", "IssueId"});
  for (int r = 1; r < 12; ++r) expected += Row(r, fields, {"IssueId", ""});
  EXPECT_EQ(Details(fields, layout), expected);
}

TEST_F(LayoutFormTest, ARefusedSubmissionIsRebuiltFromThePostedValuesInTenRows) {
  Variant fields = Fields(3);
  std::vector<std::string> posted(30, "");
  posted[0] = "Summary";
  posted[2] = "IssueId";
  posted[3] = "PriorityCode";
  std::string expected;
  for (int r = 0; r < 10; ++r)
    expected += Row(r, fields, {posted[r * 3], posted[r * 3 + 1], posted[r * 3 + 2]});
  // Whatever the stored layout has, the grid comes from the posted form.
  Variant layout = Layout(std::vector<std::vector<std::string>>(12, {"IssueId"}));
  EXPECT_EQ(Details(fields, layout, true, Posted(posted)), expected);
  // Box 2 of row 1 follows an empty box but holds a value: it is shown.
  EXPECT_NE(expected.find(Box(0, 2, false, Options(fields, "IssueId"))), std::string::npos);
}

TEST_F(LayoutFormTest, AShortOrSingleValuedPostedListCountsTheMissingValuesAsEmpty) {
  Variant fields = Fields(4);
  for (const std::vector<std::string>& posted :
       {std::vector<std::string>{"Summary", "", "IssueId"}, std::vector<std::string>{"Summary"},
        std::vector<std::string>{}}) {
    std::string expected;
    for (int r = 0; r < 10; ++r) {
      std::vector<std::string> values(4, "");
      for (size_t c = 0; c < 4; ++c)
        if (r == 0 && c < posted.size()) values[c] = posted[c];
      expected += Row(r, fields, values);
    }
    EXPECT_EQ(Details(fields, Variant(), true, Posted(posted)), expected) << posted.size();
  }
}

TEST_F(LayoutFormTest, FailuresAreRaisedUnderTheClassAndProcedureName) {
  Variant fields = Fields(2);
  Variant noRow = Variant(std::static_pointer_cast<automation::Object>(
      db->Read("select * from SummaryLayouts where UserId = 'nobody'")));
  Variant noColumn = Variant(std::static_pointer_cast<automation::Object>(db->Read("select 1 as NumRows")));
  for (const Variant& layout : {noRow, noColumn}) {
    const auto e = testsupport::ErrorOf([&] { Details(fields, layout); });
    EXPECT_NE(e.source.find("LayoutForm.Details"), std::string::npos) << e.source;
  }
}

}  // namespace
