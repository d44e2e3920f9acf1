// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace kovra {

class Sound {
 public:
  virtual ~Sound() = default;
  // Blocks for the length of the tone, like the PC speaker does.
  virtual void Beep(uint32_t frequencyHz, uint32_t durationMs) = 0;
};

}  // namespace kovra
