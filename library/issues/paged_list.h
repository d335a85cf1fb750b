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
#include <vector>

#include "ado/ado.h"
#include "issues/sql_guard.h"

namespace brisquel {

class Database;

struct PagedQuery {
  std::string select;  // the rows, in a total order
  // When set, `select` is its columns followed by this (FROM to ORDER BY), and a walk through the
  // list may read some of the columns only.
  std::string rowsFrom;
  std::string count;   // select count(*) of the same rows
  // When set, a page past the first is read by its ids: `ids` selects the issue id of each row of
  // `select`, in the same order and with the same parameters, over as few tables and columns as
  // it can (an index of Issues alone, for the standard lists), so that OFFSET steps over index
  // entries rather than whole rows; `rowsOf` selects the columns of `select` for the issues of a
  // table PageIds (Position, IssueId) that the reader supplies, in the order of Position.
  std::string ids;
  std::string rowsOf;
  ado::Params params;  // of the rows
  ado::Params countParams;  // of the count
  sqlguard::NameSet readable;
  // Virtual tables the statements read: connected on the reader before the guard, which refuses
  // what their constructors prepare.
  std::vector<std::string> virtualTables;
  std::chrono::milliseconds time{0};
  // The order is text from outside: its cost, which only a read of rows pays, is paid once
  // before the recordset is made, so that running past the time comes back from this call.
  bool orderFromOutside = false;
  int32_t pageSize = 10;
};

// Why opening a list failed, beside the error raised.
struct PagedFailure {
  bool timedOut = false;  // a statement ran past the time
  // The engine refused a statement's text (an SQL error, or a read the read-only scope denies),
  // and whether it was the count's, which holds the condition but not the order.
  bool refused = false;
  bool inCount = false;
  std::string engineText;  // the engine's own words, for the event log
};

// The recordset (batch-optimistic, row-version criteria, detached, with the page size) over the
// query's rows. Errors are raised, and `failure` tells what they were.
std::shared_ptr<ado::Recordset> ReadPaged(Database& db, const PagedQuery& query, PagedFailure& failure);

}  // namespace brisquel
