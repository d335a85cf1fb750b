#include "jobstore/maintenance_command.h"

#include <array>

#include "automation/text.h"

namespace agent {

namespace {

struct Switch {
  std::string_view name;
  bool optional;
  bool hasValue;
};

// The switches in the order the writer puts them.
constexpr std::array<Switch, 10> kShape{{{"-S", false, true},
                                         {"-U", true, true},
                                         {"-P", true, true},
                                         {"-D", false, true},
                                         {"-Rpt", false, true},
                                         {"-DelTxtRpt", true, true},
                                         {"-CkDB", true, false},
                                         {"-BkUpDB", false, true},
                                         {"-BkUpMedia", false, true},
                                         {"-DelBkUps", true, true}}};

constexpr std::string_view kPrefix = "EXECUTE master.dbo.xp_sqlmaint N'";

bool StartsSwitch(std::string_view body, size_t at, std::string_view name) {
  if (body.substr(at, name.size()) != name) return false;
  size_t end = at + name.size();
  return end == body.size() || body[end] == ' ';
}

// Where the value that starts at `from` ends: before the first blank that begins one of the
// switches that may follow switch `index`.
size_t ValueEnd(std::string_view body, size_t from, size_t index) {
  for (size_t at = from; at < body.size(); ++at) {
    if (body[at] != ' ') continue;
    for (size_t k = index + 1; k < kShape.size(); ++k)
      if (StartsSwitch(body, at + 1, kShape[k].name)) return at;
  }
  return body.size();
}

std::optional<std::string> Quoted(const std::string& v) {
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return std::nullopt;
  return v.substr(1, v.size() - 2);
}

// "Nweeks" with N from 1 to 9.
int Weeks(const std::string& v) {
  if (v.size() != 6 || v[0] < '1' || v[0] > '9' || v.substr(1) != "weeks") return -1;
  return v[0] - '0';
}

bool Apply(MaintenancePlan& plan, std::string_view name, const std::string& value) {
  if (name == "-S") {
    auto q = Quoted(value);
    if (!q || q->empty() || (*q)[0] != '/') return false;
    plan.server = *q;
  } else if (name == "-U" || name == "-P") {
    auto q = Quoted(value);
    if (!q) return false;
    if (name == "-U") plan.login = *q;
    else plan.passwordGiven = !q->empty();
  } else if (name == "-D") {
    if (value.empty() || value.find('/') != std::string::npos) return false;
    plan.database = value;
  } else if (name == "-Rpt") {
    if (value.empty() || value[0] != '/') return false;
    plan.report = value;
  } else if (name == "-DelTxtRpt") {
    plan.deleteReportsWeeks = Weeks(value);
    return plan.deleteReportsWeeks > 0;
  } else if (name == "-CkDB") {
    plan.checkDatabase = true;
  } else if (name == "-BkUpDB") {
    if (value.empty() || value[0] != '/') return false;
    plan.backupFolder = value;
  } else if (name == "-BkUpMedia") {
    return value == "DISK";
  } else if (name == "-DelBkUps") {
    plan.deleteBackupsWeeks = Weeks(value);
    return plan.deleteBackupsWeeks > 0;
  }
  return true;
}

}  // namespace

std::string WriteMaintenanceCommand(const MaintenancePlan& plan) {
  std::string c = std::string(kPrefix) + "-S \"" + plan.server + "\"";
  if (plan.login) c += " -U \"" + *plan.login + "\" -P \"" + (plan.passwordGiven ? "***" : "") + "\"";
  c += " -D " + plan.database;
  c += " -Rpt " + plan.report.string() + " ";
  if (plan.deleteReportsWeeks > 0) c += " -DelTxtRpt " + std::to_string(plan.deleteReportsWeeks) + "weeks ";
  if (plan.checkDatabase) c += " -CkDB ";
  c += " -BkUpDB " + plan.backupFolder.string();
  c += " -BkUpMedia DISK ";
  if (plan.deleteBackupsWeeks > 0) c += " -DelBkUps " + std::to_string(plan.deleteBackupsWeeks) + "weeks ";
  return c + "'";
}

std::optional<MaintenancePlan> ParseMaintenanceCommand(std::string_view command) {
  if (command.substr(0, kPrefix.size()) != kPrefix || command.size() < kPrefix.size() + 1 || command.back() != '\'')
    return std::nullopt;
  std::string_view body = command.substr(kPrefix.size(), command.size() - kPrefix.size() - 1);
  MaintenancePlan plan;
  size_t at = 0;
  for (size_t i = 0; i < kShape.size(); ++i) {
    while (at < body.size() && body[at] == ' ' && i > 0) ++at;
    if (!StartsSwitch(body, at, kShape[i].name)) {
      if (kShape[i].optional) continue;
      return std::nullopt;
    }
    at += kShape[i].name.size();
    std::string value;
    if (kShape[i].hasValue) {
      if (at >= body.size()) return std::nullopt;
      size_t end = ValueEnd(body, at + 1, i);
      value = automation::TrimSpaces(body.substr(at + 1, end > at + 1 ? end - at - 1 : 0));
      at = end;
    }
    if (!Apply(plan, kShape[i].name, value)) return std::nullopt;
  }
  while (at < body.size() && body[at] == ' ') ++at;
  if (at != body.size()) return std::nullopt;
  return plan;
}

}  // namespace agent
