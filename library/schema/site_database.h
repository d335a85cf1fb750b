// Creating a new site database: the schema at version 1.11 with its first rows, the per-site
// secret and the first site administrator (the installation step; program vantrel-setup).
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brisquel::schema {

inline constexpr std::string_view kDatabaseVersion = "1.11";
// The name of the secret that signs recordset images in VantrelSecrets.
inline constexpr std::string_view kRecordsetImageSecret = "RecordsetImage";
// The password of the demo users.
inline constexpr std::string_view kDemoPassword = "demo";

// A refusal or failure of the setup, worded for the operator.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first problem with a user id ("" when it is fine), in the order the user writers check:
// blank, longer than 50 characters, then the rule (a letter first, then letters and digits).
std::string CheckUserId(const std::string& userId);

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

// Builds the schema and the rows on an open, empty database inside the caller's transaction
// (foreign keys on). Throws SetupError.
void BuildSiteDatabase(sqlite3* db, const std::string& adminUserId, const std::string& adminPassword,
                       bool demo);

}  // namespace brisquel::schema
