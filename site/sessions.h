// Sign-ins held in memory: a random id (the cookie's value) maps to the user, the token every form
// of the sign-in carries, and the time of last use. A sign-in idle for longer than the limit ends.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace site {

struct Session {
  std::string id;
  std::string userId;
  std::string token;  // the forms' "_token"
};

class SessionStore {
 public:
  using Clock = std::chrono::steady_clock;
  explicit SessionStore(std::chrono::minutes idle) : idle_(idle) {}

  // A new sign-in for the user: a fresh id and token of 32 random bytes each.
  Session Start(const std::string& userId);
  // The live sign-in of an id (its last use now moved to `now`), or nullopt.
  std::optional<Session> Find(std::string_view id, Clock::time_point now = Clock::now());
  void End(std::string_view id);
  size_t Count();
  // A value a page keeps with a sign-in for a later request of it (a recordset image); nothing
  // when the sign-in has ended.
  void Keep(std::string_view id, const std::string& name, std::string value);
  std::optional<std::string> Kept(std::string_view id, const std::string& name);

 private:
  struct Entry {
    Session session;
    Clock::time_point lastUse;
    std::unordered_map<std::string, std::string> kept;
  };
  void DropIdle(Clock::time_point now);

  std::chrono::minutes idle_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
  Clock::time_point lastSweep_{};
};

// 32 random bytes (libsodium) as 64 lower-case hexadecimal digits.
std::string RandomId();
// Equal texts, compared in time that depends only on their lengths.
bool EqualInConstantTime(std::string_view a, std::string_view b);

}  // namespace site
