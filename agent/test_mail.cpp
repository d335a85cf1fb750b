#include "test_mail.h"

#include "automation/automation.h"

namespace vagent {

namespace {

// The step holds the site's file as a plain path; in the connection string a path with ";" or a
// quote is quoted, as the connection string reader expects (double quotes, or single ones around
// a path that holds a double quote).
std::string DataSource(const std::string& path) {
  if (path.find_first_of(";\"'") == std::string::npos) return path;
  return path.find('"') == std::string::npos ? "\"" + path + "\"" : "'" + path + "'";
}

}  // namespace

bool RunTestMailStep(const agent::Step& step, std::string& message) {
  using automation::Variant;
  try {
    std::shared_ptr<automation::Object> db = automation::CreateObject("Brisquel.Database");
    db->Put("ConnectionString", Variant("Data Source=" + DataSource(step.database)));
    // A site that cannot be opened sends nothing; the history says why.
    message = db->Get("LastErrorMessage").ToString();
    if (!message.empty()) return false;
    db->Call("SendTestEMailMessage", {Variant(step.command)});
    message = "The test message was sent; the SMTP dialogue is kept in EMailTestResults.";
    return true;
  } catch (const automation::ComError& e) {
    message = e.description;
    return false;
  }
}

}  // namespace vagent
