// The help texts of the site's pages: one entry per page path, found by the help window's page.
#pragma once

#include <string_view>
#include <vector>

namespace site::help {

struct Field {
  std::string_view name, meaning;
};

struct Text {
  std::string_view path;  // the page's path below the root, as the menu names it
  std::string_view title;
  std::string_view purpose;
  std::vector<Field> fields;
  std::string_view who;  // who may use the page
};

// Every entry, in menu order.
const std::vector<Text>& Texts();
// The entry of a page path (without regard to case), or nullptr.
const Text* Find(std::string_view path);

}  // namespace site::help
