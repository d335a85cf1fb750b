// One pass: every registered database in order, the sender started without a shell in
// INSTALLDIR, and the failures of a pass.
#include <signal.h>
#include <sys/stat.h>

#include "harness.h"
#include "registry/registry.h"

namespace orlentatest {
namespace {

class Pass : public OrlentaTest {
 protected:
  Pass() {
    RegisterAppId();
    StandardSetup();
  }

  std::string Canonical(const std::filesystem::path& p) { return std::filesystem::weakly_canonical(p).string(); }

  // Runs until a pass has ended twice, then stops the program.
  void RunPasses(const std::string& passEnd = "Orlenta.exe::ProcessEachDatabase finished", size_t times = 2,
                 const std::vector<std::pair<std::string, std::string>>& env = {}) {
    auto orlenta = Start({}, env);
    ASSERT_TRUE(WaitForText(passEnd, times)) << passEnd;
    orlenta->Signal(SIGTERM);
    ASSERT_EQ(orlenta->WaitExit(), 0);
  }
};

TEST_F(Pass, ServesEveryDatabaseInOrderWithItsConnectionStringAsOneArgument) {
  const std::vector<std::string> data = {
      "File name=/srv/site one/DbConnection.udl",
      "Data Source=/srv/b.db; x=\"quoted\" 'single' $(touch pwned) `touch pwned2` | > out",
      "",  // an empty value still starts the sender, with an empty argument
  };
  AddDatabase("Issues", data[0]);
  AddDatabase("Support", data[1]);
  AddDatabase("Empty", data[2]);
  RunPasses();

  auto starts = Starts();
  ASSERT_GE(starts.size(), 6u);
  for (size_t i = 0; i < starts.size(); ++i) {
    EXPECT_EQ(starts[i].argc, 1);
    EXPECT_EQ(starts[i].arg, data[i % 3]);
    EXPECT_EQ(starts[i].dir, Canonical(installDir));
    // Detached from the service: its own session, and none of the signals the service reads.
    EXPECT_EQ(starts[i].blockedSignals, "0000000000000000");
    EXPECT_TRUE(starts[i].ownSession);
  }
  // One at a time: each sender ended before the next one started.
  auto records = Records();
  for (size_t i = 0; i + 1 < records.size(); ++i)
    EXPECT_NE(records[i].kind, records[i + 1].kind) << "senders overlapped at record " << i;
  EXPECT_FALSE(std::filesystem::exists(installDir / "pwned"));
  EXPECT_FALSE(std::filesystem::exists(installDir / "pwned2"));
  EXPECT_FALSE(std::filesystem::exists(installDir / "out"));

  EXPECT_GE(Count("Orlenta.exe::ProcessEachDatabase - Invoking kesprin " + data[0]), 2u);
  EXPECT_GE(Count("Orlenta.exe::ProcessEachDatabase - Invoking kesprin " + data[1]), 2u);
  EXPECT_GE(Count("Orlenta.exe::ProcessEachDatabase - Invoking kesprin "), 2u);
  EXPECT_GE(Count("Orlenta.exe::ProcessEachDatabase - Command finished"), 6u);
}

TEST_F(Pass, ValueTooLongOrUnreadableIsSkippedAndLaterDatabasesServed) {
  std::string limit;  // 129 characters of two bytes each: characters count, not bytes
  for (int i = 0; i < 129; ++i) limit += "\xC3\xA9";
  AddDatabase("first", limit);
  AddDatabase("long", std::string(130, 'x'));
  AddDatabase("bad", "Data Source=\xFF\xFE.db");
  AddDatabase("last", "Data Source=/srv/last.db");
  RunPasses();

  auto starts = Starts();
  ASSERT_GE(starts.size(), 4u);
  EXPECT_EQ(starts[0].arg, limit);
  EXPECT_EQ(starts[1].arg, "Data Source=/srv/last.db");
  EXPECT_EQ(starts[2].arg, limit);
  EXPECT_EQ(starts[3].arg, "Data Source=/srv/last.db");

  const std::string tooLong =
      "Orlenta.exe::ProcessEachDatabase - Value \"long\" under Databases is longer than 129 characters, skipped.";
  const std::string unreadable =
      "Orlenta.exe::ProcessEachDatabase - Value \"bad\" under Databases cannot be read, skipped.";
  EXPECT_GE(Count(tooLong), 2u);
  EXPECT_GE(Count(unreadable), 2u);
  for (const auto& e : Events()) {
    if (e.text == tooLong || e.text == unreadable) {
      EXPECT_EQ(e.id, eventlog::kErrorId);
    }
  }
}

TEST_F(Pass, SenderThatCannotStartEndsThePass) {
  AddDatabase("a", "Data Source=/srv/a.db");
  AddDatabase("b", "Data Source=/srv/b.db");
  std::filesystem::create_directories(dir / "empty");
  const std::vector<std::pair<std::string, std::string>> noSenderOnPath = {{"PATH", (dir / "empty").string()}};

  // No sender in INSTALLDIR, beside the program or on PATH.
  std::filesystem::remove(installDir / "kesprin");
  const std::string missing =
      "Orlenta.exe::ProcessEachDatabase - Unable to run \"kesprin Data Source=/srv/a.db\", error 2.";
  RunPasses(missing, 2, noSenderOnPath);
  // Each such pass also says where the sender was looked for.
  EXPECT_GE(Count("Orlenta.exe::ProcessEachDatabase - kesprin was looked for as " +
                  (std::filesystem::path(ORLENTA_PATH).parent_path() / "kesprin").string() + ", " +
                  (installDir / "kesprin").string() + ", " + (dir / "empty" / "kesprin").string() +
                  " (beside orlenta, in INSTALLDIR, then on PATH)."),
            2u);
  EXPECT_EQ(Count("Orlenta.exe::ProcessEachDatabase - Invoking kesprin Data Source=/srv/b.db"), 0u);
  EXPECT_EQ(Count("Orlenta.exe::ProcessEachDatabase finished"), 0u);

  // A sender that may not be executed.
  ClearEvents();
  WriteFakeSender(installDir);
  ::chmod((installDir / "kesprin").c_str(), 0644);
  RunPasses("Orlenta.exe::ProcessEachDatabase - Unable to run \"kesprin Data Source=/srv/a.db\", error 13.", 1,
            noSenderOnPath);

  // INSTALLDIR that is not a folder: the sender cannot start there.
  ClearEvents();
  SetProductValue("INSTALLDIR", (dir / "nowhere").string());
  RunPasses(missing, 1);
  EXPECT_TRUE(Starts().empty());
}

TEST_F(Pass, RegistryFailuresEndThePassEveryTime) {
  // INSTALLDIR is read even while sending is off.
  ASSERT_TRUE(registry::DeleteValue(registry::kVantrelKey, "INSTALLDIR"));
  SetProductValue("EMailSchedule", "0");
  AddDatabase("a", "Data Source=/srv/a.db");
  RunPasses(
      "Orlenta.exe::Unable read registry key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\INSTALLDIR\", "
      "cannot send e-mails (2).");
  EXPECT_EQ(Count("Orlenta.exe::ProcessEachDatabase finished (sending disabled)."), 0u);

  ClearEvents();
  StandardSetup();
  registry::DeleteKey(registry::kDatabasesKey);
  RunPasses(
      "Orlenta.exe::Unable open registry key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel\\Databases\", "
      "cannot send e-mails (2)");
  EXPECT_TRUE(Starts().empty());
}

TEST_F(Pass, HungSenderIsStoppedAfterSenderTimeout) {
  SetProductValue("SenderTimeout", "1");
  // Seconds between passes: the stop arrives before a second pass could start the hung one again.
  SetProductValue("EMailSchedule", "10");
  AddDatabase("a", "hang-a");
  AddDatabase("b", "Data Source=/srv/b.db");
  auto orlenta = Start();
  ASSERT_TRUE(WaitFor([&] { return Starts().size() >= 2; }));
  orlenta->Signal(SIGTERM);
  ASSERT_EQ(orlenta->WaitExit(), 0);

  auto starts = Starts();
  EXPECT_EQ(starts[0].arg, "hang-a");
  EXPECT_EQ(starts[1].arg, "Data Source=/srv/b.db");
  // Measured between the forks, not the scripts' first lines, which a loaded machine delays.
  EXPECT_GE(starts[1].forkedMs - starts[0].forkedMs, 1000);
  EXPECT_EQ(Count("Orlenta.exe::ProcessEachDatabase - \"kesprin hang-a\" did not finish within 1 seconds and was "
                  "stopped."),
            1u);
}

TEST_F(Pass, StopDuringAPassEndsAfterThePass) {
  AddDatabase("a", "hold-a");
  AddDatabase("b", "Data Source=/srv/b.db");
  auto orlenta = Start();
  ASSERT_TRUE(WaitFor([&] { return Starts().size() == 1; }));
  orlenta->Signal(SIGTERM);
  ASSERT_TRUE(WaitForText("Orlenta.exe::Handler finished"));
  EXPECT_FALSE(orlenta->WaitExit(std::chrono::milliseconds(200)).has_value()) << "stopped while the sender ran";
  Release();
  ASSERT_EQ(orlenta->WaitExit(), 0);

  // The pass under way is completed, including the databases after the running one.
  auto records = Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].kind, "end");
  EXPECT_EQ(records[3].arg, "Data Source=/srv/b.db");

  auto texts = Texts();
  auto at = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) - texts.begin(); };
  const std::vector<std::string> tail = {
      "Orlenta.exe::_Handler started",
      "Orlenta.exe::Handler started",
      "Orlenta.exe::Handler finished",
      "Orlenta.exe::_Handler finished",
      "Orlenta.exe::ProcessEachDatabase - Command finished",
      "Orlenta.exe::ProcessEachDatabase - Invoking kesprin Data Source=/srv/b.db",
      "Orlenta.exe::ProcessEachDatabase - Command finished",
      "Orlenta.exe::ProcessEachDatabase finished",
      "Orlenta.exe::SetupTimer started",
      "Orlenta.exe::Sleep timer = 300.",
      "Orlenta.exe::SetupTimer finished",
      "Orlenta.exe::Run finished",
      "Orlenta.exe::Start finished",
      "Orlenta.exe::_tWinMain finished",
  };
  ASSERT_LT(at(tail[0]), static_cast<long>(texts.size()));
  EXPECT_EQ(std::vector<std::string>(texts.begin() + at(tail[0]), texts.end()), tail);
}

}  // namespace
}  // namespace orlentatest
