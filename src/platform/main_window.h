// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kovra {

enum class MbButtons { kOk, kOkCancel, kYesNo };
enum class MbIcon { kNone, kError, kWarning, kQuestion, kInformation };
enum class MbAnswer { kOk, kCancel, kYes, kNo };

// One message box owned by the main window. An empty caption means the
// system's default caption. defaultButton counts from 0 (the first button).
struct MessageBoxRequest {
  std::string text;
  std::string caption;
  MbButtons buttons = MbButtons::kOk;
  MbIcon icon = MbIcon::kNone;
  int defaultButton = 0;
};

// What the counter settings dialog shows and gives back.
struct CounterSettings {
  std::string successText;
  std::string failureText;
  uint32_t failureMask = 0;
};

// The main window as the logic sees it: controls addressed by their ids,
// texts in UTF-8. Every call may come from any thread; implementations carry
// it out synchronously on the user-interface thread.
class MainWindow {
 public:
  virtual ~MainWindow() = default;

  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, std::string_view text) = 0;
  virtual bool IsChecked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  virtual bool IsEnabled(int id) = 0;
  virtual void SetEnabled(int id, bool enabled) = 0;
  virtual bool IsVisible(int id) = 0;
  virtual void SetVisible(int id, bool visible) = 0;

  // Combo box entries, in insertion order; selection -1 means none.
  virtual void ComboReset(int id) = 0;
  virtual void ComboAdd(int id, std::string_view text) = 0;
  virtual int ComboCount(int id) = 0;
  virtual std::string ComboItem(int id, int index) = 0;
  virtual int ComboSelection(int id) = 0;
  virtual void ComboSelect(int id, int index) = 0;

  virtual MbAnswer ShowMessageBox(const MessageBoxRequest& request) = 0;

  // (Re)arms one of the window's timers; every tick goes to the same handler.
  virtual void SetTimer(int timerId, uint32_t periodMs) = 0;
  // Shows the wait cursor while busy, the arrow otherwise.
  virtual void RefreshCursor() = 0;
  // A locked button ignores clicks (the code view's selectors while a page
  // is being read).
  virtual void SetLocked(int id, bool locked) = 0;
  virtual bool IsLocked(int id) = 0;

  // The code view's grid: 16 rows of an address column and 16 byte columns.
  virtual void SetupGrid() = 0;
  virtual void SetGridCell(int row, int column, std::string_view text) = 0;
  virtual std::string GetGridCell(int row, int column) = 0;

  // The two small dialogs; nullopt when the user cancelled.
  virtual std::optional<CounterSettings> ShowSetCount(const CounterSettings& settings) = 0;
  virtual std::optional<std::string> ShowEditDialog(std::string_view value, std::string_view address) = 0;
};

}  // namespace kovra
