// SPDX-License-Identifier: MIT
#include "win32/win32_main_window.h"

#include <commctrl.h>

#include <vector>

#include "base/control_ids.h"
#include "win32/controls.h"
#include "win32/messages.h"
#include "win32/small_dialogs.h"
#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

constexpr int kGridColumns = 17;
constexpr int kGridRows = 16;
constexpr COLORREF kGridTextColour = RGB(0, 0, 255);

UINT MessageBoxFlags(const MessageBoxRequest& r) {
  UINT flags = MB_OK;
  switch (r.buttons) {
    case MbButtons::kOk:
      flags = MB_OK;
      break;
    case MbButtons::kOkCancel:
      flags = MB_OKCANCEL;
      break;
    case MbButtons::kYesNo:
      flags = MB_YESNO;
      break;
  }
  switch (r.icon) {
    case MbIcon::kNone:
      break;
    case MbIcon::kError:
      flags |= MB_ICONERROR;
      break;
    case MbIcon::kWarning:
      flags |= MB_ICONWARNING;
      break;
    case MbIcon::kQuestion:
      flags |= MB_ICONQUESTION;
      break;
    case MbIcon::kInformation:
      flags |= MB_ICONINFORMATION;
      break;
  }
  if (r.defaultButton == 1) flags |= MB_DEFBUTTON2;
  return flags;
}

// The answer of a box that could not be shown: never a "yes".
MbAnswer DeclinedAnswer(MbButtons buttons) {
  switch (buttons) {
    case MbButtons::kOkCancel:
      return MbAnswer::kCancel;
    case MbButtons::kYesNo:
      return MbAnswer::kNo;
    case MbButtons::kOk:
      break;
  }
  return MbAnswer::kOk;
}

MbAnswer AnswerOf(int result, MbButtons buttons) {
  switch (result) {
    case IDOK:
      return MbAnswer::kOk;
    case IDCANCEL:
      return MbAnswer::kCancel;
    case IDYES:
      return MbAnswer::kYes;
    case IDNO:
      return MbAnswer::kNo;
    default:
      return DeclinedAnswer(buttons);
  }
}

}  // namespace

std::string WindowText(HWND hwnd) {
  if (!hwnd) return {};
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return Narrow(text);
}

Win32MainWindow::Win32MainWindow(HINSTANCE instance) : instance_(instance) {}

void Win32MainWindow::Attach(HWND dialog) {
  uiThread_ = GetCurrentThreadId();
  hwnd_ = dialog;
}

void Win32MainWindow::Detach() { hwnd_ = nullptr; }

void Win32MainWindow::AddControl(int id, HWND control) { controls_[id] = control; }

HWND Win32MainWindow::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void Win32MainWindow::Invoke(const std::function<void()>& fn) {
  if (GetCurrentThreadId() == uiThread_.load()) {
    fn();
    return;
  }
  const HWND hwnd = hwnd_.load();
  if (!hwnd) return;
  // SendMessage waits until the user-interface thread has run it, also
  // when that thread sits in a message box or another modal loop. If the
  // window is destroyed meanwhile, the send fails and fn never runs.
  SendMessageW(hwnd, kInvokeMessage, 0, reinterpret_cast<LPARAM>(&fn));
}

void Win32MainWindow::RunInvoked(LPARAM lParam) { (*reinterpret_cast<const std::function<void()>*>(lParam))(); }

std::string Win32MainWindow::GetText(int id) {
  return OnUiThread([&] { return WindowText(Control(id)); });
}

void Win32MainWindow::SetText(int id, std::string_view text) {
  Invoke([&] {
    const HWND control = Control(id);
    if (!control) return;
    SetWindowTextW(control, Widen(text).c_str());
    // Group captions and the status line (whose colour may have changed
    // with it) are not always fully redrawn by the text change alone.
    InvalidateRect(control, nullptr, TRUE);
    if (id == kovra::id::kStatusLine) UpdateWindow(control);
  });
}

bool Win32MainWindow::IsChecked(int id) {
  return OnUiThread([&] { return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }, false);
}

void Win32MainWindow::SetChecked(int id, bool checked) {
  Invoke([&] { SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); });
}

bool Win32MainWindow::IsEnabled(int id) {
  return OnUiThread([&] { return IsWindowEnabled(Control(id)) != FALSE; }, false);
}

void Win32MainWindow::SetEnabled(int id, bool enabled) {
  Invoke([&] { EnableWindow(Control(id), enabled ? TRUE : FALSE); });
}

bool Win32MainWindow::IsVisible(int id) {
  // The control's own flag: a control inside a hidden group still counts
  // as visible, as it will show again with its group.
  return OnUiThread([&] { return (GetWindowLongW(Control(id), GWL_STYLE) & WS_VISIBLE) != 0; }, false);
}

void Win32MainWindow::SetVisible(int id, bool visible) {
  Invoke([&] { ShowWindow(Control(id), visible ? SW_SHOW : SW_HIDE); });
}

void Win32MainWindow::ComboReset(int id) {
  Invoke([&] { SendMessageW(Control(id), CB_RESETCONTENT, 0, 0); });
}

