// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/app_context.h"

namespace kovra {

// What a refused run's outcome says when no number was left.
inline constexpr const char* kWhySerialsRunOut = "serial numbers run out";
inline constexpr const char* kTextSerialsRunOut = "serial numbers run out: no chip programmed";
inline constexpr const char* kTextSerialJournalFailed = "the serial journal cannot be written: no chip programmed";

// A chip's number written into the image for one run, and what it
// replaced.
struct GivenSerial {
  uint32_t address = 0;
  std::vector<uint8_t> original;
  std::string checksumText;
};

// Takes the chip's number from ctx.serials (spent from here on, whatever
// becomes of the chip) and writes it into the image at the state's
// serialAddress, with the checksum word the frames then carry: the
// programmer judges the streamed bytes by it. nullopt, with the outcome
// refused and the status saying why, when there is none to give.
std::optional<GivenSerial> GiveSerial(AppContext& ctx);
// The file's bytes and checksum word back, once the chip is done: the
// programmer's memory holds the file, and so must the image it is
// compared with.
void TakeBackSerial(AppContext& ctx, const GivenSerial& given);

}  // namespace kovra
