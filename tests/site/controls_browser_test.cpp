// The browser controls on signed-in pages of a vantrel-site process: the shipped module (the
// logo), the test build with the probe control (PARAMs, events, vetoes, ready state), and the
// controls' requests, some answered with chosen bytes through the DevTools Fetch domain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "ado/recordset.h"
#include "core/lookups.h"
#include "site/pages/issues/posted_attachments.h"
#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::Reply;
using testsupport::SiteServer;

#ifdef VANTREL_PROBE_CONTROLS_DIR
const std::filesystem::path kProbeControls = VANTREL_PROBE_CONTROLS_DIR;
#else
const std::filesystem::path kProbeControls;
#endif

bool ControlsBuilt() { return !kProbeControls.empty() && std::filesystem::exists(kProbeControls / "tamsolo.wasm"); }

// CI builds the controls first: there a missing module fails instead of skipping.
#define REQUIRE_CONTROLS()                                                              \
  do {                                                                                  \
    if (!ControlsBuilt()) {                                                             \
      const char* required = std::getenv("VANTREL_REQUIRE_CONTROLS");                   \
      if (required && std::string(required) == "1") FAIL() << "the controls are not built"; \
      GTEST_SKIP() << "the browser controls are not built (scripts/build-controls.sh)"; \
    }                                                                                   \
  } while (0)

class ControlsBrowserTest : public ::testing::Test {
 protected:
  // A signed-in page of a site serving the test build of the module, with the loader ready.
  std::unique_ptr<Page> SignedInPage(SiteServer& site) {
    auto page = Browser::Shared().NewPage();
    testsupport::SignIn(*page, site, "alice", "demo");
    page->Navigate(site.Url("/Assignments/MyAssignments.asp"));
    EXPECT_EQ(page->Evaluate("Tamsolo.ready.then(() => 'ready')"), "ready");
    return page;
  }
  // Puts the HTML into the page's content (beside the menu) and attaches each OBJECT in it.
  void AddObjects(Page& page, const std::string& html) {
    page.Evaluate("(() => { const d = document.createElement('div'); d.innerHTML = " + Json(html).dump() +
                  "; (document.getElementById('PageContent') || document.body).appendChild(d);"
                  " d.querySelectorAll('object').forEach(o => Tamsolo.attach(o)); })()");
  }

  static SiteServer::Options ProbeSite() { return {.extraArgs = {"--controls", kProbeControls.string()}}; }
};

TEST_F(ControlsBrowserTest, TheLogoDrawsByClassIdAndByProgIdOnASignedInPage) {
  REQUIRE_CONTROLS();
  SiteServer site;  // the shipped module, the build's default folder
  auto page = SignedInPage(site);
  EXPECT_EQ(page->Evaluate("[...document.scripts].map(s => s.getAttribute('src') || '')"
                           ".filter(s => s.includes('/controls/')).join(' ')"),
            "/APP/controls/tamsolo.js /APP/controls/tamsolo-loader.js");
  AddObjects(*page,
             "<object CLASSID = 'clsid:BC779345-11EC-4E18-8171-76CD0A6BAC9A' id=Logo1 width='136px' "
             "height='87px' data-tamsolo-record></object>"
             "<object data-progid='Tamsolo.QELLogo.2' id=Logo2 width=100 height=50 data-tamsolo-record></object>");
  EXPECT_EQ(page->Evaluate("Logo1.getAttribute('data-tamsolo-calls')"), "DrawImage 243 0,0 0,0,136,87");
  EXPECT_EQ(page->Evaluate("Logo2.getAttribute('data-tamsolo-calls')"), "DrawImage 243 0,0 0,0,100,50");
  EXPECT_EQ(page->Evaluate("Logo1.querySelector('canvas').width + 'x' + Logo2.querySelector('canvas').height"),
            "136x50");
  EXPECT_TRUE(page->Exceptions().empty());
}

