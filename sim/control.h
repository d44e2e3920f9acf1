// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/programmer.h"

namespace kovra::sim {

// What a control command asks of the one who runs the programmer: power and
// line changes are theirs (a pseudo-terminal, a registry entry).
struct ControlReply {
  enum class Action : uint8_t { kNone, kUnplug, kReplug, kQuit };
  bool ok = true;
  std::string text;  // reply or error, one line per fact, each ending in '\n'
  Action action = Action::kNone;
  uint64_t delayUs = 0;  // for unplug and replug: how long from now
};

// Runs one text command (see ControlHelp) on the programmer at nowUs.
ControlReply RunControl(Programmer& programmer, std::string_view line, uint64_t nowUs);
std::string ControlHelp();

}  // namespace kovra::sim
