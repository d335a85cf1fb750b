// SQLHelper ("Brisquel.SQLHelper"): the check of criteria typed by hand before an advanced filter
// is stored. A scan catches the two mistakes users make most (a statement separator, strings in
// double quotes); then the condition is prepared, never run, inside the issue list's statement on
// a connection of the call's own, under the read-only authorizer, and checked as the issue list
// will check it. Empty when acceptable, else the sentence for the user.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace brisquel {

class SQLHelper : public automation::Dispatchable<SQLHelper> {
 public:
  // Nothing sets it; it reads as "".
  std::string FqExpression() const { return fqExpression_; }
  std::string SimpleParseFilter(const std::string& filterExpression, const std::string& connectionString);

  // The scan alone: the sentence for a ";" token or a double-quoted string, else "".
  std::string Scan(std::string_view filterExpression);

 private:
  std::string GetChar();
  static bool IsTerminal(std::string_view c);
  std::string GetToken();
  static bool IsValidToken(std::string_view token);
  std::string GetQuotedString(std::string_view quote);
  // The provider's sentence for a statement that would not prepare, reworded for the user.
  static std::string Reword(std::string description, const std::string& filterExpression);

  std::string expression_;
  size_t position_ = 1;  // 1-based: the next character read
  std::string fqExpression_;
};

}  // namespace brisquel
