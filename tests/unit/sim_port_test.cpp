// SPDX-License-Identifier: MIT
// The in-process serial port: opening, the COMMTIMEOUTS rules in virtual
// time, purge, wire time of writes, line settings; and the virtual clock's
// alarms it relies on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_raw_host.h"

namespace kovra::test {
namespace {

constexpr uint32_t kMaxDword = UINT32_MAX;

struct OpenCase {
  const char* name;
  const char* port;
  bool opens;
};
// Test logs name the case instead of dumping its bytes.
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class SimPortOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(SimPortOpenTest, ByName) {
  VirtualClock clock;
  MemoryRegistry registry;
  SimRig rig(clock, registry);
  rig.port.AddPlainPort("COM1");
  EXPECT_EQ(rig.port.Open(GetParam().port), GetParam().opens);
  EXPECT_EQ(rig.port.IsOpen(), GetParam().opens);
}

INSTANTIATE_TEST_SUITE_P(Sim, SimPortOpenTest,
                         ::testing::Values(OpenCase{"Bridge", "COM5", true}, OpenCase{"LowerCase", "com5", true},
                                           OpenCase{"DeviceNamespace", "\\\\.\\COM5", true},
                                           OpenCase{"PlainPort", "COM1", true}, OpenCase{"Unknown", "COM6", false},
                                           OpenCase{"Empty", "", false}, OpenCase{"Prefix", "COM", false}),
                         [](const auto& info) { return std::string(info.param.name); });

class SimPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(w.opened); }

  // The frame goes out; its 21-byte answer starts arriving 0.5 ms later.
  void SendProbe() {
    w.rig.port.Purge();
    w.host.SendFrame({});
  }

  size_t Read(size_t count, uint64_t& elapsedUs) {
    std::vector<uint8_t> buffer(count);
    const uint64_t start = w.clock.NowUs();
    const size_t n = w.rig.port.Read(buffer.data(), count).count;
    elapsedUs = w.clock.NowUs() - start;
    return n;
  }

  SimRawWorld w;
};

TEST_F(SimPortTest, OnlyOneHandleAtATime) {
  SimSerialPort second(w.clock);
  second.Attach(w.rig.bridge);
  EXPECT_FALSE(second.Open("COM5"));
  w.rig.port.Close();
  EXPECT_TRUE(second.Open("COM5"));
}

TEST_F(SimPortTest, ReadOfNothingEndsAfterConstantPlusMultiplierPerByte) {
  uint64_t elapsed = 0;
  EXPECT_EQ(Read(16, elapsed), 0u);
  EXPECT_EQ(elapsed, (50 + 2 * 16) * 1000u);
}

TEST_F(SimPortTest, ReadEndsAtAGapLongerThanTheIntervalOnceBytesCame) {
  SendProbe();
  uint64_t elapsed = 0;
  EXPECT_EQ(Read(64, elapsed), 21u);
  // 0.5 ms reaction, 21 bytes on the line, then the 2 ms gap.
  const uint64_t lastByte = 500 + w.rig.programmer.WireUs(21);
  EXPECT_GE(elapsed, lastByte + 2000);
  EXPECT_LE(elapsed, lastByte + 2000 + 300);
}

