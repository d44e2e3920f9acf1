// SPDX-License-Identifier: MIT
#include "sim/chip.h"

#include <algorithm>

namespace kovra::sim {

Chip Chip::Blank(ChipType type, uint32_t romSize) {
  Chip chip;
  chip.type = type;
  chip.rom.assign(romSize, 0xFF);
  return chip;
}

uint8_t Chip::Read(uint32_t address) const {
  if (address >= rom.size()) return 0xFF;
  return readProtected ? 0x00 : rom[address];
}

bool Chip::Program(uint32_t address, uint8_t value) {
  if (address >= rom.size()) return value == 0xFF;
  if (!writeProtected) rom[address] &= value;
  return Read(address) == value;
}

bool Chip::Erase() {
  if (type != ChipType::kMtp || writeProtected) return false;
  std::fill(rom.begin(), rom.end(), 0xFF);
  readProtected = ldcProtected = smartEnabled = false;
  return true;
}

void Chip::MakeBlank() {
  std::fill(rom.begin(), rom.end(), 0xFF);
  readProtected = ldcProtected = writeProtected = smartEnabled = false;
}

bool Chip::IsBlank() const {
  return std::all_of(rom.begin(), rom.end(), [](uint8_t b) { return b == 0xFF; });
}

}  // namespace kovra::sim
