// SPDX-License-Identifier: MIT
// The link against the simulated programmer: connect, supervision and the
// conversation's failure paths, in virtual time.
#include <gtest/gtest.h>

#include "base/control_ids.h"
#include "base/texts.h"
#include "link/commands.h"
#include "link/programmer_link.h"
#include "ops/run_operation.h"
#include "support/observed_port.h"
#include "support/sim_world.h"

namespace kovra {
namespace {

using test::SimWorld;

const std::string kConnectedCom5 = std::string(kTextConnectedPrefix) + "COM5";

TEST(Connect, FindsTheProgrammerOnTheSavedPort) {
  SimWorld w;
  w.Tick();
  EXPECT_EQ(w.Status(), kConnectedCom5);
  EXPECT_EQ(w.state.connected, 1);
  EXPECT_EQ(w.state.linkReady, 1);
  EXPECT_EQ(w.state.linkError, 0);
  EXPECT_EQ(w.state.busy, 0);
  EXPECT_EQ(w.window.Timers().at(kMainTimer), 1000u);
  EXPECT_TRUE(w.window.MessageBoxes().empty());
  // The probe frame: 0x55 where nothing else is set, code 1.
  const auto frames = w.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][20], kConnectProbe);
  EXPECT_EQ(frames[0][16], 0x55);
  EXPECT_EQ(std::string(frames[0].begin(), frames[0].begin() + 4), "STAR");
  EXPECT_TRUE(w.rig.Violations().empty());
}

TEST(Connect, SavedOrdinaryPortLeadsToTheBridgeOneTickLater) {
  SimWorld w("KV86P48", "COM1");
  w.rig.port.AddPlainPort("COM1");
  w.Tick();
  EXPECT_EQ(w.state.connected, 0);
  EXPECT_EQ(w.Status(), kTextLinkError);
  EXPECT_EQ(w.window.Timers().at(kRetryTimer), 1000u);
  EXPECT_EQ(w.state.currentPortName, "COM5");
  EXPECT_TRUE(w.window.MessageBoxes().empty());  // a connect probe never warns

  w.Tick();
  EXPECT_EQ(w.state.connected, 1);
  EXPECT_EQ(w.Status(), kConnectedCom5);
}

TEST(Connect, NoBridgeSaysSoUnlessQuiet) {
  SimWorld w;
  w.rig.bridge.Unplug();
  w.Tick();
  auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kTextNoBridge);
  EXPECT_EQ(boxes[0].caption, "");
  EXPECT_EQ(boxes[0].icon, MbIcon::kError);
  EXPECT_EQ(w.Status(), kTextLinkError);
  EXPECT_EQ(w.state.currentPortName, "COM5");  // no candidate was tried

  w.Tick();  // supervision reconnects quietly
  EXPECT_EQ(w.window.MessageBoxes().size(), 1u);
  w.rig.bridge.Replug();
  w.Tick();
  EXPECT_EQ(w.state.connected, 1);
  EXPECT_EQ(w.Status(), kConnectedCom5);
}

// A port that refuses its queues, its time-outs or its line is closed and
// left, as one that does not open: not a byte goes out on it half set up.
TEST(Connect, APortThatCannotBeSetUpIsNotUsed) {
  enum class Refused { kQueues, kTimeouts, kLine };
  struct RefusingPort : test::ObservedPort {
    RefusingPort(SerialPort& inner, Refused refused) : ObservedPort(inner), refused(refused) {}
    bool SetQueues(uint32_t in, uint32_t out) override {
      return refused != Refused::kQueues && ObservedPort::SetQueues(in, out);
    }
    bool SetTimeouts(const SerialTimeouts& t) override {
      return refused != Refused::kTimeouts && ObservedPort::SetTimeouts(t);
    }
    bool Configure(const SerialSettings& s) override { return refused != Refused::kLine && ObservedPort::Configure(s); }
    Refused refused;
  };
  for (Refused refused : {Refused::kQueues, Refused::kTimeouts, Refused::kLine}) {
    SCOPED_TRACE(static_cast<int>(refused));
    SimWorld w;
    RefusingPort port(w.rig.port, refused);
    AppContext ctx{w.state, w.window,  w.registry, w.clock,         w.sound,  w.dialogs,
                   port,    w.portMap, w.worker,   w.programFolder, w.records};
    OnTimerTick(ctx);
    w.worker.WaitIdle();
    EXPECT_FALSE(w.rig.port.IsOpen());
    EXPECT_EQ(w.state.connected, 0);
    EXPECT_EQ(w.Status(), kTextLinkError);
    EXPECT_TRUE(w.window.MessageBoxes().empty());
    EXPECT_TRUE(w.Frames().empty());
  }
}

