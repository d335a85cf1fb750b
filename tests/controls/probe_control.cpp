#include "probe_control.h"

#include "gdi/colors.h"
#include "gdi/image.h"

namespace tamsolo::testing {

using automation::Variant;

ProbeControl::ProbeControl(Host& host) : Control(host, *FindClassByName("Chart")) {
  KeepReadyState();
  AddBackColor();
  AddProperty(
      "Caption", 1, [this] { return Variant(caption); },
      [this](const Variant& v) { SetStock(1, caption, v.ToString()); });
  AddForeColor();
  AddProperty(
      "Level", 2, [this] { return Variant(level); },
      [this](const Variant& v) { SetStock(2, level, v.ToLong()); });
  AddProperty(
      "Pattern", 5, [this] { return Variant(pattern); },
      [this](const Variant& v) { SetStock(5, pattern, v.ToBool()); });
  AddBorderVisible();
  AddBorderColor();
  AddFillColor();
  AddProperty("Enabled", 3, [] { return Variant(true); }, nullptr, false);
  AddProperty("UserMode", 4, [this] { return Variant(host_.UserMode()); }, nullptr, false);
  // Fetched(body, status) once the transfer ends; Answered(button) once the box is closed.
  AddMethod("Fetch", [this](std::vector<Variant>& args) {
    struct Sink : TransferSink {
      Host* host;
      std::string body;
      void OnData(std::string_view chunk) override { body += chunk; }
      void OnEnd(bool ok, int status) override {
        host->Fire("Fetched", {Variant(body), Variant(ok ? status : -status)});
      }
    };
    auto sink = std::make_shared<Sink>();
    sink->host = &host_;
    host_.StartTransfer(args.at(0).ToString(), sink);
    return Variant();
  });
  AddMethod("Request", [this](std::vector<Variant>& args) {
    const std::string kind = args.at(0).ToString(), url = args.at(1).ToString();
    TransferRequest request =
        args.size() > 2 ? UploadRequest(url, args[2].ToString()) : DownloadRequest(url);
    int id = transfers.Start(host_, kind, std::move(request), [this](int id, const char* bytes, int32_t count) {
      std::string& log = transferLog[id];
      if (!bytes) return host_.Fire("Transferred", {Variant(id), Variant(log + "end")});
      log += std::string(bytes, count) + "|";
    });
    return Variant(id);
  });
  AddMethod("Ask", [this](std::vector<Variant>& args) {
    host_.MessageBox(args.at(0).ToString(), "Probe", mb::kIconQuestion, mb::kYesNo,
                     [this](int answer) { host_.Fire("Answered", {Variant(answer)}); });
    return Variant();
  });
  // A small dialog of page elements: Clicked() from its button; CloseDialog removes it.
  AddMethod("OpenDialog", [this](std::vector<Variant>&) {
    dialog = host_.CreateElement("div");
    dialog->SetAttribute("class", "probe-dialog");
    button = host_.CreateElement("button");
    button->SetText("Press");
    button->Listen("click", [this] { host_.Fire("Clicked", {}); });
    dialog->Append(*button);
    host_.AddToPage(*dialog);
    return Variant();
  });
  AddMethod("CloseDialog", [this](std::vector<Variant>&) {
    button.reset();
    dialog.reset();
    return Variant();
  });
  AddMethod(
      "Load",
      [this](std::vector<Variant>& args) {
        host_.Fire("Loaded", {args.empty() ? Variant(caption) : args[0]});
        SetReadyState(kReadyStateComplete);
        return Variant();
      },
      10);
  AddEvent("Loaded", 1);
  AddEvent("Answered", 2);
  AddEvent("Unfired");
}

HRESULT ProbeControl::Draw(gdi::Dc& dc, const gdi::Rect& bounds) {
  dc.FillRect(bounds, gdi::TranslateColor(BackColor()));
  if (!pattern) return hr::kOk;
  dc.FrameRect(bounds, gdi::RGB(0, 0, 0));
  dc.SetPen(gdi::PenStyle::Dot, gdi::TranslateColor(0x80000010));
  dc.MoveTo(2, bounds.bottom - 2);
  dc.LineTo(bounds.right - 2, bounds.bottom - 2);
  const gdi::Point zigzag[] = {{2, 2}, {10, 10}, {18, 2}};
  dc.Polyline(zigzag);
  dc.SetFont({"Arial", 11, false, false, false});
  dc.SetTextColor(gdi::RGB(0, 0, 128));
  dc.DrawText("Probe text", {20, 2, bounds.right - 2, 16}, gdi::dt::kSingleLine | gdi::dt::kEndEllipsis);
  std::unique_ptr<gdi::Surface> surface = dc.CreateSurface({4, 4});
  surface->Draw().FillRect({0, 0, 4, 4}, gdi::RGB(255, 0, 0));
  dc.Blit(*surface, bounds.right - 10, 4);
  return hr::kOk;
}

void RegisterTestPictures() {
  gdi::RegisterImage(kSmallBitmap, [] { return gdi::Image{0, 19, 19, {}}; });
  gdi::RegisterImage(kWideBitmap, [] { return gdi::Image{0, 121, 66, {}}; });
}

}  // namespace tamsolo::testing
