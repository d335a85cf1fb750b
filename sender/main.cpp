// kesprin: makes one site database send its pending notification e-mails, then exits. The whole
// command line is the database's connection string. It drives the library late-bound, by class
// and member name, and reports every outcome to the event log; the exit code is always 0.
//
// There is no apartment to initialise here: the automation layer needs no per-thread set-up, so
// the start-up failure (and exit code) that such a step would bring does not exist.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "ado/connection_string.h"
#include "automation/automation.h"
#include "eventlog/eventlog.h"
#include "registry/registry.h"

namespace {

// LogDetailLevel, read afresh before every trace line: non-zero turns tracing on.
bool TracingOn() {
  try {
    std::optional<std::string> v = registry::ReadValue(registry::kVantrelKey, "LogDetailLevel");
    return v && std::atoi(v->c_str()) != 0;
  } catch (...) {
    return false;
  }
}

void Trace(const std::string& text) {
  if (TracingOn()) eventlog::Information(text);
}

// "<prefix><description> (0x<number>)". A failure that carries no description reads "(null)".
void ErrorEvent(const std::string& prefix, const std::optional<std::string>& description, int32_t number) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<uint32_t>(number));
  eventlog::Error(prefix + description.value_or("(null)") + " (0x" + hex + ")");
}

struct Failure {
  std::optional<std::string> description;
  int32_t number = 0;
};

Failure CurrentFailure() {
  try {
    throw;
  } catch (const automation::ComError& e) {
    return {e.description, e.number};
  } catch (const std::exception& e) {
    return {std::string(e.what()), static_cast<int32_t>(0x80004005)};
  } catch (...) {
    return {std::nullopt, static_cast<int32_t>(0x80004005)};
  }
}

// The command line after the program name. Started by the service it is one argument; typed by
// hand it may have been split at blanks, which are put back.
std::string CommandLine(int argc, char** argv) {
  std::string s;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) s += ' ';
    s += argv[i];
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string commandLine = CommandLine(argc, argv);
  Trace("Kesprin.exe::Started.");
  Trace("Kesprin.exe::Creating Brisquel.Database.");
  {
    std::shared_ptr<automation::Object> db;
    try {
      db = automation::CreateObject("Brisquel.Database");
    } catch (...) {
      Failure f = CurrentFailure();
      ErrorEvent("Kesprin.exe::Error creating database object: ", f.description, f.number);
    }
    if (db) {
      Trace("Kesprin.exe::Created Brisquel.Database successfully.");
      bool connected = false;
      try {
        db->Put("ConnectionString", automation::Variant(commandLine));
        connected = true;
      } catch (...) {
        Failure f = CurrentFailure();
        ErrorEvent("Kesprin.exe::Error setting connection string: ", f.description, f.number);
      }
      if (connected) {
        // The connection string may carry a password: the event log gets it masked.
        Trace("Kesprin.exe::Set database connection string (\"" + ado::MaskConnectionString(commandLine) + "\")");
        Trace("Kesprin.exe::Calling SendNotifications.");
        try {
          db->Call("SendNotifications");
          Trace("Kesprin.exe::SendNotifications completed successfully.");
        } catch (...) {
          Failure f = CurrentFailure();
          ErrorEvent("Kesprin.exe::Error calling SendNotifications: ", f.description, f.number);
        }
      }
    }
  }  // the object is released before the last line
  Trace("Kesprin.exe::Exiting.");
  return 0;
}
