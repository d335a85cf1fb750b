// A site database as version 1.00 left it, built from the schema files of today without what the
// version steps add: no e-mail tables, the two resolution columns of IssueHistory nullable, no
// FK_IssueHistory_NewResolutions and FK_Issues_Resolutions, no EMailEnabled on Users and Projects,
// no VantrelSite.WebSiteURL and no site row, none of the indexes and kept counts of
// kWithoutListStructures; with the legacy tables IssueActivity, UseCases and
// ProjectUseCases holding rows, and a project with issues, history and comments.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace upgradefixture {

// Statements that take from a site the indexes and kept issue counts its lists and statistics
// gained in this release, leaving it as the previous release made it.
extern const char* const kWithoutListStructures;

// Creates the 1.00 database at `file` with `issues` issues, each with `historyPerIssue` history
// rows and one comment.
void Create(const std::filesystem::path& file, int issues = 3, int historyPerIssue = 2);

// The schema and catalogue of the database in a normalised form, one line per fact: tables and
// their columns (type, null, default, collation, key), indexes, triggers, declared foreign keys,
// VantrelConstraints rows and the rows of the e-mail tables (without row versions). Tables named
// in `skip` are left out.
std::vector<std::string> Normalised(const std::filesystem::path& file, const std::vector<std::string>& skip = {});

}  // namespace upgradefixture
