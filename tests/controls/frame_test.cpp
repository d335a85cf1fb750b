#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "automation/text.h"
#include "frame/control.h"
#include "host/recording_host.h"
#include "probe_control.h"

namespace tamsolo {
namespace {

using automation::Variant;
using testing::ProbeControl;

// The probe control on a recording host.
class Frame : public ::testing::Test {
 protected:
  RecordingHost host;
  ProbeControl probe{host};
};

// A stock put (the name in any case) asks, stores, notifies, then repaints once.
TEST(FrameStock, PropertiesHaveTheirStandardDispids) {
  struct Case {
    const char* name;
    int32_t dispid;
    Variant value;
    std::string stored;
  } cases[] = {
      {"ForeColor", -513, Variant("&HFF"), "255"},
      {"BackColor", -501, Variant(65280), "65280"},
      {"backcolor", -501, Variant(255), "255"},
      {"BorderColor", -503, Variant("&H80000010"), "-2147483632"},
      {"FillColor", -510, Variant(0), "0"},
      {"BorderVisible", -519, Variant("True"), "True"},
  };
  for (const Case& c : cases) {
    RecordingHost host;
    ProbeControl probe(host);
    probe.Put(c.name, c.value);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"RequestEdit " + std::to_string(c.dispid),
                                                    "Changed " + std::to_string(c.dispid), "Invalidate"}))
        << c.name;
    EXPECT_EQ(probe.FindProperty(c.name)->dispid, c.dispid);
    EXPECT_EQ(probe.Get(c.name).ToText(), c.stored) << c.name;
    EXPECT_TRUE(probe.Dirty()) << c.name;
  }
}

// The same calls the browser check expects of the canvas backend.
TEST_F(Frame, ThePatternDrawsOneOfEachCall) {
  probe.Put("Pattern", Variant(true));
  gdi::RecordDc dc;
  probe.Draw(dc, {0, 0, 60, 20});
  std::string joined;
  for (const std::string& c : dc.Calls()) joined += (joined.empty() ? "" : "|") + c;
  EXPECT_EQ(joined,
            "FillRect 0,0,60,20 D4D0C8|FrameRect 0,0,60,20 000000|SetPen Dot 808080|MoveTo 2,18|"
            "LineTo 58,18|Polyline 2,2 10,10 18,2|SetFont Arial 11|SetTextColor 000080|"
            "DrawText 20,2,58,16 8020 Probe text|CreateSurface 1 4x4|[1] FillRect 0,0,4,4 FF0000|"
            "Blit 1 50,4");
}

TEST_F(Frame, AVetoedPutChangesAndNotifiesNothing) {
  host.refused = {-501};
  probe.Put("BackColor", Variant(255));
  EXPECT_EQ(host.calls, (std::vector<std::string>{"RequestEdit -501"}));
  EXPECT_EQ(probe.BackColor(), 0x8000000Fu);
  EXPECT_FALSE(probe.Dirty());
}

TEST_F(Frame, ButtonFaceBackgroundFillsTheClassicGrey) {
  host.size = {120, 40};
  probe.Paint();
  EXPECT_EQ(host.drawing.Calls(), (std::vector<std::string>{"FillRect 0,0,120,40 D4D0C8"}));
}

TEST_F(Frame, ParamsLoadInMapOrderByTheVbRules) {
  std::map<std::string, std::string> params{
      {"level", "&HFF"}, {"FORECOLOR", "&H000080"}, {"Caption", "True"}, {"Enabled", "False"}};
  auto bag = [&](std::string_view name) -> std::optional<std::string> {
    for (auto& [k, v] : params)
      if (automation::EqualsNoCase(k, name)) return v;
    return std::nullopt;
  };
  EXPECT_EQ(probe.Load(bag), hr::kOk);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"RequestEdit 1", "Changed 1", "Invalidate",
                                                  "RequestEdit -513", "Changed -513", "Invalidate",
                                                  "RequestEdit 2", "Changed 2", "Invalidate"}));
  EXPECT_EQ(probe.level, 255);
  EXPECT_EQ(probe.ForeColor(), 0x80u);
  EXPECT_EQ(probe.caption, "True");
  EXPECT_EQ(probe.Save(), (std::vector<std::pair<std::string, std::string>>{
                              {"BackColor", "-2147483633"}, {"Caption", "True"}, {"ForeColor", "128"},
                              {"Level", "255"}, {"Pattern", "False"}, {"BorderVisible", "False"}, {"BorderColor", "-2147483630"},
                              {"FillColor", "-2147483643"}}));
}

TEST_F(Frame, APropertyTheTextCannotBeStopsTheLoadWithTheError) {
  auto bag = [](std::string_view name) -> std::optional<std::string> {
    if (name == "Level") return "many";
    if (name == "ForeColor") return "255";
    return std::nullopt;
  };
  EXPECT_EQ(probe.Load(bag), static_cast<HRESULT>(0x800A000D));  // type mismatch
  EXPECT_EQ(probe.ForeColor(), 255u);
}

TEST_F(Frame, UnknownMembersRaiseAComError) {
  try {
    probe.Put("NoSuchThing", Variant(1));
    FAIL() << "no error";
  } catch (const automation::ComError& e) {
    EXPECT_EQ(e.number, 438);
  }
  EXPECT_THROW(probe.Call("Frobnicate", {}), automation::ComError);
  EXPECT_THROW(probe.Put("Enabled", Variant(false)), automation::ComError);
}

