#include "site/throttle.h"

#include <algorithm>
#include <iterator>

#include "automation/text.h"

namespace site {

namespace {

// No user id or address is this long; a longer text keys on its head, so one key cannot hold
// much of the memory.
constexpr size_t kKeyBytes = 256;

// Ids are typed in any case and name the same user (the column compares them without regard to
// ASCII case); the two kinds of key never meet.
std::string UserKey(std::string_view userId) {
  return "u:" + automation::LowerAscii(userId.substr(0, kKeyBytes));
}
std::string AddressKey(std::string_view address) { return "a:" + std::string(address.substr(0, kKeyBytes)); }

}  // namespace

SignInThrottle::SignInThrottle(ThrottleLimits limits, Now now) : limits_(limits), now_(std::move(now)) {}

std::chrono::milliseconds SignInThrottle::Delay(int failures) const {
  if (failures < limits_.freeFailures) return std::chrono::milliseconds(0);
  std::chrono::milliseconds delay = limits_.firstDelay;
  for (int n = limits_.freeFailures; n < failures && delay < limits_.longestDelay; ++n) delay *= 2;
  return std::min(delay, limits_.longestDelay);
}

std::chrono::milliseconds SignInThrottle::Wait(std::string_view userId, std::string_view address) {
  const std::string user = UserKey(userId), from = AddressKey(address);
  std::lock_guard lock(mutex_);
  const Clock::time_point now = now_();
  DropOld(now);
  if (const auto wait = std::max(HeldBack(user, now), HeldBack(from, now)); wait > kNoWait) return wait;
  MarkTry(user, now);
  MarkTry(from, now);
  return kNoWait;
}

void SignInThrottle::Failed(std::string_view userId, std::string_view address) {
  std::string user = UserKey(userId), from = AddressKey(address);
  std::lock_guard lock(mutex_);
  const Clock::time_point now = now_();
  DropOld(now);
  Fail(std::move(user), now);
  Fail(std::move(from), now);
}

void SignInThrottle::Succeeded(std::string_view userId, std::string_view address) {
  const std::string user = UserKey(userId), from = AddressKey(address);
  std::lock_guard lock(mutex_);
  Forget(user);
  Forget(from);
}

size_t SignInThrottle::Count() {
  std::lock_guard lock(mutex_);
  return order_.size();
}

std::chrono::milliseconds SignInThrottle::HeldBack(std::string_view key, Clock::time_point now) {
  auto it = index_.find(key);
  if (it == index_.end()) return kNoWait;
  const Entry& e = *it->second;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(e.last + Delay(e.failures) - now);
  return e.failures >= limits_.freeFailures && left > kNoWait ? left : kNoWait;
}

void SignInThrottle::MarkTry(std::string_view key, Clock::time_point now) {
  auto it = index_.find(key);
  if (it != index_.end() && it->second->failures >= limits_.freeFailures) Touch(it->second, now);
}

void SignInThrottle::Fail(std::string key, Clock::time_point now) {
  auto it = index_.find(key);
  if (it != index_.end()) {
    Entry& e = *it->second;
    // Counting stops where the delay stops growing, so the count cannot overflow.
    if (Delay(e.failures) < limits_.longestDelay) ++e.failures;
    Touch(it->second, now);
    return;
  }
  if (!order_.empty() && order_.size() >= limits_.maxEntries) Forget(order_.front().key);
  order_.push_back(Entry{std::move(key), 1, now});
  index_.emplace(order_.back().key, std::prev(order_.end()));
}

void SignInThrottle::Forget(std::string_view key) {
  auto it = index_.find(key);
  if (it == index_.end()) return;
  const Order::iterator entry = it->second;
  index_.erase(it);  // its key is a view of the entry's
  order_.erase(entry);
}

void SignInThrottle::Touch(Order::iterator entry, Clock::time_point now) {
  entry->last = now;
  order_.splice(order_.end(), order_, entry);
}

// The clock only moves forward, so the entries are in the order of their `last`: the old ones are
// at the front, and a sweep on each use costs only what it removes.
void SignInThrottle::DropOld(Clock::time_point now) {
  while (!order_.empty() && now - order_.front().last >= limits_.forgetAfter) {
    index_.erase(order_.front().key);
    order_.pop_front();
  }
}

}  // namespace site
