// SPDX-License-Identifier: MIT
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "app/headless_window.h"

namespace kovra::test {

// The headless window with a user in front of it: message boxes and the two
// small dialogs take the answers queued here, in order, and the dialogs note
// what they were opened with. With nothing queued they answer as the
// headless window does.
class ScriptedWindow : public HeadlessWindow {
 public:
  MbAnswer ShowMessageBox(const MessageBoxRequest& request) override {
    const MbAnswer byDefault = HeadlessWindow::ShowMessageBox(request);
    std::lock_guard lock(mutex_);
    return Next(answers_).value_or(byDefault);
  }
  std::optional<CounterSettings> ShowSetCount(const CounterSettings& settings) override {
    std::lock_guard lock(mutex_);
    lastSetCount = settings;
    return Next(setCountAnswers_).value_or(std::nullopt);
  }
  std::optional<std::string> ShowEditDialog(std::string_view value, std::string_view address) override {
    std::lock_guard lock(mutex_);
    lastEdit = {std::string(value), std::string(address)};
    return Next(editAnswers_).value_or(std::nullopt);
  }

  void QueueAnswer(MbAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
  }
  // nullopt: Cancel.
  void QueueSetCount(std::optional<CounterSettings> answer) {
    std::lock_guard lock(mutex_);
    setCountAnswers_.push_back(std::move(answer));
  }
  void QueueEdit(std::optional<std::string> answer) {
    std::lock_guard lock(mutex_);
    editAnswers_.push_back(std::move(answer));
  }
  std::optional<CounterSettings> lastSetCount;
  std::optional<std::pair<std::string, std::string>> lastEdit;

 private:
  template <typename T>
  static std::optional<T> Next(std::deque<T>& queue) {
    if (queue.empty()) return std::nullopt;
    T answer = std::move(queue.front());
    queue.pop_front();
    return answer;
  }

  std::mutex mutex_;
  std::deque<MbAnswer> answers_;
  std::deque<std::optional<CounterSettings>> setCountAnswers_;
  std::deque<std::optional<std::string>> editAnswers_;
};

}  // namespace kovra::test
