// SPDX-License-Identifier: MIT
// kovra-drive: drives the real kovra.exe the way an operator does, from a
// script, for the end-to-end tests and ./run. It finds the main window,
// presses controls by id with mouse and key messages, reads texts and tick
// states, answers message boxes by their text and takes screenshots. It
// knows nothing of the program's insides.
//
//   kovra-drive.exe SCRIPT
//
// Environment: KOVRA_EXE (the program), KOVRA_SHOTS (folder for
// screenshots), KOVRA_SIM_CONTROL (the simulator's control FIFO).
// Every change of the status line is printed as "status: TEXT". The exit
// status is 0 when every step passed; the first failing step ends the run.
//
// Steps, one a line (ID a control id, MS a limit in milliseconds, TEXT the
// rest of the line):
//   launch | expect-title TEXT | expect[-prefix] ID TEXT | wait[-prefix] ID MS TEXT
//   expect-checked|expect-enabled|expect-visible ID 0|1
//   click ID | dblclick ID [X Y] | key ID NAME | type ID TEXT | select ID INDEX
//   box MS BUTTON TEXT | no-box [MS] | wait-dialog MS TEXT | file-dialog PATH
//   dialog-type ID TEXT | dialog-expect ID TEXT | dialog-press ID | syscommand N
//   sim COMMAND | sleep MS | idle MS | shot NAME | ping-start | ping-stop
//   wait-exit [MS] | expect-running [MS]
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStatusLine = 157;
constexpr DWORD kDefaultWaitMs = 20000;
constexpr DWORD kPollMs = 20;

struct StepFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void Say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string TextOf(HWND hwnd) {
  wchar_t buffer[4096] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000,
                           &length))
    throw StepFailed("the window does not answer WM_GETTEXT");
  return Narrow(std::wstring(buffer, length));
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
  return name;
}

struct FindChild {
  int id;
  const wchar_t* className;
  HWND found;
};