TEST_F(ControlsBrowserTest, TheProbeTakesParamsRunsScriptForOnItsEventKeepsAVetoedValueAndReportsReady) {
  REQUIRE_CONTROLS();
  SiteServer site(ProbeSite());
  auto page = SignedInPage(site);
  page->Evaluate("window.seen = []; window.onerror = m => seen.push('error ' + m);");
  AddObjects(*page,
             "<object classid='clsid:{3f0a0b12-a84b-4ec2-898a-15689bbf9563}' id=Probe1 width=60 height=20>"
             "<param name=Caption value='from param'><param name=level value='3'></object>"
             "<script for=Probe1 event='Loaded(text)'>seen.push('loaded ' + text);</script>"
             "<script for=Probe1 event='Answered(button)'>seen.push('answered');</script>");
  page->Evaluate(
      "Probe1.onreadystatechange = () => seen.push('ready ' + Probe1.readyState);"
      "seen.push('caption ' + Probe1.Caption + ' level ' + Probe1.Level);"
      "Probe1.addEventListener('requestedit', e => { if (e.detail.name === 'Caption') e.preventDefault(); });"
      "Probe1.Caption = 'changed'; Probe1.Level = 9;"
      "seen.push('after veto ' + Probe1.Caption + ' level ' + Probe1.Level);"
      "Probe1.Load('go');");
  EXPECT_EQ(page->Evaluate("seen.join('|')"),
            "caption from param level 3|after veto from param level 9|loaded go|ready 4");
  EXPECT_TRUE(page->Exceptions().empty());
}

// The probe's Request(kind, url[, body]) fires Transferred(id, "piece|piece|end") at the end.
TEST_F(ControlsBrowserTest, TheControlsRequestsOverTheSite) {
  REQUIRE_CONTROLS();
  SiteServer site(ProbeSite());
  auto page = SignedInPage(site);
  std::mutex mutex;
  Json posted;
  page->Intercept("*/Chosen/*", [&](const Json& request) {
    const std::string url = request["url"];
    if (url.ends_with("/Missing.asp")) return Reply{404, "<p>No such page</p>", "text/html"};
    if (url.ends_with("/First.asp")) return Reply{200, "first text", "text/plain"};
    if (url.ends_with("/Second.asp")) return Reply{200, "second text", "text/plain"};
    std::lock_guard lock(mutex);
    posted = request;
    return Reply{200, "saved", "text/plain"};
  });
  page->Evaluate(
      "window.ended = {};"
      "Probe1 = document.createElement('object'); Probe1.id = 'Probe1';"
      "Probe1.setAttribute('classid', 'clsid:3F0A0B12-A84B-4EC2-898A-15689BBF9563');"
      "document.body.appendChild(Probe1); Tamsolo.attach(Probe1);"
      "Probe1.addEventListener('Transferred', e => { ended[e.detail[0]] = e.detail[1]; });"
      "window.ids = [Probe1.Request('Missing', 'Chosen/Missing.asp'),"
      " Probe1.Request('Closed', 'http://127.0.0.1:9/none'),"
      " Probe1.Request('Save', 'Chosen/Save.asp', 'Caf\\u00e9\\r\\n'),"
      " Probe1.Request('Page', '/APP/Assignments/MyAssignments.asp'),"
      " Probe1.Request('Load', 'Chosen/First.asp'), Probe1.Request('Load', 'Chosen/Second.asp'),"
      " Probe1.Request('Unusable', 'http://127.0.0.1:99999/none')];");
  ASSERT_TRUE(page->WaitFor("Object.keys(ended).length >= 5"));
  EXPECT_EQ(page->Evaluate("ids.join(' ')"), "1 2 3 4 5 6 7");
  // A request whose URL cannot start (port out of range) never calls its owner, not even to end.
  EXPECT_EQ(page->Evaluate("Object.keys(ended).join(' ')"), "1 2 3 4 6");
  EXPECT_EQ(page->Evaluate("ended[1]"), "<p>No such page</p>|end");
  EXPECT_EQ(page->Evaluate("ended[2]"), "end");
  EXPECT_EQ(page->Evaluate("ended[3]"), "saved|end");
  // The sign-in cookie (HttpOnly) went with the request: the page, not the sign-in form.
  EXPECT_EQ(page->Evaluate("ended[4].endsWith('|end') && ended[4].includes('<title>My Issues</title>') &&"
                           " !ended[4].includes('fSignIn')"),
            true);
  // Of two overlapping loads of one kind only the second reaches the owner.
  EXPECT_EQ(page->Evaluate("(5 in ended) + ' ' + ended[6]"), "false second text|end");
  std::lock_guard lock(mutex);
  EXPECT_EQ(posted["method"], "POST");
  EXPECT_EQ(posted["headers"]["Content-Type"],
            "multipart/form-data; boundary=-----------------------------7d114d2a100b3e");
  EXPECT_EQ(posted["postData"], "Caf\xC3\xA9\r\n-----------------------------7d114d2a100b3e--\r\n");
  EXPECT_TRUE(page->Exceptions().empty());
}

