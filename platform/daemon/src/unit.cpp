#include "daemon/unit.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "daemon/spawn.h"

namespace vdaemon {

namespace {

constexpr std::string_view kWantsFolder = "multi-user.target.wants";

std::filesystem::path UnitFolder() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::absolute(UnitDir(), ec);
  return ec ? UnitDir() : dir;
}

}  // namespace

std::filesystem::path UnitDir() {
  const char* env = std::getenv("VANTREL_UNIT_DIR");
  return env && *env ? std::filesystem::path(env) : std::filesystem::path("/etc/systemd/system");
}

bool UnitDirIsSystemd() {
  const char* env = std::getenv("VANTREL_UNIT_DIR");
  return !env || !*env;
}

bool UnitFolderUsable() {
  std::error_code ec;
  std::filesystem::path dir = UnitFolder();
  return std::filesystem::is_directory(dir, ec) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path UnitFile(std::string_view unitName) { return UnitFolder() / unitName; }
std::filesystem::path WantsLink(std::string_view unitName) { return UnitFolder() / kWantsFolder / unitName; }

bool UnitInstalled(std::string_view unitName) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(UnitFile(unitName), ec));
}

bool StartsAtBoot(std::string_view unitName) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(WantsLink(unitName), ec));
}

bool QuoteUnitWord(std::string_view text, bool executable, std::string& out) {
  out.assign(1, '"');
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    if (executable && (c == '\\' || c == '"' || c == '\'')) return false;
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  out += '"';
  return true;
}

bool UnitText(const UnitSpec& unit, std::string& text) {
  std::string exec;
  if (unit.program.empty() || !QuoteUnitWord(unit.program.string(), true, exec)) return false;
  text = unit.header + "\n";
  text += "[Unit]\n";
  text += "Description=" + unit.description + "\n";
  text += "Wants=network-online.target\n";
  text += "After=network-online.target\n\n";
  text += "[Service]\n";
  text += "Type=notify\n";
  text += "ExecStart=" + exec + "\n";
  // The service reads the registry, writes the event log and uses the files the installation used.
  for (const std::string& name : unit.environment) {
    const char* value = std::getenv(name.c_str());
    if (!value || !*value) continue;
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(value, ec);
    std::string quoted;
    if (!QuoteUnitWord(name + "=" + (ec ? std::string(value) : abs.string()), false, quoted)) return false;
    text += "Environment=" + quoted + "\n";
  }
  for (const std::string& line : unit.extra) text += line + "\n";
  text += "\n[Install]\n";
  text += "WantedBy=multi-user.target\n";
  return true;
}

bool EnableUnit(std::string_view unitName) {
  std::error_code ec;
  std::filesystem::path link = WantsLink(unitName);
  std::filesystem::create_directories(link.parent_path(), ec);
  std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(UnitFile(unitName), link, ec);
  return !ec;
}

bool WriteUnit(std::string_view unitName, const std::string& text) {
  std::filesystem::path file = UnitFile(unitName);
  std::filesystem::path tmp = file;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::permissions(tmp, std::filesystem::perms(0644), ec);
  std::filesystem::rename(tmp, file, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return false;
  }
  if (!EnableUnit(unitName)) {
    std::filesystem::remove(file, ec);
    return false;
  }
  return true;
}

bool RemoveUnit(std::string_view unitName) {
  std::error_code ec;
  std::filesystem::remove(WantsLink(unitName), ec);
  return std::filesystem::remove(UnitFile(unitName), ec) && !ec;
}

int Systemctl(std::vector<std::string> args) {
  args.insert(args.begin(), "systemctl");
  return RunToEnd({"/usr/bin/systemctl", "/bin/systemctl"}, args);
}

}  // namespace vdaemon
