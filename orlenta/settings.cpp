#include "settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "eventlog/eventlog.h"
#include "registry/registry.h"

namespace orlenta {

namespace {

// errno of opening the registry file when it exists but cannot be read; ENOENT otherwise.
int RegistryFileError() {
  int fd = ::open(registry::FilePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return ENOENT;
  }
  return errno;
}

}  // namespace

int OpenKey(std::string_view key) {
  if (registry::KeyExists(key)) return 0;
  return RegistryFileError();
}

int OpenKeyForWriting(std::string_view key) {
  if (int code = OpenKey(key)) return code;
  std::filesystem::path file = registry::FilePath();
  std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  // The registry is rewritten through a temporary file and a rename in its folder.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return errno;
  if (::access(file.c_str(), W_OK) != 0 && errno != ENOENT) return errno;
  return 0;
}

std::optional<std::string> ReadValue(std::string_view key, std::string_view name, int* error) {
  if (int code = OpenKey(key)) {
    if (error) *error = code;
    return std::nullopt;
  }
  auto v = registry::ReadValue(key, name);
  if (!v && error) *error = ENOENT;
  return v;
}

int32_t DecimalValue(std::string_view text) {
  size_t i = 0;
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  while (i < text.size() && space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t v = 0;
  constexpr int64_t kCap = int64_t{1} << 31;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > kCap) v = kCap;
  }
  if (negative) return static_cast<int32_t>(-v);  // -2^31 still fits
  return static_cast<int32_t>(v >= kCap ? kCap - 1 : v);
}

bool TracingOn() {
  auto v = registry::ReadValue(registry::kVantrelKey, "LogDetailLevel");
  return v && DecimalValue(*v) != 0;
}

void Trace(std::string_view text) {
  if (TracingOn()) eventlog::Information(text);
}

void Notice(std::string_view text) { eventlog::Information(text); }

void ErrorEvent(std::string_view text) { eventlog::Error(text); }

std::chrono::nanoseconds Minute() {
  constexpr std::chrono::nanoseconds kReal = std::chrono::seconds(60);
  const char* env = std::getenv("VANTREL_MINUTE_SECONDS");
  if (!env || !*env) return kReal;
  char* end = nullptr;
  double seconds = std::strtod(env, &end);
  if (end == env || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600) return kReal;
  auto ns = std::chrono::nanoseconds(static_cast<int64_t>(seconds * 1e9));
  return ns.count() > 0 ? ns : std::chrono::nanoseconds(1);
}

int32_t SenderTimeoutSeconds() {
  auto v = registry::ReadValue(registry::kVantrelKey, "SenderTimeout");
  if (!v) return 0;
  int32_t s = DecimalValue(*v);
  return s > 0 ? s : 0;
}

}  // namespace orlenta
