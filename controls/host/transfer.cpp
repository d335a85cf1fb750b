#include "host/transfer.h"

#include "common/url.h"
#include "host/host.h"

namespace tamsolo {

struct Transfers::Slot {
  int id = 0;
  std::string received;
  bool ended = false;
  DataFunction owner;
};

namespace {

// Delivers to its slot while the slot is the current one of its kind; a superseded or released
// slot is gone, and what still arrives for it is dropped.
class SlotSink : public TransferSink {
 public:
  explicit SlotSink(std::weak_ptr<Transfers::Slot> slot) : slot_(std::move(slot)) {}

  void OnData(std::string_view chunk) override {
    auto slot = slot_.lock();
    if (!slot || slot->ended || chunk.empty()) return;
    slot->received += chunk;
    const std::string bytes(chunk);  // its data() ends in the uncounted zero byte
    if (slot->owner) slot->owner(slot->id, bytes.c_str(), static_cast<int32_t>(bytes.size()));
  }

  bool Wanted() const override {
    auto slot = slot_.lock();
    return slot && !slot->ended;
  }

  void OnEnd(bool, int) override {
    auto slot = slot_.lock();
    if (!slot || slot->ended) return;
    slot->ended = true;
    if (slot->owner) slot->owner(slot->id, nullptr, 0);
  }

 private:
  std::weak_ptr<Transfers::Slot> slot_;
};

const std::string kNothing;

}  // namespace

std::string RequestUrl(std::string_view property) {
  if (property.empty()) return {};
  std::string url = CanonicalUrl(property);
  if (url.size() + 1 > kUrlBufferSize) return {};
  return url;
}

TransferRequest DownloadRequest(std::string_view urlProperty) {
  return TransferRequest{"GET", RequestUrl(urlProperty), "", ""};
}

TransferRequest UploadRequest(std::string_view urlProperty, std::string_view postData) {
  std::string body(postData);
  body += kUploadBoundary;
  body += "--\r\n";
  return TransferRequest{"POST", RequestUrl(urlProperty), std::string(kUploadContentType), std::move(body)};
}

int Transfers::Start(Host& host, std::string_view kind, TransferRequest request, DataFunction owner) {
  if (request.url.empty()) return 0;
  auto slot = std::make_shared<Slot>();
  slot->id = ++lastId_;
  slot->owner = std::move(owner);
  // Replacing the slot releases the older request's: its sink finds nothing any more.
  current_[std::string(kind)] = slot;
  host.StartTransfer(request, std::make_shared<SlotSink>(slot));
  return slot->id;
}

int Transfers::Current(std::string_view kind) const {
  auto it = current_.find(kind);
  return it == current_.end() ? 0 : it->second->id;
}

const std::string& Transfers::Received(std::string_view kind) const {
  auto it = current_.find(kind);
  return it == current_.end() ? kNothing : it->second->received;
}

bool Transfers::Ended(std::string_view kind) const {
  auto it = current_.find(kind);
  return it != current_.end() && it->second->ended;
}

}  // namespace tamsolo
