// The threads that make the answers of the site's HTTP engine that its own threads do not make.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace site {

// The threads that make the answers an engine thread does not make itself, each taking the next
// whole request whatever connection it came on. A connection belongs to one engine thread for its
// life, and two busy connections that happen to share one would otherwise be answered one after
// the other while other cores wait. The maker that became idle last is woken first: its caches and
// its kept database connection are the warmest.
class PageMakers {
 public:
  explicit PageMakers(unsigned count);
  ~PageMakers() { Stop(); }
  PageMakers(const PageMakers&) = delete;
  PageMakers& operator=(const PageMakers&) = delete;

  void Post(std::function<void()> job);
  // Makes every answer asked for so far, then ends the threads; a later one is made at once.
  void Stop();

 private:
  struct Maker {
    std::thread thread;
    std::condition_variable wake;
    std::function<void()> job;
  };

  void Run(Maker& m);

  std::mutex mutex_;
  std::deque<std::function<void()>> waiting_;  // asked for while every maker was busy
  std::vector<Maker*> idle_;
  bool stopping_ = false;
  std::vector<Maker> makers_;
};

}  // namespace site
