// The job store's rows as the library and the agent write them and read them back: history rows,
// run requests and the schedules' due times, in a real store file.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "jobstore/jobstore.h"
#include "support/temp_dir.h"

namespace agent {
namespace {

TEST(JobStore, HistoryRowsAreReadBackAsWritten) {
  testsupport::TempDir dir;
  Store store(dir / "agent.db");
  const int64_t job = store.AddJob({0, "Site Backup", "/srv/site.db", "", "", "me", true});
  const std::string longText(1030, 'x');
  const std::vector<HistoryRow> rows = {
      {0, 1, "Backup", kSucceeded, 20240101, 20000, 5, "The report's lines\nand more"},
      {0, 0, "(Job outcome)", kFailed, 20241231, 235959, 10000, longText},
      {0, 2, "", kInProgress, 0, 0, 0, ""},
  };
  for (const HistoryRow& r : rows) store.AddHistory(job, r);
  const std::vector<HistoryRow> back = store.History(job);
  ASSERT_EQ(back.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_GT(back[i].instanceId, i ? back[i - 1].instanceId : 0);
    EXPECT_EQ(back[i].stepId, rows[i].stepId);
    EXPECT_EQ(back[i].stepName, rows[i].stepName);
    EXPECT_EQ(back[i].runStatus, rows[i].runStatus);
    EXPECT_EQ(back[i].runDate, rows[i].runDate);
    EXPECT_EQ(back[i].runTime, rows[i].runTime);
    EXPECT_EQ(back[i].runDuration, rows[i].runDuration);
    EXPECT_EQ(back[i].message, i == 1 ? longText.substr(0, 1024) : rows[i].message);
  }
}

TEST(JobStore, RunRequestsGoFromQueuedToRunningToEnded) {
  testsupport::TempDir dir;
  Store store(dir / "agent.db");
  const int64_t a = store.AddJob({0, "A", "/srv/a.db", "", "", "me", true});
  const int64_t b = store.AddJob({0, "B", "/srv/b.db", "", "", "me", true});
  const int64_t off = store.AddJob({0, "C", "/srv/c.db", "", "", "me", false});
  for (int64_t job : {a, off}) store.AddSchedule(job, Schedule{});
  store.QueueRun(b);
  EXPECT_THROW(store.QueueRun(b), automation::ComError);

  // Only the enabled job's schedule is the agent's to run; its coming due queues its job once.
  const std::vector<ScheduleState> schedules = store.EnabledSchedules();
  ASSERT_EQ(schedules.size(), 1u);
  EXPECT_EQ(schedules[0].jobId, a);
  EXPECT_EQ(schedules[0].schedule.activeEndDate, 99991231);
  for (std::time_t now : {1000, 2000}) store.ScheduleCameDue(schedules[0].scheduleId, a, now);
  EXPECT_EQ(store.EnabledSchedules()[0].lastDue, 2000);

  struct Step {
    std::function<void()> change;
    std::vector<int64_t> queued, running;
  } steps[] = {
      {[] {}, {a, b}, {}},
      {[&] { store.MarkRunning(b, 4242, 3000); }, {a}, {b}},
      {[&] { store.MarkRunning(a, 4343, 3001); }, {}, {b, a}},
      {[&] { store.EndRun(b); }, {}, {a}},
  };
  for (const Step& s : steps) {
    s.change();
    std::vector<int64_t> queued, running;
    for (const RunRequest& r : store.RunRequests(false)) queued.push_back(r.jobId);
    for (const RunRequest& r : store.RunRequests(true)) running.push_back(r.jobId);
    std::sort(queued.begin(), queued.end());  // queued in the same second: either order
    EXPECT_EQ(queued, s.queued);
    EXPECT_EQ(running, s.running);
  }
  auto run = store.RunOfChild(4343);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->jobId, a);
  EXPECT_TRUE(run->running);
  EXPECT_EQ(run->requestedAt, 3001);
  EXPECT_FALSE(store.RunOfChild(4242));
}

}  // namespace
}  // namespace agent
