// SPDX-License-Identifier: MIT
// Every fault of the programmer at every step of an automatic run: the run
// stops at that step with its own failure, and only chip failures count.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "app/command_dispatch.h"
#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "support/observed_port.h"
#include "support/sample_files.h"
#include "support/sim_world.h"

namespace kovra {
namespace {

using test::SimWorld;

enum class Fault { kSilent, kNo, kVoltage, kGarbage, kShort, kStopProgress, kWrongChecksum, kUnplug };

const char* Name(Fault f) {
  static const char* names[] = {"silent",         "no",    "voltage", "garbage", "short_answer", "stop_progress",
                                "wrong_checksum", "unplug"};
  return names[static_cast<int>(f)];
}

// The success texts a failing step must never end with.
const std::set<std::string> kSuccessTexts = {"自动编程已成功完成", "编程成功",           "校验芯片成功",
                                             "校验芯片成功!",      "芯片已擦除!",        "芯片SMART系统已使能!",
                                             "芯片读保护已使能!",  "芯片LDC保护已使能!", "芯片硬件写保护成功!"};

// The commands of a run with every option ticked on an MTP chip.
const std::vector<uint8_t> kMemorySteps = {3, 4, 11, 5, 6, 8, 7, 9};
const std::vector<uint8_t> kImageSteps = {3, 4, 0x13, 2, 6, 8, 7, 9};

struct MatrixCase {
  Fault fault;
  bool imageVariant;
  uint8_t code;
};

// What the run's outcome must call the failure: the programmer's own
// verdicts by their kind, anything the link garbled or lost as the link's.
Failure ExpectedFailure(const MatrixCase& c) {
  switch (c.fault) {
    case Fault::kVoltage:
      return Failure::kVoltageFault;
    case Fault::kNo:
      return c.code == 11 || c.code == 0x13 ? Failure::kProgramChecksum : Failure::kSettingFailed;
    case Fault::kStopProgress:
      return c.code == 3 ? Failure::kNotBlank : c.code == 5 ? Failure::kVerifyFailed : Failure::kLinkLost;
    case Fault::kWrongChecksum:
      return Failure::kVerifyFailed;
    default:
      return Failure::kLinkLost;
  }
}

std::string StepOf(uint8_t code) {
  static const std::map<uint8_t, std::string> kSteps = {
      {3, "blank"},  {4, "erase"}, {11, "program"}, {0x13, "program"},   {5, "verify"},
      {2, "verify"}, {6, "smart"}, {8, "ldc"},      {7, "read-protect"}, {9, "write-protect"}};
  return kSteps.at(code);
}

std::string CaseName(const ::testing::TestParamInfo<MatrixCase>& info) {
  return std::string(Name(info.param.fault)) + (info.param.imageVariant ? "_image_" : "_memory_") +
         NumberToText(info.param.code, 16, 2);
}

// Test logs name the case instead of dumping its bytes.
void PrintTo(const MatrixCase& c, std::ostream* os) { *os << CaseName(::testing::TestParamInfo<MatrixCase>(c, 0)); }

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, StopsAtTheFailingStep) {
  const MatrixCase& c = GetParam();
  SimWorld w("KV88M48");
  bool armed = true;
  test::ObservedPort port(w.rig.port);
  port.onFrame = [&](uint8_t code) {
    if (!armed || code != c.code || w.state.autoProgramActive == 0) return;
    armed = false;
    switch (c.fault) {
      case Fault::kUnplug:
        w.rig.bridge.Unplug();
        return;
      case Fault::kSilent:
        return w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.silent = true; });
      case Fault::kNo:
        return w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.answerNo = true; });
      case Fault::kVoltage:
        return w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.voltage = '3'; });
      case Fault::kGarbage:
        return w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.garbage = true; });
      case Fault::kShort:
        return w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.shortAnswer = true; });
      case Fault::kStopProgress:
        return w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.stopProgressAt = 0x0100; });
      case Fault::kWrongChecksum:
        return w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.wrongChecksum = true; });
    }
  };
  AppContext ctx{w.state, w.window,  w.registry, w.clock,         w.sound,  w.dialogs,
                 port,    w.portMap, w.worker,   w.programFolder, w.records};

  w.window.SetText(id::kFilePath, w.dir.Write("code.hex", test::SampleHex(0x400)));
  w.window.SetChecked(id::kDebugMode, c.imageVariant);
  for (int box : {id::kOptAutoHwWriteProtect, id::kOptAutoLdcProtect, id::kOptAutoBlankCheck}) {
    w.window.SetChecked(box, true);
  }
  OnTimerTick(ctx);
  w.worker.WaitIdle();
  OnCommandRequest(ctx, id::kRefreshMemory, id::kGroupFiles);
  w.worker.WaitIdle();
  ASSERT_EQ(w.state.codeLoaded, 1) << w.Status();
  w.rig.programmer.SetChip(sim::Chip::Blank(sim::ChipType::kMtp, 0x2000));
  w.state.failureCount = 0;

  const size_t before = w.Frames().size();
  OnCommandRequest(ctx, id::kAutoProgram, id::kGroupOperations);
  w.worker.WaitIdle();

  EXPECT_FALSE(armed) << "the step never ran";
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(kSuccessTexts.count(w.Status()), 0u) << w.Status();
  EXPECT_EQ(w.state.successCount, 0u);
  const bool linkFailure = c.fault == Fault::kSilent || c.fault == Fault::kUnplug;
  EXPECT_EQ(w.state.failureCount, linkFailure ? 0u : 1u);
  EXPECT_EQ(w.state.busy, 0);
  EXPECT_EQ(w.state.autoProgramActive, 0);
  const Outcome& outcome = w.state.outcome;
  EXPECT_EQ(FailureName(outcome.failure), std::string(FailureName(ExpectedFailure(c))));
  EXPECT_EQ(outcome.step, StepOf(c.code));
  EXPECT_EQ(outcome.fault, c.fault == Fault::kVoltage ? 3 : 0);
  const bool stoppedWalk = c.fault == Fault::kStopProgress && (c.code == 3 || c.code == 5);
  EXPECT_EQ(outcome.hasAddress, stoppedWalk);
  EXPECT_EQ(outcome.address, stoppedWalk ? 0x0100u : 0u);
  // The steps up to the failing one reached the programmer, none after it
  // (with the link gone, not even the failing one).
  const std::vector<uint8_t>& steps = c.imageVariant ? kImageSteps : kMemorySteps;
  const auto failing = std::find(steps.begin(), steps.end(), c.code);
  ASSERT_NE(failing, steps.end());
  const std::vector<uint8_t> expected(steps.begin(), failing + (linkFailure ? 0 : 1));
  std::vector<uint8_t> sent;
  const auto frames = w.Frames();
  for (size_t i = before; i < frames.size(); ++i) sent.push_back(frames[i][20]);
  EXPECT_EQ(sent, expected);
  // Four short failure beeps after the start beep.
  ASSERT_GE(w.sound.beeps.size(), 5u);
  EXPECT_EQ(w.sound.beeps.back(), (std::pair<uint32_t, uint32_t>{1000, 100}));
}

std::vector<MatrixCase> Matrix() {
  std::vector<MatrixCase> cases;
  const std::vector<uint8_t> verdictSteps = {4, 6, 8, 7, 9};
  for (Fault f : {Fault::kSilent, Fault::kUnplug, Fault::kVoltage}) {
    for (uint8_t code : kMemorySteps) cases.push_back({f, false, code});
    for (uint8_t code : {0x13, 2}) cases.push_back({f, true, static_cast<uint8_t>(code)});
  }
  for (Fault f : {Fault::kNo, Fault::kGarbage, Fault::kShort}) {
    for (uint8_t code : verdictSteps) cases.push_back({f, false, code});
  }
  cases.push_back({Fault::kNo, false, 11});
  cases.push_back({Fault::kNo, true, 0x13});
  for (uint8_t code : {3, 11, 5}) cases.push_back({Fault::kStopProgress, false, code});
  cases.push_back({Fault::kStopProgress, true, 2});
  cases.push_back({Fault::kWrongChecksum, true, 2});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(AutoProgram, FaultMatrix, ::testing::ValuesIn(Matrix()), CaseName);

}  // namespace
}  // namespace kovra
