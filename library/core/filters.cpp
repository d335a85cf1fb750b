// The filters a user may pick on the issue list: built in memory, each row pairing the text shown
// with the identifier the issue list takes back ("s:<user>", "s:allopen", "s:all", "u:<name>").
#include <memory>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "Database";
constexpr int32_t kUserIdWidth = 50;
// "Assigned to " and a user id; "s:"/"u:" and a user id or filter name.
constexpr int32_t kFilterNameSize = 12 + kUserIdWidth;
constexpr int32_t kFilterIdSize = 2 + kUserIdWidth;

}  // namespace

RecordsetPtr GetUserFiltersRs(Database& db, int32_t projectId, const std::string& userId) {
  return Procedure(kClass, "GetUserFiltersRs", [&] {
    auto filters = std::make_shared<ado::Recordset>();
    filters->AppendField("FilterName", ado::adVarChar, kFilterNameSize, 0);
    filters->AppendField("FilterId", ado::adVarChar, kFilterIdSize, 0);
    filters->Open(Variant::Missing(), Variant::Missing(), ado::adOpenUnspecified, ado::adLockUnspecified,
                  ado::adCmdUnspecified);
    const Variant fields(std::vector<Variant>{Variant("FilterName"), Variant("FilterId")});
    auto add = [&](std::string name, std::string id) {
      filters->AddNew(fields, Variant(std::vector<Variant>{Variant(std::move(name)), Variant(std::move(id))}));
    };

    add("Assigned to me", "s:" + userId);
    auto other = [&](const sql::Row& r) {
      std::string user = r.Text("UserId");
      if (!EqualsNoCase(user, userId)) add("Assigned to " + user, "s:" + user);
    };
    if (projectId != -1)
      EachProjectUser(db, projectId, other);
    else
      EachUserProjectsUser(db, userId, other);
    add("All open issues", "s:allopen");
    add("All issues", "s:all");
    EachSummaryFilter(db, userId, [&](const sql::Row& r) {
      std::string name = r.Text("FilterName");
      add(name, "u:" + name);
    });
    // Left on the last row appended, as callers have always had it; they move to the first.
    return filters;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) { c.Method("GetUserFiltersRs", &GetUserFiltersRs); });

}  // namespace

}  // namespace brisquel
