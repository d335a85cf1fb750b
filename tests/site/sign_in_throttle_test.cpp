// Sign-in throttling: the store on a clock of the test's own, and a vantrel-site on loopback.
#include "site/throttle.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/site_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = site::SignInThrottle::Clock;

struct FakeClock {
  Clock::time_point start = Clock::now();
  std::chrono::microseconds at{0};
  site::SignInThrottle::Now Now() {
    return [this] { return start + at; };
  }
};

struct Try {
  std::chrono::milliseconds at;
  std::string userId;
  std::string address;
  bool rightPassword;
  bool allowed;
};

// Runs the tries in order: each is asked for, and when let through it fails or signs in.
void RunTries(const std::string& name, const std::vector<Try>& tries) {
  FakeClock clock;
  site::SignInThrottle throttle(site::ThrottleLimits{}, clock.Now());
  for (size_t i = 0; i < tries.size(); ++i) {
    const Try& t = tries[i];
    clock.at = t.at;
    const bool allowed = throttle.Allows(t.userId, t.address);
    EXPECT_EQ(allowed, t.allowed) << name << ", try " << i + 1 << " (" << t.userId << " from " << t.address
                                  << " at " << t.at.count() << " ms)";
    if (!allowed) continue;
    if (t.rightPassword)
      throttle.Succeeded(t.userId, t.address);
    else
      throttle.Failed(t.userId, t.address);
  }
}

// Five wrong tries at once: of one user id from one address, or each with its own address
// ("10.0.0.1", ...) or user id ("user1", ...).
enum class Vary { Nothing, Address, UserId };
std::vector<Try> FiveWrong(const std::string& userId, const std::string& address, Vary vary = Vary::Nothing) {
  std::vector<Try> out;
  for (int i = 1; i <= 5; ++i) {
    const std::string n = std::to_string(i);
    out.push_back({0ms, vary == Vary::UserId ? userId + n : userId, vary == Vary::Address ? address + n : address,
                   false, true});
  }
  return out;
}

