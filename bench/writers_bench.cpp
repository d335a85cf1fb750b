// The issue writers on a site with 100,000 issues (each with its creation history row) in the demo
// project, e-mail on with the assignment rule: creating an issue, updating one as a page does
// (read with GetIssueRs, post the form back) with a reassignment and with a field change only,
// and reassigning ten issues at once. Each call is one committed transaction.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "automation/vbdate.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "directory/directory.h"
#include "issues/issue_writers.h"
#include "support/site_db.h"

namespace {

constexpr int kIssues = 100000;
constexpr int kFirst = 7;  // after the demo's six

struct Site {
  std::filesystem::path file;
  Site() : file(sitedb::FreshSite(true)) {
    sitedb::Db raw(file);
    raw.Exec("BEGIN");
    raw.Exec("WITH RECURSIVE n(i) AS (SELECT " + std::to_string(kFirst) + " UNION ALL SELECT i + 1 FROM n WHERE i < " +
             std::to_string(kFirst + kIssues - 1) +
             ") INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, "
             "Valid, Summary, PriorityCode, SeverityCode, ModuleCode) "
             "SELECT i, 1, CASE i % 2 WHEN 0 THEN 'alice' ELSE 'bob' END, 'New', 'Open', 'carol', 1, "
             "'Issue number ' || i, 'Normal', 'Minor', 'Core' FROM n;");
    raw.Exec("INSERT INTO IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewStatusCode, "
             "NewAssignedToUser) SELECT IssueId, 1, 'carol', 'New', 'Open', AssignedToUser FROM Issues "
             "WHERE IssueId >= " + std::to_string(kFirst));
    raw.Exec("UPDATE EMailConfiguration SET EMailEnabled = 1");
    raw.Exec("COMMIT");
  }
};

Site& TheSite() {
  static Site site;
  return site;
}

// The benchmark's argument: SQLite's synchronous setting, 2 FULL (the default) or 1 NORMAL.
const char* Synchronous(const benchmark::State& state) { return state.range(0) == 1 ? "NORMAL" : "FULL"; }

std::shared_ptr<brisquel::Database> OpenSite(const benchmark::State& state) {
  auto db = std::make_shared<brisquel::Database>();
  db->SetConnectionString(sitedb::ConnectionString(TheSite().file) + ";Synchronous=" + Synchronous(state));
  return db;
}

// A plain sqlite3 connection set up as the data layer sets up its own (foreign keys, WAL, the
// synchronous setting, a busy timeout), with statements prepared once.
class RawSite {
 public:
  explicit RawSite(const benchmark::State& state) {
    sqlite3_open_v2(TheSite().file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db_, 30000);
    Exec(std::string("PRAGMA foreign_keys=ON;PRAGMA journal_mode=WAL;PRAGMA synchronous=") + Synchronous(state));
  }
  ~RawSite() {
    for (sqlite3_stmt* st : statements_) sqlite3_finalize(st);
    sqlite3_close_v2(db_);
  }
  RawSite(const RawSite&) = delete;
  RawSite& operator=(const RawSite&) = delete;

  bool Exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    statements_.push_back(st);
    return st;
  }
  // Binds the values in order (int64_t or text) and steps the statement to its end.
  template <class... V>
  bool Run(sqlite3_stmt* st, const V&... values) {
    int slot = 0;
    (Bind(st, ++slot, values), ...);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    sqlite3_reset(st);
    return rc == SQLITE_DONE;
  }
  sqlite3* handle() const { return db_; }

