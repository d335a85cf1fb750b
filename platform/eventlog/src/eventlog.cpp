#include "eventlog/eventlog.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace eventlog {

namespace {

std::mutex g_mutex;
std::shared_ptr<Sink> g_sink;
std::atomic<bool> g_errorsToStandardError{false};

const char* TypeName(Type t) {
  switch (t) {
    case Type::Information: return "information";
    case Type::Warning: return "warning";
    case Type::Error: return "error";
  }
  return "information";
}

void WriteFile(const char* path, const Event& e) {
  std::string line = FormatLine(e);
  line += '\n';
  int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write per event, so that lines of several processes never interleave.
  ssize_t n = ::write(fd, line.data(), line.size());
  (void)n;
  ::close(fd);
}

void WriteSyslog(const Event& e) {
  std::string ident(e.source);
  int priority = e.type == Type::Error ? LOG_ERR : (e.type == Type::Warning ? LOG_WARNING : LOG_INFO);
  openlog(ident.c_str(), LOG_PID, LOG_USER);
  syslog(priority, "[0x%08X] %.*s", e.id, static_cast<int>(e.text.size()), e.text.data());
  closelog();
}

}  // namespace

void MemorySink::Write(const Event& e) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(e);
}

std::vector<Event> MemorySink::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<std::string> MemorySink::Texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const Event& e : events_) out.push_back(e.text);
  return out;
}

void MemorySink::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

void Write(Type type, uint32_t id, std::string_view source, std::string_view text) {
  Event e{type, id, std::string(source), std::string(text)};
  std::shared_ptr<Sink> sink;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    sink = g_sink;
  }
  try {
    if (sink) {
      sink->Write(e);
    } else if (const char* path = std::getenv("VANTREL_EVENTLOG"); path && *path) {
      WriteFile(path, e);
    } else {
      WriteSyslog(e);
    }
    if (type == Type::Error && g_errorsToStandardError.load()) {
      const std::string line = FormatLine(e) + "\n";
      std::fwrite(line.data(), 1, line.size(), stderr);
    }
  } catch (...) {
  }
}

void CopyErrorsToStandardError(bool on) { g_errorsToStandardError = on; }

void SetSink(std::shared_ptr<Sink> sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = std::move(sink);
}

std::shared_ptr<MemorySink> CaptureInMemory() {
  auto sink = std::make_shared<MemorySink>();
  SetSink(sink);
  return sink;
}

std::string FormatLine(const Event& e) {
  char head[32];
  std::snprintf(head, sizeof head, "%s 0x%08X ", TypeName(e.type), e.id);
  std::string line = head;
  line += e.source;
  line += ' ';
  for (char c : e.text) {
    switch (c) {
      case '\r': line += "\\r"; break;
      case '\n': line += "\\n"; break;
      case '\\': line += "\\\\"; break;
      default: line += c;
    }
  }
  return line;
}

bool ParseLine(std::string_view line, Event& out) {
  size_t a = line.find(' ');
  if (a == std::string_view::npos) return false;
  std::string_view type = line.substr(0, a);
  if (type == "information") out.type = Type::Information;
  else if (type == "warning") out.type = Type::Warning;
  else if (type == "error") out.type = Type::Error;
  else return false;
  size_t b = line.find(' ', a + 1);
  if (b == std::string_view::npos || b - a - 1 != 10 || line.substr(a + 1, 2) != "0x") return false;
  out.id = static_cast<uint32_t>(std::strtoul(std::string(line.substr(a + 3, 8)).c_str(), nullptr, 16));
  size_t c = line.find(' ', b + 1);
  if (c == std::string_view::npos) return false;
  out.source = std::string(line.substr(b + 1, c - b - 1));
  out.text.clear();
  for (size_t i = c + 1; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      char n = line[++i];
      out.text += n == 'r' ? '\r' : n == 'n' ? '\n' : n;
    } else {
      out.text += line[i];
    }
  }
  return true;
}

}  // namespace eventlog
