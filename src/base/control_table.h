// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <span>

namespace kovra {

enum class ControlKind { kGroup, kCombo, kCheckBox, kRadio, kPushButton, kLabel, kEdit, kList };

// Style bits of a control.
enum ControlStyle : uint32_t {
  kStyleNone = 0,
  kStyleCentered = 1u << 0,
  kStyleUpperCase = 1u << 1,
  kStyleReadOnly = 1u << 2,
  kStyleDigitsOnly = 1u << 3,
  kStyleBorder = 1u << 4,
  kStyleNotify = 1u << 5,      // label that reports clicks
  kStyleGroupStart = 1u << 6,  // first radio of a radio group
};

struct ControlRect {
  int left, top, right, bottom;
};

// One control of the main window, relative to its parent's client area.
// parent 0 is the window itself.
struct ControlEntry {
  int id;
  int parent;
  ControlKind kind;
  const char* text;  // UTF-8
  uint32_t style;
  ControlRect rect;
};

// The window's controls in creation order.
std::span<const ControlEntry> MainControlTable();
const ControlEntry* FindControl(int id);

inline constexpr const char* kWebAddress = "www.lentaro.cn";

}  // namespace kovra
