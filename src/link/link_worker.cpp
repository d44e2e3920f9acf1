// SPDX-License-Identifier: MIT
#include "link/link_worker.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace kovra {

struct LinkWorker::Shared {
  struct Entry {
    Job job;
    bool operation;
  };

  explicit Shared(std::function<void(bool)> f) : setTimeCritical(std::move(f)) {}

  const std::function<void(bool)> setTimeCritical;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<Entry> queue;
  bool running = false;
  bool operationPending = false;
  bool stop = false;

  void Stop() {
    {
      std::lock_guard lock(mutex);
      stop = true;
      queue.clear();
    }
    wake.notify_all();
  }
};

LinkWorker::LinkWorker(std::function<void(bool)> setTimeCritical)
    : shared_(std::make_shared<Shared>(std::move(setTimeCritical))), thread_([shared = shared_] { Loop(shared); }) {}

LinkWorker::~LinkWorker() {
  shared_->Stop();
  if (thread_.joinable()) thread_.join();
}

bool LinkWorker::PostSupervision(Job job) {
  Shared& s = *shared_;
  {
    std::lock_guard lock(s.mutex);
    if (s.stop || s.running || !s.queue.empty()) return false;
    s.queue.push_back({std::move(job), false});
  }
  s.wake.notify_one();
  return true;
}

bool LinkWorker::PostOperation(Job job, const std::function<void()>& onQueued) {
  Shared& s = *shared_;
  {
    std::lock_guard lock(s.mutex);
    if (s.stop || s.operationPending) return false;
    s.operationPending = true;
    s.queue.push_back({std::move(job), true});
    if (onQueued) onQueued();
  }
  s.wake.notify_one();
  return true;
}

void LinkWorker::UnlessOperationQueued(const std::function<void()>& f) {
  Shared& s = *shared_;
  std::lock_guard lock(s.mutex);
  if (std::none_of(s.queue.begin(), s.queue.end(), [](const Shared::Entry& e) { return e.operation; })) f();
}

bool LinkWorker::Idle() {
  Shared& s = *shared_;
  std::lock_guard lock(s.mutex);
  return !s.running && s.queue.empty();
}

void LinkWorker::WaitIdle() {
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  s.idle.wait(lock, [&s] { return !s.running && s.queue.empty(); });
}

void LinkWorker::Abandon() {
  shared_->Stop();
  if (thread_.joinable()) thread_.detach();
}

void LinkWorker::Loop(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  std::unique_lock lock(s.mutex);
  for (;;) {
    s.wake.wait(lock, [&s] { return s.stop || !s.queue.empty(); });
    if (s.stop) return;
    Shared::Entry entry = std::move(s.queue.front());
    s.queue.pop_front();
    s.running = true;
    lock.unlock();

    if (entry.operation && s.setTimeCritical) s.setTimeCritical(true);
    entry.job();
    if (entry.operation && s.setTimeCritical) s.setTimeCritical(false);

    lock.lock();
    s.running = false;
    if (entry.operation) s.operationPending = false;
    if (s.queue.empty()) s.idle.notify_all();
  }
}

}  // namespace kovra