// A read or a write on a port whose bridge is gone fails: the exchange ends
// at once as a lost link. A read that only times out is tried again.
TEST(Transfers, AFailedPortEndsTheExchangeAtOnceATimeOutIsTriedAgain) {
  const struct {
    const char* what;
    bool unplugged;
    bool write;
    int calls;
  } cases[] = {
      {"silent programmer", false, false, 5},
      {"read, bridge gone", true, false, 1},
      {"write, bridge gone", true, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimWorld w;
    w.Tick();
    ASSERT_EQ(w.state.connected, 1);
    test::ObservedPort port(w.rig.port);
    int calls = 0;
    port.onRead = [&] { ++calls; };
    port.onWrite = [&](const uint8_t*, size_t) { ++calls; };
    AppContext ctx{w.state, w.window,  w.registry, w.clock,         w.sound,  w.dialogs,
                   port,    w.portMap, w.worker,   w.programFolder, w.records};
    if (c.unplugged) w.rig.bridge.Unplug();
    uint8_t buffer[8] = {};
    if (c.write) {
      WriteBytes(ctx, buffer, sizeof buffer);
    } else {
      ReadAnswer(ctx, buffer, sizeof buffer, 2, 5);
    }
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(w.state.linkError, 1);
  }
}

TEST(Supervision, NoticesAnUnplugOnceAndReconnectsAfterReplug) {
  SimWorld w;
  w.Tick();
  w.Tick();
  EXPECT_TRUE(w.window.MessageBoxes().empty());

  w.rig.bridge.Unplug();
  w.Tick();
  auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kTextPortLost);
  EXPECT_EQ(boxes[0].caption, kWarningCaption);
  EXPECT_EQ(w.Status(), kTextReconnecting);
  EXPECT_EQ(w.state.connected, 0);
  EXPECT_EQ(w.state.linkError, 1);

  for (int i = 0; i < 3; ++i) w.Tick();
  EXPECT_EQ(w.window.MessageBoxes().size(), 1u);
  EXPECT_EQ(w.state.connected, 0);

  w.rig.bridge.Replug();
  w.Tick();
  EXPECT_EQ(w.state.connected, 1);
  EXPECT_EQ(w.Status(), kConnectedCom5);
  EXPECT_EQ(w.window.MessageBoxes().size(), 1u);
}

TEST(Supervision, TicksDoNothingWhileBusy) {
  SimWorld w;
  w.Tick();
  const size_t frames = w.Frames().size();
  w.rig.bridge.Unplug();
  w.state.busy = 1;
  w.Tick();
  EXPECT_EQ(w.state.connected, 1);
  EXPECT_TRUE(w.window.MessageBoxes().empty());
  EXPECT_EQ(w.Frames().size(), frames);
}

TEST(CheckConnection, UnpluggedDuringAnOperationWarns) {
  SimWorld w;
  w.Tick();
  w.rig.bridge.Unplug();
  w.Run(Op::kChipChecksum);
  auto boxes = w.window.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kTextPortLost);
  EXPECT_EQ(w.Status(), kTextReconnecting);
  EXPECT_EQ(w.state.connected, 0);
  EXPECT_EQ(w.state.linkReady, 0);
}

TEST(CheckConnection, ATwentyByteFrameAnswerIsAConnectionError) {
  SimWorld w;
  w.rig.programmer.UpdateFaults([](sim::Faults& f) { f.shortFrameAnswer = true; });
  w.state.autoRunState = 100;
  w.Tick();
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(w.state.connected, 0);
  EXPECT_EQ(w.state.autoRunState, 0);
  EXPECT_EQ(w.Status(), kTextLinkError);
  EXPECT_EQ(w.window.Timers().at(kRetryTimer), 1000u);
}

TEST(StartOperation, RefusedWithoutALink) {
  SimWorld w;
  StartOperation(w.ctx, Op::kMemoryChecksum);
  w.worker.WaitIdle();
  EXPECT_EQ(w.Status(), kTextNoLink);
  EXPECT_TRUE(w.Frames().empty());
}

}  // namespace
}  // namespace kovra
