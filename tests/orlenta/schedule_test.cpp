// The schedule: the timer period from EMailSchedule, re-read at every pass, and passes with
// sending switched off.
#include <signal.h>

#include <algorithm>
#include <optional>

#include "harness.h"
#include "registry/registry.h"

namespace orlentatest {
namespace {

class Schedule : public OrlentaTest {
 protected:
  Schedule() { RegisterAppId(); }
};

TEST_F(Schedule, PeriodFollowsEMailSchedule) {
  struct Case {
    std::optional<std::string> schedule;
    int seconds;
    bool sending;
  };
  const Case cases[] = {
      {"1", 60, true},
      {"5", 300, true},
      {"10", 600, true},
      {"15", 600, true},
      {"60", 600, true},
      {"  12 minutes", 600, true},
      {"99999999999999999999", 600, true},
      {"0", 60, false},
      {"-7", 60, false},
      {"soon", 60, false},
      {std::nullopt, 120, false},
  };
  StandardSetup();
  AddDatabase("db", "Data Source=/srv/site.db");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.schedule.value_or("(missing)"));
    ClearEvents();
    std::filesystem::remove(recordFile);
    if (c.schedule)
      SetProductValue("EMailSchedule", *c.schedule);
    else
      registry::DeleteValue(registry::kVantrelKey, "EMailSchedule");

    auto orlenta = Start();
    std::string end = c.sending ? "Orlenta.exe::ProcessEachDatabase finished"
                                : "Orlenta.exe::ProcessEachDatabase finished (sending disabled).";
    ASSERT_TRUE(WaitForText(end, 2));
    orlenta->Signal(SIGTERM);
    ASSERT_EQ(orlenta->WaitExit(), 0);

    EXPECT_GE(Count("Orlenta.exe::Sleep timer = " + std::to_string(c.seconds) + "."), 3u);
    for (const auto& t : Texts()) {
      if (t.rfind("Orlenta.exe::Sleep timer = ", 0) == 0) {
        EXPECT_EQ(t, "Orlenta.exe::Sleep timer = " + std::to_string(c.seconds) + ".");
      }
    }
    // A value of 0 or less, or no digits, is reported as invalid; a missing value is not.
    bool invalid = c.schedule.has_value() && !c.sending;
    EXPECT_EQ(Count("Orlenta.exe::ProcessEachDatabase escalation schedule invalid, disabling escalation.") > 0,
              invalid);
    EXPECT_EQ(Starts().empty(), !c.sending);
  }
}

TEST_F(Schedule, PassesWithoutProductKeyWakeEveryTwoMinutes) {
  RegisterAppId();
  registry::WriteValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", "LogDetailLevel", "1");
  auto orlenta = Start();
  const std::string error =
      "Orlenta.exe::Unable open registry key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel\", cannot send "
      "e-mails (2).";
  ASSERT_TRUE(WaitForText(error, 2));
  orlenta->Signal(SIGTERM);
  ASSERT_EQ(orlenta->WaitExit(), 0);
  // Without the key there is no LogDetailLevel either (one elsewhere does not count): only the
  // notice and the errors are written.
  auto events = Events();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0].text, "Orlenta.exe::Service started");
  for (size_t i = 1; i < events.size(); ++i) {
    EXPECT_EQ(events[i].text, error);
    EXPECT_EQ(events[i].type, eventlog::Type::Error);
    EXPECT_EQ(events[i].id, eventlog::kErrorId);
    EXPECT_EQ(events[i].source, "Vantrel");
  }
}

TEST_F(Schedule, TimerIsArmedAfterThePassWithTheValueReadThen) {
  StandardSetup("5");
  AddDatabase("first", "hold-first");
  // One minute = 50 ms: "5" is 250 ms, "15" is 500 ms.
  auto orlenta = Start({}, {{"VANTREL_MINUTE_SECONDS", "0.05"}});
  ASSERT_TRUE(WaitFor([&] { return Starts().size() == 1; }));
  SetProductValue("EMailSchedule", "15");  // changed while the pass runs
  Release();
  ASSERT_TRUE(WaitFor([&] { return Starts().size() >= 2; }));
  orlenta->Signal(SIGTERM);
  ASSERT_EQ(orlenta->WaitExit(), 0);

  std::vector<std::string> periods;
  for (const auto& t : Texts())
    if (t.rfind("Orlenta.exe::Sleep timer = ", 0) == 0) periods.push_back(t);
  ASSERT_GE(periods.size(), 2u);
  EXPECT_EQ(periods[0], "Orlenta.exe::Sleep timer = 300.");
  EXPECT_EQ(periods[1], "Orlenta.exe::Sleep timer = 600.");

  // The next pass is due one period after the end of the previous one.
  auto records = Records();
  auto firstEnd = std::find_if(records.begin(), records.end(), [](const SenderRecord& r) { return r.kind == "end"; });
  ASSERT_NE(firstEnd, records.end());
  int64_t gapMs = (Starts().at(1).ns - firstEnd->ns) / 1000000;
  EXPECT_GE(gapMs, 450) << "the second pass came too early";
}

}  // namespace
}  // namespace orlentatest
