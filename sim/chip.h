// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <vector>

namespace kovra::sim {

enum class ChipType : uint8_t { kOtp = 1, kMtp = 2 };

// The chip in the programmer's socket.
struct Chip {
  bool present = true;
  ChipType type = ChipType::kOtp;
  std::vector<uint8_t> rom = std::vector<uint8_t>(0x8000, 0xFF);  // its size is the ROM size
  bool readProtected = false;
  bool ldcProtected = false;
  bool writeProtected = false;  // MTP only, for good
  bool smartEnabled = false;    // MTP only

  static Chip Blank(ChipType type, uint32_t romSize);

  // What the programmer reads: 0xFF past the ROM (nothing drives the bus
  // there), 0x00 from a read-protected chip.
  uint8_t Read(uint32_t address) const;
  // Programming only clears bits. False when the byte does not read back as
  // `value` afterwards.
  bool Program(uint32_t address, uint8_t value);
  // MTP without hardware write protection: every byte 0xFF, protections
  // and SMART cleared. False otherwise, and nothing changes.
  bool Erase();
  // Fresh from the box: blank, nothing enabled.
  void MakeBlank();
  bool IsBlank() const;
};

}  // namespace kovra::sim
