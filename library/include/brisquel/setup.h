// Creating a new site database (the installation step; program vantrel-setup).
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace brisquel::schema {

// A refusal or failure of the setup, worded for the operator.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first problem with the first administrator's id and password, or "" when they are fine.
// The id follows the rule of every user id (a letter, then letters and digits, at most 50); the
// password must not be blank and, like every password, has at most 20 characters.
std::string CheckAdministrator(const std::string& userId, const std::string& password);

// Creates the site database file. Refuses an existing path (also a dangling link). The database
// is built under a temporary name in the same folder and moved into place only when complete, so
// a failure leaves nothing behind. Returns one line per thing created, for the operator.
std::vector<std::string> CreateSiteDatabase(const std::filesystem::path& file,
                                            const std::string& adminUserId,
                                            const std::string& adminPassword, bool demo);

// Whether the data link file (a DbConnection.udl) names a database that holds a site: the file and
// its database exist and the database has the site's tables. Nothing is created or changed.
bool IsSiteDatabaseNamedBy(const std::filesystem::path& connectionFile);

}  // namespace brisquel::schema
