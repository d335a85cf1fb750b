// A demo site, layouts of its users stored as the layout editor stores them, and IssuesList called
// by name on recordsets read from the site.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "core/database.h"
#include "support/site_db.h"

namespace issueslist_test {

using automation::Variant;
using ObjectPtr = std::shared_ptr<automation::Object>;

inline const std::string kCheckBox =
    "type=checkbox id=chkIssue name=chkIssue onclick='chkIssue_Click()'";
inline const std::string kHandlers =
    "onclick='IssueId_Click();' onmouseover='IssueId_MouseOver()' onmouseout='IssueId_MouseOut()'";

class IssuesListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    db = sitedb::Open(file);
    list = automation::CreateObject("Brisquel.IssuesList");
  }
  // A layout of `user`; each row lists its field names.
  void Layout(const std::string& user, const std::string& name, const std::vector<std::vector<std::string>>& rows) {
    sitedb::Db raw(file);
    const std::string key = "UserId = '" + user + "' and LayoutName = '" + name + "'";
    raw.Exec("DELETE FROM SummaryLayoutFields WHERE " + key + "; DELETE FROM SummaryLayouts WHERE " + key);
    raw.Exec("INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) VALUES ('" + user + "', '" + name + "', " +
             std::to_string(rows.size()) + ")");
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t c = 0; c < rows[r].size(); ++c)
        raw.Exec("INSERT INTO SummaryLayoutFields VALUES ('" + user + "', '" + name + "', " + std::to_string(r + 1) +
                 ", " + std::to_string(c + 1) + ", '" + rows[r][c] + "')");
  }
  void Exec(const std::string& sql) { sitedb::Db(file).Exec(sql); }
  Variant Issues(const std::string& where = "1 = 1") {
    return Variant(std::static_pointer_cast<automation::Object>(
        db->Read("select * from Issues where " + where + " order by IssueId")));
  }
  Variant Db() { return Variant(std::static_pointer_cast<automation::Object>(db)); }

  struct ListCall {
    std::string thisURL = "/Assignments/MyAssignments.asp";
    std::string issuesURL = "/Issues/Issue.asp";
    std::string user = "admin";
    int32_t project = 1;
    std::string navQS;
    std::string layout = "Default";
    std::string orderBy = "Issues.IssueId";
    int16_t orderSeq = 0, pageNum = 1, perPage = 50;
    bool selection = false;
    std::string prefix;
  };
  std::string List(const Variant& rs, const ListCall& c) {
    return list
        ->Call("List", {Db(), rs, Variant(c.thisURL), Variant(c.issuesURL), Variant(c.user), Variant(c.project),
                        Variant("MyAssignments"), Variant(c.navQS), Variant(c.layout), Variant(c.orderBy),
                        Variant::Integer(c.orderSeq), Variant::Integer(c.pageNum), Variant::Integer(c.perPage),
                        Variant(c.selection), Variant(c.prefix)})
        .ToString();
  }
  std::string Printer(const Variant& rs, const std::string& layout, const std::string& orderBy = "",
                      int16_t seq = 0, const std::string& header = "<b>Issues</b>") {
    return list
        ->Call("PrinterFriendly", {Db(), rs, Variant(header), Variant("admin"), Variant(layout), Variant(orderBy),
                                   Variant::Integer(seq)})
        .ToString();
  }
  std::string DataFile(const Variant& rs, const std::string& layout) {
    return list->Call("DataFile", {Db(), rs, Variant("admin"), Variant(layout)}).ToString();
  }

  std::filesystem::path file;
  std::shared_ptr<brisquel::Database> db;
  ObjectPtr list;
};

inline size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

}  // namespace issueslist_test
