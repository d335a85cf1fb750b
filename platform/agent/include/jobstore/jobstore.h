// The job agent's management objects: the job store every site of this machine shares (one
// SQLite file, VANTREL_AGENT_STORE or /var/lib/vantrel/agent.db) with its jobs, steps, schedules,
// run requests and history, the agent's start-at-boot setting and running state, and the header
// of a backup file. Jobs are keyed by their target server, the site's absolute file path, so job
// names are unique per site. Failures are raised as ComErrors with the numbers below.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

struct sqlite3;

namespace agent {

// A start of the agent that failed (the description says why).
inline constexpr int32_t kStartFailed = static_cast<int32_t>(0x800455F3);
// A start of a job the agent cannot take: the agent is not running, or the job is already queued
// or running.
inline constexpr int32_t kCannotStart = static_cast<int32_t>(0x80045606);
// A job, or the job store, that is not there.
inline constexpr int32_t kNotFound = static_cast<int32_t>(0x80045510);
// The job store refused a read or write (the description is SQLite's).
inline constexpr int32_t kStoreFailed = static_cast<int32_t>(0x80045500);
// A file that is not a backup made by the agent.
inline constexpr int32_t kNotABackup = static_cast<int32_t>(0x80045512);

inline constexpr std::string_view kSource = "VantrelAgent";
inline constexpr std::string_view kUnitName = "vantrel-agent.service";
inline constexpr std::string_view kProgramFile = "vantrel-agent";

// Agent status as the management objects report it.
inline constexpr int32_t kRunning = 1;
inline constexpr int32_t kStopped = 3;

// History outcomes (run_status).
inline constexpr int32_t kFailed = 0;
inline constexpr int32_t kSucceeded = 1;
inline constexpr int32_t kInProgress = 4;

std::filesystem::path StorePath();
std::filesystem::path LockPath(const std::filesystem::path& store);
// Makes the store's folder when it is missing; kNotFound with a sentence naming the store and the
// folder when it cannot be made.
void MakeStoreFolder(const std::filesystem::path& store = StorePath());

struct Job {
  int64_t id = 0;
  std::string name, server, description, category, owner;
  bool enabled = true;
};

struct Step {
  int32_t id = 1;
  std::string name, subsystem, database, command;
};

// The test mail step: structured, never a script. Its database holds the site's file (the data
// source path), its command the address the test message goes to.
inline constexpr std::string_view kTestMailSubsystem = "SendTestEMail";

// Daily schedules (frequency type 4) every `interval` days from the start date at the start time
// (hhmmss, local time), until the end date and time.
struct Schedule {
  std::string name;
  int32_t frequencyType = 4, interval = 1;
  int32_t activeStartDate = 0, activeStartTime = 0;
  int32_t activeEndDate = 99991231, activeEndTime = 235959;
};

struct HistoryRow {
  int64_t instanceId = 0;
  int32_t stepId = 0;  // 0: the run's outcome
  std::string stepName;
  int32_t runStatus = 0;
  int32_t runDate = 0, runTime = 0, runDuration = 0;  // yyyymmdd, hhmmss, hhmmss
  std::string message;                                 // at most 1,024 characters
};

// A request to run a job: queued until the agent starts the run in a child process of its own,
// then running until that child ends. `requestedAt` is when it was queued, then when it started.
struct RunRequest {
  int64_t jobId = 0;
  bool running = false;
  int64_t pid = 0;
  std::time_t requestedAt = 0;
};

// A schedule of an enabled job with the time it last came due (when it was made, at first).
struct ScheduleState {
  int64_t scheduleId = 0, jobId = 0;
  Schedule schedule;
  std::time_t lastDue = 0;
};

struct BackupHeader {
  std::string backupName, backupStartDate, databaseName, databaseVersion;
  int64_t backupSize = 0;
};

// One connection to the job store (created 0660 with its tables when missing).
class Store {
 public:
  explicit Store(const std::filesystem::path& file = StorePath());
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::filesystem::path& File() const { return file_; }
  sqlite3* Handle() const { return db_; }

  // Job changes between Begin and Commit apply together (BEGIN IMMEDIATE).
  void Begin();
  void Commit();
  void Rollback() noexcept;

