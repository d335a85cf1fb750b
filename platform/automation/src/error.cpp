#include <string>

#include "automation/automation.h"

namespace automation {

const char* ComError::what() const noexcept { return description.c_str(); }

std::string RuntimeErrorText(int32_t number) {
  switch (number) {
    case 3: return "Return without GoSub";
    case 5: return "Invalid procedure call or argument";
    case 6: return "Overflow";
    case 7: return "Out of memory";
    case 9: return "Subscript out of range";
    case 11: return "Division by zero";
    case 13: return "Type mismatch";
    case 52: return "Bad file name or number";
    case 53: return "File not found";
    case 70: return "Permission denied";
    case 75: return "Path/File access error";
    case 91: return "Object variable or With block variable not set";
    case 94: return "Invalid use of Null";
    case 424: return "Object required";
    case 438: return "Object doesn't support this property or method";
    case 449: return "Argument not optional";
    case 450: return "Wrong number of arguments or invalid property assignment";
    case 457: return "This key is already associated with an element of this collection";
    case vberr::kCannotCreate: return "Invalid class string";
    case vberr::kFail: return "Unspecified error";
    default: return "Application-defined or object-defined error";
  }
}

void RaiseRuntime(int32_t number, std::string description) {
  if (description.empty()) description = RuntimeErrorText(number);
  throw ComError(number, "Brisquel", std::move(description));
}

void RaiseError(int32_t number, std::string source, std::string description) {
  throw ComError(number, std::move(source), std::move(description));
}

LastError& Err() {
  thread_local LastError err;
  return err;
}

void SetErr(const ComError& e) { Err() = LastError{e.number, e.source, e.description, e.line}; }
void ClearErr() { Err() = LastError{}; }

}  // namespace automation
