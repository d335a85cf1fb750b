// The host of a control in the page (emscripten only): each call goes to the loader's record for
// the control's element (Module.tamsoloHosts[id]) through library_host.js.
#pragma once

#include "host/host.h"

namespace tamsolo {

class WebHost : public Host {
 public:
  explicit WebHost(int id) : id_(id) {}
  int Id() const { return id_; }

  bool RequestEdit(int32_t dispid) override;
  void Changed(int32_t dispid) override;
  void Fire(std::string_view event, const std::vector<automation::Variant>& args) override;
  void Invalidate() override;
  std::unique_ptr<gdi::Dc> GetDc() override;
  gdi::Size ClientSize() const override;
  void RequestSize(gdi::Size pixels) override;
  bool UserMode() const override;
  using Host::StartTransfer;
  void StartTransfer(const TransferRequest& request, std::shared_ptr<TransferSink> sink) override;
  void MessageBox(std::string_view text, std::string_view title, int icon, int buttons,
                  std::function<void(int)> done) override;
  bool Confirm(std::string_view text) override;
  void Beep() override;
  void SetCursor(std::string_view cursor) override;
  std::unique_ptr<DomElement> CreateElement(std::string_view tag) override;
  void AddToPage(DomElement& element) override;
  void PlayKeys(const std::vector<keys::KeyStroke>& strokes) override;
  void PickDisplay(std::function<void(PickResult, Picture)> done) override;
  std::vector<uint32_t> PicturePixels(const Picture& picture) override;
  void ShowPreview(std::string_view title, std::string_view menu, const std::vector<PreviewMenuItem>& items,
                   const Picture& picture, std::function<void(int)> command) override;
  void HidePreview() override;
  void AskSaveName(const SaveDialog& dialog, std::function<void(std::optional<std::string>, int)> done) override;
  void MakeFile(std::string_view name, const Picture& picture, const std::string* bytes,
                std::function<void(bool)> done) override;
  void AddToControl(DomElement& element) override;

 private:
  int id_;
  std::unique_ptr<std::function<void(int)>> previewCommand_;  // the shown preview's menu
};

// Event arguments as a JSON array for the page ("[1,\"a\",true,null]").
std::string ArgumentsJson(const std::vector<automation::Variant>& args);

}  // namespace tamsolo