BOOL CALLBACK FindChildProc(HWND hwnd, LPARAM param) {
  auto* find = reinterpret_cast<FindChild*>(param);
  if (GetDlgCtrlID(hwnd) == find->id && (!find->className || ClassOf(hwnd) == find->className)) {
    find->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A control anywhere under `parent` (group boxes may parent controls), of
// the given class when one is named.
HWND Child(HWND parent, int id, const wchar_t* className = nullptr) {
  FindChild find{id, className, nullptr};
  EnumChildWindows(parent, FindChildProc, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

struct ProcessWindows {
  DWORD pid;
  std::vector<HWND> dialogs;
};

BOOL CALLBACK ListDialogs(HWND hwnd, LPARAM param) {
  auto* list = reinterpret_cast<ProcessWindows*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == list->pid && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770") list->dialogs.push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK CollectStatics(HWND hwnd, LPARAM param) {
  auto* text = reinterpret_cast<std::string*>(param);
  if (ClassOf(hwnd) == L"Static") *text += TextOf(hwnd);
  return TRUE;
}

// A control's text is the expected one, or begins with it.
bool Reads(const std::string& now, const std::string& text, bool prefix) {
  return prefix ? now.rfind(text, 0) == 0 : now == text;
}

UINT VirtualKey(const std::string& name) {
  static const std::map<std::string, UINT> keys = {
      {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE}, {"SPACE", VK_SPACE}, {"UP", VK_UP},        {"DOWN", VK_DOWN},
      {"F2", VK_F2},         {"F3", VK_F3},         {"F4", VK_F4},       {"F5", VK_F5},        {"F6", VK_F6},
      {"F7", VK_F7},         {"F8", VK_F8},         {"F9", VK_F9},       {"F10", VK_F10},      {"F11", VK_F11},
      {"F12", VK_F12},       {"TAB", VK_TAB},       {"BACK", VK_BACK},   {"DELETE", VK_DELETE}};
  const auto it = keys.find(name);
  if (it == keys.end()) throw StepFailed("unknown key " + name);
  return it->second;
}

int ButtonId(const std::string& name) {
  static const std::map<std::string, int> buttons = {{"OK", IDOK}, {"Cancel", IDCANCEL}, {"Yes", IDYES},
                                                     {"No", IDNO}, {"Retry", IDRETRY},   {"Abort", IDABORT}};
  const auto it = buttons.find(name);
  if (it != buttons.end()) return it->second;
  return std::stoi(name);
}

class Driver {
 public:
  ~Driver() { StopPing(); }

  void Run(std::istream& script) {
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line[first] == '#') continue;
      line = line.substr(first);
      Say("> " + line);
      try {
        Step(line);
        WatchStatus();
      } catch (const std::exception& e) {
        Say("FAILED at line " + std::to_string(number) + ": " + e.what());
        failed_ = true;
        return;
      }
    }
  }

  void Finish() {
    StopPing();
    if (process_) {
      if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        try {
          Shot(failed_ ? "failure" : "end");
        } catch (const std::exception& e) {
          Say(std::string("no screenshot: ") + e.what());
        }
        TerminateProcess(process_, 0);
      }
      CloseHandle(process_);
      process_ = nullptr;
    }
  }

  bool Failed() const { return failed_; }

 private:
  void Step(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    auto word = [&] {
      std::string w;
      if (!(in >> w)) throw StepFailed("missing argument");
      return w;
    };
    auto number = [&] { return std::stoi(word(), nullptr, 0); };
    auto optionalMs = [&](DWORD fallback) {
      int ms = 0;
      return (in >> ms) ? static_cast<DWORD>(ms) : fallback;
    };
    auto rest = [&] {
      std::string r;
      std::getline(in, r);
      if (!r.empty() && r.front() == ' ') r.erase(0, 1);
      return r;
    };
    // "TEXT" arguments run to the end of the line; a wait's limit comes
    // first so the text may hold spaces.
    if (verb == "launch") {
      Launch();
    } else if (verb == "wait" || verb == "wait-prefix") {
      const int id = number();
      const DWORD ms = static_cast<DWORD>(number());
      const std::string text = rest();
      const bool prefix = verb == "wait-prefix";
      auto matches = [&](const std::string& now) { return Reads(now, text, prefix); };
      WaitFor(ms, "control " + std::to_string(id) + " to read \"" + text + "\"", [&] {
        if (id == kStatusLine) return TakeStatus(matches);
        return matches(TextOf(Control(id)));
      });
      Say("  after " + std::to_string(SinceLaunchMs()) + " ms");
    } else if (verb == "expect" || verb == "expect-prefix") {
      const int id = number();
      const std::string text = rest();
      const std::string now = TextOf(Control(id));
      if (!Reads(now, text, verb == "expect-prefix"))
        throw StepFailed("control " + std::to_string(id) + " reads \"" + now + "\"");
    } else if (verb == "expect-title") {
      const std::string title = TextOf(Main());
      if (title != rest()) throw StepFailed("the caption reads \"" + title + "\"");
    } else if (verb == "expect-checked" || verb == "expect-enabled" || verb == "expect-visible") {
      const int id = number();
      const bool want = number() != 0;
      const HWND control = Control(id);
      const bool now = verb == "expect-checked"   ? SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED
                       : verb == "expect-enabled" ? IsWindowEnabled(control) != FALSE
                                                  : IsWindowVisible(control) != FALSE;
      if (now != want) throw StepFailed(verb + " " + std::to_string(id) + ": it is " + (now ? "1" : "0"));
    } else if (verb == "click") {
      Click(Control(number()), false);
    } else if (verb == "dblclick") {
      const HWND control = Control(number());
      int x = 0, y = 0;
      if (in >> x >> y) {
        ClickAt(control, x, y, true);
      } else {
        Click(control, true);
      }
    } else if (verb == "key") {
      const HWND control = Control(number());
      Key(control, VirtualKey(word()));
    } else if (verb == "type") {
      const HWND control = Control(number());
      Type(control, rest());
    } else if (verb == "select") {
      const HWND combo = Control(number());
      SelectByKeys(combo, number());
    } else if (verb == "box") {
      const DWORD ms = static_cast<DWORD>(number());
      const std::string button = word();
      AnswerBox(rest(), ButtonId(button), ms);
    } else if (verb == "no-box") {
      NoBox(optionalMs(500));
    } else if (verb == "wait-dialog") {
      const DWORD ms = static_cast<DWORD>(number());
      const std::string text = rest();
      WaitFor(ms, "a dialog showing \"" + text + "\"", [&] {
        const HWND dialog = OtherDialog();
        return dialog && (BoxText(dialog) + TextOf(dialog)).find(text) != std::string::npos;
      });
    } else if (verb == "syscommand") {
      // What picking a system menu item sends; menus of another process
      // cannot be read under Wine.
      PostMessageW(Main(), WM_SYSCOMMAND, static_cast<WPARAM>(number()), 0);
      Settle();
    } else if (verb == "dialog-type") {
      const int id = number();
      Type(DialogControl(id), rest(), true);
    } else if (verb == "dialog-expect") {
      const int id = number();
      const std::string text = rest();
      const std::string now = TextOf(DialogControl(id));
      if (now != text) throw StepFailed("dialog control " + std::to_string(id) + " reads \"" + now + "\"");
    } else if (verb == "dialog-press") {
      PostMessageW(DialogControl(number()), BM_CLICK, 0, 0);
      Sleep(200);
    } else if (verb == "file-dialog") {
      FileDialog(rest());
    } else if (verb == "sim") {
      Simulator(rest());
    } else if (verb == "sleep") {
      Watch(static_cast<DWORD>(number()));
    } else if (verb == "idle") {
      // Not even looking at the status line, so that the program's own
      // CPU time can be measured meanwhile.
      Sleep(static_cast<DWORD>(number()));
    } else if (verb == "shot") {
      Shot(word());
    } else if (verb == "ping-start") {
      StartPing();
    } else if (verb == "ping-stop") {
      StopPing(true);
    } else if (verb == "wait-exit") {
      const DWORD ms = optionalMs(kDefaultWaitMs);
      if (!process_ || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0)
        throw StepFailed("the program is still running");
      Say("  the program has ended");
    } else if (verb == "expect-running") {
      if (!process_ || WaitForSingleObject(process_, optionalMs(0)) != WAIT_TIMEOUT)
        throw StepFailed("the program has ended");
    } else {
      throw StepFailed("unknown step " + verb);
    }
  }

  // Starts the program and waits for its main window.
  void Launch() {
    if (process_) {
      if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) throw StepFailed("the program still runs");
      CloseHandle(process_);
      process_ = nullptr;
    }
    std::wstring command = L"\"" + Widen(Env("KOVRA_EXE")) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    launched_ = Clock::now();
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      throw StepFailed("cannot start " + Env("KOVRA_EXE"));
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    main_ = nullptr;
    lastStatus_.clear();
    statusSeen_.clear();
    WaitFor(kDefaultWaitMs, "the main window", [&] {
      for (HWND dialog : Dialogs())
        if (Child(dialog, kStatusLine)) main_ = dialog;
      return main_ != nullptr;
    });
    Say("  main window \"" + TextOf(main_) + "\" after " + std::to_string(SinceLaunchMs()) + " ms");
  }

  long long SinceLaunchMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - launched_).count();
  }

  std::vector<HWND> Dialogs() const {
    ProcessWindows list{pid_, {}};
    EnumWindows(ListDialogs, reinterpret_cast<LPARAM>(&list));
    return list.dialogs;
  }

  // The top dialog other than the main window: a message box, SetCount,
  // the edit dialog or a file dialog.
  HWND OtherDialog() const {
    for (HWND dialog : Dialogs())
      if (dialog != main_) return dialog;
    return nullptr;
  }

  HWND Main() const {
    if (!main_ || !IsWindow(main_)) throw StepFailed("no main window");
    return main_;
  }

  HWND Control(int id) const {
    const HWND control = Child(Main(), id);
    if (!control) throw StepFailed("no control " + std::to_string(id));
    return control;
  }

  HWND DialogControl(int id) {
    HWND dialog = nullptr;
    WaitFor(kDefaultWaitMs, "a dialog", [&] { return (dialog = OtherDialog()) != nullptr; });
    const HWND control = Child(dialog, id);
    if (!control) throw StepFailed("no control " + std::to_string(id) + " in the dialog");
    return control;
  }

  template <typename Done>
  void WaitFor(DWORD ms, const std::string& what, Done done) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (true) {
      if (done()) return;
      if (main_) WatchStatus();
      if (Clock::now() >= until) throw StepFailed("timed out waiting for " + what);
      Sleep(kPollMs);
    }
  }

  void Watch(DWORD ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
      WatchStatus();
      Sleep(kPollMs);
    }
  }

  void WatchStatus() {
    if (!main_ || !IsWindow(main_)) return;
    const HWND status = Child(main_, kStatusLine);
    if (!status) return;
    const std::string now = TextOf(status);
    if (now != lastStatus_) {
      lastStatus_ = now;
      statusSeen_.push_back(now);
      Say("status: " + now);
    }
  }

  // The status line may pass through a text between two looks: a wait for
  // it takes every text seen since the last wait, oldest first.
  template <typename Matches>
  bool TakeStatus(Matches matches) {
    WatchStatus();
    for (size_t i = 0; i < statusSeen_.size(); ++i) {
      if (matches(statusSeen_[i])) {
        statusSeen_.erase(statusSeen_.begin(), statusSeen_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        return true;
      }
    }
    return false;
  }

  static LPARAM Point(int x, int y) { return MAKELPARAM(x, y); }

  void Click(HWND control, bool twice) {
    RECT r{};
    GetClientRect(control, &r);
    ClickAt(control, r.right / 2, r.bottom / 2, twice);
  }

  void ClickAt(HWND control, int x, int y, bool twice) {
    PostMessageW(control, WM_MOUSEMOVE, 0, Point(x, y));
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, Point(x, y));
    PostMessageW(control, WM_LBUTTONUP, 0, Point(x, y));
    if (twice) {
      PostMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, Point(x, y));
      PostMessageW(control, WM_LBUTTONUP, 0, Point(x, y));
    }
    Settle();
  }

  void Key(HWND control, UINT vk) {
    PostMessageW(control, WM_KEYDOWN, vk, 1);
    if (vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_SPACE)
      PostMessageW(control, WM_CHAR, vk == VK_RETURN ? L'\r' : vk == VK_ESCAPE ? 0x1B : L' ', 1);
    PostMessageW(control, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001));
    Settle();
  }

  // Typing replaces the field's text when `replace`, as after selecting it.
  void Type(HWND control, const std::string& text, bool replace = true) {
    if (replace) PostMessageW(control, EM_SETSEL, 0, -1);
    for (wchar_t c : Widen(text)) PostMessageW(control, WM_CHAR, c, 1);
    Settle();
  }

  // A drop-down list moves its selection with the arrow keys and tells the
  // window each time, as when the operator scrolls through it.
  void SelectByKeys(HWND combo, int index) {
    const auto current = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    const UINT vk = index > current ? VK_DOWN : VK_UP;
    for (int i = 0; i < std::abs(index - current); ++i) Key(combo, vk);
    WaitFor(2000, "entry " + std::to_string(index) + " in the list",
            [&] { return SendMessageW(combo, CB_GETCURSEL, 0, 0) == index; });
  }

  // Lets the program take the posted messages before the next step looks.
  // Sent messages overtake posted ones, so one round trip is not enough.
  void Settle() {
    for (int round = 0; round < 2; ++round) {
      Sleep(40);
      DWORD_PTR ignored = 0;
      if (IsWindow(main_)) SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &ignored);
    }
  }

  std::string BoxText(HWND box) const {
    std::string text;
    EnumChildWindows(box, CollectStatics, reinterpret_cast<LPARAM>(&text));
    return text;
  }

  void AnswerBox(const std::string& text, int button, DWORD ms) {
    HWND box = nullptr;
    std::string seen;
    WaitFor(ms, "a message box with \"" + text + "\"", [&] {
      box = OtherDialog();
      if (!box) return false;
      seen = BoxText(box);
      return seen.find(text) != std::string::npos;
    });
    Say("  box \"" + TextOf(box) + "\": " + seen);
    const HWND press = GetDlgItem(box, button);
    if (!press) throw StepFailed("the box has no button " + std::to_string(button));
    PostMessageW(press, BM_CLICK, 0, 0);
    WaitFor(5000, "the box to close", [&] { return !IsWindow(box) || !IsWindowVisible(box); });
  }

  void NoBox(DWORD ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    do {
      if (const HWND box = OtherDialog()) throw StepFailed("a box is open: " + BoxText(box));
      WatchStatus();
      Sleep(kPollMs);
    } while (Clock::now() < until);
  }

  // The open and save dialogs: the file name goes into the name field and
  // the dialog's OK button takes it.
  void FileDialog(const std::string& path) {
    HWND dialog = nullptr, name = nullptr;
    WaitFor(kDefaultWaitMs, "a file dialog", [&] {
      dialog = OtherDialog();
      if (!dialog) return false;
      name = Child(dialog, 0x47C, L"Edit");  // inside the name combo box
      if (!name) name = Child(dialog, 0x480, L"Edit");
      return name != nullptr;
    });
    Say("  file dialog \"" + TextOf(dialog) + "\"");
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(path).c_str()));
    PostMessageW(Child(dialog, IDOK, L"Button"), BM_CLICK, 0, 0);
    WaitFor(5000, "the file dialog to close", [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
  }

  void Simulator(const std::string& command) {
    const std::string fifo = Env("KOVRA_SIM_CONTROL");
    const HANDLE file = CreateFileW(Widen(fifo).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw StepFailed("cannot open the simulator's control " + fifo);
    const std::string line = command + "\n";
    DWORD written = 0;
    const bool ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != line.size()) throw StepFailed("the simulator took no command");
    Sleep(300);
  }

  // The whole screen, so that message boxes over the window show too.
  void Shot(const std::string& name) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
    const DWORD size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
                            0, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
    const std::string path = Env("KOVRA_SHOTS") + "\\" + name + ".bmp";
    std::ofstream out(Widen(path).c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
    out.write(static_cast<const char*>(bits), size);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!out) throw StepFailed("cannot write " + path);
    Say("  screenshot " + name);
  }

  // Measures how long the user-interface thread takes to answer a message
  // while the program works.
  void StartPing() {
    StopPing();
    pingStop_ = false;
    const HWND target = Main();
    ping_ = std::thread([this, target] {
      while (!pingStop_) {
        const auto start = Clock::now();
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        if (us > pingMaxUs_) pingMaxUs_ = us;
        ++pings_;
        Sleep(5);
      }
    });
  }

  void StopPing(bool report = false) {
    if (!ping_.joinable()) return;
    pingStop_ = true;
    ping_.join();
    if (report) {
      char line[96];
      std::snprintf(line, sizeof line, "ui-answer-max-ms: %.1f (%ld messages)", pingMaxUs_ / 1000.0,
                    static_cast<long>(pings_));
      Say(line);
    }
    pingMaxUs_ = 0;
    pings_ = 0;
  }

  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
  Clock::time_point launched_ = Clock::now();
  std::string lastStatus_;
  std::deque<std::string> statusSeen_;
  bool failed_ = false;
  std::thread ping_;
  std::atomic<bool> pingStop_{false};
  std::atomic<long long> pingMaxUs_{0};
  std::atomic<long> pings_{0};
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: kovra-drive SCRIPT\n", stderr);
    return 2;
  }
  std::ifstream script(argv[1]);
  if (!script) {
    std::fprintf(stderr, "cannot read %ls\n", argv[1]);
    return 2;
  }
  Driver driver;
  driver.Run(script);
  driver.Finish();
  Say(driver.Failed() ? "RESULT: FAILED" : "RESULT: PASSED");
  return driver.Failed() ? 1 : 0;
}
