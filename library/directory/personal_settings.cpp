// A signed-in user's own row: personal information (UpdateMyUserInfo) and the personal settings of
// the three paged lists. Each checks that the page's recordset holds the submitter's own row,
// checks the form, and writes the row back with the row-version check.
#include <functional>
#include <memory>
#include <string>

#include "automation/text.h"
#include "core/conversions.h"
#include "core/database.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "directory/directory.h"
#include "directory/user_fields.h"

namespace brisquel {

using automation::Variant;
using namespace directory;

namespace {

constexpr std::string_view kClass = "Database";
constexpr const char* kNotOwnInfo = "Only your own personal information can be updated.";
constexpr const char* kNotOwnSettings = "You can only modify your own personal settings.";
constexpr const char* kInfoConflict = "Another session has changed this information. You must cancel your changes.";
constexpr const char* kSettingsConflict =
    "Another session has saved your personalization settings. You must cancel these changes.";

// The common frame: the own-row guard, then `fill` (checks, then values into the recordset), then one transaction
// writing the row (and any secrets) back.
bool OwnRowWriter(Database& db, std::string_view method, const std::string& submittedBy, const RecordsetPtr& rsUser,
                  const FormPtr& formData, const char* notOwn, const char* conflict,
                  const std::function<void(ado::Recordset&, const FormFields&, SecretChange&, SecretChange&)>& fill) {
  return Writer(db, kClass, method, [&] {
    ado::Recordset& rs = HeldFirstRow(rsUser, "Users", method);
    if (!automation::EqualsNoCase(rs.Value("UserId").ToString(), submittedBy)) Refuse(notOwn);
    const FormFields& f = PostedFields(formData, method);
    SecretChange password, answer;
    fill(rs, f, password, answer);  // checks first: a refused form opens no transaction
    Database::Transaction tx(db);
    WriteStep(db, [&] { WriteUserRow(db, rs, password, answer); }, conflict);
    tx.Commit();
    return true;
  });
}

// Issues per page of a paged list: a whole number of 1 or more (a list cannot page by 0 or fewer);
// the list of one's own issues takes at most 1,000.
int16_t IssuesPerPage(const FormFields& f, std::string_view name, bool upToAThousand) {
  const std::string text = PostedText(f, name);
  if (text.empty()) Refuse("Issues per page cannot be blank.");
  int16_t n = 0;
  if (!CnvToInt(text, n)) Refuse("Issues per page must be an integer number.");
  if (upToAThousand && (n < 1 || n > 1000)) Refuse("Issues per page must be an integer number between 1 and 1,000.");
  if (n < 1) Refuse("Issues per page must be a positive integer number.");
  return n;
}

bool PageSizeWriter(Database& db, std::string_view method, std::string_view column, const std::string& submittedBy,
                    const RecordsetPtr& rsUser, const FormPtr& formData) {
  return OwnRowWriter(db, method, submittedBy, rsUser, formData, kNotOwnSettings, kSettingsConflict,
                      [&](ado::Recordset& rs, const FormFields& f, SecretChange&, SecretChange&) {
                        rs.SetValue(column, Variant::Integer(IssuesPerPage(f, column, false)));
                      });
}

}  // namespace

bool UpdateMyUserInfo(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser, FormPtr formData) {
  return OwnRowWriter(db, "UpdateMyUserInfo", submittedByUserId, rsUser, formData, kNotOwnInfo, kInfoConflict,
                      [&](ado::Recordset& rs, const FormFields& f, SecretChange& password, SecretChange& answer) {
                        const AccountForm a = ReadAccount(f);
                        CheckName(a);
                        CheckEMail(a);
                        CheckPassword(a);
                        CheckQuestionLengths(a);
                        CheckAnswerNeedsQuestion(a);
                        rs.SetValue("UserName", Variant(a.name));
                        rs.SetValue("UserEMail", Variant(a.email));
                        rs.SetValue("SecretQuestion", Variant(a.question));
                        rs.SetValue("EMailEnabled", Variant(a.emailEnabled));
                        password = PasswordChange(a.password1);
                        answer = AnswerChange(a.question, a.answer);
                      });
}

bool UpdatePersonalize(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser, FormPtr formData) {
  return OwnRowWriter(db, "UpdatePersonalize", submittedByUserId, rsUser, formData, kNotOwnSettings,
                      kSettingsConflict, [&](ado::Recordset& rs, const FormFields& f, SecretChange&, SecretChange&) {
                        const int16_t perPage = IssuesPerPage(f, "MyAssignmentNumIssues", true);
                        const std::string projectText = PostedText(f, "DefaultProject");
                        int32_t project = -1;
                        if (!projectText.empty()) CnvToLong(projectText, project);
                        rs.SetValue("MyAssignmentNumIssues", Variant::Integer(perPage));
                        rs.SetValue("DefaultProject", Variant(project));
                        // The filter and layout are names the page offered: stored as posted, when
                        // their columns hold them.
                        const std::string filter = f.Text("DefaultFilter"), layout = f.Text("DefaultLayout");
                        CheckLength(filter, 100, "Default filter");
                        CheckLength(layout, 50, "Default layout");
                        rs.SetValue("DefaultFilter", Variant(filter));
                        rs.SetValue("DefaultLayout", Variant(layout));
                      });
}

bool UpdatePersonalizeSearch(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser,
                             FormPtr formData) {
  return PageSizeWriter(db, "UpdatePersonalizeSearch", "SearchNumIssues", submittedByUserId, rsUser, formData);
}

bool UpdatePersonalizeReleaseNotes(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser,
                                   FormPtr formData) {
  return PageSizeWriter(db, "UpdatePersonalizeReleaseNotes", "ReleaseNotesNumIssues", submittedByUserId, rsUser,
                        formData);
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("UpdateMyUserInfo", &UpdateMyUserInfo);
  c.Method("UpdatePersonalize", &UpdatePersonalize);
  c.Method("UpdatePersonalizeSearch", &UpdatePersonalizeSearch);
  c.Method("UpdatePersonalizeReleaseNotes", &UpdatePersonalizeReleaseNotes);
});

}  // namespace

}  // namespace brisquel
