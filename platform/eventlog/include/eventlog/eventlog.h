// The installation's event log. Events go to syslog unless VANTREL_EVENTLOG names a file, where
// each event is one line: "<type> 0x<id> <source> <text>" with CR, LF and backslash escaped. Tests
// can capture events in memory instead.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace eventlog {

enum class Type { Information, Warning, Error };

inline constexpr uint32_t kInformationId = 0x40000001;  // trace lines and service events
inline constexpr uint32_t kWarningId = 0x80000002;      // warnings: a client's malformed input
inline constexpr uint32_t kErrorId = 0xC0000003;        // error events
inline constexpr std::string_view kSource = "Vantrel";

struct Event {
  Type type = Type::Information;
  uint32_t id = 0;
  std::string source;
  std::string text;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Write(const Event& e) = 0;
};

// Keeps events in memory, for tests.
class MemorySink : public Sink {
 public:
  void Write(const Event& e) override;
  std::vector<Event> Events() const;
  std::vector<std::string> Texts() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

// Writes one event. Failures of the log itself are ignored: logging never breaks the caller.
void Write(Type type, uint32_t id, std::string_view source, std::string_view text);
inline void Information(std::string_view text) { Write(Type::Information, kInformationId, kSource, text); }
inline void Error(std::string_view text) { Write(Type::Error, kErrorId, kSource, text); }

// Replaces the sink of this process (nullptr: back to syslog or VANTREL_EVENTLOG).
void SetSink(std::shared_ptr<Sink> sink);
// Error events are also written to standard error, one line each as the file sink writes them
// (a program in the foreground shows what went wrong where it was started).
void CopyErrorsToStandardError(bool on);
// Installs a fresh memory sink and returns it.
std::shared_ptr<MemorySink> CaptureInMemory();

// The line the file sink writes for an event (without the newline), and its reading back.
std::string FormatLine(const Event& e);
bool ParseLine(std::string_view line, Event& out);

}  // namespace eventlog
