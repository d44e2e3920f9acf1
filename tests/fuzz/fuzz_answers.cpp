// SPDX-License-Identifier: MIT
// Any bytes from the programmer, given to each answer reader: no crash, no
// endless wait, and nothing but the exact "OK" or "ROMOK" taken as success.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/commands.h"
#include "support/test_context.h"

namespace {

// Hands out the fuzzer's bytes as they are asked for; silence afterwards.
class FuzzPort : public kovra::NoSerialPort {
 public:
  FuzzPort(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool IsOpen() const override { return true; }
  kovra::SerialTransfer Read(uint8_t* out, size_t count) override {
    const size_t n = std::min(count, size_ - taken_);
    std::memcpy(out, data_ + taken_, n);
    taken_ += n;
    return {n};
  }
  // What the reader consumed, from the first byte.
  bool Began(const char* word) const {
    const size_t n = std::strlen(word);
    return taken_ >= n && std::memcmp(data_, word, n) == 0;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t taken_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t which = data[0];
  // One world for the whole run: building it costs more than a read.
  static kovra::test::TestWorld w;
  w.state.linkError = 0;
  FuzzPort port(data + 1, size - 1);
  kovra::AppContext ctx{w.state, w.window,  w.registry, w.clock,         w.sound,  w.dialogs,
                        port,    w.portMap, w.worker,   w.programFolder, w.records};
  const bool faultCheck = (which & 0x10) != 0;
  switch (which % 6) {
    case 0:
      if (kovra::ReadVerdict(ctx, 16, 3, faultCheck) == kovra::Verdict::kOk && !port.Began("OK")) std::abort();
      break;
    case 1:
      if (kovra::ReadRomOk(ctx, 16, 3) && !port.Began("ROMOK")) std::abort();
      break;
    case 2:
      kovra::ReadAcknowledgement(ctx, 16, faultCheck);
      break;
    case 3:
      if (kovra::ReadProgressAddress(ctx) > 0xFFFFFF) std::abort();
      break;
    case 4:
      kovra::ReadWord16(ctx);
      break;
    case 5: {
      // A whole progress phase must end once the bytes run out.
      static constexpr uint8_t kCodes[] = {kovra::cmd::kChipChecksum, kovra::cmd::kBlankCheck, kovra::cmd::kVerifyChip,
                                           kovra::cmd::kMemoryChecksum};
      const uint8_t code = kCodes[(which >> 3) % std::size(kCodes)];
      const uint32_t last = kovra::RunProgressPhase(ctx, code, 0, 0x7FFF, "progress");
      if (last > 0xFFFFFF) std::abort();
      break;
    }
  }
  return 0;
}
