// DbAdmin's connection state and its ways to the job agent and the file system.
#include "maintenance/db_admin.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "automation/text.h"
#include "ado/ado.h"
#include "core/error_protocol.h"
#include "core/multipart.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "DbAdmin";

// The items between the ";"s. As the connection reads them, a value that starts with a quote runs
// to the matching quote (a doubled one stands for itself), so a site's file whose path holds ";"
// or a quote stays one item.
std::vector<std::string> Items(const std::string& s) {
  std::vector<std::string> out(1);
  char quote = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    std::string& item = out.back();
    if (quote) {
      if (c == quote && i + 1 < s.size() && s[i + 1] == quote)
        item += s[i++];
      else if (c == quote)
        quote = 0;
    } else if (c == ';') {
      out.emplace_back();
      continue;
    } else if (c == '"' || c == '\'') {
      size_t eq = item.find('=');
      if (eq != std::string::npos && item.find_first_not_of(' ', eq + 1) == std::string::npos) quote = c;
    }
    item += c;
  }
  return out;
}

// A value without the quotes around it, each doubled quote read as one.
std::string Unquoted(const std::string& v) {
  size_t b = v.find_first_not_of(' '), e = v.find_last_not_of(' ');
  if (b == std::string::npos || e == b || (v[b] != '"' && v[b] != '\'') || v[e] != v[b]) return v;
  std::string out;
  for (size_t i = b + 1; i < e; ++i) {
    out += v[i];
    if (v[i] == v[b] && i + 1 < e && v[i + 1] == v[b]) ++i;
  }
  return out;
}

bool HasKey(const std::string& item, std::string_view key, std::string& value) {
  if (item.size() < key.size() || !automation::EqualsNoCase(std::string_view(item).substr(0, key.size()), key))
    return false;
  value = item.substr(key.size());
  return true;
}

}  // namespace

ConnectionParms GetConnectionParms(const std::string& connectionString) {
  ConnectionParms p;
  bool server = false, catalog = false, login = false, password = false;
  for (const std::string& item : Items(connectionString)) {
    std::string v;
    if (!server && HasKey(item, "Data Source=", v)) {
      server = true;
      v = Unquoted(v);
      p.serverName = automation::EqualsNoCase(v, "(local)") ? std::string(".") : std::move(v);
    } else if (!catalog && HasKey(item, "Initial Catalog=", v)) {
      catalog = true;
      p.databaseName = v;
    } else if (automation::EqualsNoCase(item, "Integrated Security=SSPI")) {
      p.integratedSecurity = true;
    } else if (!login && HasKey(item, "User ID=", v)) {
      login = true;
      p.loginName = v;
    } else if (!password && HasKey(item, "Password=", v)) {
      password = true;
      p.loginPassword = v == "\"\"" ? "" : v;
    }
  }
  // Jobs are keyed by the site's file: the same file reached by two spellings is one server.
  if (!p.serverName.empty() && p.serverName != ".") {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::weakly_canonical(std::filesystem::absolute(p.serverName, ec), ec);
    if (!ec) p.serverName = abs.string();
  }
  return p;
}

DbAdmin::~DbAdmin() = default;

void DbAdmin::SetConnectionString(const std::string& s) {
  site_->SetLastErrorMessage("");
  try {
    site_->SetConnectionString(s);
    connectionString_ = site_->Connection().ConnectionString();
  } catch (const automation::ComError& e) {
    site_->SetLastErrorMessage(UnexpectedRuntimeErrorReport({e.number, e.source, e.description, e.line}));
  }
}

void DbAdmin::CloseSite() {
  std::string message = site_->LastErrorMessage();
  site_ = std::make_unique<Database>();
  site_->SetLastErrorMessage(message);
}

void DbAdmin::ConnectToDMO() {
  Procedure(kClass, "ConnectToDMO", [&] {
    management_.reset();
    parms_ = GetConnectionParms(connectionString_);
    management_ = std::make_unique<agent::Store>();
  });
}

agent::Store& DbAdmin::Management() {
  if (!management_) throw automation::ComError(kContractViolation, std::string(kClass), "ConnectToDMO first.");
  return *management_;
}

void DbAdmin::Pause(int seconds) {
  if (pause_) {
    pause_(seconds);
    return;
  }
  ::sleep(static_cast<unsigned>(seconds));
}

// The folder test runs on this computer, where the site and the agent are.
bool FolderExists(DbAdmin& a, const std::string& filename) {
  return Procedure(kClass, "FolderExists", [&] {
    Database& db = a.Site();
    if (filename.empty() || filename[0] != '/')
      return db.Fail("Folder name must begin with either '\\' or a drive specification.");
    std::error_code ec;
    if (!std::filesystem::is_directory(filename, ec)) return db.Fail(std::strerror(ec ? ec.value() : ENOTDIR));
    if (::access(filename.c_str(), X_OK) != 0) return db.Fail(std::strerror(errno));
    return true;
  });
}

std::string GetConnectionStringForMasterDb(DbAdmin& a) {
  std::vector<std::string> items = Items(a.GetConnectionString());
  if (!items.empty() && items.back().empty()) items.pop_back();
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    std::string v;
    if (i) out += ";";
    out += HasKey(items[i], "Initial Catalog=", v) ? "Initial Catalog=Master" : items[i];
  }
  return out;
}

namespace {

automation::Register<DbAdmin> reg("DbAdmin", "Brisquel.DbAdmin", [](auto& c) {
  c.Property("ConnectionString", &DbAdmin::GetConnectionString, &DbAdmin::SetConnectionString);
  c.Property("LastErrorMessage", &DbAdmin::GetLastErrorMessage);
  c.Method("FolderExists", &FolderExists);
  c.Method("GetBackupRs", &GetBackupRs);
  c.Method("GetBackupFrequencyRs", &GetBackupFrequencyRs);
  c.Method("GetBackupTimesRs", &GetBackupTimesRs);
  c.Method("GetBackupRetentionRs", &GetBackupRetentionRs);
  c.Method("UpdateBackup", &UpdateBackup);
  c.Method("InitializeJobSchedule", &InitializeJobSchedule);
  c.Method("GetBackupHistoryRs", &GetBackupHistoryRs);
  c.Method("GetBackupLogRs", &GetBackupLogRs);
  c.Method("GetAvailableBackupsRs", &GetAvailableBackupsRs);
  c.Method("DoRestore", &DoRestore, {automation::Variant("")});
  // Callers that do not say who they are get "Permission denied.".
  c.Method("DoBackup", &DoBackup, {automation::Variant("")});
});

}  // namespace

}  // namespace brisquel
