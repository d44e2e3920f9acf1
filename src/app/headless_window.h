// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/main_window.h"

namespace kovra {

// The main window without a screen: every control of the window's control
// table with its text, check, enabled and visible state, and the combo box
// entries. Message boxes are recorded and answered with their default
// button; the two small dialogs are cancelled, as nobody is there to fill
// them in. Used by kovra-cli and by the tests. An id that is not in the
// control table throws.
class HeadlessWindow : public MainWindow {
 public:
  HeadlessWindow();

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
  void RefreshCursor() override {}
  void SetLocked(int id, bool locked) override;
  bool IsLocked(int id) override;

  void SetupGrid() override;
  void SetGridCell(int row, int column, std::string_view text) override;
  std::string GetGridCell(int row, int column) override;
  std::optional<CounterSettings> ShowSetCount(const CounterSettings& settings) override;
  std::optional<std::string> ShowEditDialog(std::string_view value, std::string_view address) override;

  std::vector<MessageBoxRequest> MessageBoxes();
  // The period each timer was last armed with.
  std::map<int, uint32_t> Timers();
  bool GridReady();

 private:
  struct Control {
    std::string text;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
    bool locked = false;
    std::vector<std::string> items;
    int selection = -1;
  };
  Control& At(int id);

  std::mutex mutex_;
  std::map<int, Control> controls_;
  std::vector<MessageBoxRequest> messageBoxes_;
  std::map<int, uint32_t> timers_;
  bool gridReady_ = false;
  std::map<std::pair<int, int>, std::string> grid_;
};

// The answer a message box gives when its default button is pressed.
MbAnswer DefaultAnswer(const MessageBoxRequest& request);

}  // namespace kovra
