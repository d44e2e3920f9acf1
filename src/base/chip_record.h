// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

namespace kovra {

inline constexpr size_t kChipRows = 256;
inline constexpr size_t kChipNameMax = 15;
inline constexpr size_t kChipFieldMax = 7;

// One row of the chip table, as read from the chip list file: upper case,
// the name cut to 15 characters, the other fields to 7.
struct ChipRecord {
  std::string name;
  std::string memoryType;
  std::string spare;
  std::string vpp;
  std::string vdd;
};

}  // namespace kovra
