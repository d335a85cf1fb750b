// The notification service's schedule in the registry: which databases it serves (values under
// Databases, one per database name) and how often it starts the sender (EMailSchedule, minutes).
#include <filesystem>
#include <optional>

#include "ado/ado.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/multipart.h"
#include "notifications/email_config.h"
#include "notifications/notifications.h"
#include "registry/registry.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "Notifications";
constexpr std::string_view kCatalog = "Initial Catalog=";
constexpr std::string_view kSchedule = "EMailSchedule";

// The connection string the service hands to the sender for this site: the data-link file
// DbConnection.udl in the web application's folder, whose content is the site's own connection
// string. Naming the file rather than copying the connection string keeps the registry free of
// whatever the connection string carries and lets the site's folder decide where its database is.
// The folder is made absolute because the sender runs in the service's installation folder.
std::string DataLink(const std::string& folder) {
  std::filesystem::path p(folder);
  if (p.is_relative()) p = std::filesystem::absolute(p);
  return "File name=" + (p / "DbConnection.udl").string();
}

// What the schedule follows of the configuration row (the row GetEMailConfigRs reads).
struct MailSchedule {
  bool enabled = false;
  std::string frequency;
};
MailSchedule ReadMailSchedule(Database& db) {
  std::optional<MailSchedule> out;
  db.Each("select EMailEnabled, DeliveryFrequency from EMailConfiguration", {}, [&](const sql::Row& r) {
    if (!out) out = MailSchedule{r.Flag("EMailEnabled"), r.Text("DeliveryFrequency")};
  });
  return out.value_or(MailSchedule{});
}

// "0" stops the service's sending for every database on the machine, so it is written only when
// no database is left to serve.
void StopScheduleWhenNoneRegistered() {
  if (registry::ReadValues(registry::kDatabasesKey).empty())
    registry::WriteValue(registry::kVantrelKey, kSchedule, "0");
}

}  // namespace

std::string GetDbName(Notifications& /*n*/, Database& db) {
  return Procedure(kClass, "GetDbName", [&] {
    const std::string cs = db.Connection().ConnectionString();
    size_t start = 0;
    while (start <= cs.size()) {
      size_t end = cs.find(';', start);
      if (end == std::string::npos) end = cs.size();
      std::string_view part(cs.data() + start, end - start);
      if (part.size() >= kCatalog.size() && EqualsNoCase(part.substr(0, kCatalog.size()), kCatalog))
        return std::string(part.substr(kCatalog.size()));
      start = end + 1;
    }
    return std::string();
  });
}

bool UpdateEMailJob(Notifications& n, Database& db, const std::string& virtualDirectoryPath) {
  return Procedure(kClass, "UpdateEMailJob", [&] {
    n.SetLastErrorMessage("");
    const MailSchedule schedule = ReadMailSchedule(db);
    const bool enabled = schedule.enabled;
    const std::string name = GetDbName(n, db);

    if (name.empty()) {
      // Without a name the value path would be the Databases key itself: nothing under it is
      // touched, so no other site's registration can be lost.
      if (enabled)
        return n.Fail(
            "The database name cannot be read from the connection, so the notification service cannot serve "
            "this site.");
      StopScheduleWhenNoneRegistered();
      return true;
    }
    if (enabled && virtualDirectoryPath.empty())
      ThrowError(kClass, "UpdateEMailJob", "VirtualDirectoryPath is needed to register the site for e-mail delivery.");

    // Removed first so that a moved site is registered with its current folder and a disabled one
    // disappears from the service's list; a value that is not there is not an error.
    try {
      registry::DeleteValue(registry::kDatabasesKey, name);
    } catch (...) {
    }
    if (enabled) {
      registry::WriteValue(registry::kDatabasesKey, name, DataLink(virtualDirectoryPath));
      registry::WriteValue(registry::kVantrelKey, kSchedule, schedule.frequency);
    } else {
      StopScheduleWhenNoneRegistered();
    }
    return true;
  });
}

ScheduleState CurrentSchedule(Notifications& n, Database& db) {
  ScheduleState s;
  s.name = GetDbName(n, db);
  if (!s.name.empty()) s.registration = registry::ReadValue(registry::kDatabasesKey, s.name);
  s.schedule = registry::ReadValue(registry::kVantrelKey, kSchedule);
  return s;
}

void RestoreSchedule(const ScheduleState& s) noexcept {
  try {
    if (!s.name.empty()) {
      if (s.registration)
        registry::WriteValue(registry::kDatabasesKey, s.name, *s.registration);
      else
        registry::DeleteValue(registry::kDatabasesKey, s.name);
    }
    if (s.schedule)
      registry::WriteValue(registry::kVantrelKey, kSchedule, *s.schedule);
    else if (registry::KeyExists(registry::kVantrelKey))
      registry::DeleteValue(registry::kVantrelKey, kSchedule);
  } catch (const std::exception& e) {
    WriteErrorEvent(std::string(kLibraryName) + ".dll:Notifications.UpdateEMailJob logged: the schedule could not be "
                    "put back: " + e.what());
  }
}

namespace {

std::shared_ptr<Database>& Required(std::shared_ptr<Database>& db) {
  if (!db) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
  return db;
}

bool UpdateEMailJobByName(Notifications& n, std::shared_ptr<Database> db, const std::string& virtualDirectoryPath) {
  return UpdateEMailJob(n, *Required(db), virtualDirectoryPath);
}

std::string GetDbNameByName(Notifications& n, std::shared_ptr<Database> db) { return GetDbName(n, *Required(db)); }

automation::Register<Notifications> reg([](auto& c) {
  c.Method("UpdateEMailJob", &UpdateEMailJobByName);
  c.Method("GetDbName", &GetDbNameByName);
});

}  // namespace

}  // namespace brisquel
