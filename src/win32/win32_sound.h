// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include "platform/sound.h"

namespace kovra::win32 {

// The PC speaker.
class Win32Sound : public Sound {
 public:
  void Beep(uint32_t frequencyHz, uint32_t durationMs) override { ::Beep(frequencyHz, durationMs); }
};

}  // namespace kovra::win32