// The issue form's two controls as the menu writes them, beside a form with the new-issue form's
// file input and its CaptureSaved handler (and a second handler noting each saved name).
std::string IssueForm() {
  return "<object CLASSID = 'clsid:141B3DC5-CE92-4C86-80EF-BB058AAD3684' ID = 'CaptureCtl' width='120px' "
         "height='65px' style='z-index: 0'></object>"
         "<OBJECT style='z-index:1;' CLASSID='clsid:B849DFE1-FADB-4C9E-B0F9-D3DAC3438F48' id=Keyboard1 VIEWASTEXT > "
         "</object>"
         "<form name=fIssueDetail onsubmit='return false'><input id=Summary name=Summary><input id=Next name=Next>" +
         std::string(site::kAttachmentInput) + "<textarea id=Notes></textarea></form><div id=Note contenteditable></div>" +
         std::string(site::kAttachCaptureScript) +
         "<script for=CaptureCtl event='CaptureSaved(Filename)'>seen.push(Filename);</script>";
}

TEST_F(ControlsBrowserTest, APickIsPreviewedAndSavedIntoTheFileInputAndKeysTypeIntoEachKindOfField) {
  REQUIRE_CONTROLS();
  SiteServer site;
  auto page = SignedInPage(site);
  page->Evaluate("window.seen = []; Tamsolo.displayMediaOptions = {video: true, preferCurrentTab: true};");
  AddObjects(*page, IssueForm());
  // A refused pick, then a page without getDisplayMedia: their messages, and no frame.
  const std::string message = "(() => { const m = document.querySelector('.tamsolo-modal'); if (!m) return '';"
                              " const t = m.querySelector('.tamsolo-modal-title').textContent + ': ' +"
                              " m.querySelector('.tamsolo-modal-text').textContent;"
                              " m.querySelector('button').click(); return t; })()";
  page->Evaluate("window.pick = navigator.mediaDevices.getDisplayMedia;"
                 "navigator.mediaDevices.getDisplayMedia = () => Promise.reject(new DOMException('', 'NotAllowedError'));");
  page->Click("#CaptureCtl canvas");
  ASSERT_TRUE(page->WaitFor("document.querySelector('.tamsolo-modal')"));
  EXPECT_EQ(page->Evaluate(message), "Screen Capture: You must drag the icon over a window to capture it.");
  page->Evaluate("navigator.mediaDevices.getDisplayMedia = undefined;");
  page->Click("#CaptureCtl canvas");
  EXPECT_EQ(page->Evaluate(message), "Screen Capture: Screen capture needs a secure (HTTPS) connection.");
  EXPECT_EQ(page->Evaluate("document.querySelectorAll('.tamsolo-capture-frame').length"), 0);
  page->Evaluate("navigator.mediaDevices.getDisplayMedia = pick;");
  // getDisplayMedia needs the user's gesture: a real click.
  page->Click("#CaptureCtl canvas");
  ASSERT_TRUE(page->WaitFor("document.querySelector('.tamsolo-capture-frame')"));
  EXPECT_EQ(page->Evaluate("const v = document.querySelector('.tamsolo-capture-view canvas');"
                           "v.width === innerWidth * devicePixelRatio && v.height > 1"),
            true);
  EXPECT_EQ(page->Evaluate("document.querySelector('.tamsolo-capture-frame .tamsolo-frame-title span').textContent + '|' +"
                           " [...document.querySelectorAll('.tamsolo-menu-items button')].map(b => b.innerHTML)"),
            "Screen Capture|<u>S</u>ave and Exit,E<u>x</u>it");
  // Save and Exit with the dialog's defaults: a JPEG into the file input.
  const std::string save =
      "{ document.querySelector('[data-command=\"32778\"]').click();"
      " const d = document.querySelector('.tamsolo-save-dialog');";
  page->Evaluate(save + "d.querySelector('.tamsolo-save-ok').click(); }");
  ASSERT_TRUE(page->WaitFor("seen.length === 1"));
  const std::string file = "(async i => { const f = fIssueDetail.Attachment.files[i];"
                           " const b = new Uint8Array(await f.arrayBuffer());"
                           " return [f.name, f.type, b[0], b[1], b[2], new DataView(b.buffer).getInt32(18, true)]; })";
  const Json jpeg = page->Evaluate(file + "(0)");
  EXPECT_EQ(Json(std::vector<Json>(jpeg.begin(), jpeg.begin() + 5)), Json({"Screen Capture.jpg", "image/jpeg", 0xFF, 0xD8, 0xFF}));
  EXPECT_EQ(page->Evaluate("seen[0] + ' ' + getComputedStyle(document.querySelector('.tamsolo-capture-frame')).display"),
            "Screen Capture.jpg none");
  EXPECT_EQ(page->Evaluate("fIssueDetail.Attachment.files.length"), 1);

  // What typing the keys does in each kind of field; with CTRL held only the events.
  page->Evaluate("window.codes = []; document.addEventListener('keydown', e => codes.push(e.keyCode));"
                 "Summary.value = 'ABC'; Summary.focus(); Keyboard1.SendKeys('{HOME}x{END}{BS}{LEFT}{DEL}^a\u00e9');"
                 "Notes.focus(); Keyboard1.SendKeys('a~b+{TAB}'); window.back = document.activeElement.name;"
                 "Note.focus(); Keyboard1.SendKeys('hi{BS}o');");
  EXPECT_EQ(page->Evaluate("[Summary.value, Notes.value, Note.textContent, back,"
                           " codes.slice(0, 9).join(' ')]"),
            Json({"xA\u00e9", "a\nb", "ho", "Attachment", "36 88 35 8 37 46 17 65 0"}));
  // A wait holds the later keys, and the later call, without blocking the page.
  page->Evaluate("Next.value = ''; Next.focus(); Keyboard1.SendKeys('{SLEEP 1}1'); Keyboard1.SendKeys('2');"
                 "window.during = Next.value;");
  EXPECT_TRUE(page->WaitFor("Next.value === '12'"));
  EXPECT_EQ(page->Evaluate("during"), "");
  EXPECT_TRUE(page->Exceptions().empty());
}

