// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <set>

#include "base/control_ids.h"
#include "link/programmer_link.h"
#include "ops/run_operation.h"
#include "support/test_context.h"

namespace kovra {
namespace {

TEST(OperationTable, EachIdentifierFindsItsOwnRow) {
  std::set<uint8_t> seen;
  for (const Operation& op : Operations()) {
    const auto identifier = static_cast<uint8_t>(op.id);
    EXPECT_TRUE(seen.insert(identifier).second) << op.name;
    EXPECT_EQ(FindOperation(identifier), &op) << op.name;
  }
  EXPECT_EQ(FindOperation(0), nullptr);
}

// Only the memory initialisation of F7 may reach the worker without a link.
TEST(OperationTable, StartOperationRefusesWithoutALink) {
  for (const Operation& op : Operations()) {
    if (!op.needsLink) {
      EXPECT_EQ(op.id, Op::kInitMemory) << op.name;
      continue;
    }
    test::TestWorld w;
    StartOperation(w.ctx, op.id);
    w.worker.WaitIdle();
    EXPECT_EQ(w.window.GetText(id::kStatusLine), kTextNoLink) << op.name;
    EXPECT_EQ(w.state.busy, 0) << op.name;
  }
}

}  // namespace
}  // namespace kovra
