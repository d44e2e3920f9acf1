#pragma once

#include <string>
#include <string_view>

namespace kovra {

enum class MbButtons { Ok, OkCancel, YesNo };
enum class MbIcon { None, Error, Warning, Question, Information };
enum class MbAnswer { Ok, Cancel, Yes, No };

// One message box owned by the main window. An empty caption means the
// system's default caption. defaultButton counts from 0 (the first button).
struct MessageBoxRequest {
  std::string text;
  std::string caption;
  MbButtons buttons = MbButtons::Ok;
  MbIcon icon = MbIcon::None;
  int defaultButton = 0;
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
};

}  // namespace kovra
