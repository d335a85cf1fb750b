// What the Customize pages share: a code table's catalogue row as the pages read it, the list of
// code tables a list field can draw on, and the page of a record that is not there.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace site {

class PageContext;

namespace customize {

struct CodeTable {
  std::string name, plural, singular, valueColumn;
  bool variesByProject = false;
  bool sortColumn = false;  // the values carry a SortOrder of their own (the catalogue's NaturalSort false)
};

// The catalogue row of a code table; none for a name no row holds, and for the lists behind the
// project and assignee fields, which the project pages keep.
std::optional<CodeTable> FindCodeTable(PageContext& page, const std::string& name);
// Every code table in the catalogue's order, the same two lists left out.
std::vector<CodeTable> CodeTables(PageContext& page);

// 404 in the shell with a sentence.
void SendNotFound(PageContext& page, std::string_view title, const std::string& sentence);

}  // namespace customize

}  // namespace site
