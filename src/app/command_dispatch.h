// SPDX-License-Identifier: MIT
#pragma once

#include "base/app_context.h"

namespace kovra {

// Virtual-key codes of the function keys the window reacts to.
inline constexpr int kKeyF5 = 0x74;
inline constexpr int kKeyF7 = 0x76;
inline constexpr int kKeyF8 = 0x77;
inline constexpr int kKeyF9 = 0x78;

inline constexpr const char* kNoCodeText = "编程内存中无代码调入,请打开相关的\n代码文件以调入编程代码!";
// F7 while an operation runs: the memory is not initialised beside it.
inline constexpr const char* kTextBusyRefused = "当前操作尚未完成,请稍候再试";

// A control of the main window was activated. parentId is the group the
// control sits in (0 for the window itself). Returns true when the window
// is to close.
bool OnCommandRequest(AppContext& ctx, int controlId, int parentId);
// A button received the key-up of F2..F12.
void OnHotKey(AppContext& ctx, int virtualKey);
// The window's own key handler: F8.
void OnWindowKeyDown(AppContext& ctx, int virtualKey);
// Every tick of the window's timers: supervision, and after a reconnect the
// memory's code confirmed again.
void OnWindowTimer(AppContext& ctx);

}  // namespace kovra
