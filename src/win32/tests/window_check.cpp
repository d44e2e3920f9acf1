// SPDX-License-Identifier: MIT
// Checks of the Windows main window that only a real window can answer,
// run under Wine by tests/e2e/run_window_check.sh: calls from a worker thread reach
// the controls and come back, they mean what the headless window (the
// reference the logic is tested against) means, a worker's message box
// leaves the user-interface thread free, and once the window is gone a
// worker's call returns at once instead of hanging.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/headless_window.h"
#include "base/control_ids.h"
#include "base/control_table.h"
#include "win32/main_controls.h"
#include "win32/messages.h"
#include "win32/resource.h"
#include "win32/wide_text.h"
#include "win32/win32_file_dialogs.h"
#include "win32/win32_main_window.h"

namespace kovra::win32 {
namespace {

int failures = 0;

void Expect(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++failures;
}

// The same calls on any main window; what it answers, in order.
std::vector<std::string> Script(MainWindow& w) {
  std::vector<std::string> seen;
  auto note = [&](const std::string& label, const std::string& value) { seen.push_back(label + "=" + value); };
  auto flag = [](bool b) { return std::string(b ? "1" : "0"); };

  const std::string chinese = "编程内存代码视图 ABC 123";
  for (int control : {id::kStatusLine, id::kFilePath, id::kGroupCodeView, id::kPauseCounting, id::kLabelStart,
                      id::kDebugMode, id::kStartAddress}) {
    w.SetText(control, chinese);
    note("text" + std::to_string(control), w.GetText(control));
  }
  w.SetText(id::kStatusLine, "");
  note("empty", w.GetText(id::kStatusLine));

  w.ComboReset(id::kChipCombo);
  note("count0", std::to_string(w.ComboCount(id::kChipCombo)));
  note("sel0", std::to_string(w.ComboSelection(id::kChipCombo)));
  for (const char* name : {"NOSELEC", "KV86C02", "KS57C0002"}) w.ComboAdd(id::kChipCombo, name);
  note("count", std::to_string(w.ComboCount(id::kChipCombo)));
  note("item2", w.ComboItem(id::kChipCombo, 2));
  note("item9", w.ComboItem(id::kChipCombo, 9));
  note("sel", std::to_string(w.ComboSelection(id::kChipCombo)));
  w.ComboSelect(id::kChipCombo, 1);
  note("sel1", std::to_string(w.ComboSelection(id::kChipCombo)));
  note("combotext", w.GetText(id::kChipCombo));
  w.ComboSelect(id::kChipCombo, 7);
  note("selbad", std::to_string(w.ComboSelection(id::kChipCombo)));

  for (int box : {id::kDebugMode, id::kAsciiView, id::kChipMtp}) {
    w.SetChecked(box, true);
    note("on" + std::to_string(box), flag(w.IsChecked(box)));
    w.SetChecked(box, false);
    note("off" + std::to_string(box), flag(w.IsChecked(box)));
  }

  w.SetEnabled(id::kVppField, false);
  note("disabled", flag(w.IsEnabled(id::kVppField)));
  w.SetEnabled(id::kVppField, true);
  note("enabled", flag(w.IsEnabled(id::kVppField)));

  // A control inside a hidden group counts as visible: it shows again
  // with its group.
  w.SetVisible(id::kGroupControlData, false);
  note("grouphidden", flag(w.IsVisible(id::kGroupControlData)));
  note("childofhidden", flag(w.IsVisible(id::kStartAddress)));
  w.SetVisible(id::kGroupControlData, true);
  w.SetVisible(id::kBack, false);
  note("backhidden", flag(w.IsVisible(id::kBack)));

  w.SetLocked(id::kAsciiView, true);
  note("locked", flag(w.IsLocked(id::kAsciiView)));
  w.SetLocked(id::kAsciiView, false);
  note("unlocked", flag(w.IsLocked(id::kAsciiView)));

  w.SetupGrid();
  w.SetGridCell(0, 0, "00100");
  w.SetGridCell(15, 16, "7F");
  w.SetGridCell(3, 5, std::string(100, 'A'));
  note("cell00", w.GetGridCell(0, 0));
  note("cell1516", w.GetGridCell(15, 16));
  note("celllong", w.GetGridCell(3, 5));
  note("cellempty", w.GetGridCell(7, 7));
  return seen;
}

// The window of the check: template 102 with the real controls.
struct Harness {
  Win32MainWindow* window;
  MainControls* controls;
  std::function<void(HWND)> onReady;
};

INT_PTR CALLBACK HarnessProc(HWND dialog, UINT msg, WPARAM, LPARAM lParam) {
  auto* h = reinterpret_cast<Harness*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      h = reinterpret_cast<Harness*>(lParam);
      h->window->Attach(dialog);
      h->controls->Create(dialog, h->window->Instance(), *h->window);
      h->onReady(dialog);
      return TRUE;
    case kInvokeMessage:
      Win32MainWindow::RunInvoked(lParam);
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_NCDESTROY:
      if (h) h->window->Detach();
      return FALSE;
    default:
      return FALSE;
  }
}

// Finds the message box with this caption and presses one of its buttons.
void PressWhenShown(const wchar_t* caption, int button) {
  for (int i = 0; i < 200; ++i) {
    if (const HWND box = FindWindowW(L"#32770", caption)) {
      PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
      return;
    }
    Sleep(25);
  }
}

// The open or save dialog owned by `owner`, once it is shown.
HWND WaitForFileDialog(HWND owner) {
  struct Search {
    HWND owner;
    HWND found;
  } search{owner, nullptr};
  for (int i = 0; i < 200 && !search.found; ++i) {
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
          auto* s = reinterpret_cast<Search*>(lp);
          wchar_t cls[16] = {};
          GetClassNameW(h, cls, 16);
          if (IsWindowVisible(h) && GetWindow(h, GW_OWNER) == s->owner && std::wstring(cls) == L"#32770") {
            s->found = h;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(25);
  }
  return search.found;
}

// Types a name into the file dialog and confirms it. A dialog still open
// afterwards (it asked something) is closed, so that the check fails
// instead of waiting forever.
void ChooseInFileDialog(HWND owner, const std::wstring& name) {
  const HWND dialog = WaitForFileDialog(owner);
  if (!dialog) return;
  Sleep(300);
  const HWND nameField = GetDlgItem(dialog, 0x47C);  // the file name box
  SendMessageW(nameField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  for (int i = 0; i < 80 && IsWindow(dialog); ++i) Sleep(25);
  while (IsWindow(dialog)) {
    if (const HWND question = WaitForFileDialog(dialog)) PostMessageW(question, WM_CLOSE, 0, 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    Sleep(200);
  }
}

template <typename F>
double Millis(F&& fn) {
  const auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int Run(HINSTANCE instance) {
  HeadlessWindow headless;
  const std::vector<std::string> reference = Script(headless);

  Win32MainWindow window(instance);
  MainControls controls;
  std::thread worker;
  std::thread helper;
  HWND dialogHwnd = nullptr;

  Harness harness{
      &window, &controls, [&](HWND dialog) {
        dialogHwnd = dialog;
        worker = std::thread([&] {
          // The resources, read back as the program shows them.
          wchar_t about[64] = {};
          LoadStringW(instance, IDS_ABOUT_ITEM, about, 64);
          Expect(Narrow(about) == "关于 Kovra V3.0C(&A)...", "About item text " + Narrow(about));
          const std::string caption = window.OnUiThread([&] { return WindowText(dialogHwnd); });
          Expect(caption == std::string("Kovra V3.0C          ") + kWebAddress, "caption " + caption);

          // On the worker: every call is carried over to the window's thread.
          const std::vector<std::string> seen = Script(window);
          Expect(seen.size() == reference.size(), "same number of answers as the headless window");
          for (size_t i = 0; i < seen.size() && i < reference.size(); ++i) {
            Expect(seen[i] == reference[i], "worker " + seen[i] + " (headless " + reference[i] + ")");
          }

          // A worker's message box: the window's thread keeps answering.
          helper = std::thread([&] {
            for (int i = 0; i < 100 && !FindWindowW(L"#32770", L"check-box"); ++i) Sleep(20);
            DWORD_PTR answer = 0;
            const double ms =
                Millis([&] { SendMessageTimeoutW(dialogHwnd, UM_QUERY_LINK_ERROR, 0, 0, SMTO_NORMAL, 2000, &answer); });
            Expect(ms < 1000, "window answers while a worker's message box is open");
            PressWhenShown(L"check-box", IDCANCEL);
          });
          const MbAnswer answer = window.ShowMessageBox({"worker question", "check-box", MbButtons::kOkCancel});
          Expect(answer == MbAnswer::kCancel, "the box's Cancel comes back to the worker");
          helper.join();

          // The file dialogs, asked for by a worker as the loader and the
          // HEX writer do: a full path back, and an existing file chosen
          // for saving asks nothing (a question would hold the helper up).
          Win32FileDialogs dialogs(window);
          wchar_t temp[MAX_PATH] = {};
          GetTempPathW(MAX_PATH, temp);
          const std::wstring existing = std::wstring(temp) + L"kovra-check.hex";
          CloseHandle(CreateFileW(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
          helper = std::thread([&] { ChooseInFileDialog(dialogHwnd, existing); });
          const auto opened = dialogs.ChooseOpenFile("hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj|BIN文件(*.*)|*.bin||");
          helper.join();
          Expect(opened && *opened == Narrow(existing), "open dialog gives the full path back");
          helper = std::thread([&] { ChooseInFileDialog(dialogHwnd, existing); });
          const auto saved = dialogs.ChooseSaveFile("hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||");
          helper.join();
          Expect(saved && *saved == Narrow(existing), "save dialog takes an existing file without asking");
          DeleteFileW(existing.c_str());

          window.Invoke([&] { EndDialog(dialogHwnd, IDOK); });
        });
      }};
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, HarnessProc, reinterpret_cast<LPARAM>(&harness));
  if (worker.joinable()) worker.join();

  // The window is gone: a worker's calls must come back at once.
  std::thread late([&] {
    MbAnswer answer = MbAnswer::kYes;
    std::string text = "x";
    const double ms = Millis([&] {
      answer = window.ShowMessageBox({"too late", "late", MbButtons::kYesNo});
      text = window.GetText(id::kStatusLine);
    });
    Expect(ms < 500, "calls after the window closed return at once");
    Expect(answer == MbAnswer::kNo, "a question after the window closed is answered no");
    Expect(text.empty(), "a text after the window closed is empty");
  });
  late.join();

  std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "PASSED", failures);
  return failures ? 1 : 0;
}

}  // namespace
}  // namespace kovra::win32

int main() { return kovra::win32::Run(GetModuleHandleW(nullptr)); }
