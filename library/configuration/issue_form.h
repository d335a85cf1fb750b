// The issue form's configuration writers: custom fields (columns of Issues within the row budget),
// the users' summary layouts and the issue entry layout. Registered by name on Database from
// custom_fields.cpp and layouts.cpp.
#pragma once

#include <memory>
#include <string>

#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"

namespace brisquel {

bool CreateCustomField(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);
bool UpdateCustomField(Database& db, const std::string& userId, RecordsetPtr rsField,
                       std::shared_ptr<MultipartFormData> formData);
bool DeleteCustomField(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);

bool CreateLayout(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);
bool UpdateLayout(Database& db, const std::string& userId, RecordsetPtr rsLayout,
                  std::shared_ptr<MultipartFormData> formData);
bool DeleteLayout(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);
bool UpdateDataEntryLayout(Database& db, const std::string& userId, RecordsetPtr rsLayout,
                           std::shared_ptr<MultipartFormData> formData);

}  // namespace brisquel
