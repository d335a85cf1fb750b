#include <gtest/gtest.h>

#include "core/error_protocol.h"
#include "eventlog/eventlog.h"
#include "support/com_error.h"

using automation::ComError;
using automation::Variant;
using brisquel::Procedure;
using testsupport::ErrorOf;

namespace {

class ErrorProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { events = eventlog::CaptureInMemory(); }
  void TearDown() override { eventlog::SetSink(nullptr); }
  std::shared_ptr<eventlog::MemorySink> events;
};

void Inner(int32_t line, const std::string& source) {
  Procedure("Notifications", "Inner", [&] {
    throw ComError(-2147217900, source, "Syntax error", line);
  });
}
void Middle(int32_t line, const std::string& source) {
  Procedure("Notifications", "Middle", [&] { Inner(line, source); });
}
int Outer(int32_t line, const std::string& source) {
  return Procedure("Database", "SendNotifications", [&] {
    Middle(line, source);
    return 1;
  });
}

TEST_F(ErrorProtocolTest, ChainGrowsOneLinePerProcedureOutermostFirst) {
  ComError e = ErrorOf([] { Outer(0, "Microsoft OLE DB Provider"); });
  EXPECT_EQ(e.number, -2147217900);
  EXPECT_EQ(e.description, "Syntax error");
  EXPECT_EQ(e.source,
            "Brisquel.dll:Database.SendNotifications\r\n"
            "Brisquel.dll:Notifications.Middle\r\n"
            "Brisquel.dll:Notifications.Inner\r\n"
            "Microsoft OLE DB Provider");
  // One line per procedure, innermost first, numbers in signed decimal, line 0 shown.
  EXPECT_EQ(events->Texts(),
            (std::vector<std::string>{
                "Unexpected error encountered: Syntax error (-2147217900), line 0 of Notifications.Inner",
                "Unexpected error encountered: Syntax error (-2147217900), line 0 of Notifications.Middle",
                "Unexpected error encountered: Syntax error (-2147217900), line 0 of Database.SendNotifications"}));
  for (const auto& ev : events->Events()) EXPECT_EQ(ev.type, eventlog::Type::Error);
}

TEST_F(ErrorProtocolTest, LineNumberAndEmptySource) {
  ComError e = ErrorOf([] { Inner(12, ""); });
  EXPECT_EQ(e.source, "Brisquel.dll:Notifications.Inner, line 12\r\n");
  EXPECT_EQ(events->Texts().back(),
            "Unexpected error encountered: Syntax error (-2147217900), line 12 of Notifications.Inner");
}

TEST_F(ErrorProtocolTest, ThrowErrorWrappedByItsProcedureStandsTwice) {
  ComError e = ErrorOf([] {
    Procedure("Database", "UpdateIssue", [] { brisquel::ThrowError("Database", "UpdateIssue", "No recordset"); });
  });
  EXPECT_EQ(e.number, -2147221503);
  EXPECT_EQ(e.source, "Brisquel.dll:Database.UpdateIssue\r\nBrisquel.dll:Database.UpdateIssue\r\n");
  ASSERT_EQ(events->Texts().size(), 2u);
  EXPECT_EQ(events->Texts()[0],
            "Unexpected error encountered: No recordset (-2147221503), line 0 of Database.UpdateIssue");
}

TEST_F(ErrorProtocolTest, OtherExceptionsBecomeRunTimeErrors) {
  ComError e = ErrorOf([] { Procedure("Buffer", "Get_Buffer", [] { throw std::runtime_error("disk full"); }); });
  EXPECT_EQ(e.description, "disk full");
  EXPECT_EQ(e.source, "Brisquel.dll:Buffer.Get_Buffer\r\nBrisquel");
}

TEST_F(ErrorProtocolTest, LogMessageFormats) {
  brisquel::UnexpectedErrorManager fresh;
  fresh.LogMessage("hello");
  brisquel::UnexpectedErrorManager m;
  m.Initialize("Database", "Let_ConnectionString", automation::LastError{5, "x", "d", 0});
  m.LogMessage("ConnectionString = \"Data Source=a\"");
  brisquel::UnexpectedErrorManager c;
  c.Initialize("Database", "", automation::LastError{});
  c.LogMessage("m");
  EXPECT_EQ(events->Texts(), (std::vector<std::string>{
                                 "Brisquel.dll logged: hello",
                                 "Brisquel.dll:Database.Let_ConnectionString logged: ConnectionString = \"Data Source=a\"",
                                 "Brisquel.dll:Database logged: m"}));
}