TEST_F(SimPortTest, TotalTimeOutEndsAReadWithWhatCameSoFar) {
  w.rig.programmer.WriteMemory(0, std::vector<uint8_t>(256, 7));
  ASSERT_EQ(w.host.Exchange({.code = 0x0F, .end = 0xFF}).size(), 21u);
  ASSERT_EQ(w.host.Answer(2, 50).size(), 2u);
  ASSERT_TRUE(w.rig.port.SetTimeouts({0, 0, 20, 2, 50}));
  uint64_t elapsed = 0;
  const size_t first = Read(300, elapsed);
  EXPECT_EQ(elapsed, 20'000u);
  EXPECT_GT(first, 0u);
  EXPECT_LT(first, 258u);
  ASSERT_TRUE(w.rig.port.SetTimeouts({2, 2, 50, 2, 50}));
  EXPECT_EQ(first + w.host.ReadBytes(300).size(), 258u) << "the rest comes to the next read";
}

TEST_F(SimPortTest, IntervalAloneWaitsForTheFirstByteThenEndsAtAGap) {
  ASSERT_TRUE(w.rig.port.SetTimeouts({2, 0, 0, 0, 0}));
  SendProbe();
  w.clock.SleepMs(20);
  w.rig.port.Purge();
  w.rig.programmer.InjectNoise(3, w.clock.NowUs());
  uint64_t elapsed = 0;
  EXPECT_EQ(Read(8, elapsed), 3u);
  EXPECT_EQ(elapsed, w.rig.programmer.WireUs(3) + 2000);
  EXPECT_EQ(Read(8, elapsed), 0u) << "nothing can come: the port does not hang";
  EXPECT_EQ(elapsed, 0u);
}

TEST_F(SimPortTest, MaxIntervalWithoutTotalsReturnsAtOnce) {
  ASSERT_TRUE(w.rig.port.SetTimeouts({kMaxDword, 0, 0, 0, 0}));
  SendProbe();
  uint64_t elapsed = 0;
  EXPECT_EQ(Read(64, elapsed), 0u);
  EXPECT_EQ(elapsed, 0u);
  w.clock.SleepMs(10);
  EXPECT_EQ(Read(64, elapsed), 21u);
  EXPECT_EQ(elapsed, 0u);
}

TEST_F(SimPortTest, MaxIntervalAndMultiplierReturnAtTheFirstByte) {
  ASSERT_TRUE(w.rig.port.SetTimeouts({kMaxDword, kMaxDword, 100, 0, 0}));
  uint64_t elapsed = 0;
  EXPECT_EQ(Read(64, elapsed), 0u);
  EXPECT_EQ(elapsed, 100'000u);
  SendProbe();
  EXPECT_EQ(Read(64, elapsed), 1u);
  EXPECT_LT(elapsed, 1000u);
}

TEST_F(SimPortTest, NoTimeOutsWaitForEveryByte) {
  ASSERT_TRUE(w.rig.port.SetTimeouts({0, 0, 0, 0, 0}));
  SendProbe();
  uint64_t elapsed = 0;
  EXPECT_EQ(Read(21, elapsed), 21u);
  EXPECT_EQ(elapsed, 500 + w.rig.programmer.WireUs(21));
}

TEST_F(SimPortTest, PurgeDropsWhatArrivedButNotWhatIsStillOnTheLine) {
  SendProbe();
  w.clock.SleepUs(500 + w.rig.programmer.WireUs(10));
  ASSERT_TRUE(w.rig.port.Purge());
  EXPECT_EQ(w.host.ReadBytes(21).size(), 11u);
  SendProbe();
  w.clock.SleepMs(50);
  ASSERT_TRUE(w.rig.port.Purge());
  EXPECT_TRUE(w.host.ReadBytes(21).empty());
}

TEST_F(SimPortTest, WriteReturnsWhenItsBytesHaveLeft) {
  const uint64_t start = w.clock.NowUs();
  ASSERT_TRUE(w.rig.port.ArmTransmitEmpty());
  EXPECT_EQ(w.host.Write(std::vector<uint8_t>(21, 0)), 21u);
  EXPECT_EQ(w.clock.NowUs() - start, 6016u) << "21 bytes of 11 bits at 38400 baud";
  EXPECT_TRUE(w.rig.port.WaitTransmitEmpty(100));
  EXPECT_EQ(w.clock.NowUs() - start, 6016u);
}

TEST_F(SimPortTest, WriteTimeOutEndsAWriteWithTheBytesTaken) {
  ASSERT_TRUE(w.rig.port.SetTimeouts({2, 2, 50, 0, 1}));
  const uint64_t start = w.clock.NowUs();
  EXPECT_EQ(w.host.Write(std::vector<uint8_t>(21, 0)), 3u) << "1 ms is 3 whole bytes";
  EXPECT_LE(w.clock.NowUs() - start, 1000u);
}

TEST_F(SimPortTest, BridgeWithABufferTakesBytesAheadOfTheLine) {
  VirtualClock clock;
  MemoryRegistry registry;
  SimRig rig(clock, registry, {.transmitFifo = 64});
  RawHost host(rig.port, clock);
  ASSERT_TRUE(host.Open());
  ASSERT_TRUE(rig.port.ArmTransmitEmpty());
  EXPECT_EQ(host.Write(std::vector<uint8_t>(21, 0)), 21u);
  EXPECT_EQ(clock.NowUs(), 0u);
  EXPECT_TRUE(rig.port.WaitTransmitEmpty(100));
  EXPECT_EQ(clock.NowUs(), 6016u);
  EXPECT_EQ(host.Write(std::vector<uint8_t>(100, 0)), 100u);
  EXPECT_EQ(clock.NowUs(), 6016u + rig.programmer.WireUs(36)) << "waits until 64 are left";
}

// The bridge runs the line the port last set, whatever the settings; the
// line check (a violation when the host writes on a wrong line) reads it.
TEST_F(SimPortTest, TheBridgeRunsTheLineThePortSet) {
  const SerialSettings cases[] = {
      {Baud::k38400, Parity::kSpace, DataBits::k8, StopBits::kOne, true, false},
      {Baud::k9600, Parity::kEven, DataBits::k7, StopBits::kTwo, false, true},
      {Baud::k19200, Parity::kMark, DataBits::k8, StopBits::kTwo, true, true},
  };
  for (const SerialSettings& settings : cases) {
    SimRawWorld world;
    EXPECT_TRUE(world.rig.port.Configure(settings));
    EXPECT_EQ(world.rig.bridge.Line(), settings);
  }
  w.rig.port.Close();
  EXPECT_FALSE(w.rig.port.Configure(cases[1]));
  EXPECT_EQ(w.rig.bridge.Line(), cases[0]) << "a closed port sets nothing";
}

TEST_F(SimPortTest, OrdinaryPortOpensButNothingAnswers) {
  VirtualClock clock;
  SimSerialPort port(clock);
  port.AddPlainPort("COM1");
  RawHost host(port, clock);
  ASSERT_TRUE(host.Open("COM1"));
  EXPECT_TRUE(host.Exchange({}).empty());
  EXPECT_FALSE(host.Dsr());
  EXPECT_GT(clock.NowMs(), 100u);
}

TEST(SimClockTest, AlarmsRunInOrderAtTheirOwnMomentAndMillisecondsStillWork) {
  VirtualClock clock;
  std::vector<uint64_t> seen;
  clock.CallAt(2500, [&] { seen.push_back(clock.NowUs()); });
  clock.CallAt(1500, [&] { seen.push_back(clock.NowUs()); });
  const uint64_t cancelled = clock.CallAt(2000, [&] { seen.push_back(0); });
  clock.Cancel(cancelled);
  clock.SleepMs(3);
  EXPECT_EQ(seen, (std::vector<uint64_t>{1500, 2500}));
  EXPECT_EQ(clock.NowMs(), 3u);
  clock.Advance(2);
  EXPECT_EQ(clock.NowUs(), 5000u);
  EXPECT_FALSE(clock.NextAlarmUs());
}

}  // namespace
}  // namespace kovra::test
