// What the project writers share: the posted project form read once, its checks, and the
// members, flags and group leads written from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/code_table_lookup.h"
#include "core/database.h"
#include "core/multipart.h"

namespace brisquel::directory {

struct GroupLead {
  std::string userId, groupCode;
};

struct ProjectForm {
  std::string description, publicGroup;
  bool publicAccessible = false, emailEnabled = false;
  // Decoded; each user and each group row kept once (the first).
  std::vector<std::string> members, overrideWorkflow, admins;
  std::vector<GroupLead> leads;
};

// Description, public flag and group, e-mail flag, checked in that order; then the lists
// (OverrideWorkflow only when `withOverride`).
ProjectForm ReadProjectForm(const FormFields& f, bool withOverride);

// The code tables that hold a list per project (as the catalogue lists them), their names checked
// and quoted.
std::vector<QuotedCodeTable> PerProjectCodeTables(Database& db, const std::string& userId);

// Every member and every group lead must be a user: otherwise refused, "The user '<id>' does not
// exist.", before anything is written.
void CheckTeam(Database& db, const ProjectForm& p);

// Members, then the override and administrator flags (members only), then the group leads: a lead
// not yet in the group joins it first.
void WriteMembers(Database& db, int32_t projectId, const ProjectForm& p);

}  // namespace brisquel::directory
