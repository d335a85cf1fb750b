// What a control may ask of the page that holds it: leave to edit and change notices for its
// properties, events, repaints, a device context, its size, the ambient user mode, URL transfers,
// message boxes and a few DOM elements. In the browser WebHost implements it over the loader;
// natively RecordingHost writes every call down for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "common/key_string.h"
#include "gdi/dc.h"
#include "host/transfer.h"

namespace tamsolo {

// MessageBox flags and answers, with their Win32 values.
namespace mb {
inline constexpr int kOk = 0x0, kOkCancel = 0x1, kYesNoCancel = 0x3, kYesNo = 0x4;
inline constexpr int kIconError = 0x10, kIconQuestion = 0x20, kIconWarning = 0x30, kIconInfo = 0x40;
inline constexpr int kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;
}  // namespace mb

// Receives a URL transfer: the body in pieces as it arrives, then one end call.
class TransferSink {
 public:
  virtual ~TransferSink();
  virtual void OnData(std::string_view chunk) = 0;
  virtual void OnEnd(bool ok, int status) = 0;
  // False once nobody waits for the rest (a newer request took its place, or its control is
  // gone): the host may stop reading the body and end at once.
  virtual bool Wanted() const { return true; }
};

// An element the control made in the page (its dialogs); removed when released.
class DomElement {
 public:
  virtual ~DomElement();
  virtual void SetAttribute(std::string_view name, std::string_view value) = 0;
  virtual void SetText(std::string_view text) = 0;
  virtual void Append(DomElement& child) = 0;
  virtual void Listen(std::string_view event, std::function<void()> handler) = 0;
  virtual void RemoveAttribute(std::string_view name) { (void)name; }
  // The value the user gave a form element (an edit's text, a drop-down's chosen value).
  virtual std::string Value() const { return {}; }
  virtual void Focus() {}
  // Out of the page but kept alive (its handlers may be running); removed for good when released.
  virtual void Detach() {}
};

// A picture the page holds for a control (a captured screen); id 0 is none, 1 x 1.
struct Picture {
  int id = 0;
  int width = 1, height = 1;
};
enum class PickResult { Picked, NothingChosen, Unsupported };

struct PreviewMenuItem {
  std::string text;  // "&Save and Exit"; empty for a separator
  int command = 0;
  bool enabled = true;
};

struct SaveDialog {
  std::string title, fileName, defaultExtension;
  std::vector<std::pair<std::string, std::string>> filters;  // label, pattern
};

class Host {
 public:
  virtual ~Host();

  virtual bool RequestEdit(int32_t dispid) = 0;  // false: the container refused the change
  virtual void Changed(int32_t dispid) = 0;
  virtual void Fire(std::string_view event, const std::vector<automation::Variant>& args) = 0;
  virtual void Invalidate() = 0;
  virtual std::unique_ptr<gdi::Dc> GetDc() = 0;
  virtual gdi::Size ClientSize() const = 0;  // pixels
  // Asks the page for a new size of the control's area; once the page has given it, the control
  // hears of it through Control::Resized and repaints.
  virtual void RequestSize(gdi::Size pixels) = 0;
  virtual bool UserMode() const = 0;
  // Sends the request with the page's cookies; the sink gets the body in pieces, then one end.
  virtual void StartTransfer(const TransferRequest& request, std::shared_ptr<TransferSink> sink) = 0;
  // A GET of a URL taken as it is.
  void StartTransfer(std::string_view url, std::shared_ptr<TransferSink> sink) {
    StartTransfer(TransferRequest{"GET", std::string(url), "", ""}, std::move(sink));
  }
  // Modal box in the page; `done` receives the button's answer (mb::kIdOk ...).
  virtual void MessageBox(std::string_view text, std::string_view title, int icon, int buttons,
                          std::function<void(int)> done) = 0;
  virtual bool Confirm(std::string_view text) = 0;
  virtual void Beep() = 0;
  virtual void SetCursor(std::string_view cursor) = 0;  // a CSS cursor name
  virtual std::unique_ptr<DomElement> CreateElement(std::string_view tag) = 0;
  // Puts an element made above at the end of the page's body (a dialog's outermost element).
  virtual void AddToPage(DomElement& element) = 0;

  // Plays keystrokes into the page's focused element, after those already playing. The default
  // host has no page and plays nothing.
  virtual void PlayKeys(const std::vector<keys::KeyStroke>& strokes);

  // Screen capture: the browser's picker chooses a screen, window or tab; one frame of it is
  // kept as a picture. Without a page nothing can be picked.
  virtual void PickDisplay(std::function<void(PickResult, Picture)> done);
  // The picture's pixels as 0x00RRGGBB, rows top-down.
  virtual std::vector<uint32_t> PicturePixels(const Picture& picture);
  // The preview: an in-page frame with the title, a menu of commands (given to `command`) and a
  // scrolling view of the picture. A new one replaces the old; closing it hides it.
  virtual void ShowPreview(std::string_view title, std::string_view menu, const std::vector<PreviewMenuItem>& items,
                           const Picture& picture, std::function<void(int)> command);
  virtual void HidePreview();
  // The file-save dialog: `done` gets the name typed and the chosen filter's index, or nullopt
  // when the user cancelled.
  virtual void AskSaveName(const SaveDialog& dialog, std::function<void(std::optional<std::string>, int)> done);
  // Makes a file of that name: the bytes given (a bitmap), or else the picture as a JPEG of
  // quality 100. It is offered as a download and held as the element's SavedFile; `done` says
  // whether a file was made.
  virtual void MakeFile(std::string_view name, const Picture& picture, const std::string* bytes,
                        std::function<void(bool)> done);
  // Puts an element inside the control's own area, placed from its top-left corner (a tool bar).
  virtual void AddToControl(DomElement& element) { AddToPage(element); }
};

// "Name(a, 1, True)": how hosts write an event with its arguments in records and logs.
std::string EventText(std::string_view event, const std::vector<automation::Variant>& args);

}  // namespace tamsolo
