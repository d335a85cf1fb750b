// The command-line switches, registration as a systemd unit, and running under systemd's
// notification protocol or in the foreground.
#include <signal.h>
#include <unistd.h>

#include "harness.h"
#include "registry/registry.h"

namespace orlentatest {
namespace {

const std::string kServiceKey = "HKEY_CLASSES_ROOT\\AppID\\{A7AD5CEA-F3C5-459F-8CE8-530B5F7C8290}";
const std::string kExeKey = "HKEY_CLASSES_ROOT\\AppID\\Orlenta.EXE";

class Service : public OrlentaTest {
 protected:
  Service() { StandardSetup(); }
  std::filesystem::path Unit() const { return unitDir / "orlenta.service"; }
  std::filesystem::path WantsLink() const { return unitDir / "multi-user.target.wants" / "orlenta.service"; }
  bool Installed() const { return std::filesystem::exists(Unit()); }
  bool Marked() const { return registry::ReadValue(kServiceKey, "LocalService").has_value(); }
};

TEST_F(Service, SwitchCountsOnlyAtTheEndOfTheCommandLine) {
  // Not registered: nothing runs, and the exit code is the registry's error.
  EXPECT_EQ(Run({}), 2);
  EXPECT_NE(Stderr().find("-RegServer"), std::string::npos);

  EXPECT_EQ(Run({"-service"}), 0);
  EXPECT_TRUE(Installed());
  EXPECT_TRUE(Marked());
  EXPECT_EQ(Run({"/REGSERVER"}), 0);
  EXPECT_FALSE(Installed());
  EXPECT_FALSE(Marked());

  // Another word after the switch: no switch at all, so the program runs in the foreground.
  ClearEvents();
  auto orlenta = Start({"-Service", "now"});
  ASSERT_TRUE(WaitForText("Orlenta.exe::Service started"));
  orlenta->Signal(SIGTERM);
  EXPECT_EQ(orlenta->WaitExit(), 0);
  EXPECT_FALSE(Installed());
  EXPECT_EQ(Count("Orlenta.exe::RegisterServer started."), 0u);

  // Any "-" or "/" starts a switch, even inside a word.
  EXPECT_EQ(Run({"--Service"}), 0);
  EXPECT_TRUE(Installed());
  EXPECT_EQ(Run({"some/path/unregserver"}), 0);
  EXPECT_FALSE(Installed());
  EXPECT_FALSE(registry::KeyExists(kServiceKey));
  EXPECT_EQ(Run({"-Service", "now"}), 2);
}

TEST_F(Service, RegistrationInstallsAndRemovesTheUnit) {
  registry::WriteValue("HKEY_CLASSES_ROOT\\AppID\\{00000000-0000-0000-0000-000000000001}", "", "Other");
  ASSERT_EQ(Run({"-Service"}), 0);
  std::string unit = testsupport::ReadFile(Unit());
  std::string program = std::filesystem::weakly_canonical(ORLENTA_PATH).string();
  EXPECT_NE(unit.find("\nType=notify\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nExecStart=\"" + program + "\"\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nDescription=Vantrel E-Mail Notification Service\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nEnvironment=\"VANTREL_REGISTRY=" + (dir / "registry").string() + "\"\n"), std::string::npos)
      << unit;
  EXPECT_NE(unit.find("\nKillMode=mixed\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos) << unit;
  EXPECT_EQ(std::filesystem::read_symlink(WantsLink()), Unit());
  EXPECT_EQ(registry::ReadValue(kServiceKey, ""), "Orlenta");
  EXPECT_EQ(registry::ReadValue(kServiceKey, "LocalService"), "Orlenta");
  EXPECT_EQ(registry::ReadValue(kServiceKey, "ServiceParameters"), "-Service");
  EXPECT_EQ(registry::ReadValue(kExeKey, "AppID"), "{A7AD5CEA-F3C5-459F-8CE8-530B5F7C8290}");

  // Registering again replaces the service.
  ASSERT_EQ(Run({"-Service"}), 0);
  EXPECT_TRUE(Installed());
  EXPECT_EQ(Count("Orlenta.exe::Install finished"), 2u);
  EXPECT_EQ(Count("Orlenta.exe::Install - already installed"), 0u);

  // RegServer removes the service and the marker, and keeps the registration.
  ASSERT_EQ(Run({"-RegServer"}), 0);
  EXPECT_FALSE(Installed());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(WantsLink())));
  EXPECT_FALSE(registry::ReadValue(kServiceKey, "LocalService"));
  EXPECT_EQ(registry::ReadValue(kServiceKey, ""), "Orlenta");

  ASSERT_EQ(Run({"-UnregServer"}), 0);
  EXPECT_FALSE(registry::KeyExists(kServiceKey));
  EXPECT_FALSE(registry::KeyExists(kExeKey));
  EXPECT_EQ(registry::ReadValue("HKEY_CLASSES_ROOT\\AppID\\{00000000-0000-0000-0000-000000000001}", ""), "Other");
  EXPECT_EQ(registry::ReadValue(registry::kVantrelKey, "EMailSchedule"), "5");
  // UnregServer of something never installed still succeeds.
  EXPECT_EQ(Run({"-UnregServer"}), 0);

  const std::vector<std::string> uninstallThenInstall = {
      "Orlenta.exe::_tWinMain started",       "Orlenta.exe::Init started",      "Orlenta.exe::Init finished",
      "Orlenta.exe::RegisterServer started.", "Orlenta.exe::Uninstall started", "Orlenta.exe::IsInstalled started",
      "Orlenta.exe::IsInstalled finished",    "Orlenta.exe::Install started",   "Orlenta.exe::IsInstalled started",
      "Orlenta.exe::IsInstalled finished",    "Orlenta.exe::Install finished",  "Orlenta.exe::RegisterServer finished",
  };
  auto texts = Texts();
  ASSERT_GE(texts.size(), uninstallThenInstall.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 12), uninstallThenInstall);
}

TEST_F(Service, InstallWithoutUnitFolderFails) {
  EXPECT_EQ(Run({"-Service"}, {{"VANTREL_UNIT_DIR", (dir / "missing").string()}}), 1);
  EXPECT_EQ(Count("Orlenta.exe::Install - Couldn't open service manager"), 1u);
  EXPECT_NE(Stderr().find("Orlenta: VantrelEMailService.Install - Couldn't open service manager."), std::string::npos);
  for (const auto& e : Events()) {
    if (e.text == "Orlenta.exe::Install - Couldn't open service manager") {
      EXPECT_EQ(e.type, eventlog::Type::Error);
    }
  }
  EXPECT_EQ(Count("Orlenta.exe::Install finished"), 0u);
}

TEST_F(Service, UnderSystemdAStopWaitsForTheRunningSender) {
  AddDatabase("a", "hold-a");
  ASSERT_EQ(Run({"-Service"}), 0);
  ClearEvents();
  NotifySocket manager(dir / "notify");
  auto orlenta = Start({}, {{"NOTIFY_SOCKET", manager.path().string()}});
  EXPECT_EQ(manager.Receive(), "STATUS=Starting");
  EXPECT_EQ(manager.Receive(), "READY=1\nSTATUS=Running");
  ASSERT_TRUE(WaitFor([&] { return Starts().size() == 1; }));
  orlenta->Signal(SIGTERM);
  EXPECT_EQ(manager.Receive(), "STOPPING=1\nSTATUS=Stopping");
  EXPECT_TRUE(orlenta->Running());
  EXPECT_EQ(Records().size(), 1u);  // the sender has not ended
  Release();
  ASSERT_EQ(orlenta->WaitExit(), 0);
  EXPECT_EQ(manager.Receive(), "STATUS=Stopped");
  EXPECT_EQ(Records().back().kind, "end");

  const std::vector<std::string> expected = {
      "Orlenta.exe::_tWinMain started",
      "Orlenta.exe::Init started",
      "Orlenta.exe::Init finished",
      "Orlenta.exe::Start started",
      "Orlenta.exe::_ServiceMain started",
      "Orlenta.exe::ServiceMain started",
      "Orlenta.exe::SetServiceStatus started",
      "Orlenta.exe::SetServiceStatus finished",
      "Orlenta.exe::Run started",
      "Orlenta.exe::Service started",
      "Orlenta.exe::SetServiceStatus started",
      "Orlenta.exe::SetServiceStatus finished",
      "Orlenta.exe::SetupTimer started",
      "Orlenta.exe::Sleep timer = 300.",
      "Orlenta.exe::SetupTimer finished",
      "Orlenta.exe::ProcessEachDatabase started",
      "Orlenta.exe::ProcessEachDatabase - Invoking kesprin hold-a",
      "Orlenta.exe::_Handler started",
      "Orlenta.exe::Handler started",
      "Orlenta.exe::SetServiceStatus started",
      "Orlenta.exe::SetServiceStatus finished",
      "Orlenta.exe::Handler finished",
      "Orlenta.exe::_Handler finished",
      "Orlenta.exe::ProcessEachDatabase - Command finished",
      "Orlenta.exe::ProcessEachDatabase finished",
      "Orlenta.exe::SetupTimer started",
      "Orlenta.exe::Sleep timer = 300.",
      "Orlenta.exe::SetupTimer finished",
      "Orlenta.exe::Run finished",
      "Orlenta.exe::SetServiceStatus started",
      "Orlenta.exe::SetServiceStatus finished",
      "Orlenta.exe::Service stopped",
      "Orlenta.exe::_ServiceMain finished",
      "Orlenta.exe::Start finished",
      "Orlenta.exe::_tWinMain finished",
  };
  EXPECT_EQ(Texts(), expected);
  for (const auto& e : Events()) {
    EXPECT_EQ(e.type, eventlog::Type::Information) << e.text;
    EXPECT_EQ(e.id, eventlog::kInformationId) << e.text;
    EXPECT_EQ(e.source, "Vantrel");
  }
}

TEST_F(Service, NoticesAreWrittenWhateverTheLevelAndOtherSignalsAreNoStop) {
  SetProductValue("EMailSchedule", "0");
  SetProductValue("LogDetailLevel", "0");
  ASSERT_EQ(Run({"-Service"}), 0);
  ClearEvents();
  NotifySocket manager(dir / "notify");
  auto orlenta = Start({}, {{"NOTIFY_SOCKET", manager.path().string()}});
  ASSERT_TRUE(WaitForText("Orlenta.exe::Service started"));
  orlenta->Signal(SIGUSR1);
  ASSERT_TRUE(WaitForText("Orlenta.exe::Bad service request"));
  orlenta->Signal(SIGHUP);  // answered without a word
  orlenta->Signal(SIGTERM);
  ASSERT_EQ(orlenta->WaitExit(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Orlenta.exe::Service started", "Orlenta.exe::Bad service request",
                                               "Orlenta.exe::Service stopped"}));
}