TEST_F(ControlsBrowserTest, ACaptureSavedOnTheNewIssueFormIsStoredWithTheNewIssue) {
  REQUIRE_CONTROLS();
  SiteServer site;
  auto page = Browser::Shared().NewPage();
  testsupport::SignIn(*page, site, "alice", "demo");
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  ASSERT_EQ(page->Evaluate("Tamsolo.ready.then(() => fIssueDetail.Attachment.multiple)"), true);
  // The menu's keyboard takes no space and types into the focused Summary; the TAB moves on to the
  // next field, the priority box, which gets the "x".
  EXPECT_EQ(page->Evaluate("[LeftMenu.contains(Keyboard1) && LeftMenu.contains(CaptureCtl),"
                           " Keyboard1.offsetWidth + 'x' + Keyboard1.offsetHeight]"),
            Json({true, "0x0"}));
  page->Evaluate("window.shifted = []; Summary.addEventListener('keydown', e => { if (e.key.length === 1)"
                 " shifted.push(e.key + e.shiftKey + e.keyCode); }); Summary.focus();"
                 "PriorityCode.addEventListener('keydown', e => { window.next = e.key + e.keyCode; });"
                 "Keyboard1.SendKeys('+(abc){TAB}x');");
  EXPECT_EQ(page->Evaluate("[Summary.value, document.activeElement.id, next, shifted.join(' ')]"),
            Json({"ABC", "PriorityCode", "x88", "Atrue65 Btrue66 Ctrue67"}));
  page->Evaluate("Summary.value = '';");
  page->Evaluate("Tamsolo.displayMediaOptions = {video: true, preferCurrentTab: true};"
                 "CaptureCtl.addEventListener('CaptureSaved', e => { window.saved = e.detail[0]; });");
  const Json height = page->Evaluate("window.innerHeight");
  page->Click("#CaptureCtl canvas");
  ASSERT_TRUE(page->WaitFor("document.querySelector('.tamsolo-capture-frame')"));
  // A real picker is a window of its own and takes the focus from the page; the tab chosen here
  // without one does not, so the page is told as it would be.
  page->Evaluate("window.dispatchEvent(new Event('blur'))");
  page->Evaluate("document.querySelector('[data-command=\"32778\"]').click();"
                 "document.querySelector('.tamsolo-save-dialog .tamsolo-save-ok').click();");
  ASSERT_TRUE(page->WaitFor("fIssueDetail.Attachment.files.length === 1"));
  EXPECT_EQ(page->Evaluate("(async () => { const f = fIssueDetail.Attachment.files[0];"
                           " const b = new Uint8Array(await f.arrayBuffer());"
                           " return [saved, f.name, f.type, b[0], b[1], b[2]]; })()"),
            Json({"Screen Capture.jpg", "Screen Capture.jpg", "image/jpeg", 0xFF, 0xD8, 0xFF}));
  // The picture stays: saved again as a bitmap at the tab's size, the first file kept.
  page->Evaluate("document.querySelector('[data-command=\"32778\"]').click();"
                 "{ const d = document.querySelector('.tamsolo-save-dialog');"
                 " d.querySelector('.tamsolo-save-name').value = 'shot.bmp'; d.querySelector('.tamsolo-save-ok').click(); }");
  ASSERT_TRUE(page->WaitFor("fIssueDetail.Attachment.files.length === 2"));
  EXPECT_EQ(page->Evaluate("(async () => { const f = fIssueDetail.Attachment.files[1];"
                           " const b = new DataView(await f.arrayBuffer());"
                           " const v = document.querySelector('.tamsolo-capture-view canvas');"
                           " return [saved, f.name, String.fromCharCode(b.getUint8(0), b.getUint8(1)),"
                           " b.getInt32(18, true) === v.width && v.width === innerWidth * devicePixelRatio,"
                           " b.getInt32(22, true) === v.height && v.height > 1]; })()"),
            Json({"shot.bmp", "shot.bmp", "BM", true, true}));
  // While the tab is shared the browser shows a bar over the page; a click aimed before it goes
  // would land beside the button once the page grows back.
  ASSERT_TRUE(page->WaitFor("window.innerHeight === " + height.dump()));
  page->Type("#Summary", "The list shows no dates");
  page->ClickAndWait("#Save");
  EXPECT_EQ(page->Evaluate("location.search"), "?IssueId=7");
  auto rs = brisquel::GetAttachmentsRs(*sitedb::Open(site.DatabaseFile()), 7);
  std::vector<std::string> stored;
  for (; !rs->IsEOF(); rs->MoveNext())
    stored.push_back(rs->Field("AttachmentFilename").Value().ToText() + "|" +
                     rs->Field("AttachmentMimeType").Value().ToText());
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, (std::vector<std::string>{"Screen Capture.jpg|image/jpeg", "shot.bmp|image/bmp"}));
  sitedb::Db db(site.DatabaseFile());
  EXPECT_EQ(db.Text("select group_concat(hex(substr(AttachmentData, 1, 2)), ' ') from"
                    " (select * from IssueAttachments where IssueId = 7 order by AttachmentFilename)"),
            "FFD8 424D");
  EXPECT_EQ(db.Text("select count(*) from ProvisionalAttachments"), "0");
  EXPECT_TRUE(page->Exceptions().empty());
}

}  // namespace
