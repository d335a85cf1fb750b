// Registration: the AppID keys in the registry and the systemd unit that stands for the
// service's entry in the service manager.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "daemon/spawn.h"
#include "daemon/unit.h"
#include "registry/registry.h"
#include "service.h"
#include "settings.h"

namespace orlenta {

namespace {

constexpr std::string_view kUnitName = "orlenta.service";
// What the installer would have seen in a message box; here it goes to the terminal.
void MessageBox(std::string_view text) {
  std::fprintf(stderr, "%s: %.*s\n", std::string(kServiceName).c_str(), static_cast<int>(text.size()), text.data());
}

bool WriteUnit() {
  vdaemon::UnitSpec unit;
  unit.header = "# Installed by \"orlenta -Service\"; removed by \"orlenta -RegServer\" or \"orlenta -UnregServer\".";
  unit.description = std::string(kDisplayName);
  unit.program = vdaemon::ProgramPath();
  unit.environment = {"VANTREL_REGISTRY", "VANTREL_EVENTLOG"};
  // A stop reaches the service only; it ends after the running sender has finished.
  unit.extra = {"KillMode=mixed"};
  std::string text;
  return vdaemon::UnitText(unit, text) && vdaemon::WriteUnit(kUnitName, text);
}

}  // namespace

bool ServiceModule::IsInstalled() {
  Trace("Orlenta.exe::IsInstalled started");
  bool installed = vdaemon::UnitFolderUsable() && vdaemon::UnitInstalled(kUnitName);
  Trace("Orlenta.exe::IsInstalled finished");
  return installed;
}

bool ServiceModule::Install() {
  Trace("Orlenta.exe::Install started");
  if (IsInstalled()) {
    ErrorEvent("Orlenta.exe::Install - already installed");
    return true;
  }
  if (!vdaemon::UnitFolderUsable()) {
    ErrorEvent("Orlenta.exe::Install - Couldn't open service manager");
    MessageBox("VantrelEMailService.Install - Couldn't open service manager.");
    return false;
  }
  if (!WriteUnit()) {
    ErrorEvent("Orlenta.exe::Install - Couldn't create service");
    MessageBox("VantrelEMailService.Install - Couldn't create service.");
    return false;
  }
  if (vdaemon::UnitDirIsSystemd()) vdaemon::Systemctl({"daemon-reload"});
  Trace("Orlenta.exe::Install finished");
  return true;
}

bool ServiceModule::Uninstall() {
  Trace("Orlenta.exe::Uninstall started");
  if (!IsInstalled()) return true;
  if (!vdaemon::UnitFolderUsable()) {
    ErrorEvent("Orlenta.exe::Uninstall - Couldn't open service manager");
    MessageBox("VantrelEMailService.Uninstall - Couldn't open service manager.");
    return false;
  }
  int fd = ::open(vdaemon::UnitFile(kUnitName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ErrorEvent("Orlenta.exe::Uninstall - Couldn't open service");
    MessageBox("VantrelEMailService.Uninstall - Couldn't open service.");
    return false;
  }
  ::close(fd);
  // Asked to stop, not waited for: a running pass finishes on its own.
  if (vdaemon::UnitDirIsSystemd()) vdaemon::Systemctl({"stop", "--no-block", std::string(kUnitName)});
  if (vdaemon::RemoveUnit(kUnitName)) {
    if (vdaemon::UnitDirIsSystemd()) vdaemon::Systemctl({"daemon-reload"});
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
