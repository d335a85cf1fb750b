#include "host/recording_host.h"

#include <algorithm>

namespace tamsolo {

namespace {

// Draws into the host's one record, so a test sees every paint in order.
class SharedRecordDc : public gdi::Dc {
 public:
  explicit SharedRecordDc(gdi::RecordDc& target) : t_(target) {}
  void SetPen(gdi::PenStyle s, gdi::COLORREF c) override { t_.SetPen(s, c); }
  void MoveTo(int x, int y) override { t_.MoveTo(x, y); }
  void LineTo(int x, int y) override { t_.LineTo(x, y); }
  void Polyline(std::span<const gdi::Point> p) override { t_.Polyline(p); }
  void FillRect(const gdi::Rect& r, gdi::COLORREF c) override { t_.FillRect(r, c); }
  void FrameRect(const gdi::Rect& r, gdi::COLORREF c) override { t_.FrameRect(r, c); }
  void SetFont(const gdi::Font& f) override { t_.SetFont(f); }
  void SetTextColor(gdi::COLORREF c) override { t_.SetTextColor(c); }
  void DrawText(std::string_view s, const gdi::Rect& r, unsigned f) override { t_.DrawText(s, r, f); }
  int TextWidth(std::string_view s) override { return t_.TextWidth(s); }
  int TextHeight() override { return t_.TextHeight(); }
  void DrawImage(const gdi::Image& i, int x, int y, const gdi::Rect& c) override {
    t_.DrawImage(i, x, y, c);
  }
  std::unique_ptr<gdi::Surface> CreateSurface(gdi::Size s) override { return t_.CreateSurface(s); }
  void Blit(gdi::Surface& s, int x, int y) override { t_.Blit(s, x, y); }

 private:
  gdi::RecordDc& t_;
};

class RecordedElement : public DomElement {
 public:
  RecordedElement(RecordingHost& host, int number) : host_(host), number_(number) {}
  ~RecordedElement() override { Note("Remove"); }
  void SetAttribute(std::string_view name, std::string_view value) override {
    Note("SetAttribute " + std::string(name) + "=" + std::string(value));
  }
  void SetText(std::string_view text) override { Note("SetText " + std::string(text)); }
  void Append(DomElement& child) override { Note("Append " + std::to_string(Number(child))); }
  static int Number(DomElement& e) { return static_cast<RecordedElement&>(e).number_; }
  void Listen(std::string_view event, std::function<void()> handler) override {
    Note("Listen " + std::string(event));
    host_.listeners.push_back({number_, std::string(event), std::move(handler)});
  }
  void RemoveAttribute(std::string_view name) override { Note("RemoveAttribute " + std::string(name)); }
  void Focus() override { Note("Focus"); }
  void Detach() override { Note("Detach"); }

