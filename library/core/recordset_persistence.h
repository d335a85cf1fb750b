// Recordsets as strings between requests: rsToString / rsFromString carry the signed image's bytes,
// rsToXml / rsFromXml the same bytes escaped (EncodeByteArray). The image is signed with the site's
// secret, so a string that was altered, forged or made for another site is refused.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"

namespace brisquel {

std::string RsToString(Database& db, const std::shared_ptr<ado::Recordset>& v);
std::shared_ptr<ado::Recordset> RsFromString(Database& db, const std::string& s);
std::string RsToXml(Database& db, const std::shared_ptr<ado::Recordset>& v);
std::shared_ptr<ado::Recordset> RsFromXml(Database& db, const std::string& s);

// For writers taking a recordset back: true when its base table is `table` alone and it holds
// that table's key `key` (column names, any order, without regard to case).
bool RecordsetHolds(const ado::Recordset& rs, std::string_view table, const std::vector<std::string>& key);

}  // namespace brisquel
