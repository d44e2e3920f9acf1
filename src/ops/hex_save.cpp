// SPDX-License-Identifier: MIT
#include "ops/hex_save.h"

#include <algorithm>
#include <array>

#include "base/host_timing.h"
#include "image/hex_writer.h"
#include "link/commands.h"
#include "ops/memory_ops.h"

namespace kovra {
namespace {

// The programmer's memory, read block by block with its block checksum.
class ProgrammerBlockSource : public BlockSource {
 public:
  explicit ProgrammerBlockSource(AppContext& ctx) : ctx_(ctx) {}
  bool ReadBlock(uint32_t first, uint32_t last, uint8_t* out) override {
    std::array<uint8_t, sizes::kBlock> buffer{};
    kovra::ReadBlock(ctx_, cmd::kReadMemoryBlock, buffer.data(), buffer.size(), first, last);
    if (ctx_.state.linkError) return false;
    std::copy_n(buffer.begin(), last - first + 1, out);
    return true;
  }

 private:
  AppContext& ctx_;
};

}  // namespace

void SaveProgrammingMemoryAsHex(AppContext& ctx) {
  ProgrammerBlockSource programmer(ctx);
  SaveMemoryAsHex(ctx, programmer);
}

}  // namespace kovra