  // ---- jobs
  std::optional<Job> FindJob(std::string_view server, std::string_view name);
  // Raises kNotFound for a missing name.
  Job JobByName(std::string_view server, std::string_view name);
  std::optional<Job> JobById(int64_t id);
  int64_t AddJob(const Job& job);
  // Removes the job with its steps, schedules, run request and history.
  void RemoveJob(int64_t jobId);
  void RemoveSteps(int64_t jobId);
  void AddStep(int64_t jobId, const Step& step);
  std::vector<Step> Steps(int64_t jobId);
  void RemoveSchedules(int64_t jobId);
  void AddSchedule(int64_t jobId, const Schedule& schedule);
  std::vector<Schedule> Schedules(int64_t jobId);
  // Queues a run at once; kCannotStart when one is queued or running.
  void QueueRun(int64_t jobId);
  // A start as the management objects make it: kCannotStart also while no agent runs to take it.
  void StartJob(int64_t jobId);
  std::vector<HistoryRow> History(int64_t jobId);
  void AddHistory(int64_t jobId, const HistoryRow& row);

  // ---- the agent's bookkeeping
  // Queued requests in the order they came, or the running ones.
  std::vector<RunRequest> RunRequests(bool running);
  std::optional<RunRequest> RunOfChild(int64_t pid);
  void MarkRunning(int64_t jobId, int64_t pid, std::time_t startedAt);
  // Removes the job's request (its run ended or could not start).
  void EndRun(int64_t jobId);
  std::vector<ScheduleState> EnabledSchedules();
  // Records that the schedule came due at `now` and queues its job unless a run is queued or running.
  void ScheduleCameDue(int64_t scheduleId, int64_t jobId, std::time_t now);
  // The agent that holds the store's lock writes its process id here.
  void SetAgentProcess(int64_t pid);

  // Runs a statement with text parameters; its rows as texts (for tests that look inside).
  void Exec(std::string_view sql, const std::vector<std::string>& params = {});
  std::vector<std::vector<std::string>> Rows(std::string_view sql, const std::vector<std::string>& params = {});

 private:
  std::filesystem::path file_;
  sqlite3* db_ = nullptr;
};

// The owner new jobs are given: the account the caller runs as.
std::string JobOwner();

// ---- the agent itself
bool StartsAtBoot();
// Writes the agent's unit (for `program`, else the agent program found as the service finds its
// sender) when there is none, and its start-at-boot link; kStoreFailed when either cannot be made.
void SetStartsAtBoot(const std::filesystem::path& program = {});
// kRunning while an agent holds the store's lock, else kStopped.
int32_t Status(const std::filesystem::path& store = StorePath());
// Starts the agent (systemctl when the unit is in systemd's folder, else the program detached)
// and returns once it holds the lock; kStartFailed with the reason otherwise.
void Start(const std::filesystem::path& store = StorePath());

// The header rows of a backup file (one per backup set), read without changing the file or
// leaving anything beside it (a backup is outside input); kNotABackup for any other file.
std::vector<BackupHeader> ReadBackupHeaders(const std::filesystem::path& backup);
BackupHeader ReadBackupHeader(const std::filesystem::path& backup);

// A backup file of a live site: a copy in one read transaction (writers go on in the WAL) with
// the header table, in rollback-journal mode so that it is one file, written as
// ".<name>.part-XXXXXX" beside `final`, made durable, renamed without replacing anything (an
// existing name fails) and made 0640. A BackupFileError (kBackupFailed) says what failed and why
// ("The backup file cannot be created: the disk is full."); nothing is left behind.
inline constexpr int32_t kBackupFailed = static_cast<int32_t>(0x80045520);
struct BackupFileError : automation::ComError {
  std::string reason;  // the why alone ("the disk is full"), for a caller that says the what itself
};
void WriteBackupFile(const std::filesystem::path& site, const std::filesystem::path& final,
                     const std::string& databaseName, std::time_t start);
// The same from a connection open on the site: a read transaction it holds decides what the copy
// holds. `durable` runs once the copy is durable, before it takes its name.
void WriteBackupFile(sqlite3* site, const std::filesystem::path& final, const std::string& databaseName,
                     std::time_t start, const std::function<void()>& durable = {});
// "ok", or what PRAGMA integrity_check found first.
std::string IntegrityCheck(const std::filesystem::path& file);

// yyyymmdd and hhmmss of a local time.
int32_t DateNumber(std::time_t t);
int32_t TimeNumber(std::time_t t);

}  // namespace agent
