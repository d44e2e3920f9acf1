// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <array>

#include "win32/win32_main_window.h"

namespace kovra::win32 {

// Every control of the main window's control table, made at run time in
// table order inside `dialog`, with its subclass and its font. The fonts
// live as long as this object.
class MainControls {
 public:
  MainControls() = default;
  ~MainControls();
  MainControls(const MainControls&) = delete;
  MainControls& operator=(const MainControls&) = delete;

  void Create(HWND dialog, HINSTANCE instance, Win32MainWindow& window);

 private:
  std::array<HFONT, 5> fonts_{};
};

}  // namespace kovra::win32
