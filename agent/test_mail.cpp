#include "test_mail.h"

#include "ado/connection_string.h"
#include "automation/automation.h"

namespace vagent {

bool RunTestMailStep(const agent::Step& step, std::string& message) {
  using automation::Variant;
  try {
    std::shared_ptr<automation::Object> db = automation::CreateObject("Brisquel.Database");
    db->Put("ConnectionString", Variant("Data Source=" + ado::QuoteConnectionValue(step.database)));
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
