// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/main_window.h"

namespace kovra::win32 {

// SetCount (dialog 101): counter start values and the failure kinds to
// count, shown and, on OK, given back in `settings`. False on Cancel.
bool RunSetCountDialog(HINSTANCE instance, HWND owner, CounterSettings& settings);

// EditDialog (dialog 129): a new value for one byte of the code view, in
// and, on OK, out in `value`; the prompt names its address. False on Cancel.
bool RunEditDialog(HINSTANCE instance, HWND owner, std::string& value, std::string_view address);

}  // namespace kovra::win32
