// The query wizard's AvailableFields text as the library writes it for a user.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/criteria.h"
#include "filter_site.h"

namespace brisquel::filtertest {
namespace {

using automation::Variant;
namespace cr = tamsolo::criteria;

class FilterFieldsTest : public FilterSite {
 protected:
  // "first=second" of every pair of the field named `name` in the catalogue read from `text`.
  static std::vector<std::string> Pairs(const std::string& text, const std::string& name) {
    std::vector<std::string> out;
    cr::FieldRef f = cr::FindField(cr::ReadAvailableFields(text), name);
    if (!f) return {"missing"};
    for (const cr::ValuePair& p : f->values) out.push_back(p.first + "=" + p.second);
    return out;
  }
};

TEST_F(FilterFieldsTest, TheTextHoldsEveryFilterFieldWithItsValues) {
  const std::string text = GetFilterFieldsText(*db, "alice");
  // The same rows as the catalogue the writers make the SQL with, one block each.
  std::vector<std::string> read;
  for (const cr::FieldRef& f : cr::ReadAvailableFields(text))
    read.push_back(f->name + "|" + f->column + "|" + f->caption + "|" + std::to_string(f->type));
  EXPECT_EQ(read, raw->Rows("select FilterFieldName, FilterFqFieldName, FieldFriendlyName, FilterFieldType "
                            "from IssueFields where FilterFieldName <> '' order by FieldName"));
  EXPECT_NE(text.find("Summary\r\nIssues.Summary\r\nSummary\r\n0\r\n"), std::string::npos);
  // A code: each value twice, in the list's order; the project field: the user's projects.
  std::vector<std::string> priorities;
  for (const std::string& p : raw->Rows("select PriorityCode from Priorities where PriorityCode <> '' order by SortOrder"))
    priorities.push_back(p + "=" + p);
  EXPECT_EQ(Pairs(text, "PriorityCode"), priorities);
  std::vector<std::string> projects;
  EachUserProject(*db, "alice", [&](const sql::Row& r) { projects.push_back(r.Text("ProjectCode") + "=" + r.Text("ProjectCode")); });
  EXPECT_EQ(Pairs(text, "ProjectCode"), projects);
  // A per-project code: project and value, for each of her projects.
  EXPECT_EQ(Pairs(text, "ModuleCode"),
            raw->Rows("select Projects.ProjectCode || '=' || ModuleCode from ProjectModules join Projects on "
                      "Projects.ProjectId = ProjectModules.ProjectId where ModuleCode <> '' order by "
                      "Projects.ProjectCode, ModuleCode"));
  // By name, as the filter page asks for it.
  auto database = automation::CreateObject("Brisquel.Database");
  database->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
  EXPECT_EQ(database->Call("GetFilterFieldsText", {Variant("alice")}).ToString(), text);
}

}  // namespace
}  // namespace brisquel::filtertest
