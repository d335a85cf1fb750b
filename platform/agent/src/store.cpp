#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ado/errors.h"
#include "jobstore/jobstore.h"
#include "automation/automation.h"
#include "automation/failure_reason.h"
#include "automation/text.h"

namespace agent {

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS Jobs (
  JobId INTEGER PRIMARY KEY AUTOINCREMENT, Server TEXT NOT NULL, Name TEXT NOT NULL COLLATE NOCASE,
  Description TEXT NOT NULL DEFAULT '', Category TEXT NOT NULL DEFAULT '', Enabled INTEGER NOT NULL DEFAULT 1,
  Owner TEXT NOT NULL DEFAULT '', UNIQUE (Server, Name));
CREATE TABLE IF NOT EXISTS JobSteps (
  JobId INTEGER NOT NULL REFERENCES Jobs ON DELETE CASCADE, StepId INTEGER NOT NULL, Name TEXT NOT NULL,
  Subsystem TEXT NOT NULL, DatabaseName TEXT NOT NULL, Command TEXT NOT NULL, PRIMARY KEY (JobId, StepId));
CREATE TABLE IF NOT EXISTS JobSchedules (
  ScheduleId INTEGER PRIMARY KEY AUTOINCREMENT, JobId INTEGER NOT NULL REFERENCES Jobs ON DELETE CASCADE,
  Name TEXT NOT NULL, FrequencyType INTEGER NOT NULL, FrequencyInterval INTEGER NOT NULL,
  ActiveStartDate INTEGER NOT NULL, ActiveStartTime INTEGER NOT NULL, ActiveEndDate INTEGER NOT NULL,
  ActiveEndTime INTEGER NOT NULL, LastDue INTEGER NOT NULL DEFAULT (unixepoch()));
CREATE TABLE IF NOT EXISTS RunRequests (
  JobId INTEGER PRIMARY KEY REFERENCES Jobs ON DELETE CASCADE, State TEXT NOT NULL DEFAULT 'Queued',
  Pid INTEGER NOT NULL DEFAULT 0, RequestedAt INTEGER NOT NULL DEFAULT (unixepoch()));
CREATE TABLE IF NOT EXISTS AgentState (Id INTEGER PRIMARY KEY CHECK (Id = 1), Pid INTEGER NOT NULL,
  StartedAt INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS JobHistory (
  instance_id INTEGER PRIMARY KEY AUTOINCREMENT, JobId INTEGER NOT NULL, step_id INTEGER NOT NULL,
  step_name TEXT NOT NULL DEFAULT '', run_status INTEGER NOT NULL, run_date INTEGER NOT NULL,
  run_time INTEGER NOT NULL, run_duration INTEGER NOT NULL, message TEXT NOT NULL DEFAULT '');
)";

[[noreturn]] void Fail(int32_t number, std::string description) {
  throw automation::ComError(number, std::string(kSource), std::move(description));
}

// The engine's failure: a full disk or an I/O error in our own sentence, anything else (an SQL
// error) in the engine's words.
std::string EngineFailure(sqlite3* db) {
  if (!db) return "The job store cannot be opened: " + std::string(automation::kOutOfMemory) + ".";
  std::string_view why = ado::EngineFailureReason(ado::EngineFailureCode(db, sqlite3_extended_errcode(db)));
  if (why.empty()) return sqlite3_errmsg(db);
  return "The job store cannot be read or written: " + std::string(why) + ".";
}

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql, const std::vector<std::string>& params = {}) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &st_, nullptr) != SQLITE_OK)
      Fail(kStoreFailed, EngineFailure(db));
    for (size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(st_, static_cast<int>(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
  }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail(kStoreFailed, EngineFailure(db_));
    return false;
  }
  std::string Text(int i) {
    const unsigned char* t = sqlite3_column_text(st_, i);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  int64_t Long(int i) { return sqlite3_column_int64(st_, i); }
  int32_t Int(int i) { return sqlite3_column_int(st_, i); }
  int Columns() { return sqlite3_column_count(st_); }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

std::string Num(int64_t v) { return std::to_string(v); }

Job JobRow(Statement& s) {
  Job j;
  j.id = s.Long(0);
  j.server = s.Text(1);
  j.name = s.Text(2);
  j.description = s.Text(3);
  j.category = s.Text(4);
  j.enabled = s.Int(5) != 0;
  j.owner = s.Text(6);
  return j;
}

constexpr std::string_view kJobColumns =
    "select JobId, Server, Name, Description, Category, Enabled, Owner from Jobs ";

}  // namespace

std::filesystem::path StorePath() {
  const char* env = std::getenv("VANTREL_AGENT_STORE");
  return env && *env ? std::filesystem::path(env) : std::filesystem::path("/var/lib/vantrel/agent.db");
}

std::filesystem::path LockPath(const std::filesystem::path& store) {
  std::filesystem::path p = store;
  p += ".lock";
  return p;
}

void MakeStoreFolder(const std::filesystem::path& store) {
  const std::filesystem::path folder = std::filesystem::absolute(store).parent_path();
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  std::filesystem::create_directories(folder, ec);
  if (!ec && std::filesystem::is_directory(folder, ec)) return;
  Fail(kNotFound, "The job store " + store.string() + " cannot be created: its folder " + folder.string() +
                      " is missing and cannot be made (" + (ec ? ec.message() : std::string("Not a directory")) +
                      "). Make the folder, writable by the site host and the agent, or set VANTREL_AGENT_STORE to a "
                      "file in a folder they can write.");
}

namespace {

// The store is shared by the site's service account and the agent: group may write. It is made
// under a name of its own and linked into place with its mode set, so that nobody who opens it
// meanwhile finds it with the mode the umask left.
void CreateShared(const std::filesystem::path& file) {
  // A name no other process or thread is making (two threads of one process share a pid).
  std::string made = file.string() + ".new-XXXXXX";
  int fd = ::mkostemp(made.data(), O_CLOEXEC);
  if (fd < 0) Fail(kNotFound, "The job store " + file.string() + " cannot be created: " + std::strerror(errno));
  ::fchmod(fd, 0660);
  ::close(fd);
  const int linked = ::link(made.c_str(), file.c_str()) == 0 ? 0 : errno;
  ::unlink(made.c_str());
  // Another process that made it first made it the same way.
  if (linked != 0 && linked != EEXIST)
    Fail(kNotFound, "The job store " + file.string() + " cannot be created: " + std::strerror(linked));
}

}  // namespace

Store::Store(const std::filesystem::path& file) : file_(file) {
  if (::access(file.c_str(), F_OK) != 0) {
    MakeStoreFolder(file);
    CreateShared(file);
  }
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    Fail(kNotFound, "The job store " + file.string() + " cannot be opened: " + why);
  }
  sqlite3_busy_timeout(db_, 10000);
  sqlite3_extended_result_codes(db_, 1);
  // Two processes that open a new store at once both change its journal mode; SQLite refuses one
  // of them at once rather than let them wait on each other, so that one tries again.
  int rc = SQLITE_OK;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
    if ((rc & 0xFF) != SQLITE_BUSY) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (rc != SQLITE_OK) {
    std::string why = EngineFailure(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    Fail(kStoreFailed, why);
  }
}

Store::~Store() { sqlite3_close(db_); }

void Store::Exec(std::string_view sql, const std::vector<std::string>& params) {
  Statement s(db_, sql, params);
  while (s.Step()) {
  }
}

std::vector<std::vector<std::string>> Store::Rows(std::string_view sql, const std::vector<std::string>& params) {
  std::vector<std::vector<std::string>> out;
  Statement s(db_, sql, params);
  while (s.Step()) {
    std::vector<std::string> row;
    for (int i = 0; i < s.Columns(); ++i) row.push_back(s.Text(i));
    out.push_back(std::move(row));
  }
  return out;
}

void Store::Begin() { Exec("BEGIN IMMEDIATE"); }
void Store::Commit() { Exec("COMMIT"); }
void Store::Rollback() noexcept {
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::optional<Job> Store::FindJob(std::string_view server, std::string_view name) {
  Statement s(db_, std::string(kJobColumns) + "where Server = ? and Name = ?",
              {std::string(server), std::string(name)});
  if (!s.Step()) return std::nullopt;
  return JobRow(s);
}

Job Store::JobByName(std::string_view server, std::string_view name) {
  auto job = FindJob(server, name);
  if (!job) Fail(kNotFound, "The job '" + std::string(name) + "' does not exist on this server.");
  return *job;
}

std::optional<Job> Store::JobById(int64_t id) {
  Statement s(db_, std::string(kJobColumns) + "where JobId = ?", {Num(id)});
  if (!s.Step()) return std::nullopt;
  return JobRow(s);
}

int64_t Store::AddJob(const Job& j) {
  Exec("insert into Jobs (Server, Name, Description, Category, Enabled, Owner) values (?, ?, ?, ?, ?, ?)",
       {j.server, j.name, j.description, j.category, j.enabled ? "1" : "0", j.owner});
  return sqlite3_last_insert_rowid(db_);
}

void Store::RemoveJob(int64_t jobId) {
  Exec("delete from JobHistory where JobId = ?", {Num(jobId)});
  Exec("delete from Jobs where JobId = ?", {Num(jobId)});
}

std::string JobOwner() {
  if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
  return std::to_string(::geteuid());
}

void Store::RemoveSteps(int64_t jobId) { Exec("delete from JobSteps where JobId = ?", {Num(jobId)}); }

void Store::AddStep(int64_t jobId, const Step& st) {
  Exec("insert into JobSteps (JobId, StepId, Name, Subsystem, DatabaseName, Command) values (?, ?, ?, ?, ?, ?)",
       {Num(jobId), Num(st.id), st.name, st.subsystem, st.database, st.command});
}

std::vector<Step> Store::Steps(int64_t jobId) {
  std::vector<Step> out;
  Statement s(db_, "select StepId, Name, Subsystem, DatabaseName, Command from JobSteps where JobId = ? order by StepId",
              {Num(jobId)});
  while (s.Step()) out.push_back({s.Int(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4)});
  return out;
}

void Store::RemoveSchedules(int64_t jobId) { Exec("delete from JobSchedules where JobId = ?", {Num(jobId)}); }

void Store::AddSchedule(int64_t jobId, const Schedule& c) {
  Exec("insert into JobSchedules (JobId, Name, FrequencyType, FrequencyInterval, ActiveStartDate, ActiveStartTime, "
       "ActiveEndDate, ActiveEndTime) values (?, ?, ?, ?, ?, ?, ?, ?)",
       {Num(jobId), c.name, Num(c.frequencyType), Num(c.interval), Num(c.activeStartDate), Num(c.activeStartTime),
        Num(c.activeEndDate), Num(c.activeEndTime)});
}

std::vector<Schedule> Store::Schedules(int64_t jobId) {
  std::vector<Schedule> out;
  Statement s(db_,
              "select Name, FrequencyType, FrequencyInterval, ActiveStartDate, ActiveStartTime, ActiveEndDate, "
              "ActiveEndTime from JobSchedules where JobId = ? order by ScheduleId",
              {Num(jobId)});
  while (s.Step()) out.push_back({s.Text(0), s.Int(1), s.Int(2), s.Int(3), s.Int(4), s.Int(5), s.Int(6)});
  return out;
}

void Store::QueueRun(int64_t jobId) {
  if (!JobById(jobId)) Fail(kNotFound, "The job does not exist on this server.");
  Statement s(db_, "insert or ignore into RunRequests (JobId) values (?)", {Num(jobId)});
  s.Step();
  if (sqlite3_changes(db_) == 0)
    Fail(kCannotStart, "The job is already running or queued; a second start is refused.");
}

void Store::StartJob(int64_t jobId) {
  if (Status(file_) != kRunning) Fail(kCannotStart, "The job agent is not running, so the job cannot be started.");
  QueueRun(jobId);
}

std::vector<HistoryRow> Store::History(int64_t jobId) {
  std::vector<HistoryRow> out;
  Statement s(db_,
              "select instance_id, step_id, step_name, run_status, run_date, run_time, run_duration, message "
              "from JobHistory where JobId = ? order by instance_id",
              {Num(jobId)});
  while (s.Step()) out.push_back({s.Long(0), s.Int(1), s.Text(2), s.Int(3), s.Int(4), s.Int(5), s.Int(6), s.Text(7)});
  return out;
}

void Store::AddHistory(int64_t jobId, const HistoryRow& r) {
  // A message is kept to 1,024 characters (code points), cut on a character boundary.
  const std::string message(automation::HeadChars(r.message, 1024));
  Exec("insert into JobHistory (JobId, step_id, step_name, run_status, run_date, run_time, run_duration, message) "
       "values (?, ?, ?, ?, ?, ?, ?, ?)",
       {Num(jobId), Num(r.stepId), r.stepName, Num(r.runStatus), Num(r.runDate), Num(r.runTime), Num(r.runDuration),
        message});
}

namespace {

RunRequest RequestRow(Statement& s) {
  return {s.Long(0), s.Text(1) == "Running", s.Long(2), static_cast<std::time_t>(s.Long(3))};
}

constexpr std::string_view kRequestColumns = "select JobId, State, Pid, RequestedAt from RunRequests ";

}  // namespace

std::vector<RunRequest> Store::RunRequests(bool running) {
  std::vector<RunRequest> out;
  Statement s(db_, std::string(kRequestColumns) + "where State = ? order by RequestedAt",
              {running ? "Running" : "Queued"});
  while (s.Step()) out.push_back(RequestRow(s));
  return out;
}

std::optional<RunRequest> Store::RunOfChild(int64_t pid) {
  Statement s(db_, std::string(kRequestColumns) + "where Pid = ? and State = 'Running'", {Num(pid)});
  if (!s.Step()) return std::nullopt;
  return RequestRow(s);
}

void Store::MarkRunning(int64_t jobId, int64_t pid, std::time_t startedAt) {
  Exec("update RunRequests set State = 'Running', Pid = ?, RequestedAt = ? where JobId = ?",
       {Num(pid), Num(startedAt), Num(jobId)});
}

void Store::EndRun(int64_t jobId) { Exec("delete from RunRequests where JobId = ?", {Num(jobId)}); }

std::vector<ScheduleState> Store::EnabledSchedules() {
  std::vector<ScheduleState> out;
  Statement s(db_,
              "select s.ScheduleId, s.JobId, s.Name, s.FrequencyType, s.FrequencyInterval, s.ActiveStartDate, "
              "s.ActiveStartTime, s.ActiveEndDate, s.ActiveEndTime, s.LastDue from JobSchedules s "
              "join Jobs j on j.JobId = s.JobId where j.Enabled = 1 order by s.ScheduleId");
  while (s.Step())
    out.push_back({s.Long(0), s.Long(1), {s.Text(2), s.Int(3), s.Int(4), s.Int(5), s.Int(6), s.Int(7), s.Int(8)},
                   static_cast<std::time_t>(s.Long(9))});
  return out;
}

void Store::ScheduleCameDue(int64_t scheduleId, int64_t jobId, std::time_t now) {
  Exec("update JobSchedules set LastDue = ? where ScheduleId = ?", {Num(now), Num(scheduleId)});
  Exec("insert or ignore into RunRequests (JobId) values (?)", {Num(jobId)});
}

void Store::SetAgentProcess(int64_t pid) {
  Exec("insert or replace into AgentState (Id, Pid, StartedAt) values (1, ?, unixepoch())", {Num(pid)});
}

int32_t DateNumber(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

int32_t TimeNumber(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec;
}

}  // namespace agent