 private:
  static void Bind(sqlite3_stmt* st, int slot, int64_t v) { sqlite3_bind_int64(st, slot, v); }
  static void Bind(sqlite3_stmt* st, int slot, int v) { sqlite3_bind_int64(st, slot, v); }
  static void Bind(sqlite3_stmt* st, int slot, const std::string& v) {
    sqlite3_bind_text(st, slot, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  static void Bind(sqlite3_stmt* st, int slot, const char* v) { sqlite3_bind_text(st, slot, v, -1, SQLITE_TRANSIENT); }

  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

std::shared_ptr<brisquel::MultipartFormData> NewIssueForm() {
  auto form = std::make_shared<brisquel::MultipartFormData>();
  auto f = form->Fields();
  f->Add("ProjectCode", "1");
  f->Add("ModuleCode", "Core");
  f->Add("Summary", "The issue list sorts dates as text");
  f->Add("PriorityCode", "High");
  f->Add("SeverityCode", "Major");
  f->Add("DetectedInBuildCode", "1.1");
  f->Add("VerifiedInBuildCode", "");
  f->Add("Comments", "Open the list, sort by date opened.");
  f->Add("ResolutionCode", "New");
  f->Add("StatusCode", "Open");
  f->Add("AssignedToUser", "bob");
  return form;
}

void BM_CreateIssue(benchmark::State& state) {
  auto db = OpenSite(state);
  auto form = NewIssueForm();
  for (auto _ : state) {
    if (brisquel::CreateIssue(*db, "alice", form) <= 0) state.SkipWithError(db->LastErrorMessage().c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateIssue)->Arg(2)->Arg(1)->ArgName("synchronous")->Unit(benchmark::kMillisecond);

// The rows CreateIssue writes for NewIssueForm: the issue, its first history row, its comment and
// the assignment notice to bob (alice, who creates it, is not told).
void BM_CreateIssueRawRows(benchmark::State& state) {
  RawSite raw(state);
  sqlite3_stmt* issue = raw.Prepare(
      "INSERT INTO Issues (ProjectId,Summary,PriorityCode,DetectedInBuildCode,ModuleCode,SeverityCode,"
      "VerifiedInBuildCode,AssignedToUser,ResolutionCode,StatusCode,CreatedByUserId,DateOpened,Valid,Fixed,"
      "DateLastUpdated) VALUES (?,?,?,?,?,?,?,?, ?, ?, ?, ?, ?, ?, ?)");
  sqlite3_stmt* history = raw.Prepare(
      "insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewAssignedToUser, NewStatusCode) "
      "values (?, ?, ?, ?, ?, ?)");
  sqlite3_stmt* comment = raw.Prepare(
      "insert into IssueComments(IssueId, FieldName, CommentAuthor, CommentText) values (?, ?, ?, ?)");
  sqlite3_stmt* notice =
      raw.Prepare("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values (?, ?, ?)");
  for (auto _ : state) {
    const std::string today = automation::FormatDbDate(automation::Today());
    bool ok = raw.Exec("BEGIN IMMEDIATE") &&
              raw.Run(issue, 1, "The issue list sorts dates as text", "High", "1.1", "Core", "Major", "", "bob", "New",
                      "Open", "alice", today, 1, 0, today);
    const int64_t id = sqlite3_last_insert_rowid(raw.handle());
    ok = ok && raw.Run(history, id, 1, "alice", "New", "bob", "Open") &&
         raw.Run(comment, id, "Comments", "alice", "Open the list, sort by date opened.") &&
         raw.Run(notice, "bob@example.com", id, "Assignment Notice") && raw.Exec("COMMIT");
    if (!ok) state.SkipWithError(sqlite3_errmsg(raw.handle()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateIssueRawRows)->Arg(2)->Arg(1)->ArgName("synchronous")->Unit(benchmark::kMillisecond);

// Issue ids spread over the whole table, so each update reads and writes a different row.
int32_t NextIssue(int64_t k) { return kFirst + static_cast<int32_t>((k * 7919) % kIssues); }

void BM_UpdateIssue(benchmark::State& state, bool reassign) {
  auto db = OpenSite(state);
  int64_t k = 0;
  for (auto _ : state) {
    int32_t id = NextIssue(k++);
    auto rs = brisquel::GetIssueRs(*db, id);
    std::string assignee = rs->Value("AssignedToUser").ToString();
    if (reassign) assignee = assignee == "alice" ? "bob" : "alice";
    auto form = std::make_shared<brisquel::MultipartFormData>();
    auto f = form->Fields();
    f->Add("ProjectCode", "1");
    f->Add("ModuleCode", "Core");
    f->Add("Summary", "Issue number " + std::to_string(id) + (k % 2 ? " (checked)" : ""));
    f->Add("PriorityCode", "Normal");
    f->Add("SeverityCode", "Minor");
    f->Add("DetectedInBuildCode", "");
    f->Add("VerifiedInBuildCode", "");
    f->Add("Comments", reassign ? "Please take this one." : "");
    f->Add("ResolutionCode", "New");
    f->Add("StatusCode", "Open");
    f->Add("AssignedToUser", assignee);
    if (!brisquel::UpdateIssue(*db, "alice", rs, form)) state.SkipWithError(db->LastErrorMessage().c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_UpdateIssue, Reassign, true)->Arg(2)->Arg(1)->ArgName("synchronous")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UpdateIssue, FieldsOnly, false)->Arg(2)->Arg(1)->ArgName("synchronous")->Unit(benchmark::kMillisecond);

// The rows UpdateIssue writes for the same posts, with the page's read of the issue row as the
// writer's figure has it: the issue row (every posted column, found by its key and row version);
// with a reassignment also the history row, the comment, and the assignment notice when the issue
// goes to bob (alice, who posts, is not told of her own change).
void BM_UpdateIssueRawRows(benchmark::State& state, bool reassign) {
  RawSite raw(state);
  sqlite3_stmt* read = raw.Prepare("select * from Issues where IssueId = ?");
  sqlite3_stmt* issue = raw.Prepare(
      "UPDATE \"Issues\" SET \"ProjectId\" = ?, \"AssignedToUser\" = ?, \"ResolutionCode\" = ?, \"StatusCode\" = ?, "
      "\"DateLastUpdated\" = ?, \"DateTimeLastUpdated\" = ?, \"Valid\" = ?, \"Fixed\" = ?, \"Summary\" = ?, "
      "\"PriorityCode\" = ?, \"SeverityCode\" = ?, \"ModuleCode\" = ?, \"DetectedInBuildCode\" = ?, "
      "\"VerifiedInBuildCode\" = ? WHERE \"IssueId\" IS ? AND \"LastUpdated\" IS ?");
  sqlite3_stmt* history = raw.Prepare(
      "insert into IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewAssignedToUser, NewStatusCode, "
      "OldResolutionCode, OldAssignedToUser, OldStatusCode) values (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  sqlite3_stmt* comment = raw.Prepare(
      "insert into IssueComments(IssueId, FieldName, CommentAuthor, CommentText) values (?, ?, ?, ?)");
  sqlite3_stmt* notice =
      raw.Prepare("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values (?, ?, ?)");
  int64_t k = 0;
  for (auto _ : state) {
    int32_t id = NextIssue(k++);
    int64_t version = 0;
    std::string current;
    sqlite3_bind_int64(read, 1, id);
    if (sqlite3_step(read) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(read); ++i) {
        const std::string_view name = sqlite3_column_name(read, i);
        if (name == "LastUpdated") version = sqlite3_column_int64(read, i);
        if (name == "AssignedToUser") current = reinterpret_cast<const char*>(sqlite3_column_text(read, i));
      }
    }
    sqlite3_reset(read);
    const std::string assignee = !reassign ? current : current == "alice" ? "bob" : "alice";
    const automation::Date now = automation::Now();
    bool ok = raw.Exec("BEGIN IMMEDIATE") &&
              raw.Run(issue, 1, assignee, "New", "Open", automation::FormatDbDate(automation::DateOnly(now)),
                      automation::FormatDbDate(now), 1, 0,
                      "Issue number " + std::to_string(id) + (k % 2 ? " (checked)" : ""), "Normal", "Minor", "Core",
                      "", "", id, version) &&
              sqlite3_changes(raw.handle()) == 1;
    if (reassign) {
      ok = ok && raw.Run(history, id, 1, "alice", "New", assignee, "Open", "New", current, "Open") &&
           raw.Run(comment, id, "Comments", "alice", "Please take this one.") &&
           (assignee != "bob" || raw.Run(notice, "bob@example.com", id, "Assignment Notice"));
    }
    ok = ok && raw.Exec("COMMIT");
    if (!ok) state.SkipWithError(sqlite3_errmsg(raw.handle()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_UpdateIssueRawRows, Reassign, true)
    ->Arg(2)->Arg(1)->ArgName("synchronous")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UpdateIssueRawRows, FieldsOnly, false)
    ->Arg(2)->Arg(1)->ArgName("synchronous")->Unit(benchmark::kMillisecond);

void BM_MassReassignTen(benchmark::State& state) {
  auto db = sitedb::Open(TheSite().file);
  int64_t k = 0;
  for (auto _ : state) {
    auto form = std::make_shared<brisquel::MultipartFormData>();
    auto f = form->Fields();
    f->Add("cmbResolution", "New");
    f->Add("cmbStatus", "Open");
    f->Add("cmbAssignedTo", k % 2 ? "alice" : "bob");
    for (int i = 0; i < 10; ++i) f->Add("chkIssue", std::to_string(NextIssue(k * 10 + i)));
    ++k;
    if (!brisquel::MassReassign(*db, "admin", form)) state.SkipWithError(db->LastErrorMessage().c_str());
  }
  state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_MassReassignTen)->Unit(benchmark::kMillisecond);

// Deleting one user: one the issues name (refused after the check, nothing written), and one
// they do not (the check misses in every column, the user goes; put back untimed).
void BM_DeleteUser(benchmark::State& state) {
  const bool named = state.range(0) != 0;
  const std::string user = named ? "carol" : "zed";
  auto db = sitedb::Open(TheSite().file);
  auto form = std::make_shared<brisquel::MultipartFormData>();
  form->Fields()->Add("chkUser", user);
  for (auto _ : state) {
    if (!named) {
      state.PauseTiming();
      db->Exec("INSERT OR IGNORE INTO Users (UserId) VALUES ('zed')");
      state.ResumeTiming();
    }
    if (brisquel::DeleteUser(*db, "admin", form) == named) state.SkipWithError("wrong answer");
  }
}
BENCHMARK(BM_DeleteUser)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
