// Which issues a user may see, shared by the issue list, the reports, the charts and the release
// notes: the scope of ProjectId -1, whether an explicit project is open to the user, and the user
// id parameter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ado/types.h"
#include "automation/automation.h"
#include "automation/text.h"

namespace brisquel {
class Database;
}

namespace brisquel::lists {

// A test that no row passes, added to a statement's scope when the user may not see the project
// he names, so that the caller gets the usual (empty) result.
inline constexpr const char* kNoRows = " and 0 = 1 ";

// True when `userId` may see project `projectId`: a site administrator sees every project, a
// member his projects, a public user the publicly accessible ones.
bool MayViewProject(Database& db, const std::string& userId, int32_t projectId);

// For ProjectId -1 in the reports: " and <column> in (...)" limiting rows to the projects the
// user may see (nothing for a site administrator), its parameters appended to `params`.
std::string VisibleProjectsTest(Database& db, const std::string& userId, std::string_view column,
                                ado::Params& params);

// A user id as a text parameter of the width user ids have (50); a longer text (which names no
// user) is bound whole rather than cut, so it matches nothing.
ado::Param UserParam(const std::string& userId, std::string name = {});

// A recordset flag: Null and Empty count as False.
bool Flag(const automation::Variant& v);


}  // namespace brisquel::lists
