// Creating a new site database: the schema at version 1.11 with its first rows, the per-site
// secret and the first site administrator (the installation step; program vantrel-setup).
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "brisquel/setup.h"

namespace brisquel::schema {

inline constexpr std::string_view kDatabaseVersion = "1.11";
// The name of the secret that signs recordset images in VantrelSecrets.
inline constexpr std::string_view kRecordsetImageSecret = "RecordsetImage";
// The password of the demo users.
inline constexpr std::string_view kDemoPassword = "demo";

// The first problem with a user id ("" when it is fine), in the order the user writers check:
// blank, longer than 50 characters, then the rule (a letter first, then letters and digits).
std::string CheckUserId(const std::string& userId);

// Builds the schema and the rows on an open, empty database inside the caller's transaction
// (foreign keys on). Throws SetupError.
void BuildSiteDatabase(sqlite3* db, const std::string& adminUserId, const std::string& adminPassword,
                       bool demo);

}  // namespace brisquel::schema
