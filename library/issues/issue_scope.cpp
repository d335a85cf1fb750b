#include "issues/issue_scope.h"

#include <algorithm>
#include <cctype>

#include "core/buffer.h"
#include "core/database.h"
#include "core/lookups.h"

namespace brisquel::lists {

bool MayViewProject(Database& db, const std::string& userId, int32_t projectId) {
  const UserRoles roles = ReadUserRoles(db, userId);
  if (roles.siteAdmin) return true;
  if (UserIsProjectMember(db, userId, projectId)) return true;
  return roles.publicUser &&
         db.Exists("select ProjectId from Projects where ProjectId = ? and PublicAccessible = 1",
                   {ado::Param::Long(projectId)});
}

std::string VisibleProjectsTest(Database& db, const std::string& userId, std::string_view column,
                                ado::Params& params) {
  const UserRoles roles = ReadUserRoles(db, userId);
  if (roles.siteAdmin) return {};
  if (roles.publicUser)
    return " and " + std::string(column) + " in (select ProjectId from Projects where PublicAccessible = 1) ";
  params.push_back(UserParam(userId));
  return " and " + std::string(column) + " in (select ProjectId from ProjectUsers where UserId = ?) ";
}

ado::Param UserParam(const std::string& userId, std::string name) {
  auto width = static_cast<int32_t>(std::max<size_t>(50, CharLength(userId)));
  return ado::Param::Text(userId, width, std::move(name));
}

bool Flag(const automation::Variant& v) { return !v.IsNull() && !v.IsEmpty() && v.ToBool(); }


}  // namespace brisquel::lists
