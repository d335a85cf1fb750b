// What a control may ask of the page that holds it: leave to edit and change notices for its
// properties, events, repaints, a device context, its size, the ambient user mode, URL transfers,
// message boxes and a few DOM elements. In the browser WebHost implements it over the loader;
// natively RecordingHost writes every call down for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
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
};

// "Name(a, 1, True)": how hosts write an event with its arguments in records and logs.
std::string EventText(std::string_view event, const std::vector<automation::Variant>& args);

}  // namespace tamsolo