std::vector<Try> Then(std::vector<Try> first, const std::vector<Try>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

TEST(SignInThrottleTest, SequencesOfTries) {
  struct Case {
    std::string name;
    std::vector<Try> tries;
  };
  const Case cases[] = {
      // The user id alone (a new address each try, its case changing): 1, 2, 4, 8, 16 s, then 30 s,
      // each from the last failure, whatever was refused in between.
      {"the user id's delay doubles up to 30 s",
       Then(FiveWrong("alice", "10.0.0.", Vary::Address),
            {{999ms, "ALICE", "10.0.1.1", true, false},
             {1000ms, "Alice", "10.0.1.2", false, true},
             {2999ms, "alice", "10.0.1.3", false, false},
             {3000ms, "aLiCe", "10.0.1.4", false, true},
             {6999ms, "alice", "10.0.1.5", false, false},
             {7000ms, "alice", "10.0.1.6", false, true},
             {14999ms, "alice", "10.0.1.7", false, false},
             {15000ms, "alice", "10.0.1.8", false, true},
             {30999ms, "alice", "10.0.1.9", false, false},
             {31000ms, "alice", "10.0.2.1", false, true},
             {60999ms, "alice", "10.0.2.2", false, false},
             {61000ms, "alice", "10.0.2.3", false, true},
             {90999ms, "alice", "10.0.2.4", false, false},
             {91000ms, "alice", "10.0.2.5", true, true},
             // Signed in: the count starts afresh.
             {91000ms, "alice", "10.0.2.6", false, true}})},
      // The address alone (a new user id each try).
      {"the address's delay", Then(FiveWrong("user", "192.0.2.7", Vary::UserId),
                                   {{500ms, "user6", "192.0.2.7", true, false},
                                    {1000ms, "user7", "192.0.2.7", false, true},
                                    {2999ms, "user8", "192.0.2.7", false, false},
                                    {3000ms, "user9", "192.0.2.7", false, true}})},
      {"either key holds a try back",
       Then(FiveWrong("carol", "192.0.2.2"), {{500ms, "carol", "198.51.100.1", true, false},
                                              {500ms, "dave", "192.0.2.2", true, false},
                                              {500ms, "dave", "198.51.100.1", true, true}})},
      // The sixth try of erin's address signs in, and resets both keys.
      {"a sign-in resets its user id and its address",
       Then(FiveWrong("erin", "192.0.2.3"), {{1000ms, "ERIN", "192.0.2.3", true, true},
                                             {1000ms, "erin", "198.51.100.2", false, true},
                                             {1000ms, "frank", "192.0.2.3", false, true}})},
  };
  for (const Case& c : cases) RunTries(c.name, c.tries);
}

TEST(SignInThrottleTest, KeepsAtMostItsCapAndForgetsKeysIdleForFifteenMinutes) {
  FakeClock clock;
  site::SignInThrottle throttle(site::ThrottleLimits{.maxEntries = 4}, clock.Now());
  for (int i = 0; i < 5; ++i) throttle.Failed("u1", "a1");
  EXPECT_FALSE(throttle.Allows("u1", "a1"));
  clock.at = 1s;
  throttle.Failed("u2", "a2");
  throttle.Failed("u3", "a3");
  // The two keys that failed longest ago made room.
  EXPECT_EQ(throttle.Count(), 4u);
  EXPECT_TRUE(throttle.Allows("u1", "a1"));
  clock.at = 1s + 15min - 1ms;
  EXPECT_TRUE(throttle.Allows("u9", "a9"));
  EXPECT_EQ(throttle.Count(), 4u);
  clock.at = 1s + 15min;
  EXPECT_TRUE(throttle.Allows("u9", "a9"));
  EXPECT_EQ(throttle.Count(), 0u);
}

// A refused try hears what is left of the longer of its two keys' delays, to the millisecond.
TEST(SignInThrottleTest, TellsHowLongATryWaits) {
  FakeClock clock;
  site::SignInThrottle throttle(site::ThrottleLimits{}, clock.Now());
  for (int i = 0; i < 5; ++i) throttle.Failed("alice", "192.0.2.1");
  clock.at = 1s;
  throttle.Failed("bob", "192.0.2.1");  // the address's sixth failure: 2 s from here
  const struct {
    std::chrono::microseconds at;
    std::string userId, address;
    std::chrono::milliseconds wait;
  } cases[] = {
      {300ms, "alice", "198.51.100.1", 700ms},    // the user id alone
      {999999us, "alice", "198.51.100.1", 1ms},  // a part of a millisecond counts whole
      {1500ms, "alice", "192.0.2.1", 1500ms},     // the address's longer one
      {1500ms, "carol", "192.0.2.1", 1500ms},
      {1500ms, "alice", "198.51.100.1", 0ms},     // let through
      {1500ms, "alice", "198.51.100.2", 1000ms},  // after the let-through try, the delay anew
  };
  for (const auto& c : cases) {
    clock.at = c.at;
    EXPECT_EQ(throttle.Wait(c.userId, c.address), c.wait) << c.userId << " from " << c.address << " at " << c.at;
  }
}

// Tries sent side by side once a delay is over get one password check between them.
TEST(SignInThrottleTest, TriesAtOnceAfterTheDelayLetOneThrough) {
  FakeClock clock;
  site::SignInThrottle throttle(site::ThrottleLimits{}, clock.Now());
  for (int i = 0; i < 5; ++i) throttle.Failed("alice", "192.0.2.9");
  clock.at = 1s;
  std::atomic<int> allowed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      if (throttle.Allows("alice", "198.51.100." + std::to_string(i))) ++allowed;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(allowed.load(), 1);
}

// Against the program: wrong passwords, then a wrong and the right one refused at once with the
// same page, which names the wait, then let in once the delay after the fifth failure has passed
// (the refused tries do not move it).
TEST(SignInThrottleSiteTest, TheRightPasswordWaitsOutTheDelayAfterFiveWrongOnes) {
  testsupport::SiteServer site;
  httplib::Client c("127.0.0.1", site.Port());
  c.set_read_timeout(30);
  auto post = [&](const std::string& password) {
    return c.Post("/APP/Default.asp", {{"Origin", site.Origin()}}, "UserId=alice&Password=" + password,
                  "application/x-www-form-urlencoded");
  };
  std::string wrongPage;
  for (int i = 0; i < 5; ++i) {
    auto r = post("wrong");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    wrongPage = r->body;
  }
  const auto fifth = Clock::now();
  EXPECT_NE(wrongPage.find("<p id=Message class=ErrorText align=center>Invalid user id or password.</p>"),
            std::string::npos)
      << wrongPage;
  std::string delayed = wrongPage;
  const std::string refused = "Invalid user id or password.";
  delayed.replace(delayed.find(refused), refused.size(), "Sign-in is delayed after failed tries: try again in 1 second.");
  for (const char* password : {"wrong", "demo"}) {
    auto r = post(password);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << password;
    EXPECT_EQ(r->body, delayed) << password;
    EXPECT_EQ(r->get_header_value("Set-Cookie"), "") << password;
  }
  ASSERT_LT(Clock::now() - fifth, 1s) << "the refused tries came too late to fall inside the delay";
  std::this_thread::sleep_until(fifth + 1100ms);
  auto in = post("demo");
  ASSERT_TRUE(in);
  EXPECT_EQ(in->status, 303);
  EXPECT_EQ(in->get_header_value("Location"), "/APP/Assignments/MyAssignments.asp");
}

}  // namespace