TEST_F(ErrorProtocolTest, HandlerStepBeforeRaiseRunsOnce) {
  int calls = 0;
  ComError e = ErrorOf([&] {
    Procedure("Database", "Let_ConnectionString",
              [&](brisquel::UnexpectedErrorManager& m) {
                ++calls;
                m.LogMessage("ConnectionString = \"x\"");
              },
              [] { automation::RaiseRuntime(5); });
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(e.number, 5);
  ASSERT_EQ(events->Texts().size(), 2u);
  EXPECT_EQ(events->Texts()[0], "Brisquel.dll:Database.Let_ConnectionString logged: ConnectionString = \"x\"");
}

TEST_F(ErrorProtocolTest, ByNameThrowErrorAndInitializeFromErr) {
  auto m = automation::CreateObject("Brisquel.UnexpectedErrorManager");
  ComError e = ErrorOf([&] { m->Call("ThrowError", {Variant("Database"), Variant("GetIssueRs"), Variant("bad")}); });
  EXPECT_EQ(e.number, -2147221503);
  EXPECT_EQ(e.source, "Brisquel.dll:Database.GetIssueRs\r\n");
  // Initialize takes the error being handled, as VB's Err holds it.
  m->Call("Initialize", {Variant("Outer"), Variant("Run")});
  EXPECT_EQ(m->Get("Source").ToString(), "Brisquel.dll:Outer.Run\r\nBrisquel.dll:Database.GetIssueRs\r\n");
  EXPECT_EQ(m->Get("Number").ToLong(), -2147221503);
}

// A connection whose Errors collection holds given entries.
class FakeError : public automation::Dispatchable<FakeError> {
 public:
  int32_t number = 0;
  std::string description;
  int32_t Number() const { return number; }
  std::string Description() const { return description; }
};
class FakeErrors : public automation::Dispatchable<FakeErrors> {
 public:
  std::vector<std::shared_ptr<FakeError>> items;
  int32_t Count() const { return static_cast<int32_t>(items.size()); }
  std::shared_ptr<FakeError> Item(int32_t i) { return items.at(static_cast<size_t>(i)); }
};
class FakeConnection : public automation::Dispatchable<FakeConnection> {
 public:
  std::shared_ptr<FakeErrors> errors = std::make_shared<FakeErrors>();
  std::shared_ptr<FakeErrors> Errors() { return errors; }
};
automation::Register<FakeError> r1("Error", "", [](auto& c) {
  c.Property("Number", &FakeError::Number);
  c.Property("Description", &FakeError::Description);
});
automation::Register<FakeErrors> r2("Errors", "", [](auto& c) {
  c.Property("Count", &FakeErrors::Count);
  c.Property("Item", &FakeErrors::Item);
  c.Default("Item");
});
automation::Register<FakeConnection> r3("Connection", "", [](auto& c) { c.Property("Errors", &FakeConnection::Errors); });

TEST_F(ErrorProtocolTest, UnexpectedErrorReportListsEveryConnectionError) {
  auto conn = std::make_shared<FakeConnection>();
  for (int i = 0; i < 3; ++i) {
    auto e = std::make_shared<FakeError>();
    e->number = -2147217900 - i;
    e->description = "problem " + std::to_string(i);
    conn->errors->items.push_back(e);
  }
  automation::LastError runtime{-2147217900, "src", "Syntax error", 0};
  std::string text = brisquel::UnexpectedErrorReport(conn, runtime);
  EXPECT_EQ(text,
            "An unexpected error has occurred."
            "\r\nError number: -2147217900\r\nError message: problem 0"
            "\r\nError number: -2147217901\r\nError message: problem 1"
            "\r\nError number: -2147217902\r\nError message: problem 2");
  EXPECT_EQ(events->Texts().back(), "Unexpected error encountered: Syntax error (-2147217900), line 0");

  conn->errors->items.clear();
  EXPECT_EQ(brisquel::UnexpectedErrorReport(conn, runtime),
            "An unexpected error has occurred.\r\nError number: -2147217900\r\nError message: Syntax error");
  EXPECT_EQ(brisquel::UnexpectedRuntimeErrorReport(automation::LastError{13, "", "Type mismatch", 4}),
            "An unexpected error has occurred.\r\nError number: 13\r\nError message: Type mismatch");
  EXPECT_EQ(events->Texts().back(), "Unexpected error encountered: Type mismatch (13), line 4");
}

}  // namespace
