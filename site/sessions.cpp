#include "site/sessions.h"

#include <sodium.h>

#include <array>
#include <stdexcept>

namespace site {

std::string RandomId() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
  std::array<unsigned char, 32> bytes;
  randombytes_buf(bytes.data(), bytes.size());
  std::array<char, 65> hex;
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  return std::string(hex.data(), 64);
}

bool EqualInConstantTime(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

Session SessionStore::Start(const std::string& userId) {
  Session s{RandomId(), userId, RandomId()};
  std::lock_guard lock(mutex_);
  entries_[s.id] = Entry{s, Clock::now(), {}};
  return s;
}

std::optional<Session> SessionStore::Find(std::string_view id, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  DropIdle(now);
  auto it = entries_.find(std::string(id));
  if (it == entries_.end()) return std::nullopt;
  if (now - it->second.lastUse > idle_) {
    entries_.erase(it);
    return std::nullopt;
  }
  it->second.lastUse = std::max(it->second.lastUse, now);
  return it->second.session;
}

void SessionStore::End(std::string_view id) {
  std::lock_guard lock(mutex_);
  entries_.erase(std::string(id));
}

void SessionStore::Keep(std::string_view id, const std::string& name, std::string value) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(std::string(id));
  if (it != entries_.end()) it->second.kept[name] = std::move(value);
}

std::optional<std::string> SessionStore::Kept(std::string_view id, const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(std::string(id));
  if (it == entries_.end()) return std::nullopt;
  auto v = it->second.kept.find(name);
  if (v == it->second.kept.end()) return std::nullopt;
  return v->second;
}

size_t SessionStore::Count() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

// Idle sign-ins are swept at most once a minute, so the store does not grow with abandoned ones.
void SessionStore::DropIdle(Clock::time_point now) {
  if (now - lastSweep_ < std::chrono::minutes(1)) return;
  lastSweep_ = now;
  std::erase_if(entries_, [&](const auto& e) { return now - e.second.lastUse > idle_; });
}

}  // namespace site
