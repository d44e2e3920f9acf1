// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <type_traits>
#include <unordered_map>

#include "platform/main_window.h"

namespace kovra::win32 {

// The main window for the logic. Callable from any thread: a call made off
// the user-interface thread is carried over to it with SendMessage and waits
// there until it has run; on the user-interface thread it runs at once.
class Win32MainWindow : public MainWindow {
 public:
  explicit Win32MainWindow(HINSTANCE instance);

  // The dialog hands over its window (WM_INITDIALOG) and takes it back
  // (WM_NCDESTROY); both on the user-interface thread.
  void Attach(HWND dialog);
  void Detach();
  void AddControl(int id, HWND control);
  HWND Control(int id) const;
  HWND Handle() const { return hwnd_.load(); }
  HINSTANCE Instance() const { return instance_; }

  // Runs fn on the user-interface thread and waits for it. Once the window
  // is gone a call from another thread is dropped: the process is ending.
  void Invoke(const std::function<void()>& fn);
  // What the dialog does with kInvokeMessage.
  static void RunInvoked(LPARAM lParam);

  // fn's result, computed on the user-interface thread; `dropped` when the
  // call could not be carried over any more.
  template <typename F, typename R = std::invoke_result_t<F&>>
  R OnUiThread(F&& fn, R dropped = R{}) {
    R result = dropped;
    Invoke([&] { result = fn(); });
    return result;
  }

  std::string GetText(int id) override;
  void SetText(int id, std::string_view text) override;
  bool IsChecked(int id) override;
  void SetChecked(int id, bool checked) override;
  bool IsEnabled(int id) override;
  void SetEnabled(int id, bool enabled) override;
  bool IsVisible(int id) override;
  void SetVisible(int id, bool visible) override;

  void ComboReset(int id) override;
  void ComboAdd(int id, std::string_view text) override;
  int ComboCount(int id) override;
  std::string ComboItem(int id, int index) override;
  int ComboSelection(int id) override;
  void ComboSelect(int id, int index) override;

  MbAnswer ShowMessageBox(const MessageBoxRequest& request) override;
  void SetTimer(int timerId, uint32_t periodMs) override;
  void RefreshCursor() override;
  void SetLocked(int id, bool locked) override;
  bool IsLocked(int id) override;

  void SetupGrid() override;
  void SetGridCell(int row, int column, std::string_view text) override;
  std::string GetGridCell(int row, int column) override;
  std::optional<CounterSettings> ShowSetCount(const CounterSettings& settings) override;
  std::optional<std::string> ShowEditDialog(std::string_view value, std::string_view address) override;

  // The status line's colour follows linkError, which changes without any
  // window message: repaint it when the flag differs from what it shows.
  void RepaintStatusIfStale(bool linkError);

 private:
  HINSTANCE instance_;
  std::atomic<HWND> hwnd_{nullptr};
  std::atomic<DWORD> uiThread_{0};
  // Written while the controls are made, read on the user-interface thread only.
  std::unordered_map<int, HWND> controls_;
  bool statusShowsError_ = false;
};

// Text of a window, UTF-8.
std::string WindowText(HWND hwnd);

}  // namespace kovra::win32
