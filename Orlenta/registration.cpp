// Registration: the AppID keys in the registry and the systemd unit that stands for the
// service's entry in the service manager.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "process.h"
#include "registry/registry.h"
#include "service.h"
#include "settings.h"

namespace orlenta {

namespace {

constexpr std::string_view kUnitName = "orlenta.service";
constexpr std::string_view kWantsFolder = "multi-user.target.wants";

std::filesystem::path UnitFolder() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::absolute(UnitDir(), ec);
  return ec ? UnitDir() : dir;
}

std::filesystem::path UnitFile() { return UnitFolder() / kUnitName; }
std::filesystem::path WantsLink() { return UnitFolder() / kWantsFolder / kUnitName; }

// The unit folder stands for the service manager: usable when it is a folder we may change.
bool OpenManager() {
  std::error_code ec;
  std::filesystem::path dir = UnitFolder();
  return std::filesystem::is_directory(dir, ec) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

// What the installer would have seen in a message box; here it goes to the terminal.
void MessageBox(std::string_view text) {
  std::fprintf(stderr, "%s: %.*s\n", std::string(kServiceName).c_str(), static_cast<int>(text.size()), text.data());
}

void Systemctl(std::vector<std::string> args) {
  args.insert(args.begin(), "systemctl");
  RunToEnd({"/usr/bin/systemctl", "/bin/systemctl"}, args);
}

// A unit file word in double quotes, taken literally: "%" specifiers doubled, quotes and
// backslashes escaped. systemd refuses quotes and backslashes in the program path itself, and
// control characters anywhere.
bool Quote(std::string_view text, bool executable, std::string& out) {
  out = "\"";
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

bool UnitText(std::string& text) {
  std::filesystem::path program = ProgramPath();
  std::string exec;
  if (program.empty() || !Quote(program.string(), true, exec)) return false;
  text = "# Installed by \"orlenta -Service\"; removed by \"orlenta -RegServer\" or \"orlenta -UnregServer\".\n";
  text += "[Unit]\n";
  text += "Description=" + std::string(kDisplayName) + "\n";
  text += "Wants=network-online.target\n";
  text += "After=network-online.target\n\n";
  text += "[Service]\n";
  text += "Type=notify\n";
  text += "ExecStart=" + exec + "\n";
  // The service reads the registry and writes the event log the installation used.
  for (const char* name : {"VANTREL_REGISTRY", "VANTREL_EVENTLOG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(value, ec);
    std::string quoted;
    if (!Quote(std::string(name) + "=" + (ec ? std::string(value) : abs.string()), false, quoted)) return false;
    text += "Environment=" + quoted + "\n";
  }
  // A stop reaches the service only; it ends after the running sender has finished.
  text += "KillMode=mixed\n\n";
  text += "[Install]\n";
  text += "WantedBy=multi-user.target\n";
  return true;
}

bool WriteUnit() {
  std::string text;
  if (!UnitText(text)) return false;
  std::filesystem::path file = UnitFile();
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
  // Started at boot: the link "systemctl enable" would make.
  std::filesystem::path link = WantsLink();
  std::filesystem::create_directories(link.parent_path(), ec);
  std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(file, link, ec);
  if (ec) {
    std::filesystem::remove(file, ec);
    return false;
  }
  return true;
}

}  // namespace

bool ServiceModule::IsInstalled() {
  Trace("Orlenta.exe::IsInstalled started");
  std::error_code ec;
  bool installed = OpenManager() && std::filesystem::exists(std::filesystem::symlink_status(UnitFile(), ec));
  Trace("Orlenta.exe::IsInstalled finished");
  return installed;
}

bool ServiceModule::Install() {
  Trace("Orlenta.exe::Install started");
  if (IsInstalled()) {
    ErrorEvent("Orlenta.exe::Install - already installed");
    return true;
  }
  if (!OpenManager()) {
    ErrorEvent("Orlenta.exe::Install - Couldn't open service manager");
    MessageBox("VantrelEMailService.Install - Couldn't open service manager.");
    return false;
  }
  if (!WriteUnit()) {
    ErrorEvent("Orlenta.exe::Install - Couldn't create service");
    MessageBox("VantrelEMailService.Install - Couldn't create service.");
    return false;
  }
  if (UnitDirIsSystemd()) Systemctl({"daemon-reload"});
  Trace("Orlenta.exe::Install finished");
  return true;
}

bool ServiceModule::Uninstall() {
  Trace("Orlenta.exe::Uninstall started");
  if (!IsInstalled()) return true;
  if (!OpenManager()) {
    ErrorEvent("Orlenta.exe::Uninstall - Couldn't open service manager");
    MessageBox("VantrelEMailService.Uninstall - Couldn't open service manager.");
    return false;
  }
  int fd = ::open(UnitFile().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ErrorEvent("Orlenta.exe::Uninstall - Couldn't open service");
    MessageBox("VantrelEMailService.Uninstall - Couldn't open service.");
    return false;
  }
  ::close(fd);
  // Asked to stop, not waited for: a running pass finishes on its own.
  if (UnitDirIsSystemd()) Systemctl({"stop", "--no-block", std::string(kUnitName)});
  std::error_code ec;
  std::filesystem::remove(WantsLink(), ec);
  bool deleted = std::filesystem::remove(UnitFile(), ec) && !ec;
  if (deleted) {
    if (UnitDirIsSystemd()) Systemctl({"daemon-reload"});
    return true;
  }
  ErrorEvent("Orlenta.exe::Uninstall - Service could not be deleted");
  MessageBox("VantrelEMailService.Uninstall - Service could not be deleted.");
  Trace("Orlenta.exe::Uninstall finished");
  return false;
}

int ServiceModule::RegisterServer(bool installService) {
  Trace("Orlenta.exe::RegisterServer started.");
  bool ok = Uninstall();
  try {
    registry::WriteValue(kServiceAppIdKey, "", kServiceName);
    registry::WriteValue(kExeAppIdKey, "AppID", kAppIdGuid);
  } catch (const registry::Error&) {
    // Reported just below, when the keys cannot be opened for writing.
  }
  if (int code = OpenKeyForWriting(kAppIdKey)) {
    ErrorEvent("Orlenta.exe::RegisterServer - KeyAppID.Open failed");
    return code;
  }
  if (int code = OpenKeyForWriting(kServiceAppIdKey)) {
    ErrorEvent("Orlenta.exe::RegisterServer - key.Open failed");
    return code;
  }
  try {
    registry::DeleteValue(kServiceAppIdKey, "LocalService");
    if (installService) {
      registry::WriteValue(kServiceAppIdKey, "LocalService", kServiceName);
      registry::WriteValue(kServiceAppIdKey, "ServiceParameters", "-Service");
    }
  } catch (const registry::Error& e) {
    ErrorEvent(std::string("Orlenta.exe::RegisterServer - ") + e.what());
    ok = false;
  }
  // A service that could not be installed (or an old one not removed) is a failed registration.
  if (installService && !Install()) ok = false;
  Trace("Orlenta.exe::RegisterServer finished");
  return ok ? 0 : 1;
}

int ServiceModule::UnregisterServer() {
  Trace("Orlenta.exe::UnregisterServer started");
  bool ok = true;
  try {
    registry::DeleteKey(kServiceAppIdKey);
    registry::DeleteKey(kExeAppIdKey);
  } catch (const registry::Error& e) {
    std::fprintf(stderr, "%s: %s\n", std::string(kServiceName).c_str(), e.what());
    ok = false;
  }
  if (!Uninstall()) ok = false;
  Trace("Orlenta.exe::UnregisterServer finished");
  return ok ? 0 : 1;
}

}  // namespace orlenta
