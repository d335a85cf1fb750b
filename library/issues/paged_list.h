// A list that is read a page at a time: its total from one count, the rows of the page asked for
// read when AbsolutePage or a move reaches them, every read inside one read transaction of a
// reader connection of its own, which the recordset holds for as long as it lives. The pages
// therefore never drift from the count, whatever is written meanwhile. The statements embed text
// from outside, so each runs under the read-only scope and its time bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "ado/ado.h"
#include "issues/sql_guard.h"

namespace brisquel {

class Database;

struct PagedQuery {
  std::string select;  // the rows, in a total order
  std::string count;   // select count(*) of the same rows
  ado::Params params;  // of the rows
  ado::Params countParams;  // of the count
  sqlguard::NameSet readable;
  std::chrono::milliseconds time{0};
  int32_t pageSize = 10;
};

// The recordset (batch-optimistic, row-version criteria, detached, with the page size) over the
// query's rows; `timedOut` tells when a statement ran past the time. Errors are raised.
std::shared_ptr<ado::Recordset> ReadPaged(Database& db, const PagedQuery& query, bool& timedOut);

}  // namespace brisquel