void Win32MainWindow::ComboAdd(int id, std::string_view text) {
  Invoke([&] {
    const std::wstring wide = Widen(text);
    SendMessageW(Control(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  });
}

int Win32MainWindow::ComboCount(int id) {
  return OnUiThread([&] {
    const LRESULT n = SendMessageW(Control(id), CB_GETCOUNT, 0, 0);
    return n == CB_ERR ? 0 : static_cast<int>(n);
  });
}

std::string Win32MainWindow::ComboItem(int id, int index) {
  return OnUiThread([&] {
    const HWND combo = Control(id);
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length <= 0) return std::string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got =
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    if (got == CB_ERR) return std::string();
    text.resize(static_cast<size_t>(got));
    return Narrow(text);
  });
}

int Win32MainWindow::ComboSelection(int id) {
  return OnUiThread([&] { return static_cast<int>(SendMessageW(Control(id), CB_GETCURSEL, 0, 0)); }, -1);
}

void Win32MainWindow::ComboSelect(int id, int index) {
  Invoke([&] {
    const HWND combo = Control(id);
    // An index past the end clears the selection; not every system's
    // combo box does that by itself.
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    const int wanted = (index >= 0 && index < count) ? index : -1;
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(wanted), 0);
  });
}

MbAnswer Win32MainWindow::ShowMessageBox(const MessageBoxRequest& request) {
  return OnUiThread(
      [&] {
        const std::wstring text = Widen(request.text);
        const std::wstring caption = Widen(request.caption);
        const int result =
            MessageBoxW(Handle(), text.c_str(), caption.empty() ? nullptr : caption.c_str(), MessageBoxFlags(request));
        return AnswerOf(result, request.buttons);
      },
      DeclinedAnswer(request.buttons));
}

void Win32MainWindow::SetTimer(int timerId, uint32_t periodMs) {
  Invoke([&] {
    // Without the window the timer would be the thread's, and never ticks here.
    if (const HWND hwnd = Handle()) ::SetTimer(hwnd, static_cast<UINT_PTR>(timerId), periodMs, nullptr);
  });
}

void Win32MainWindow::RefreshCursor() {
  Invoke([&] {
    // The cursor only changes on the next WM_SETCURSOR; ask for one now
    // from the window under the mouse, if it is ours.
    POINT pt;
    if (GetCursorPos(&pt)) {
      const HWND under = WindowFromPoint(pt);
      const HWND main = Handle();
      if (under && (under == main || IsChild(main, under))) {
        const LRESULT hit = SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
        SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                     MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE));
      }
    }
    // An operation has just started or ended: linkError may have changed.
    InvalidateRect(Control(kovra::id::kStatusLine), nullptr, TRUE);
  });
}

void Win32MainWindow::SetLocked(int id, bool locked) {
  Invoke([&] { SendMessageW(Control(id), UM_SET_LOCK, 0, locked ? 1 : 0); });
}

bool Win32MainWindow::IsLocked(int id) {
  return OnUiThread([&] { return CMybtn::IsLocked(Control(id)); }, false);
}

void Win32MainWindow::SetupGrid() {
  Invoke([&] {
    const HWND list = Control(kovra::id::kCodeGrid);
    if (!list) return;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_TRACKSELECT);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageW(list, LVM_DELETECOLUMN, 0, 0)) {
    }
    // The first column of a list view is always left-aligned; a column
    // inserted in front of it and deleted again lets it be centred.
    LVCOLUMNW placeholder{};
    placeholder.mask = LVCF_WIDTH;
    placeholder.cx = 0;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&placeholder));
    for (int c = 0; c < kGridColumns; ++c) {
      std::wstring caption = c == 0 ? L"ADDR" : std::wstring(1, L"0123456789ABCDEF"[c - 1]);
      LVCOLUMNW column{};
      column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
      column.fmt = LVCFMT_CENTER;
      column.cx = c == 0 ? 45 : 26;
      column.pszText = caption.data();
      column.iSubItem = c;
      SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c + 1), reinterpret_cast<LPARAM>(&column));
    }
    SendMessageW(list, LVM_DELETECOLUMN, 0, 0);
    for (int r = 0; r < kGridRows; ++r) {
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = r;
      item.pszText = const_cast<wchar_t*>(L"");
      SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(list, LVM_SETTEXTCOLOR, 0, kGridTextColour);
  });
}

void Win32MainWindow::SetGridCell(int row, int column, std::string_view text) {
  Invoke([&] {
    std::wstring wide = Widen(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    SendMessageW(Control(kovra::id::kCodeGrid), LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
  });
}

std::string Win32MainWindow::GetGridCell(int row, int column) {
  return OnUiThread([&] {
    std::vector<wchar_t> buffer(64, L'\0');
    for (;;) {
      LVITEMW item{};
      item.iSubItem = column;
      item.pszText = buffer.data();
      item.cchTextMax = static_cast<int>(buffer.size());
      const LRESULT got = SendMessageW(Control(kovra::id::kCodeGrid), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                       reinterpret_cast<LPARAM>(&item));
      if (got < static_cast<LRESULT>(buffer.size()) - 1) {
        return Narrow(std::wstring_view(buffer.data(), static_cast<size_t>(got > 0 ? got : 0)));
      }
      buffer.assign(buffer.size() * 2, L'\0');
    }
  });
}

std::optional<CounterSettings> Win32MainWindow::ShowSetCount(const CounterSettings& settings) {
  CounterSettings edited = settings;
  if (!OnUiThread([&] { return RunSetCountDialog(instance_, Handle(), edited); }, false)) return std::nullopt;
  return edited;
}

std::optional<std::string> Win32MainWindow::ShowEditDialog(std::string_view value, std::string_view address) {
  std::string edited(value);
  if (!OnUiThread([&] { return RunEditDialog(instance_, Handle(), edited, address); }, false)) return std::nullopt;
  return edited;
}

void Win32MainWindow::RepaintStatusIfStale(bool linkError) {
  if (linkError == statusShowsError_) return;
  statusShowsError_ = linkError;
  InvalidateRect(Control(kovra::id::kStatusLine), nullptr, TRUE);
}

}  // namespace kovra::win32