TEST_F(Service, RunsInTheForegroundWithoutMarkerOrNotifySocket) {
  AddDatabase("a", "Data Source=/srv/a.db");

  // Registered as a service but not started by systemd.
  ASSERT_EQ(Run({"-Service"}), 0);
  ClearEvents();
  auto foreground = Start();
  ASSERT_TRUE(WaitFor([&] { return !Starts().empty(); }));
  foreground->Signal(SIGINT);
  ASSERT_EQ(foreground->WaitExit(), 0);
  EXPECT_EQ(Count("Orlenta.exe::Service started"), 1u);
  EXPECT_EQ(Count("Orlenta.exe::_ServiceMain started"), 0u);
  EXPECT_EQ(Count("Orlenta.exe::SetServiceStatus started"), 0u);
  EXPECT_EQ(Count("Orlenta.exe::Service stopped"), 0u);

  // Started with a notification socket after RegServer removed the marker: still a plain program.
  ASSERT_EQ(Run({"-RegServer"}), 0);
  ClearEvents();
  NotifySocket manager(dir / "notify");
  auto plain = Start({}, {{"NOTIFY_SOCKET", manager.path().string()}});
  ASSERT_TRUE(WaitForText("Orlenta.exe::ProcessEachDatabase finished"));
  EXPECT_EQ(manager.Receive(std::chrono::milliseconds(0)), std::nullopt);
  plain->Signal(SIGTERM);
  ASSERT_EQ(plain->WaitExit(), 0);
  EXPECT_EQ(Count("Orlenta.exe::_ServiceMain started"), 0u);
}

}  // namespace
}  // namespace orlentatest
