// SPDX-License-Identifier: MIT
#include "link/link_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

namespace kovra {
namespace {

TEST(LinkWorker, RunsJobsOneAtATimeInOrder) {
  LinkWorker worker;
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::vector<int> order;
  std::mutex m;
  ASSERT_TRUE(worker.PostSupervision([&] {
    gate.wait();
    std::lock_guard lock(m);
    order.push_back(1);
  }));
  // While the pass runs, another pass is not queued, but an operation waits
  // for it; a second operation is refused.
  EXPECT_FALSE(worker.PostSupervision([&] { order.push_back(9); }));
  EXPECT_TRUE(worker.PostOperation([&] {
    std::lock_guard lock(m);
    order.push_back(2);
  }));
  EXPECT_FALSE(worker.PostOperation([&] { order.push_back(9); }));
  EXPECT_FALSE(worker.Idle());
  release.set_value();
  worker.WaitIdle();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(worker.Idle());
  // Once done, the next operation is accepted again.
  EXPECT_TRUE(worker.PostOperation([] {}));
  worker.WaitIdle();
}

TEST(LinkWorker, RaisesPriorityOnlyAroundOperations) {
  std::vector<bool> calls;
  LinkWorker worker([&](bool on) { calls.push_back(on); });
  worker.PostSupervision([] {});
  worker.WaitIdle();
  EXPECT_TRUE(calls.empty());
  worker.PostOperation([] {});
  worker.WaitIdle();
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

TEST(LinkWorker, DestructionLetsTheRunningJobFinish) {
  std::atomic<bool> finished{false};
  std::promise<void> started;
  {
    LinkWorker worker;
    worker.PostOperation([&] {
      started.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      finished = true;
    });
    started.get_future().wait();
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace kovra
