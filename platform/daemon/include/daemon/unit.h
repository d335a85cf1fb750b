// The systemd unit that stands for a program's entry in the service manager. The unit folder is
// VANTREL_UNIT_DIR, or systemd's own /etc/systemd/system; only the latter is systemd's, so
// systemctl is called only then. Start at boot is the multi-user.target.wants link that
// "systemctl enable" would make.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vdaemon {

std::filesystem::path UnitDir();
bool UnitDirIsSystemd();
// The unit folder stands for the service manager: usable when it is a folder we may change.
bool UnitFolderUsable();

std::filesystem::path UnitFile(std::string_view unitName);
std::filesystem::path WantsLink(std::string_view unitName);
bool UnitInstalled(std::string_view unitName);
bool StartsAtBoot(std::string_view unitName);

// A unit file word in double quotes, taken literally: "%" specifiers doubled, quotes and
// backslashes escaped. False for control characters anywhere, and for quotes and backslashes in
// a program path (systemd refuses those).
bool QuoteUnitWord(std::string_view text, bool executable, std::string& out);

struct UnitSpec {
  std::string header;                    // the comment line that says who installed the unit
  std::string description;
  std::filesystem::path program;         // ExecStart, no arguments
  std::vector<std::string> environment;  // names of variables passed on when set (paths made absolute)
  std::vector<std::string> extra;        // further [Service] lines
};
// The unit text; false when a value cannot be written into a unit file.
bool UnitText(const UnitSpec& unit, std::string& text);

// Writes the unit (temporary file and rename) and its start-at-boot link; false, leaving no unit
// behind, when either cannot be written.
bool WriteUnit(std::string_view unitName, const std::string& text);
// Only the start-at-boot link (the unit must exist); false when the link cannot be made.
bool EnableUnit(std::string_view unitName);
// Removes the link and the unit; false when the unit could not be removed.
bool RemoveUnit(std::string_view unitName);

// Runs systemctl with the arguments to its end; its exit status, or -1 when it could not run.
int Systemctl(std::vector<std::string> args);

}  // namespace vdaemon
