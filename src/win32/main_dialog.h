// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include "base/app_context.h"
#include "base/control_table.h"
#include "win32/main_controls.h"
#include "win32/win32_main_window.h"

namespace kovra::win32 {

// The main window: the modal dialog of template 102 with every control
// made at run time. The program runs for as long as it is open.
class CMainDialog {
 public:
  CMainDialog(HINSTANCE instance, AppContext& ctx, Win32MainWindow& window);
  ~CMainDialog();
  CMainDialog(const CMainDialog&) = delete;
  CMainDialog& operator=(const CMainDialog&) = delete;

  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // A message's result, for the messages whose answer goes through
  // DWLP_MSGRESULT.
  INT_PTR Answer(LRESULT result);

  BOOL OnInitDialog();
  void AddAboutItem();
  void EnsureClientArea();
  INT_PTR OnCtlColor(UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnPaintMinimised();
  void OnGridDoubleClick(const NMHDR& header);
  void OnDestroy();

  HINSTANCE instance_;
  AppContext& ctx_;
  Win32MainWindow& window_;
  HWND hwnd_ = nullptr;
  HICON icon_;
  HICON smallIcon_;
  MainControls controls_;
};

}  // namespace kovra::win32
