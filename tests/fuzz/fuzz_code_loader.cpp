// SPDX-License-Identifier: MIT
// The code file loader on arbitrary file contents. The first input byte
// chooses a binary (odd) or a text file; the rest is the file.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "image/code_image.h"
#include "image/code_loader.h"
#include "support/test_context.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kovra;
  static test::TestWorld& w = *new test::TestWorld;
  if (size == 0) return 0;

  w.state.fillZero = data[0] >> 1 & 1;
  w.state.programStart = 0x77;
  w.state.programEnd = 0x88;
  w.window.SetText(id::kStartAddress, "before");
  w.window.SetText(id::kEndAddress, "before");
  w.window.SetText(id::kChecksumField, "before");

  LoadCodeFromBuffer(w.ctx, data[0] & 1, std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

  if (w.state.linkError) {
    Check(w.state.programStart == 0x77 && w.state.programEnd == 0x88);
    Check(w.window.GetText(id::kEndAddress) == "before" && w.window.GetText(id::kChecksumField) == "before");
    return 0;
  }
  Check(w.window.GetText(id::kStatusLine) == kLoadDone);
  Check(w.state.programStart == 0 && w.state.programEnd < kImageSize);
  Check(w.window.GetText(id::kEndAddress) == NumberToText(w.state.programEnd, 16, 4));
  Check(w.window.GetText(id::kChecksumField) == Hex4(SumImage(w.state, 0, w.state.programEnd)));
  // Nothing was written past the code range. memcmp keeps this check out of
  // the instrumented code, which would make every run scan 1 MiB byte by byte.
  static const std::vector<uint8_t> ff(kImageSize, 0xFF), zero(kImageSize, 0x00);
  const std::vector<uint8_t>& fill = w.state.fillZero ? zero : ff;
  const size_t past = w.state.programEnd + 1;
  Check(std::memcmp(w.state.codeImage.data() + past, fill.data(), kImageSize - past) == 0);
  return 0;
}
