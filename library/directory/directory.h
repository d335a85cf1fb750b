// The writers of users, groups and projects. Each is a free function on a Database, registered by
// name on Database from its own source file; on an expected refusal it returns False with the
// sentence in LastErrorMessage.
#pragma once

#include <memory>
#include <string>

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;
class MultipartFormData;
using FormPtr = std::shared_ptr<MultipartFormData>;
using RecordsetPtr = std::shared_ptr<ado::Recordset>;

// Users (create_user.cpp, update_user.cpp, delete_user.cpp).
bool CreateUser(Database& db, const std::string& submittedByUserId, FormPtr formData);
bool CreatePublicUser(Database& db, FormPtr formData);
bool UpdateUser(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser, FormPtr formData);
bool DeleteUser(Database& db, const std::string& submittedByUserId, FormPtr formData);

// Groups (groups.cpp) and projects (create_project.cpp, update_project.cpp, delete_project.cpp).
bool CreateGroup(Database& db, const std::string& userId, FormPtr formData);
bool DeleteGroup(Database& db, const std::string& userId, FormPtr formData);
bool CreateProject(Database& db, const std::string& submittedByUserId, FormPtr formData);
bool UpdateProject(Database& db, const std::string& submittedByUserId, RecordsetPtr rsProject, FormPtr formData);
bool DeleteProject(Database& db, const std::string& userId, FormPtr formData);

// A user's own row (personal_settings.cpp).
bool UpdateMyUserInfo(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser, FormPtr formData);
bool UpdatePersonalize(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser, FormPtr formData);
bool UpdatePersonalizeSearch(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser,
                             FormPtr formData);
bool UpdatePersonalizeReleaseNotes(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser,
                                   FormPtr formData);

}  // namespace brisquel
