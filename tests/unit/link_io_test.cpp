// SPDX-License-Identifier: MIT
// The byte primitives and answer readers against a port that plays back a
// script of timed bytes, following the port's time-out rules.
#include <gtest/gtest.h>

#include <deque>

#include "link/commands.h"
#include "link/programmer_link.h"
#include "support/test_context.h"

namespace kovra {
namespace {

using test::TestWorld;

// Bytes that arrive at given moments (ms); reads wait in virtual time as
// the link's time-outs allow: 50 ms + 2 ms a byte in all, 2 ms between bytes.
class ScriptedPort : public NoSerialPort {
 public:
  explicit ScriptedPort(Clock& clock) : clock_(clock) {}
  void At(uint64_t ms, std::vector<uint8_t> bytes) {
    for (uint8_t b : bytes) arrivals_.push_back({ms, b});
  }
  bool IsOpen() const override { return true; }
  SerialTransfer Write(const uint8_t*, size_t count) override {
    writes.push_back(count);
    return {count};
  }
  SerialTransfer Read(uint8_t* data, size_t count) override {
    reads.push_back(count);
    const uint64_t deadline = clock_.NowMs() + 50 + 2 * count;
    size_t got = 0;
    while (got < count && !arrivals_.empty()) {
      const uint64_t at = std::max(arrivals_.front().first, clock_.NowMs());
      const uint64_t limit = got == 0 ? deadline : std::min(deadline, clock_.NowMs() + 2);
      if (at > limit) break;
      clock_.SleepMs(static_cast<uint32_t>(at - clock_.NowMs()));
      data[got++] = arrivals_.front().second;
      arrivals_.pop_front();
    }
    if (got == 0) clock_.SleepMs(static_cast<uint32_t>(deadline - clock_.NowMs()));
    return {got};
  }
  std::vector<size_t> writes, reads;

 private:
  Clock& clock_;
  std::deque<std::pair<uint64_t, uint8_t>> arrivals_;
};

struct LinkIo : ::testing::Test {
  TestWorld w;
  ScriptedPort port{w.clock};
  AppContext ctx{w.state, w.window,  w.registry, w.clock,         w.sound,  w.dialogs,
                 port,    w.portMap, w.worker,   w.programFolder, w.records};
};

TEST_F(LinkIo, BulkTransfersUseTheirChunkSizes) {
  std::vector<uint8_t> data(600);
  EXPECT_EQ(WriteBytes(ctx, data.data(), data.size()), 600u);
  EXPECT_EQ(port.writes, (std::vector<size_t>{256, 256, 88}));
  port.At(0, std::vector<uint8_t>(21, 0x11));
  EXPECT_EQ(ReadBytes(ctx, data.data(), 21), 21u);
  EXPECT_EQ(port.reads, (std::vector<size_t>{16, 5}));
  EXPECT_EQ(w.state.linkError, 0);
}

TEST_F(LinkIo, ReadBytesStopsAtSilence) {
  std::vector<uint8_t> data(21);
  port.At(0, std::vector<uint8_t>(20, 0x11));
  EXPECT_EQ(ReadBytes(ctx, data.data(), 21), 20u);
  EXPECT_EQ(w.state.linkError, 1);
}

TEST_F(LinkIo, AnswerWithinTheTriesIsTakenALateOneIsNot) {
  uint8_t buffer[16];
  port.At(1000, {'O', 'K'});
  ReadAnswer(ctx, buffer, sizeof buffer, 2, 50);
  EXPECT_EQ(w.state.linkError, 0);
  EXPECT_EQ(buffer[0], 'O');
  EXPECT_EQ(buffer[1], 'K');

  const uint64_t now = w.clock.NowMs();
  port.At(now + 3000, {'O', 'K'});
  ReadAnswer(ctx, buffer, sizeof buffer, 2, 50);
  EXPECT_EQ(w.state.linkError, 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(w.clock.NowMs() - now, 50u * 52u);  // every try waited its full time
}

TEST_F(LinkIo, ShortSecondReadLeavesZerosWithoutFailing) {
  uint8_t buffer[8];
  port.At(0, {'R', 'O'});
  ReadAnswer(ctx, buffer, sizeof buffer, 5, 10);
  EXPECT_EQ(w.state.linkError, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "RO");
}

TEST_F(LinkIo, VerdictsAreExact) {
  const struct {
    std::vector<uint8_t> bytes;
    Verdict want;
    int linkError;
  } cases[] = {
      {{'O', 'K'}, Verdict::kOk, 0},    {{'O'}, Verdict::kOther, 1},      {{'N', 'O'}, Verdict::kNo, 1},
      {{'O', 'k'}, Verdict::kOther, 1}, {{'E', '2'}, Verdict::kFault, 1}, {{}, Verdict::kOther, 1},
  };
  for (const auto& c : cases) {
    w.state.linkError = 0;
    port.At(w.clock.NowMs(), c.bytes);
    EXPECT_EQ(ReadVerdict(ctx, 32, 3), c.want);
    EXPECT_EQ(w.state.linkError, c.linkError);
  }
  EXPECT_EQ(w.window.MessageBoxes().size(), 1u);  // the one fault
}

TEST_F(LinkIo, RomOkMustBeWholeAndInTime) {
  port.At(0, {'R', 'O', 'M', 'O', 'K'});
  EXPECT_TRUE(ReadRomOk(ctx, 16, 200));
  port.At(w.clock.NowMs(), {'R', 'O', 'M', 'O'});
  EXPECT_FALSE(ReadRomOk(ctx, 16, 200));
  w.state.linkError = 0;
  // 200 tries are about 10 s; the answer comes after 11 s.
  port.At(w.clock.NowMs() + 11000, {'R', 'O', 'M', 'O', 'K'});
  EXPECT_FALSE(ReadRomOk(ctx, 16, 200));
  EXPECT_EQ(w.state.linkError, 1);
}

TEST_F(LinkIo, ProgressAddressesAreTwentyFourBitNumbers) {
  const struct {
    std::vector<uint8_t> bytes;
    uint32_t want;
    int linkError;
  } cases[] = {
      {{0x00, 0x12, 0x34}, 0x001234, 0},
      {{0x01, 0x26, 0x00}, 0x012600, 0},  // beyond FFFFH the high byte is no text
      {{0x0F, 0xFF, 0xFF}, 0x0FFFFF, 0},
      {{0x00, 0x12}, 0x001200, 0},  // missing bytes stay 0
  };
  for (const auto& c : cases) {
    w.state.linkError = 0;
    port.At(w.clock.NowMs(), c.bytes);
    EXPECT_EQ(ReadProgressAddress(ctx), c.want);
    EXPECT_EQ(w.state.linkError, c.linkError);
  }
  // Once the operation has failed, readers return 0 even when bytes come.
  w.state.linkError = 1;
  port.At(w.clock.NowMs(), {0x00, 0x00, 0x05});
  EXPECT_EQ(ReadProgressAddress(ctx), 0u);
}

TEST_F(LinkIo, ChecksumWordIsHighByteFirst) {
  port.At(0, {0xAB, 0xCD});
  EXPECT_EQ(ReadWord16(ctx), 0xABCD);
}

}  // namespace
}  // namespace kovra
