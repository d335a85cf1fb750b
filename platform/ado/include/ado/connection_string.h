// Connection strings: "key=value;" items, keys without regard to case, values optionally quoted.
// "Data Source=<path>" names the database file; "File name=<path>" names a file whose content is
// the connection string (blank lines, "[section]" and ";" comment lines ignored).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ado {

struct ConnectionItem {
  std::string key;    // as written, trimmed
  std::string value;  // unquoted, trimmed
};

// Splits the items. Malformed input never fails: an item without "=" gets an empty value.
std::vector<ConnectionItem> ParseConnectionString(std::string_view s);
// The value of the first item whose key equals `key` without regard to case.
std::optional<std::string> ConnectionValue(const std::vector<ConnectionItem>& items, std::string_view key);
// The same text with the value of every password item (a key that is "Pwd" or contains
// "password", also inside quoted values such as Extended Properties="...;PWD=x") written as
// "***"; the rest is kept as written. For logs.
std::string MaskConnectionString(std::string_view s);
// A value as it must be written into a connection string to read back unchanged: as it is when
// it holds no ";" nor quote, else in double quotes with each double quote doubled.
std::string QuoteConnectionValue(std::string_view v);

// Follows "File name=" (up to a few levels) and returns the effective connection string; a
// relative "Data Source" inside such a file is taken relative to the file's folder. Raises an ADO
// error when the file cannot be read or the chain is too deep.
std::string ResolveConnectionString(std::string_view s);

}  // namespace ado
