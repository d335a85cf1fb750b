#include "core/error_protocol.h"

#include <new>

#include "automation/input_fault.h"
#include "eventlog/eventlog.h"

namespace brisquel {

using automation::ComError;
using automation::LastError;

namespace {

std::string ChainHead(std::string_view cls, std::string_view method) {
  std::string s(kLibraryName);
  s += ".dll:";
  s += cls;
  s += '.';
  s += method;
  return s;
}

}  // namespace

void WriteErrorEvent(std::string_view text) {
  eventlog::Write(eventlog::Type::Error, eventlog::kErrorId, kLibraryName, text);
}

void LogInputFault(std::string_view className, std::string_view procedure, std::string_view description) {
  eventlog::Write(eventlog::Type::Warning, eventlog::kWarningId, kLibraryName,
                  ChainHead(className, procedure) + " refused its input: " + std::string(description));
}

void RaiseInputFault(std::string_view className, std::string_view procedure, int32_t number,
                     std::string description) {
  LogInputFault(className, procedure, description);
  throw automation::InputFault(number, std::string(kLibraryName), std::move(description));
}

LastError CurrentError() {
  try {
    throw;
  } catch (const ComError& e) {
    return LastError{e.number, e.source, e.description, e.line};
  } catch (const std::bad_alloc&) {
    return LastError{automation::vberr::kOutOfMemory, std::string(kLibraryName),
                     automation::RuntimeErrorText(automation::vberr::kOutOfMemory), 0};
  } catch (const std::exception& e) {
    return LastError{automation::vberr::kFail, std::string(kLibraryName), e.what(), 0};
  } catch (...) {
    return LastError{automation::vberr::kFail, std::string(kLibraryName),
                     automation::RuntimeErrorText(automation::vberr::kFail), 0};
  }
}

namespace {
// The error being handled, as the run time holds it for the by-name callers: the only place the
// library reads Err. Everything else is handed the error it caught (CurrentError).
const LastError& HandledError() { return automation::Err(); }
}  // namespace

void UnexpectedErrorManager::Initialize(const std::string& className, const std::string& methodName) {
  Initialize(className, methodName, HandledError());
}

void UnexpectedErrorManager::Initialize(const std::string& className, const std::string& methodName,
                                        const LastError& caught) {
  className_ = className;
  methodName_ = methodName;
  number_ = caught.number;
  description_ = caught.description;
  line_ = caught.line;
  source_ = ChainHead(className_, methodName_);
  if (line_ != 0) source_ += ", line " + std::to_string(line_);
  source_ += "\r\n";
  source_ += caught.source;
}

std::string UnexpectedErrorManager::LogLine() const {
  return "Unexpected error encountered: " + description_ + " (" + std::to_string(number_) +
         "), line " + std::to_string(line_) + " of " + className_ + "." + methodName_;
}

void UnexpectedErrorManager::Raise() {
  if (inputFault_) {
    automation::InputFault e(number_, source_, description_);
    automation::SetErr(e);
    throw e;
  }
  WriteErrorEvent(LogLine());
  ComError e(number_, source_, description_);
  automation::SetErr(e);
  throw e;
}

void UnexpectedErrorManager::LogMessage(const std::string& msg) {
  std::string text(kLibraryName);
  if (className_.empty()) {
    text += ".dll logged: ";
  } else if (methodName_.empty()) {
    text += ".dll:" + className_ + " logged: ";
  } else {
    text += ".dll:" + className_ + "." + methodName_ + " logged: ";
  }
  text += msg;
  WriteErrorEvent(text);
}

void UnexpectedErrorManager::ThrowError(const std::string& className, const std::string& methodName,
                                        const std::string& description) {
  className_ = className;
  methodName_ = methodName;
  number_ = kContractViolation;
  description_ = description;
  line_ = 0;
  source_ = ChainHead(className_, methodName_) + "\r\n";
  Raise();
}

void ThrowError(std::string_view className, std::string_view methodName, std::string_view description) {
  UnexpectedErrorManager m;
  m.ThrowError(std::string(className), std::string(methodName), std::string(description));
}

void ThrowInputFault(std::string_view className, std::string_view methodName, std::string_view description) {
  LogInputFault(className, methodName, description);
  automation::InputFault e(kContractViolation, ChainHead(className, methodName) + "\r\n", std::string(description));
  automation::SetErr(e);
  throw e;
}

namespace detail {

void RaiseFromHandler(std::string_view className, std::string_view procedure,
                      const std::function<void(UnexpectedErrorManager&)>& beforeRaise) {
  LastError caught = CurrentError();
  bool inputFault = false;
  try {
    throw;
  } catch (const automation::InputFault&) {
    inputFault = true;
  } catch (...) {
  }
  UnexpectedErrorManager m;
  m.Initialize(std::string(className), std::string(procedure), caught);
  m.SetInputFault(inputFault);
  automation::ClearErr();
  if (beforeRaise) beforeRaise(m);
  m.Raise();
}

}  // namespace detail

namespace {

std::string ReportLines(const std::shared_ptr<automation::Object>& connection, const LastError& err) {
  std::string msg = "An unexpected error has occurred.";
  int32_t count = 0;
  std::shared_ptr<automation::Object> errors;
  if (connection) {
    errors = connection->Get("Errors").ToObject();
    if (errors) count = errors->Get("Count").ToLong();
  }
  if (count == 0) {
    msg += "\r\nError number: " + std::to_string(err.number) + "\r\nError message: " + err.description;
  } else {
    for (int32_t i = 0; i < count; ++i) {
      auto e = errors->Get("Item", {automation::Variant(i)}).ToObject();
      msg += "\r\nError number: " + std::to_string(e->Get("Number").ToLong()) +
             "\r\nError message: " + e->Get("Description").ToString();
    }
  }
  WriteErrorEvent("Unexpected error encountered: " + err.description + " (" + std::to_string(err.number) +
                  "), line " + std::to_string(err.line));
  return msg;
}

}  // namespace

std::string UnexpectedErrorReport(const std::shared_ptr<automation::Object>& connection,
                                  const LastError& runtimeError) {
  return ReportLines(connection, runtimeError);
}

void RaiseFailure(std::string description) {
  automation::RaiseError(automation::vberr::kFail, std::string(kLibraryName), std::move(description));
}

std::string UnexpectedErrorReport(const std::shared_ptr<automation::Object>& connection) {
  return ReportLines(connection, HandledError());
}

std::string UnexpectedRuntimeErrorReport(const LastError& runtimeError) {
  return ReportLines(nullptr, runtimeError);
}

std::string UnexpectedRuntimeErrorReport() { return ReportLines(nullptr, HandledError()); }

namespace {
automation::Register<UnexpectedErrorManager> reg(
    "UnexpectedErrorManager", "Brisquel.UnexpectedErrorManager", [](auto& c) {
      using M = UnexpectedErrorManager;
      c.Method("Initialize", static_cast<void (M::*)(const std::string&, const std::string&)>(&M::Initialize));
      c.Method("Raise", &M::Raise);
      c.Method("LogMessage", &M::LogMessage);
      c.Method("ThrowError", &M::ThrowError);
      c.Property("ClassName", &M::ClassName);
      c.Property("MethodName", &M::MethodName);
      c.Property("Number", &M::Number);
      c.Property("Source", &M::Source);
      c.Property("Description", &M::Description);
      c.Property("Line", &M::Line);
    });
}  // namespace

}  // namespace brisquel
