#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "eventlog/eventlog.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::ifstream f(p);
  std::vector<std::string> out;
  for (std::string l; std::getline(f, l);) out.push_back(l);
  return out;
}

TEST(EventLog, FileSinkWritesOneEscapedLinePerEvent) {
  testsupport::TempDir dir;
  testsupport::ScopedEnv env("VANTREL_EVENTLOG", (dir / "events.log").string());
  eventlog::SetSink(nullptr);
  eventlog::Information("Orlenta.exe::Run started");
  eventlog::Error("two\r\nlines with a \\ backslash");
  auto lines = Lines(dir / "events.log");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "information 0x40000001 Vantrel Orlenta.exe::Run started");
  EXPECT_EQ(lines[1], "error 0xC0000003 Vantrel two\\r\\nlines with a \\\\ backslash");
  eventlog::Event e;
  ASSERT_TRUE(eventlog::ParseLine(lines[1], e));
  EXPECT_EQ(e.text, "two\r\nlines with a \\ backslash");
  EXPECT_EQ(e.id, 0xC0000003u);
  EXPECT_EQ(e.type, eventlog::Type::Error);
}

TEST(EventLog, ConcurrentProcessesNeverInterleaveLines) {
  testsupport::TempDir dir;
  auto path = dir / "events.log";
  testsupport::ScopedEnv env("VANTREL_EVENTLOG", path.string());
  eventlog::SetSink(nullptr);
  const int kProcs = 4, kEach = 200;
  std::string payload(300, 'x');
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < kEach; ++i) eventlog::Information("p" + std::to_string(p) + " " + payload);
      _exit(0);
    }
  }
  for (int p = 0; p < kProcs; ++p) wait(nullptr);
  auto lines = Lines(path);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kProcs * kEach));
  for (const auto& l : lines) {
    eventlog::Event e;
    ASSERT_TRUE(eventlog::ParseLine(l, e)) << l;
    EXPECT_EQ(e.text.size(), payload.size() + 3);
  }
}

TEST(EventLog, MemorySinkCapturesAndNothingReachesTheFile) {
  testsupport::TempDir dir;
  testsupport::ScopedEnv env("VANTREL_EVENTLOG", (dir / "events.log").string());
  auto sink = eventlog::CaptureInMemory();
  eventlog::Write(eventlog::Type::Warning, 7, "Other", "w");
  eventlog::SetSink(nullptr);
  ASSERT_EQ(sink->Events().size(), 1u);
  EXPECT_EQ(sink->Events()[0].source, "Other");
  EXPECT_FALSE(std::filesystem::exists(dir / "events.log"));
}

TEST(EventLog, MalformedLinesAreRejected) {
  eventlog::Event e;
  EXPECT_FALSE(eventlog::ParseLine("", e));
  EXPECT_FALSE(eventlog::ParseLine("notice 0x40000001 Vantrel x", e));
  EXPECT_FALSE(eventlog::ParseLine("error 0x4001 Vantrel x", e));
  EXPECT_FALSE(eventlog::ParseLine("error 0x40000001", e));
}

}  // namespace
