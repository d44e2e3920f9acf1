#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kovra {

// The one thread that owns the COM port. It runs supervision passes and
// operations one at a time, so no two of them ever share the port. The
// user-interface thread only posts work and never waits for it.
class LinkWorker {
 public:
  using Job = std::function<void()>;

  // setTimeCritical raises (true) or restores (false) the worker's priority
  // around an operation; empty where the platform has no such thing.
  explicit LinkWorker(std::function<void(bool)> setTimeCritical = {});
  // Lets the current job finish, drops queued ones and joins.
  ~LinkWorker();
  LinkWorker(const LinkWorker&) = delete;
  LinkWorker& operator=(const LinkWorker&) = delete;

  // A supervision pass is only queued while the worker has nothing to do.
  bool PostSupervision(Job job);
  // Queued behind a running supervision pass; refused while another
  // operation is queued or running.
  bool PostOperation(Job job);
  bool Idle();
  // For tests and the command line: blocks until nothing is queued or running.
  void WaitIdle();
  // At shutdown: the process is about to end, whatever the worker is doing.
  void Abandon();

 private:
  struct Entry {
    Job job;
    bool operation;
  };
  void Loop();

  std::function<void(bool)> setTimeCritical_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Entry> queue_;
  bool running_ = false;
  bool operationPending_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kovra
