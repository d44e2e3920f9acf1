#include "link/link_worker.h"

namespace kovra {

LinkWorker::LinkWorker(std::function<void(bool)> setTimeCritical)
    : setTimeCritical_(std::move(setTimeCritical)), thread_([this] { Loop(); }) {}

LinkWorker::~LinkWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool LinkWorker::PostSupervision(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (stop_ || running_ || !queue_.empty()) return false;
    queue_.push_back({std::move(job), false});
  }
  wake_.notify_one();
  return true;
}

bool LinkWorker::PostOperation(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (stop_ || operationPending_) return false;
    operationPending_ = true;
    queue_.push_back({std::move(job), true});
  }
  wake_.notify_one();
  return true;
}

bool LinkWorker::Idle() {
  std::lock_guard lock(mutex_);
  return !running_ && queue_.empty();
}

void LinkWorker::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !running_ && queue_.empty(); });
}

void LinkWorker::Abandon() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.detach();
}

void LinkWorker::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    Entry entry = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    lock.unlock();

    if (entry.operation && setTimeCritical_) setTimeCritical_(true);
    entry.job();
    if (entry.operation && setTimeCritical_) setTimeCritical_(false);

    lock.lock();
    running_ = false;
    if (entry.operation) operationPending_ = false;
    if (queue_.empty()) idle_.notify_all();
  }
}

}  // namespace kovra
