// The workflow editor in Chromium against vantrel-site: the seeded workflow drawn, a box moved and
// saved, a save from an older copy refused, Cancel reloading, and the inquiry form for a user who
// is no site administrator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "support/browser.h"
#include "support/site_server.h"

namespace {

using automation::Variant;
using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

// Every OBJECT of the page records what it draws.
constexpr const char* kRecord =
    "document.addEventListener('DOMContentLoaded', () => document.querySelectorAll('object')"
    ".forEach(o => o.setAttribute('data-tamsolo-record', '')));";

// The records of the canvas in the control's last paint (its off-screen surface).
constexpr const char* kLastCanvas =
    "(() => { const c = Workflow.tamsoloCalls; let end = c.length - 1;"
    " while (end >= 0 && !c[end].startsWith('Blit ')) --end;"
    " const n = c[end].split(' ')[1]; const head = '[' + n + '] ';"
    " let start = end; while (start > 0 && c[start - 1].startsWith(head)) --start;"
    " return c.slice(start, end).map(l => l.slice(head.length)); })()";

class WorkflowBrowserTest : public ::testing::Test {
 protected:
  std::unique_ptr<Page> Open(const std::string& user, const std::string& password) {
    auto page = Browser::Shared().NewPage();
    page->AddInitScript(kRecord);
    testsupport::SignIn(*page, site, user, password);
    EXPECT_EQ(page->Navigate(site.Url("/Setup/SiteWorkflow.asp")), 200);
    return page;
  }
  static bool WaitReady(Page& page) {
    return page.WaitFor("!!document.getElementById('Save') && !document.getElementById('Save').disabled");
  }
  // Pointer presses of the right button on the canvas, at pixels of the canvas.
  static void RightClick(Page& page, int x, int y) {
    page.Evaluate("(() => { const c = Workflow.querySelector('canvas'), r = c.getBoundingClientRect();"
                  " for (const t of ['pointerdown', 'pointerup']) c.dispatchEvent(new PointerEvent(t, {bubbles: true,"
                  " button: 2, buttons: t === 'pointerdown' ? 2 : 0, clientX: r.left + 6 + " + std::to_string(x) +
                  ", clientY: r.top + 40 + " + std::to_string(y) + "})); })()");
  }
  // A left-button drag between two pixels of the canvas.
  static void DragOnCanvas(Page& page, int x0, int y0, int x1, int y1) {
    Json r = page.Evaluate("(() => { const r = Workflow.querySelector('canvas').getBoundingClientRect();"
                           " return [r.left + 6, r.top + 40]; })()");
    const double l = r[0], t = r[1];
    page.Drag(l + x0, t + y0, l + x1, t + y1);
  }
  static std::vector<std::string> Canvas(Page& page) { return page.Evaluate(kLastCanvas).get<std::vector<std::string>>(); }
  // The message box's text once one is open; its first button is then pressed.
  static std::string Answer(Page& page, const std::string& button) {
    EXPECT_TRUE(page.WaitFor("!!document.querySelector('.tamsolo-modal')"));
    std::string text = page.Evaluate("document.querySelector('.tamsolo-modal .tamsolo-modal-text').textContent");
    page.Evaluate("[...document.querySelectorAll('.tamsolo-modal button')].find(b => b.textContent === '" + button +
                  "').click()");
    return text;
  }
  std::shared_ptr<automation::Object> Db() {
    auto db = automation::CreateObject("Brisquel.Database");
    db->Put("ConnectionString", Variant("Data Source=" + site.DatabaseFile().string()));
    return db;
  }
  // The rows a reader of the library gives, called by name: the fields joined by "|", sorted.
  std::vector<std::string> Rows(const char* reader, std::vector<Variant> args, std::vector<const char*> fields) {
    std::vector<std::string> out;
    auto rs = Db()->Call(reader, std::move(args)).ToObject();
    for (; !rs->Get("EOF").ToBool(); rs->Call("MoveNext")) {
      std::string row;
      for (const char* f : fields)
        row += (row.empty() ? "" : "|") + rs->Get("Fields", {Variant(f)}).ToObject()->Get("Value").ToText();
      out.push_back(row);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::vector<std::string> States() {
    return Rows("GetWorkflowStatesRs", {Variant(1)}, {"StateName", "ResolutionCode", "DiagramLeft", "DiagramTop"});
  }
  int32_t Version() {
    auto rs = Db()->Call("GetSiteWorkflowRs").ToObject();
    return rs->Get("Fields", {Variant("Version")}).ToObject()->Get("Value").ToLong();
  }
  // A resolution renamed by the library's code writer, which renames its states too.
  void RenameResolution(const std::string& from, const std::string& to) {
    const std::string b = "-----------------------------7d114d2a100b3e";
    std::string body;
    for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"CodeValue", to}, {"TableName", "Resolutions"}, {"SortOrder", ""}, {"ProjectId", "0"}})
      body += b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    body += b + "--\r\n";
    auto form = automation::CreateObject("Brisquel.MultipartFormData");
    form->Put("BinaryData", Variant::Bytes(std::vector<uint8_t>(body.begin(), body.end())));
    auto db = Db();
    auto rs = db->Call("GetCodeRs", {Variant("admin"), Variant("Resolutions"), Variant(0), Variant(from)});
    ASSERT_TRUE(db->Call("UpdateCodeTableValue", {Variant("admin"), rs, Variant(form)}).ToBool())
        << db->Get("LastErrorMessage").ToText();
  }

