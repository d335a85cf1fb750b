// The installation's registry: one text file shared by the library, the service and the sender,
// named by VANTREL_REGISTRY (default /etc/vantrel/registry). One section per key,
// "[HKEY_LOCAL_MACHINE\SOFTWARE\Vantrel Ltd.\Vantrel]", then "Name=Value" lines ("@=" is the
// key's default value); "#" starts a comment. Keys and names compare without regard to case.
// Writers lock the file, keep what they do not change and replace it atomically; readers never
// see half a write.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace registry {

inline constexpr std::string_view kVantrelKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel";
inline constexpr std::string_view kDatabasesKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\Databases";
inline constexpr const char* kDefaultPath = "/etc/vantrel/registry";

struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::filesystem::path FilePath();

// "HKLM\software\x\" -> "HKEY_LOCAL_MACHINE\software\x" (root abbreviations expanded, the
// trailing backslash dropped).
std::string NormalizeKey(std::string_view key);

bool KeyExists(std::string_view key);
// name "" is the key's default value.
std::optional<std::string> ReadValue(std::string_view key, std::string_view name);
// The values of one key in file order (the default value as "").
std::vector<std::pair<std::string, std::string>> ReadValues(std::string_view key);
std::vector<std::string> SubKeys(std::string_view key);

// Creates the key when needed. A value or name that cannot be kept on one line is refused.
void WriteValue(std::string_view key, std::string_view name, std::string_view value);
void CreateKey(std::string_view key);
bool DeleteValue(std::string_view key, std::string_view name);
bool DeleteKey(std::string_view key);  // with its subkeys

// WScript.Shell's registry calls: a path ending in "\" names a key (its default value), otherwise
// the last component is the value name. RegRead of something missing throws Error.
std::string RegRead(std::string_view path);
void RegWrite(std::string_view path, std::string_view value);
void RegDelete(std::string_view path);

}  // namespace registry
