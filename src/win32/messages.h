// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

// The messages by which the controls talk to the main window. All of them
// are sent, never posted: a control waits for the window's answer.
namespace kovra::win32 {

inline constexpr UINT UM_COMMAND = WM_USER + 1;           // wParam id, lParam the control's parent
inline constexpr UINT UM_QUERY_LINK_ERROR = WM_USER + 4;  // answers 1 while linkError is set
inline constexpr UINT UM_LINK_DOWN = WM_USER + 5;
inline constexpr UINT UM_LINK_UP = WM_USER + 6;  // answers 1 if the web label was pressed
inline constexpr UINT UM_INTERRUPT = WM_USER + 7;
inline constexpr UINT UM_SET_LOCK = WM_USER + 8;  // to a button: lParam non-zero locks it
inline constexpr UINT UM_HOTKEY = WM_USER + 9;    // wParam the function key
inline constexpr UINT UM_CHIP_CHANGED = WM_USER + 10;
inline constexpr UINT UM_CONNECT = WM_USER + 11;

// Private to this layer: a call carried over to the user-interface thread
// (lParam points at a std::function<void()>), a child's notification handed
// back to the child by its group frame, and a button asked whether it is
// locked (answers 1 if so).
inline constexpr UINT kInvokeMessage = WM_APP + 1;
inline constexpr UINT kReflectedCommand = WM_APP + 2;
inline constexpr UINT kQueryLock = WM_APP + 3;

}  // namespace kovra::win32
