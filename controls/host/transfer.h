// The controls' URL requests: a GET for each load and a POST for a save. The control prepares the
// URL (our canonicaliser, the 1,024-byte buffer the requests always had), the host sends it with
// the page's own cookies (same-origin credentials, never cached) and hands the body back in pieces,
// then one end. Each request has its own id and receive buffer; a newer request of the same kind
// on one control supersedes the older one, whose remaining pieces and end are dropped, so two
// overlapping loads never mix into one text.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace tamsolo {

class Host;

struct TransferRequest {
  std::string method = "GET";
  std::string url;          // canonical; a relative one is taken against the page
  std::string contentType;  // empty for a GET
  std::string body;         // UTF-8 bytes as they go out, unconverted
  friend bool operator==(const TransferRequest&, const TransferRequest&) = default;
};

inline constexpr size_t kUrlBufferSize = 1024;  // with the ending zero
inline constexpr std::string_view kUploadBoundary = "-----------------------------7d114d2a100b3e";
inline constexpr std::string_view kUploadContentType =
    "multipart/form-data; boundary=-----------------------------7d114d2a100b3e";

// The URL a request goes to: empty when the property is unset or empty, or when its canonical
// form does not fit the buffer with its ending zero (then nothing starts).
std::string RequestUrl(std::string_view property);
TransferRequest DownloadRequest(std::string_view urlProperty);
// The multipart body the control built, with its closing boundary line appended once.
TransferRequest UploadRequest(std::string_view urlProperty, std::string_view postData);

class Transfers {
 public:
  // The owner's data function: (id, bytes, count) with count above 0 and bytes[count] a zero
  // byte, then once (id, nullptr, 0) when the transfer has ended, whatever its outcome.
  using DataFunction = std::function<void(int id, const char* bytes, int32_t count)>;

  // Starts `request` as the current transfer of `kind` and returns its id; 0 when its URL is
  // empty: nothing starts and the owner is never called.
  int Start(Host& host, std::string_view kind, TransferRequest request, DataFunction owner);
  int Current(std::string_view kind) const;               // 0 when none
  const std::string& Received(std::string_view kind) const;  // the current one's bytes so far
  bool Ended(std::string_view kind) const;

  struct Slot;

 private:
  std::map<std::string, std::shared_ptr<Slot>, std::less<>> current_;
  int lastId_ = 0;
};

}  // namespace tamsolo
