// A user's saved filters of the issue list: created, changed and deleted from the posted form.
// Members of Database, registered from filter_writers.cpp.
//
// A wizard filter's SQL is never taken from the form: the library reads the posted
// FilterExpression against the issue-field catalogue and stores the SQL it generates itself. An
// advanced filter (typed SQL) is checked by SQLHelper first and stored in both columns.
#pragma once

#include <memory>
#include <string>

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;
class MultipartFormData;

// The AvailableFields text of the query wizard for the user: every field a criterion may name, from
// the same catalogue rows the wizard filters' SQL is made with; code fields with their values.
std::string GetFilterFieldsText(Database& db, const std::string& userId);

bool CreateFilter(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);
// `rsFilter` is the row GetSummaryFilterRs gave for `userId`; a row of another user is the
// caller's error.
bool UpdateFilter(Database& db, const std::string& userId, std::shared_ptr<ado::Recordset> rsFilter,
                  std::shared_ptr<MultipartFormData> formData);
// Deletes the filters named (URL-encoded) by "chkFilter", all or none.
bool DeleteFilter(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);

}  // namespace brisquel
