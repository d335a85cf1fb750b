#include "configuration/sql_helper.h"

#include <sqlite3.h>

#include <memory>

#include "ado/ado.h"
#include "core/error_protocol.h"
#include "issues/sql_guard.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "SQLHelper";

bool IsWordChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// SQLite's sentence for a statement that does not prepare, in the words of the provider the
// rewording was written for. Other sentences stay as they are.
std::string ProviderText(const std::string& message) {
  constexpr std::string_view kNear = "near \"", kSyntax = "\": syntax error";
  constexpr std::string_view kNoColumn = "no such column: ", kAmbiguous = "ambiguous column name: ";
  constexpr std::string_view kToken = "unrecognized token: \"'";
  std::string_view m = message;
  if (StartsWith(m, kNear) && m.size() >= kNear.size() + kSyntax.size() &&
      m.substr(m.size() - kSyntax.size()) == kSyntax)
    return "Line 1: Incorrect syntax near '" +
           std::string(m.substr(kNear.size(), m.size() - kNear.size() - kSyntax.size())) + "'.";
  if (StartsWith(m, kNoColumn)) return "Invalid column name '" + std::string(m.substr(kNoColumn.size())) + "'.";
  if (StartsWith(m, kAmbiguous)) return "Ambiguous column name '" + std::string(m.substr(kAmbiguous.size())) + "'.";
  if (StartsWith(m, kToken)) {
    std::string_view rest = m.substr(kToken.size());
    if (!rest.empty() && rest.back() == '"') rest.remove_suffix(1);
    return "Unclosed quotation mark after the character string '" + std::string(rest) + "'.";
  }
  return message;
}

// Closes the call's own connection however the call ends.
struct ClosingConnection {
  std::shared_ptr<ado::Connection> c = std::make_shared<ado::Connection>();
  ~ClosingConnection() {
    try {
      if (c->State() != ado::adStateClosed) c->Close();
    } catch (...) {
    }
  }
};

}  // namespace

std::string SQLHelper::GetChar() {
  return Procedure(kClass, "GetChar", [&] {
    if (position_ > expression_.size()) return std::string();
    return std::string(1, expression_[position_++ - 1]);
  });
}

bool SQLHelper::IsTerminal(std::string_view c) { return c.empty() || !IsWordChar(c[0]); }

bool SQLHelper::IsValidToken(std::string_view token) { return token != ";"; }

std::string SQLHelper::GetQuotedString(std::string_view quote) {
  return Procedure(kClass, "GetQuotedString", [&] {
    std::string out;
    for (std::string c = GetChar(); !c.empty(); c = GetChar()) {
      out += c;
      if (c == quote) break;
    }
    return out;
  });
}

std::string SQLHelper::GetToken() {
  return Procedure(kClass, "GetToken", [&] {
    std::string token = GetChar();
    if (token.empty()) return token;
    if (!IsTerminal(token)) {
      // The terminal that ends the word is the next token's first character.
      while (position_ <= expression_.size() && IsWordChar(expression_[position_ - 1])) token += GetChar();
      return token;
    }
    if (token == "'" || token == "\"") token += GetQuotedString(token);
    return token;
  });
}

std::string SQLHelper::Scan(std::string_view filterExpression) {
  expression_ = std::string(filterExpression);
  position_ = 1;
  for (std::string token = GetToken(); !token.empty(); token = GetToken()) {
    if (!IsValidToken(token)) return "Invalid criteria (incorrect syntax near '" + token + "').";
    if (token.front() == '"' && token.back() == '"')
      return "Invalid criteria (strings must be quoted using single quotes, use 2 single quotes to quote a single "
             "quote: 'O''Brian').";
  }
  return {};
}

std::string SQLHelper::Reword(std::string d, const std::string& filterExpression) {
  if (!d.empty() && d.back() == '.') d.pop_back();
  if (StartsWith(d, "Line 1:")) d.erase(0, 8);
  if (!d.empty() && d[0] >= 'A' && d[0] <= 'Z') d[0] = static_cast<char>(d[0] - 'A' + 'a');
  if (d == "incorrect syntax near 'where'") d = "incorrect syntax near '" + filterExpression + "'";
  if (StartsWith(d, "unclosed quotation mark")) d = "unclosed quotation mark";
  for (size_t at = d.find("column name"); at != std::string::npos; at = d.find("column name", at + 10))
    d.replace(at, 11, "field name");
  return "Invalid criteria (" + d + ").";
}

std::string SQLHelper::SimpleParseFilter(const std::string& filterExpression, const std::string& connectionString) {
  return Procedure(kClass, "SimpleParseFilter", [&] {
    if (std::string refused = Scan(filterExpression); !refused.empty()) return refused;

    ClosingConnection own;
    own.c->SetCursorLocation(ado::adUseClient);
    own.c->Open(connectionString);
    sqlite3* handle = own.c->Handle();
    const sqlguard::Catalogue catalogue = sqlguard::Catalogue::ForIssues(handle);
    const std::string sql =
        "select Issues.ProjectId from Issues inner join Projects on Issues.ProjectId = Projects.ProjectId where (" +
        filterExpression + ") and Issues.ProjectId = -1";

    // Prepared only: the statement is compiled (every name resolved, every access authorized)
    // and never stepped.
    int rc = SQLITE_OK;
    std::string message, denied;
    {
      sqlguard::ReadOnlyScope readOnly(*own.c, catalogue.ReadableTables());
      sqlite3_stmt* st = nullptr;
      rc = sqlite3_prepare_v2(handle, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
      if (rc != SQLITE_OK) message = sqlite3_errmsg(handle);
      denied = readOnly.Refused();
      sqlite3_finalize(st);
    }
    if ((rc & 0xFF) == SQLITE_AUTH)
      return "Invalid criteria (the criteria may not " + (denied.empty() ? std::string("do that") : denied) + ").";
    if (rc != SQLITE_OK) return Reword(ProviderText(message), filterExpression);

    std::string why = sqlguard::Check(filterExpression, catalogue, sqlguard::Fragment::Condition);
    return why.empty() ? std::string() : "Invalid criteria (" + why + ").";
  });
}

namespace {

automation::Register<SQLHelper> reg("SQLHelper", "Brisquel.SQLHelper", [](auto& c) {
  c.Property("fqExpression", &SQLHelper::FqExpression);
  c.Method("SimpleParseFilter", &SQLHelper::SimpleParseFilter);
});

}  // namespace

}  // namespace brisquel
