// Sign-in throttling: failed sign-ins counted per user id and per client address. After a few
// failures of a key, its next try is let through only once a delay since its last failure has
// passed, a delay that doubles with each further failure up to a ceiling, so that guessing
// passwords is slow while the real user waits at most the ceiling. Nothing here sleeps: a try
// inside the delay is simply refused, and no worker is held.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace site {

struct ThrottleLimits {
  int freeFailures = 5;                         // failures of a key before it is held back
  std::chrono::milliseconds firstDelay{1000};   // after the last free failure; doubles after each one more
  std::chrono::milliseconds longestDelay{30000};
  std::chrono::minutes forgetAfter{15};         // a key without failures for this long starts afresh
  size_t maxEntries = 100000;                   // beyond it, the key failed longest ago goes first
};

class SignInThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;
  static constexpr std::chrono::milliseconds kNoWait{0};

  SignInThrottle() : SignInThrottle(ThrottleLimits{}) {}
  explicit SignInThrottle(ThrottleLimits limits, Now now = Clock::now);

  // Zero when a try of `userId` from `address` may have its password checked now; else how long
  // the later of the two keys is still held back. A refused try changes nothing.
  std::chrono::milliseconds Wait(std::string_view userId, std::string_view address);
  bool Allows(std::string_view userId, std::string_view address) { return Wait(userId, address) == kNoWait; }
  // The try's password was wrong: both keys count one more failure.
  void Failed(std::string_view userId, std::string_view address);
  // The try signed in: both keys start afresh.
  void Succeeded(std::string_view userId, std::string_view address);

  // The delay after a key's last failure once it has failed `failures` times (zero while free).
  std::chrono::milliseconds Delay(int failures) const;
  // Keys held (user ids and addresses together).
  size_t Count();

 private:
  struct Entry {
    std::string key;
    int failures = 0;
    // The last failure, or the last try let through while the key was held back: tries sent side
    // by side after a delay get one password check between them, not one each.
    Clock::time_point last;
  };
  using Order = std::list<Entry>;

  // What is left of the key's delay (zero when it is free).
  std::chrono::milliseconds HeldBack(std::string_view key, Clock::time_point now);
  void MarkTry(std::string_view key, Clock::time_point now);
  void Fail(std::string key, Clock::time_point now);
  void Forget(std::string_view key);
  void Touch(Order::iterator entry, Clock::time_point now);
  void DropOld(Clock::time_point now);

  ThrottleLimits limits_;
  Now now_;
  std::mutex mutex_;
  // Oldest `last` first, so sweeping and the cap both take from the front.
  Order order_;
  std::unordered_map<std::string_view, Order::iterator> index_;  // views of the entries' keys
};

}  // namespace site
