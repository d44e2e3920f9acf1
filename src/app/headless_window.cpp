// SPDX-License-Identifier: MIT
#include "app/headless_window.h"

#include <stdexcept>

#include "base/control_table.h"

namespace kovra {

HeadlessWindow::HeadlessWindow() {
  for (const ControlEntry& entry : MainControlTable()) controls_[entry.id].text = entry.text;
}

HeadlessWindow::Control& HeadlessWindow::At(int id) {
  auto it = controls_.find(id);
  if (it == controls_.end()) throw std::out_of_range("no control with id " + std::to_string(id));
  return it->second;
}

std::string HeadlessWindow::GetText(int id) {
  std::lock_guard lock(mutex_);
  Control& c = At(id);
  if (!c.items.empty() || c.selection >= 0) {
    return c.selection >= 0 ? c.items[static_cast<size_t>(c.selection)] : std::string();
  }
  return c.text;
}

void HeadlessWindow::SetText(int id, std::string_view text) {
  std::lock_guard lock(mutex_);
  At(id).text = text;
}

bool HeadlessWindow::IsChecked(int id) {
  std::lock_guard lock(mutex_);
  return At(id).checked;
}

void HeadlessWindow::SetChecked(int id, bool checked) {
  std::lock_guard lock(mutex_);
  At(id).checked = checked;
}

bool HeadlessWindow::IsEnabled(int id) {
  std::lock_guard lock(mutex_);
  return At(id).enabled;
}

void HeadlessWindow::SetEnabled(int id, bool enabled) {
  std::lock_guard lock(mutex_);
  At(id).enabled = enabled;
}

bool HeadlessWindow::IsVisible(int id) {
  std::lock_guard lock(mutex_);
  return At(id).visible;
}

void HeadlessWindow::SetVisible(int id, bool visible) {
  std::lock_guard lock(mutex_);
  At(id).visible = visible;
}

void HeadlessWindow::SetLocked(int id, bool locked) {
  std::lock_guard lock(mutex_);
  At(id).locked = locked;
}

bool HeadlessWindow::IsLocked(int id) {
  std::lock_guard lock(mutex_);
  return At(id).locked;
}

void HeadlessWindow::ComboReset(int id) {
  std::lock_guard lock(mutex_);
  Control& c = At(id);
  c.items.clear();
  c.selection = -1;
}

void HeadlessWindow::ComboAdd(int id, std::string_view text) {
  std::lock_guard lock(mutex_);
  At(id).items.emplace_back(text);
}

int HeadlessWindow::ComboCount(int id) {
  std::lock_guard lock(mutex_);
  return static_cast<int>(At(id).items.size());
}

std::string HeadlessWindow::ComboItem(int id, int index) {
  std::lock_guard lock(mutex_);
  Control& c = At(id);
  if (index < 0 || static_cast<size_t>(index) >= c.items.size()) return {};
  return c.items[static_cast<size_t>(index)];
}

int HeadlessWindow::ComboSelection(int id) {
  std::lock_guard lock(mutex_);
  return At(id).selection;
}

void HeadlessWindow::ComboSelect(int id, int index) {
  std::lock_guard lock(mutex_);
  Control& c = At(id);
  c.selection = (index >= 0 && static_cast<size_t>(index) < c.items.size()) ? index : -1;
}

MbAnswer HeadlessWindow::ShowMessageBox(const MessageBoxRequest& request) {
  std::lock_guard lock(mutex_);
  messageBoxes_.push_back(request);
  return DefaultAnswer(request);
}

std::vector<MessageBoxRequest> HeadlessWindow::MessageBoxes() {
  std::lock_guard lock(mutex_);
  return messageBoxes_;
}

void HeadlessWindow::SetTimer(int timerId, uint32_t periodMs) {
  std::lock_guard lock(mutex_);
  timers_[timerId] = periodMs;
}

std::map<int, uint32_t> HeadlessWindow::Timers() {
  std::lock_guard lock(mutex_);
  return timers_;
}

void HeadlessWindow::SetupGrid() {
  std::lock_guard lock(mutex_);
  gridReady_ = true;
}

bool HeadlessWindow::GridReady() {
  std::lock_guard lock(mutex_);
  return gridReady_;
}

void HeadlessWindow::SetGridCell(int row, int column, std::string_view text) {
  std::lock_guard lock(mutex_);
  grid_[{row, column}] = text;
}

std::string HeadlessWindow::GetGridCell(int row, int column) {
  std::lock_guard lock(mutex_);
  auto it = grid_.find({row, column});
  return it == grid_.end() ? std::string() : it->second;
}

std::optional<CounterSettings> HeadlessWindow::ShowSetCount(const CounterSettings&) { return std::nullopt; }

std::optional<std::string> HeadlessWindow::ShowEditDialog(std::string_view, std::string_view) { return std::nullopt; }

MbAnswer DefaultAnswer(const MessageBoxRequest& request) {
  const bool second = request.defaultButton == 1;
  switch (request.buttons) {
    case MbButtons::kOkCancel:
      return second ? MbAnswer::kCancel : MbAnswer::kOk;
    case MbButtons::kYesNo:
      return second ? MbAnswer::kNo : MbAnswer::kYes;
    case MbButtons::kOk:
      break;
  }
  return MbAnswer::kOk;
}

}  // namespace kovra
