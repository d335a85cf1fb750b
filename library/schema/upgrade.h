// DbUpgrader ("Brisquel.DbUpgrader"): brings a site database made by an earlier release to the
// current schema in place, step by step from the version its site table records, all steps in one
// transaction on the caller's connection, and finishing with the indexes, the kept issue counts
// and the word search's indexes a new site has (also on a site of the current version that lacks
// them). Database.UpgradeDatabase
// runs it on the object's own connection.
#pragma once

#include <cstdint>
#include <memory>

#include "ado/connection.h"
#include "automation/automation.h"
#include "core/trace.h"

namespace brisquel {

class DbUpgrader : public automation::Dispatchable<DbUpgrader> {
 public:
  // Brings the database to 1.11 and completes its indexes and kept counts; a 1.11 database that
  // has them all is left untouched, one of a later version too. A failing step rolls the whole upgrade back before its error
  // leaves, so the connection holds no half-open transaction; no version is recorded then.
  void Upgrade(std::shared_ptr<ado::Connection> db);

 private:
  // The recorded version times 100 (110 for 1.1): 100 without a site row, 0 without a site table.
  // Any other failure of the read is raised.
  int16_t ReadVersion(ado::Connection& db);
  void Steps(ado::Connection& db, int16_t version);
  void Upgrade100to101(ado::Connection& db);
  void Upgrade101to110(ado::Connection& db);
  void Upgrade110to111(ado::Connection& db);
  // Creates every index of the schema files the database lacks, and IssueCounts with its triggers,
  // counted from the issues, when any of them is missing. The version stays as it is.
  void CompleteIndexesAndCounts(ado::Connection& db);
  // Creates and fills the indexes of the word search the database lacks (the comments' and one per
  // text field), and drops those of fields no longer searched.
  void CompleteTextSearch(ado::Connection& db);
  void UpdateVersion(ado::Connection& db, double version);
  // Runs one statement whose refusal (a missing table, a column or table already there, a table
  // still referred to) the 1.10 step only traces, with `text` before the reason. Any other failure,
  // and any that ended the transaction (a full disk, an I/O error), stops the upgrade.
  void Tolerated(ado::Connection& db, const char* text, const std::function<void()>& statement);

  VTLLogging log_;
};

}  // namespace brisquel
