#include "site/page_makers.h"

namespace site {

PageMakers::PageMakers(unsigned count) : makers_(count) {
  for (Maker& m : makers_) m.thread = std::thread([this, &m] { Run(m); });
}

void PageMakers::Post(std::function<void()> job) {
  std::unique_lock lock(mutex_);
  if (stopping_) {
    lock.unlock();
    job();
    return;
  }
  if (idle_.empty()) {
    waiting_.push_back(std::move(job));
    return;
  }
  Maker* m = idle_.back();
  idle_.pop_back();
  m->job = std::move(job);
  lock.unlock();
  m->wake.notify_one();
}

void PageMakers::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  for (Maker& m : makers_) m.wake.notify_one();
  for (Maker& m : makers_)
    if (m.thread.joinable()) m.thread.join();
}

void PageMakers::Run(Maker& m) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!m.job && !waiting_.empty()) {
      m.job = std::move(waiting_.front());
      waiting_.pop_front();
    }
    if (m.job) {
      std::function<void()> job = std::move(m.job);
      m.job = nullptr;
      lock.unlock();
      job();
      lock.lock();
      continue;
    }
    if (stopping_) return;
    idle_.push_back(&m);
    m.wake.wait(lock, [&] { return m.job || stopping_; });
    if (!m.job) std::erase(idle_, &m);
  }
}

}  // namespace site
