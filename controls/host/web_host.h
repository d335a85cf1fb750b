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

 private:
  int id_;
};

// Event arguments as a JSON array for the page ("[1,\"a\",true,null]").
std::string ArgumentsJson(const std::vector<automation::Variant>& args);

}  // namespace tamsolo
