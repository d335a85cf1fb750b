// Release notes of a build: the issues still open in it and the issues verified since the previous
// release. Members of Database, registered from release_notes.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;

// Open, valid issues of the project detected in or before ThisBuild and not yet verified.
std::shared_ptr<ado::Recordset> GetReleaseNotesKnownRs(Database& db, int32_t projectId, const std::string& thisBuild,
                                                       const std::string& prevBuild);
// Closed, valid issues of the project verified after PrevBuild and up to ThisBuild, detected in or
// before ThisBuild.
std::shared_ptr<ado::Recordset> GetReleaseNotesCorrectedRs(Database& db, int32_t projectId,
                                                           const std::string& thisBuild,
                                                           const std::string& prevBuild);
// Whether the issue fields that release notes need (DetectedInBuildCode, VerifiedInBuildCode) exist.
bool CanDoReleaseNotes(Database& db);

}  // namespace brisquel