 private:
  void Note(const std::string& what) {
    host_.calls.push_back("Element " + std::to_string(number_) + " " + what);
  }
  RecordingHost& host_;
  int number_;
};

}  // namespace

int RecordingHost::Count(std::string_view call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

bool RecordingHost::RequestEdit(int32_t dispid) {
  calls.push_back("RequestEdit " + std::to_string(dispid));
  return !refused.contains(dispid);
}

void RecordingHost::Changed(int32_t dispid) { calls.push_back("Changed " + std::to_string(dispid)); }

void RecordingHost::Fire(std::string_view event, const std::vector<automation::Variant>& args) {
  calls.push_back("Fire " + EventText(event, args));
}

void RecordingHost::RequestSize(gdi::Size pixels) {
  calls.push_back("RequestSize " + std::to_string(pixels.cx) + "x" + std::to_string(pixels.cy));
  size = pixels;
}

void RecordingHost::Invalidate() { calls.push_back("Invalidate"); }

std::unique_ptr<gdi::Dc> RecordingHost::GetDc() { return std::make_unique<SharedRecordDc>(drawing); }

void RecordingHost::StartTransfer(const TransferRequest& request, std::shared_ptr<TransferSink> sink) {
  std::string line = "StartTransfer ";
  if (request.method != "GET") line += request.method + " ";
  calls.push_back(line + request.url);
  requests.push_back(request);
  if (holdTransfers) {
    held.push_back(std::move(sink));
    return;
  }
  auto it = transfers.find(request.url);
  if (it == transfers.end()) {
    sink->OnEnd(false, 404);
    return;
  }
  sink->OnData(it->second);
  sink->OnEnd(true, 200);
}

void RecordingHost::Play(size_t request, const std::vector<std::string>& chunks, bool ok, int status) {
  const std::shared_ptr<TransferSink>& sink = held.at(request);
  for (const std::string& chunk : chunks) sink->OnData(chunk);
  sink->OnEnd(ok, status);
}

void RecordingHost::MessageBox(std::string_view text, std::string_view title, int icon, int buttons,
                               std::function<void(int)> done) {
  calls.push_back("MessageBox " + std::string(title) + ": " + std::string(text) + " " +
                  std::to_string(icon | buttons));
  if (done) done(messageBoxAnswer);
}

bool RecordingHost::Confirm(std::string_view text) {
  calls.push_back("Confirm " + std::string(text));
  return confirmAnswer;
}

void RecordingHost::Beep() { calls.push_back("Beep"); }

void RecordingHost::SetCursor(std::string_view cursor) {
  calls.push_back("SetCursor " + std::string(cursor));
}

std::unique_ptr<DomElement> RecordingHost::CreateElement(std::string_view tag) {
  int number = 1;
  for (const std::string& c : calls)
    if (c.starts_with("CreateElement ")) ++number;
  calls.push_back("CreateElement " + std::string(tag));
  return std::make_unique<RecordedElement>(*this, number);
}

void RecordingHost::AddToPage(DomElement& element) {
  calls.push_back("AddToPage " + std::to_string(RecordedElement::Number(element)));
}

void RecordingHost::PlayKeys(const std::vector<keys::KeyStroke>& strokes) {
  calls.push_back("PlayKeys " + std::to_string(strokes.size()));
  played.insert(played.end(), strokes.begin(), strokes.end());
}

void RecordingHost::PickDisplay(std::function<void(PickResult, Picture)> done) {
  calls.push_back("PickDisplay");
  done(pickResult, pickResult == PickResult::Picked ? pickedPicture : Picture{});
}

std::vector<uint32_t> RecordingHost::PicturePixels(const Picture&) { return picturePixels; }

// "ShowPreview Screen Capture &File [&Save and Exit 32778 on|-|E&xit 32780 on] 7 3x2"
void RecordingHost::ShowPreview(std::string_view title, std::string_view menu, const std::vector<PreviewMenuItem>& items,
                                const Picture& picture, std::function<void(int)> command) {
  std::string line = "ShowPreview " + std::string(title) + " " + std::string(menu) + " [";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) line += "|";
    line += items[i].text.empty() ? "-"
                                  : items[i].text + " " + std::to_string(items[i].command) +
                                        (items[i].enabled ? " on" : " off");
  }
  calls.push_back(line + "] " + std::to_string(picture.id) + " " + std::to_string(picture.width) + "x" +
                  std::to_string(picture.height));
  previewCommand = std::move(command);
}

void RecordingHost::HidePreview() { calls.push_back("HidePreview"); }

void RecordingHost::AskSaveName(const SaveDialog& dialog,
                                std::function<void(std::optional<std::string>, int)> done) {
  std::string line = "AskSaveName " + dialog.title + ": " + dialog.fileName + " " + dialog.defaultExtension;
  for (const auto& [label, pattern] : dialog.filters) line += " " + label + "=" + pattern;
  calls.push_back(line);
  done(saveName, saveFilter);
}

void RecordingHost::MakeFile(std::string_view name, const Picture& picture, const std::string* bytes,
                             std::function<void(bool)> done) {
  calls.push_back("MakeFile " + std::string(name) + (bytes ? " bitmap" : " jpeg") + " of " +
                  std::to_string(picture.id));
  if (makeFiles) files[std::string(name)] = bytes ? *bytes : "JPEG";
  done(makeFiles);
}

void RecordingHost::AddToControl(DomElement& element) {
  calls.push_back("AddToControl " + std::to_string(RecordedElement::Number(element)));
}

void RecordingHost::Trigger(int number, std::string_view event) {
  for (size_t i = 0; i < listeners.size(); ++i)
    if (listeners[i].element == number && listeners[i].event == event) {
      auto handler = listeners[i].handler;  // a handler may listen to more
      handler();
    }
}

}  // namespace tamsolo
