// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
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
  // operation is queued or running. onQueued runs under the worker's lock
  // once the job is queued, before the worker can take the job up.
  bool PostOperation(Job job, const std::function<void()>& onQueued = {});
  // Runs f under the worker's lock unless an operation waits in the queue.
  void UnlessOperationQueued(const std::function<void()>& f);
  bool Idle();
  // For tests and the command line: blocks until nothing is queued or running.
  void WaitIdle();
  // At shutdown: the process is about to end, whatever the worker is doing.
  // The thread keeps what it uses alive, so the worker may be destroyed
  // while a step still runs.
  void Abandon();

 private:
  struct Shared;
  static void Loop(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace kovra
