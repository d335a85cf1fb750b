// The issue lists: one project's or every visible project's issues through a filter (standard,
// saved or raw condition), a word search and a jump to one issue number. Members of Database,
// registered from issue_list.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;

// Filter: "s:allopen", "s:all", "s:" + user id (his open issues), "x:" + condition, otherwise
// "u:" + saved filter name. ProjectId -1: every project the user may see. Nothing (nullptr), with
// LastErrorMessage set, when the condition or the order is refused or the list cannot be read.
std::shared_ptr<ado::Recordset> GetFilteredIssuesRs(Database& db, int32_t projectId, const std::string& filter,
                                                    const std::string& currentUser, const std::string& orderBy,
                                                    int16_t orderSeq);
// The issues whose text fields or comments contain `criteria` (literally: % and _ are no wildcards).
std::shared_ptr<ado::Recordset> FindIssueByTextRs(Database& db, const std::string& userId, int32_t projectId,
                                                  bool includeClosed, const std::string& orderBy, int16_t orderSeq,
                                                  const std::string& criteria);
// The list holding issue `issueId` when it lies in the scope; empty otherwise.
std::shared_ptr<ado::Recordset> FindIssueByIdRs(Database& db, const std::string& userId, int32_t projectId,
                                                int32_t issueId);

}  // namespace brisquel
