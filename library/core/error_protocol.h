// The error protocol. Every procedure of the library runs its body through Procedure(): an
// unexpected error leaving the body is logged as one line and raised again to the caller with the
// first error's number and description and a source that gains one line per procedure
// ("Brisquel.dll:Database.Login" CRLF, then the source of the error caught), outermost first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace brisquel {

inline constexpr std::string_view kLibraryName = "Brisquel";
// A caller handed an unusable argument (&H80040001).
inline constexpr int32_t kContractViolation = static_cast<int32_t>(0x80040001);

class UnexpectedErrorManager : public automation::Dispatchable<UnexpectedErrorManager> {
 public:
  // Takes number, description, line and source from the error being handled (Err) and builds the
  // source chain with this procedure at its head.
  void Initialize(const std::string& className, const std::string& methodName);
  void Initialize(const std::string& className, const std::string& methodName,
                  const automation::LastError& caught);
  // Logs the line and raises the error.
  [[noreturn]] void Raise();
  // Logs one error event; raises nothing.
  void LogMessage(const std::string& msg);
  // Starts a new error (&H80040001) for a contract violation, logs it and raises it.
  [[noreturn]] void ThrowError(const std::string& className, const std::string& methodName,
                               const std::string& description);

  const std::string& ClassName() const { return className_; }
  const std::string& MethodName() const { return methodName_; }
  int32_t Number() const { return number_; }
  const std::string& Source() const { return source_; }
  const std::string& Description() const { return description_; }
  int32_t Line() const { return line_; }

  // The line Raise and ThrowError write.
  std::string LogLine() const;

  // For the error protocol: the error being raised is the caller's malformed input, already
  // logged where it was found; Raise keeps it an InputFault and writes nothing.
  void SetInputFault(bool on) { inputFault_ = on; }

 private:
  bool inputFault_ = false;
  std::string className_, methodName_;
  int32_t number_ = 0;
  std::string source_, description_;
  int32_t line_ = 0;
};

// Writes one error event of the library (the application-logging facility).
void WriteErrorEvent(std::string_view text);

// A caller's malformed input (automation::InputFault): one warning line that names the procedure
// that found it. The procedures it then passes through add to its source chain but log nothing.
void LogInputFault(std::string_view className, std::string_view procedure, std::string_view description);
// Logs the fault so and raises it as an InputFault with the number and description given.
[[noreturn]] void RaiseInputFault(std::string_view className, std::string_view procedure, int32_t number,
                                  std::string description);

// The error in flight inside a catch block, as the run time would report it.
automation::LastError CurrentError();

namespace detail {
[[noreturn]] void RaiseFromHandler(std::string_view className, std::string_view procedure,
                                   const std::function<void(UnexpectedErrorManager&)>& beforeRaise);
}  // namespace detail

// Runs a procedure body under the error protocol.
template <class F>
decltype(auto) Procedure(std::string_view className, std::string_view procedure, F&& body) {
  try {
    return body();
  } catch (...) {
    detail::RaiseFromHandler(className, procedure, nullptr);
  }
}

// The same, with a step the handler runs after Initialize and before Raise.
template <class F>
decltype(auto) Procedure(std::string_view className, std::string_view procedure,
                         const std::function<void(UnexpectedErrorManager&)>& beforeRaise, F&& body) {
  try {
    return body();
  } catch (...) {
    detail::RaiseFromHandler(className, procedure, beforeRaise);
  }
}

// A contract violation: raised with &H80040001 and logged.
[[noreturn]] void ThrowError(std::string_view className, std::string_view methodName,
                             std::string_view description);
// A recordset handed back to a writer that is not the one it takes (another table's rows, another
// record than it may write): raised as ThrowError raises it, but as the caller's input, since a
// page hands back whatever image was posted to it. Logged once, as a warning.
[[noreturn]] void ThrowInputFault(std::string_view className, std::string_view methodName,
                                  std::string_view description);

// A failure that is no caller's doing (an engine or system call failed, an embedded resource is
// missing): &H80004005 from "Brisquel" with the description, as every other unexpected error
// reaches the caller. Logged by the procedures it passes through.
[[noreturn]] void RaiseFailure(std::string description);

// "An unexpected error has occurred." with the number and message of every error of the
// connection's Errors collection (or of the given run-time error when it holds none); logs the
// run-time error's line. Writers store it in LastErrorMessage.
std::string UnexpectedErrorReport(const std::shared_ptr<automation::Object>& connection,
                                  const automation::LastError& runtimeError);
std::string UnexpectedErrorReport(const std::shared_ptr<automation::Object>& connection);
// The same from the run-time error alone.
std::string UnexpectedRuntimeErrorReport(const automation::LastError& runtimeError);
std::string UnexpectedRuntimeErrorReport();

}  // namespace brisquel