  SiteServer site;
};

TEST_F(WorkflowBrowserTest, AdminDrawsMovesSavesIsRefusedFromAnOldCopyAndCancels) {
  RenameResolution("Will not fix", "C++ 50%");
  const std::vector<std::string> before = States();
  auto page = Open("admin", "Secret1");
  ASSERT_TRUE(WaitReady(*page));
  // The copy a second administrator loaded before the first save.
  auto other = Open("admin", "Secret1");
  ASSERT_TRUE(WaitReady(*other));

  const std::vector<std::string> drawn = Canvas(*page);
  std::vector<std::string> boxes, names;
  for (const std::string& c : drawn) {
    if (c.starts_with("FrameRect ")) boxes.push_back(c);
    if (c.starts_with("DrawText ") && c.find(" 120 ") != std::string::npos) names.push_back(c.substr(c.find(" 120 ") + 5));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(boxes.size(), 7u);
  EXPECT_EQ(std::count_if(drawn.begin(), drawn.end(), [](const std::string& c) { return c.starts_with("Polyline "); }), 11);
  EXPECT_EQ(names, (std::vector<std::string>{"Create", "Duplicate", "Fix", "Not reproducible", "Reject fix", "Reopen",
                                             "Reopen", "Reopen", "Reopen", "Verify", "Will not fix"}));
  EXPECT_NE(std::find(boxes.begin(), boxes.end(), "FrameRect 250,130,370,180 000000"), boxes.end());
  EXPECT_EQ(page->Evaluate("[...Workflow.querySelectorAll('button')].map(b => b.disabled)"),
            Json::parse("[false, false, false, false, true]"));

  // "New" (250, 130 in pixels of the canvas) dragged 90 to the right and 36 down with Select.
  Json at = page->Evaluate("(() => { const r = Workflow.querySelector('canvas').getBoundingClientRect();"
                           " return [r.left + 6 + 310, r.top + 40 + 155]; })()");
  page->Drag(at[0], at[1], at[0].get<double>() + 90, at[1].get<double>() + 36);
  // Over the middle of the box, now selected, the pointer is our picture of cursor 227.
  page->Evaluate("Workflow.querySelector('canvas').dispatchEvent(new PointerEvent('pointermove', {bubbles: true,"
                 " clientX: " + std::to_string(at[0].get<double>() + 90) + ", clientY: " +
                 std::to_string(at[1].get<double>() + 36) + "})); 0");
  const std::string cursor = page->Evaluate("getComputedStyle(Workflow.querySelector('canvas')).cursor");
  EXPECT_TRUE(cursor.starts_with("url(\"data:image/png;base64,") && cursor.ends_with("\") 0 0, default"))
      << cursor.substr(0, 40);
  EXPECT_EQ(page->Evaluate("new Promise(done => { const i = new Image();"
                           " i.onload = () => done(i.naturalWidth + 'x' + i.naturalHeight);"
                           " i.onerror = () => done('not a picture');"
                           " i.src = getComputedStyle(Workflow.querySelector('canvas')).cursor.split('\"')[1]; })"),
            "32x32");
  page->Click("#Save");
  EXPECT_EQ(Answer(*page, "OK"), "Diagram Saved.");
  const auto snapped = [](double twips) { return std::to_string(std::lround(twips / 135) * 135); };
  std::vector<std::string> after = before;
  for (std::string& s : after)
    if (s.starts_with("New|")) s = "New|New|" + snapped(3750 + 90 * 15) + "|" + snapped(1950 + 36 * 15);
    else if (s.starts_with("Issue Create|")) s = "na|na|3750|300";  // the save stores the texts it is posted
  std::sort(after.begin(), after.end());
  EXPECT_EQ(States(), after);
  EXPECT_EQ(Version(), 2);

  other->Click("#Save");
  EXPECT_EQ(Answer(*other, "OK"),
            "Another user has changed the workflow information. You must cancel your changes.\r\n");
  EXPECT_EQ(States(), after);
  EXPECT_EQ(Version(), 2);
  ASSERT_TRUE(other->WaitFor("!document.getElementById('Cancel').disabled"));
  other->Click("#Cancel");
  EXPECT_EQ(Answer(*other, "Yes"), "Discard changes?");
  ASSERT_TRUE(WaitReady(*other));
  const std::string moved = "FrameRect " + std::to_string(std::stoi(snapped(3750 + 90 * 15)) / 15) + "," +
                            std::to_string(std::stoi(snapped(1950 + 36 * 15)) / 15);
  const auto reloaded = Canvas(*other);
  EXPECT_TRUE(std::any_of(reloaded.begin(), reloaded.end(), [&](const std::string& c) { return c.starts_with(moved); }))
      << moved;
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
  EXPECT_TRUE(other->Exceptions().empty()) << other->Exceptions().front();
}

TEST_F(WorkflowBrowserTest, AUserWhoIsNoAdministratorGetsTheInquiryForm) {
  auto page = Open("bob", "demo");
  ASSERT_TRUE(page->WaitFor("!!document.getElementById('tool28673') && !document.getElementById('tool28673').disabled"));
  EXPECT_EQ(page->Evaluate("[...Workflow.querySelectorAll('button')].map(b => b.disabled)"),
            Json::parse("[false, true, true, true, true]"));
  EXPECT_EQ(page->Evaluate("!!document.getElementById('Save')"), false);
  EXPECT_EQ(page->Evaluate("(b => [b.offsetLeft, b.offsetTop])(Workflow.querySelector('[role=toolbar]'))"),
            Json::parse("[10, 2]"));
  EXPECT_EQ(page->Evaluate("Workflow.InquiryMode"), true);
  EXPECT_EQ(page->Evaluate("Workflow.Save()"), 1);
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

// A state and an action drawn with the tools, named in their dialogs, saved and read back.
TEST_F(WorkflowBrowserTest, ANewStateAndActionThroughTheirDialogsAreSaved) {
  auto page = Open("admin", "Secret1");
  ASSERT_TRUE(WaitReady(*page));
  page->Click("#tool28674");
  DragOnCanvas(*page, 600, 60, 720, 110);
  ASSERT_TRUE(page->WaitFor("document.querySelector('.tamsolo-dialog-title')?.textContent === 'New State'"));
  // OK with nothing chosen: the message, then the focus on the resolution.
  page->Evaluate("document.getElementById('wfdOK').click()");
  EXPECT_EQ(Answer(*page, "OK"), "Resolution cannot be blank.");
  EXPECT_EQ(page->Evaluate("document.activeElement.id"), "wfd251");
  page->Evaluate("document.getElementById('wfdTabRules').click()");
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#wfd245 span')].map(s => s.textContent)"),
            Json::parse(R"(["Customers", "Developers", "Testers"])"));
  EXPECT_GT(page->Evaluate("document.querySelectorAll('#wfd240 span').length").get<int>(), 0);
  page->Evaluate("document.getElementById('wfdTabGeneral').click()");
  const std::string choose =
      "((id, text) => { const s = document.getElementById(id);"
      " s.value = [...s.options].find(o => o.text === text).value; s.dispatchEvent(new Event('change')); })";
  page->Evaluate(choose + "('wfd251', 'Duplicate')");
  page->Evaluate(choose + "('wfd252', 'Open')");
  page->Evaluate("document.getElementById('wfdOK').click()");
  ASSERT_TRUE(page->WaitFor("!document.getElementById('wfdDialog')"));

  page->Click("#tool28676");
  DragOnCanvas(*page, 310, 155, 660, 85);  // from "New" to the new box
  ASSERT_TRUE(page->WaitFor("document.querySelector('.tamsolo-dialog-title')?.textContent === 'New Action'"));
  page->Type("#wfd242", "Mark duplicate");
  // "Cannot be reassigned." takes the groups and the automatic assignment away; 244 gives them back.
  page->Evaluate("document.getElementById('wfd248').click()");
  EXPECT_EQ(page->Evaluate("document.getElementById('wfd246').disabled"), true);
  page->Evaluate("document.getElementById('wfd244').click()");
  EXPECT_EQ(page->Evaluate("document.getElementById('wfd246').disabled"), false);
  EXPECT_EQ(page->Evaluate("document.getElementById('wfd242').value"), "Mark duplicate");
  page->Evaluate("[...document.querySelectorAll('#wfd245 div')].find(r => r.textContent === 'Developers').click()");
  EXPECT_EQ(page->Evaluate("document.getElementById('wfd244').checked"), true);
  page->Evaluate("document.getElementById('wfdOK').click()");
  ASSERT_TRUE(page->WaitFor("!document.getElementById('wfdDialog')"));
  ASSERT_TRUE(page->WaitFor("Workflow.tamsoloCalls.some(c => c.endsWith(' 120 Mark duplicate'))"));
  EXPECT_TRUE(page->Evaluate("Workflow.tamsoloCalls.some(c => c.endsWith(' 8025 Duplicate'))").get<bool>());

  RightClick(*page, 485, 120);  // on the new link, between the two boxes
  ASSERT_TRUE(page->WaitFor("!!document.querySelector('.tamsolo-menu')"));
  // At the pointer, from the canvas's corner at (6, 40) of the control.
  EXPECT_EQ(page->Evaluate("(m => [m.offsetLeft, m.offsetTop])(document.querySelector('.tamsolo-menu'))"),
            Json::parse("[491, 160]"));
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('.tamsolo-menu [role=menuitem]')].map(i => i.textContent)"),
            Json::parse(R"(["Reverse Direction", "Direct", "Straight", "Curved", "Delete", "Properties"])"));
  page->Evaluate("document.querySelector('.tamsolo-menu-veil').dispatchEvent(new Event('mousedown'))");

  // The Canvas menu: marks, a separator, and "Zoom" flying out beside its row with "100%" ticked.
  RightClick(*page, 700, 400);
  ASSERT_TRUE(page->WaitFor("!!document.querySelector('.tamsolo-menu [aria-haspopup]')"));
  const std::string zoom = "document.querySelector('.tamsolo-menu [aria-haspopup]')";
  const std::string flyout = zoom + ".querySelector('.tamsolo-submenu')";
  EXPECT_EQ(page->Evaluate("getComputedStyle(" + flyout + ").display"), "none");
  page->Evaluate(zoom + ".dispatchEvent(new Event('mouseenter')); 0");
  EXPECT_EQ(page->Evaluate("[getComputedStyle(" + flyout + ").display, " + flyout + ".offsetLeft >= " + zoom +
                           ".offsetWidth - 4, [...document.querySelectorAll('.tamsolo-menu [aria-checked=true]')]"
                           ".map(i => i.dataset.command), document.querySelectorAll('.tamsolo-menu [role=separator]')"
                           ".length]"),
            Json::parse(R"(["block", true, ["215", "216", "220"], 1])"));
  page->Click(".tamsolo-submenu [data-command='220']");
  EXPECT_EQ(page->Evaluate("!!document.querySelector('.tamsolo-menu')"), false);

  // Resized by page script, the control lays its canvas out again, 6 pixels in from each side.
  page->Evaluate("Workflow.width = 700; 0");
  EXPECT_TRUE(page->WaitFor("Workflow.querySelector('canvas').width === 700"));
  EXPECT_TRUE(page->WaitFor("Workflow.tamsoloCalls.some(l => l.startsWith('CreateSurface') && l.endsWith(' 688x475'))"));

  page->Click("#Save");
  EXPECT_EQ(Answer(*page, "OK"), "Diagram Saved.");
  const auto states = Rows("GetWorkflowStatesRs", {Variant(1)}, {"StateName", "ResolutionCode", "StatusCode", "StateId"});
  std::string duplicateId, newId;
  for (const std::string& s : states) {
    if (s.starts_with("Duplicate|Duplicate|Open|")) duplicateId = s.substr(s.rfind('|') + 1);
    if (s.starts_with("New|New|Open|")) newId = s.substr(s.rfind('|') + 1);
  }
  ASSERT_FALSE(duplicateId.empty());
  std::string actionId;
  for (const std::string& a : Rows("GetWorkflowActionsRs", {Variant(1)}, {"ActionName", "FromStateId", "ToStateId", "ActionType", "ActionId"}))
    if (a.starts_with("Mark duplicate|" + newId + "|" + duplicateId + "|2|")) actionId = a.substr(a.rfind('|') + 1);
  ASSERT_FALSE(actionId.empty());
  EXPECT_EQ(Rows("GetWorkflowActionAssignmentsRs", {Variant(std::stoi(actionId))}, {"GroupCode"}),
            (std::vector<std::string>{"Developers"}));
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

}  // namespace
