// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "base/control_ids.h"

namespace kovra {

inline constexpr size_t kRequestFrameSize = 21;

// Chip type byte.
inline constexpr uint8_t kFrameOtp = 1;
inline constexpr uint8_t kFrameMtp = 2;

// Option byte: what the programmer does on its own in an automatic run or
// an offline master.
namespace option {
inline constexpr uint32_t kReadProtect = 0x01;
inline constexpr uint32_t kLdcProtect = 0x02;
inline constexpr uint32_t kBlankCheck = 0x04;
inline constexpr uint32_t kHwWriteProtect = 0x08;
inline constexpr uint32_t kSmart = 0x10;
inline constexpr uint32_t kVerify = 0x20;
inline constexpr uint32_t kEraseMtp = 0x40;

// The check box of the programming-system group that sets each bit.
struct Box {
  int id;
  uint32_t bit;
};
inline constexpr Box kBoxes[] = {
    {id::kOptAutoReadProtect, kReadProtect},
    {id::kOptAutoLdcProtect, kLdcProtect},
    {id::kOptAutoBlankCheck, kBlankCheck},
    {id::kOptAutoHwWriteProtect, kHwWriteProtect},
    {id::kOptSmart, kSmart},
    {id::kOptAutoVerify, kVerify},
    {id::kOptEraseMtp, kEraseMtp},
};
}  // namespace option

// Supply byte: Vcc in the low nibble, the Vpp source in the top two bits
// (neither set: 11 V).
namespace supply {
inline constexpr uint8_t kVcc50 = 0x01;
inline constexpr uint8_t kVcc33 = 0x02;
inline constexpr uint8_t kVccMask = 0x0F;
inline constexpr uint8_t kVpp12 = 0x40;
inline constexpr uint8_t kVppFromVcc = 0x80;
}  // namespace supply

// The 21 bytes the host sends before every command, its fields by name.
// The layout is the programmer's: the end address is split, its low 16 bits
// in 6..7 and its high byte in 19.
struct RequestFrame {
  static constexpr size_t kMagic = 0;      // "STAR": the programmer resynchronises on it
  static constexpr size_t kChipType = 4;   // kFrameOtp or kFrameMtp
  static constexpr size_t kOptions = 5;    // option:: bits
  static constexpr size_t kEndLow16 = 6;   // end bits 15..0, big-endian
  static constexpr size_t kChecksum = 8;   // 16 bits, big-endian
  static constexpr size_t kMarker = 10;    // always 1
  static constexpr size_t kSupply = 11;    // supply:: bits
  static constexpr size_t kImageTag = 12;  // four bytes of the image from 3CH
  static constexpr size_t kStart = 16;     // 24 bits, big-endian
  static constexpr size_t kEndHigh = 19;   // end bits 23..16
  static constexpr size_t kCode = 20;      // the command; the operation's identifier until it sends one

  // Where in the code image the image tag is taken from.
  static constexpr uint32_t kImageTagFrom = 0x3C;

  std::array<uint8_t, kRequestFrameSize> bytes{};

  uint8_t& code() { return bytes[kCode]; }
  uint8_t code() const { return bytes[kCode]; }
  uint8_t& chipType() { return bytes[kChipType]; }
  uint8_t chipType() const { return bytes[kChipType]; }
  uint8_t& options() { return bytes[kOptions]; }
  uint8_t& supply() { return bytes[kSupply]; }
  uint8_t supply() const { return bytes[kSupply]; }

  void Fill(uint8_t value) { bytes.fill(value); }
  void SetMagic() { std::copy_n("STAR", 4, bytes.begin() + kMagic); }
  void SetMarker() { bytes[kMarker] = 1; }
  void SetRange(uint32_t start, uint32_t end) {
    bytes[kStart] = static_cast<uint8_t>(start >> 16);
    bytes[kStart + 1] = static_cast<uint8_t>(start >> 8);
    bytes[kStart + 2] = static_cast<uint8_t>(start);
    bytes[kEndHigh] = static_cast<uint8_t>(end >> 16);
    bytes[kEndLow16] = static_cast<uint8_t>(end >> 8);
    bytes[kEndLow16 + 1] = static_cast<uint8_t>(end);
  }
  void SetChecksum(uint16_t sum) {
    bytes[kChecksum] = static_cast<uint8_t>(sum >> 8);
    bytes[kChecksum + 1] = static_cast<uint8_t>(sum);
  }
  void SetImageTag(const uint8_t* four) { std::copy_n(four, 4, bytes.begin() + kImageTag); }
  const uint8_t* data() const { return bytes.data(); }
};

}  // namespace kovra