// Methods and events found by name in any case, with the DISPID each was declared with.
TEST_F(Frame, MethodsAndEventsCarryTheirDispids) {
  struct Case {
    const char* name;
    bool event;
    int32_t dispid;
  } cases[] = {
      {"load", false, 10}, {"Ask", false, dispid::kUnknown}, {"LOADED", true, 1},
      {"Answered", true, 2}, {"Unfired", true, dispid::kUnknown},
  };
  auto dispidOf = [this](const Case& c) -> std::optional<int32_t> {
    if (c.event) {
      const Control::Event* e = probe.FindEvent(c.name);
      return e ? std::optional(e->dispid) : std::nullopt;
    }
    const Control::Method* m = probe.FindMethod(c.name);
    return m ? std::optional(m->dispid) : std::nullopt;
  };
  for (const Case& c : cases) EXPECT_EQ(dispidOf(c), c.dispid) << c.name;
  EXPECT_EQ(probe.FindEvent("Load"), nullptr);
  EXPECT_EQ(probe.FindMethod("Loaded"), nullptr);
  EXPECT_EQ(probe.Events().size(), 3u);
}

TEST_F(Frame, ReadyStateIsNotifiedBeforeTheRepaint) {
  probe.Call("load", {Variant("x")});
  EXPECT_EQ(host.calls, (std::vector<std::string>{"Fire Loaded(x)", "Changed -525", "Invalidate"}));
  EXPECT_EQ(probe.ReadyState(), kReadyStateComplete);
}

TEST_F(Frame, ClassInfoAndErrorInfoAnswers) {
  // The probe has the Chart's entry.
  std::string guid;
  EXPECT_EQ(probe.GetGUID(kGuidKindDefaultSourceDispIid, guid), hr::kOk);
  EXPECT_EQ(guid, "{968733C5-66C5-42B8-9F03-BB5269824FDE}");
  EXPECT_EQ(probe.InterfaceSupportsErrorInfo("{9F81EAEB-2050-49ED-A2A2-A29837712F97}"), hr::kOk);
  EXPECT_EQ(probe.InterfaceSupportsErrorInfo("IDispatch"), hr::kFalse);
  EXPECT_TRUE(probe.Implements("IViewObjectEx"));
  EXPECT_TRUE(probe.Implements("ichart"));
  EXPECT_FALSE(probe.Implements("IObjectSafety"));
}

TEST_F(Frame, MethodsReachTheHostsTransfersAndBoxes) {
  host.transfers["/list"] = "one";
  host.messageBoxAnswer = mb::kIdYes;
  probe.Call("Fetch", {Variant("/list")});
  probe.Call("Fetch", {Variant("/gone")});
  probe.Call("ask", {Variant("Sure?")});
  EXPECT_EQ(host.calls, (std::vector<std::string>{"StartTransfer /list", "Fire Fetched(one, 200)",
                                                  "StartTransfer /gone", "Fire Fetched(, -404)",
                                                  "MessageBox Probe: Sure? 36", "Fire Answered(6)"}));
}

TEST_F(Frame, ADialogOfPageElementsComesAndGoes) {
  probe.Call("OpenDialog", {});
  probe.Call("CloseDialog", {});
  EXPECT_EQ(host.calls, (std::vector<std::string>{
                            "CreateElement div", "Element 1 SetAttribute class=probe-dialog",
                            "CreateElement button", "Element 2 SetText Press", "Element 2 Listen click",
                            "Element 1 Append 2", "AddToPage 1", "Element 2 Remove", "Element 1 Remove"}));
}

TEST(RecordingHost, AnswersTransfersBoxesAndElements) {
  RecordingHost host;
  host.transfers["/data"] = "a,b";
  struct Sink : TransferSink {
    std::string body;
    int status = 0;
    void OnData(std::string_view c) override { body += c; }
    void OnEnd(bool, int s) override { status = s; }
  };
  auto found = std::make_shared<Sink>(), missing = std::make_shared<Sink>();
  host.StartTransfer("/data", found);
  host.StartTransfer("/none", missing);
  EXPECT_EQ(found->body, "a,b");
  EXPECT_EQ(found->status, 200);
  EXPECT_EQ(missing->status, 404);
  int answer = 0;
  host.messageBoxAnswer = mb::kIdNo;
  host.MessageBox("Save?", "Workflow", mb::kIconQuestion, mb::kYesNo, [&](int a) { answer = a; });
  EXPECT_EQ(answer, mb::kIdNo);
  {
    auto dialog = host.CreateElement("div");
    auto button = host.CreateElement("button");
    dialog->Append(*button);
    host.AddToPage(*dialog);
  }
  EXPECT_EQ(std::vector<std::string>(host.calls.begin() + 2, host.calls.end()),
            (std::vector<std::string>{"MessageBox Workflow: Save? 36", "CreateElement div",
                                      "CreateElement button", "Element 1 Append 2", "AddToPage 1", "Element 2 Remove",
                                      "Element 1 Remove"}));
}

}  // namespace
}  // namespace tamsolo
