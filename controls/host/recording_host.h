// The host of native tests: answers from its settings and writes each call as a line
// ("RequestEdit -501", "Changed -501", "Invalidate", "Fire Click(1)"); drawing goes to a RecordDc
// kept across GetDc calls.
#pragma once

#include <map>
#include <set>

#include "gdi/record_dc.h"
#include "host/host.h"

namespace tamsolo {

class RecordingHost : public Host {
 public:
  std::vector<std::string> calls;
  std::set<int32_t> refused;            // DISPIDs whose edits are refused
  bool userMode = true;
  gdi::Size size{100, 50};
  bool confirmAnswer = true;
  int messageBoxAnswer = mb::kIdOk;
  std::map<std::string, std::string> transfers;  // URL -> body; others end with 404
  // Every request as it was asked for. With holdTransfers set, requests wait in `held` until
  // the test plays them (Play), so it chooses the pieces, their order and overlaps.
  std::vector<TransferRequest> requests;
  bool holdTransfers = false;
  std::vector<std::shared_ptr<TransferSink>> held;  // by request, in order
  void Play(size_t request, const std::vector<std::string>& chunks, bool ok = true, int status = 200);
  gdi::RecordDc drawing;
  // Keys as they would be played.
  std::vector<keys::KeyStroke> played;
  // Screen capture as the test sets it: the pick's answer and picture, the picture's pixels, the
  // save dialog's answer, whether files can be made. Made files by name ("JPEG" for a JPEG's
  // bytes); the shown preview's menu, for the test to choose a command.
  PickResult pickResult = PickResult::NothingChosen;
  Picture pickedPicture{7, 3, 2};
  std::vector<uint32_t> picturePixels;
  std::optional<std::string> saveName;
  int saveFilter = 0;
  bool makeFiles = true;
  std::map<std::string, std::string> files;
  std::function<void(int)> previewCommand;
  struct Listener {
    int element;
    std::string event;
    std::function<void()> handler;
  };
  std::vector<Listener> listeners;  // of the recorded elements, by element number

  int Count(std::string_view call) const;

  bool RequestEdit(int32_t dispid) override;
  void Changed(int32_t dispid) override;
  void Fire(std::string_view event, const std::vector<automation::Variant>& args) override;
  void Invalidate() override;
  std::unique_ptr<gdi::Dc> GetDc() override;
  gdi::Size ClientSize() const override { return size; }
  // Written down as "RequestSize 175x293" and granted at once.
  void RequestSize(gdi::Size pixels) override;
  bool UserMode() const override { return userMode; }
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
  // Runs the handlers element `number` listens to for `event` (a click on a recorded element).
  void Trigger(int number, std::string_view event);
};

}  // namespace tamsolo
