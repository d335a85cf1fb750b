#include <gtest/gtest.h>

#include "core/trace.h"
#include "eventlog/eventlog.h"
#include "registry/registry.h"
#include "support/temp_dir.h"

namespace {

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { events = eventlog::CaptureInMemory(); }
  void TearDown() override { eventlog::SetSink(nullptr); }
  void Level(const std::string& v) { registry::WriteValue(registry::kVantrelKey, "LogDetailLevel", v); }
  testsupport::TempDir dir;
  testsupport::ScopedEnv env{"VANTREL_REGISTRY", (dir / "registry").string()};
  std::shared_ptr<eventlog::MemorySink> events;
};

TEST_F(TraceTest, MissingLevelWritesOnlyLevelZero) {
  brisquel::VTLLogging log;
  log.Trace(1, "x");
  log.Trace(0, "always");
  auto all = events->Events();
  ASSERT_EQ(all.size(), 1u);
  const auto& e = all[0];
  EXPECT_EQ(e.text, "always");
  EXPECT_EQ(e.source, "Vantrel");
  EXPECT_EQ(e.id, 0x40000001u);
  EXPECT_EQ(e.type, eventlog::Type::Information);
}

TEST_F(TraceTest, LevelGatesInclusively) {
  Level("2");
  brisquel::VTLLogging log;
  log.Trace(1, "one");
  log.Trace(2, "two");
  log.Trace(3, "three");
  log.Trace(1, "");
  EXPECT_EQ(events->Texts(), (std::vector<std::string>{"one", "two", ""}));
}

TEST_F(TraceTest, UnreadableLevelIsZeroAndFractionsRoundToEven) {
  Level("abc");
  EXPECT_EQ(brisquel::VTLLogging().LogDetailLevel(), 0);
  Level("2.5");
  EXPECT_EQ(brisquel::VTLLogging().LogDetailLevel(), 2);
  Level(" 3 ");
  EXPECT_EQ(brisquel::VTLLogging().LogDetailLevel(), 3);
}

TEST_F(TraceTest, LevelIsReadWhenTheObjectIsMade) {
  Level("0");
  auto t = automation::CreateObject("Brisquel.VTLLogging");
  Level("5");
  t->Call("Trace", {automation::Variant(1), automation::Variant("late")});
  EXPECT_TRUE(events->Texts().empty());
  auto t2 = automation::CreateObject("Brisquel.VTLLogging");
  t2->Call("Trace", {automation::Variant(1), automation::Variant("now")});
  EXPECT_EQ(events->Texts(), std::vector<std::string>{"now"});
}

}  // namespace
