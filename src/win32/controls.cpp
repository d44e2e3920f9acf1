// SPDX-License-Identifier: MIT
#include "win32/controls.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <string>

#include "base/control_ids.h"
#include "base/control_table.h"
#include "base/texts.h"
#include "win32/colours.h"
#include "win32/messages.h"
#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

constexpr UINT_PTR kSubclassId = 1;
// Long operations put their "double-click here" text at the left of the
// status line; only that band interrupts.
constexpr int kInterruptBandWidth = 140;

bool StrictlyInsideClient(HWND hwnd, LPARAM lParam) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  const int x = GET_X_LPARAM(lParam);
  const int y = GET_Y_LPARAM(lParam);
  return x > 0 && x < rc.right && y > 0 && y < rc.bottom;
}

bool IsHexKey(WPARAM c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == 0x08;
}

// Asked with WM_GETDLGCODE about a key message: is it Enter going down?
bool IsEnterDown(LPARAM lParam) {
  const auto* m = reinterpret_cast<const MSG*>(lParam);
  return m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN;
}

bool IsCodeViewSelector(int controlId) {
  return controlId == id::kMemoryView || controlId == id::kChipView || controlId == id::kAsciiView;
}

// The maker's web page as the shell opens it.
std::wstring WebPageUrl() { return L"http://" + Widen(kWebAddress); }

}  // namespace

template <typename Control>
class Subclass {
 public:
  static void Attach(HWND control, HWND mainWindow) {
    SetWindowSubclass(control, Proc, kSubclassId, reinterpret_cast<DWORD_PTR>(new Control(mainWindow)));
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
    auto* control = reinterpret_cast<Control*>(ref);
    if (msg != WM_NCDESTROY) return control->Handle(hwnd, msg, wParam, lParam);
    delete control;
    RemoveWindowSubclass(hwnd, Proc, kSubclassId);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
  }
};

// CMybtn

void CMybtn::Attach(HWND button, HWND mainWindow) { Subclass<CMybtn>::Attach(button, mainWindow); }

bool CMybtn::IsLocked(HWND button) { return button && SendMessageW(button, kQueryLock, 0, 0) == 1; }

bool CMybtn::Swallowed(HWND hwnd) const { return locked_ && IsCodeViewSelector(GetDlgCtrlID(hwnd)); }

void CMybtn::Activate(HWND hwnd) {
  SendMessageW(main_, UM_COMMAND, static_cast<WPARAM>(GetDlgCtrlID(hwnd)), reinterpret_cast<LPARAM>(GetParent(hwnd)));
}

LRESULT CMybtn::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN:
    // The second press of a double click: without this a locked selector
    // would change under a page refresh.
    case WM_LBUTTONDBLCLK:
      if (Swallowed(hwnd)) return 0;
      pressed_ = true;
      break;
    case WM_LBUTTONUP: {
      // The button changes its own state first, so the window reads the
      // new tick.
      const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
      if (pressed_) {
        pressed_ = false;
        if (StrictlyInsideClient(hwnd, lParam)) Activate(hwnd);
      }
      return result;
    }
    case WM_GETDLGCODE:
      // Enter going down is the dialog's otherwise; the button must see it
      // to know that the Enter going up is its own.
      if (IsEnterDown(lParam)) return DefSubclassProc(hwnd, msg, wParam, lParam) | DLGC_WANTMESSAGE;
      break;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN || (wParam >= VK_F2 && wParam <= VK_F12)) {
        keyDown_ = wParam;
        return 0;
      }
      if (wParam == VK_SPACE) {
        if (Swallowed(hwnd)) return 0;
        keyDown_ = VK_SPACE;
      }
      break;
    case WM_KEYUP: {
      // A key that went down elsewhere does nothing here: the Enter that
      // closes a message box comes up on the button that opened it, and
      // must not open the box again.
      const bool own = keyDown_ == wParam;
      if (own) keyDown_ = 0;
      if (wParam == VK_RETURN) {
        if (own) Activate(hwnd);
      } else if (wParam >= VK_F2 && wParam <= VK_F12) {
        if (own) SendMessageW(main_, UM_HOTKEY, wParam, 0);
      } else if (wParam == VK_SPACE) {
        if (Swallowed(hwnd)) {
          // Locked after Space went down: let go without a click.
          if (GetCapture() == hwnd) ReleaseCapture();
          return 0;
        }
        // Space releases the button it pressed, and a box it ticks must
        // reach the window like a click, or the buzzer flag would lag.
        const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
        if (own) Activate(hwnd);
        return result;
      }
      return 0;
    }
    case WM_KILLFOCUS: {
      keyDown_ = 0;
      const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
      // A push button that took the default frame with the focus gives it up.
      if ((GetWindowLongW(hwnd, GWL_STYLE) & 0xFE) == 0) SendMessageW(hwnd, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
      return result;
    }
    case UM_SET_LOCK:
      locked_ = lParam != 0;
      return 0;
    case kQueryLock:
      return locked_ ? 1 : 0;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// CMyComboBox

void CMyComboBox::Attach(HWND combo, HWND mainWindow) { Subclass<CMyComboBox>::Attach(combo, mainWindow); }

LRESULT CMyComboBox::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kReflectedCommand && HIWORD(wParam) == CBN_SELCHANGE) {
    SendMessageW(main_, UM_CHIP_CHANGED, 0, 0);
    return 0;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// CMyedit

void CMyedit::Attach(HWND edit, HWND mainWindow) { Subclass<CMyedit>::Attach(edit, mainWindow); }

LRESULT CMyedit::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const int self = GetDlgCtrlID(hwnd);
  switch (msg) {
    case WM_CHAR:
      if (self != id::kFilePath && !IsHexKey(wParam)) return 0;
      break;
    case WM_LBUTTONDBLCLK: {
      const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
      if (self == id::kFilePath) {
        SendMessageW(main_, UM_COMMAND, id::kOpenFile, reinterpret_cast<LPARAM>(GetParent(hwnd)));
      } else if (self == id::kStatusLine) {
        RECT text{};
        SendMessageW(hwnd, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
        const int x = GET_X_LPARAM(lParam);
        const int y = GET_Y_LPARAM(lParam);
        if (x > text.left && x < text.left + kInterruptBandWidth && y > text.top && y < text.bottom) {
          SendMessageW(main_, UM_INTERRUPT, 0, 0);
        }
      } else if (self == id::kChecksumField) {
        MessageBoxW(main_, Widen(kChecksumGreetingText).c_str(), Widen(kGreetingCaption).c_str(), MB_OK);
      }
      return result;
    }
    case WM_GETDLGCODE:
      // As for the buttons: the display address acts only on an Enter
      // that went down in it.
      if (self == id::kDisplayAddress && IsEnterDown(lParam)) {
        return DefSubclassProc(hwnd, msg, wParam, lParam) | DLGC_WANTMESSAGE;
      }
      break;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN && self == id::kDisplayAddress) {
        enterDown_ = true;
        return 0;
      }
      break;
    case WM_KILLFOCUS:
      enterDown_ = false;
      break;
    case WM_KEYUP: {
      const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
      if (wParam == VK_RETURN && self == id::kDisplayAddress && enterDown_) {
        enterDown_ = false;
        SendMessageW(main_, UM_COMMAND, id::kSetAddress, reinterpret_cast<LPARAM>(GetParent(hwnd)));
      }
      return result;
    }
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// CMygrp

void CMygrp::Attach(HWND group, HWND mainWindow) { Subclass<CMygrp>::Attach(group, mainWindow); }

LRESULT CMygrp::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      // The standard colours and brush first; only the text colour changes.
      const LRESULT brush = DefSubclassProc(hwnd, msg, wParam, lParam);
      const HDC dc = reinterpret_cast<HDC>(wParam);
      const int child = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (child == id::kChecksumField) {
        SetTextColor(dc, kBlue);
      } else if (child == id::kStatusLine) {
        SetTextColor(dc, SendMessageW(main_, UM_QUERY_LINK_ERROR, 0, 0) ? kRed : kBlue);
      }
      return brush;
    }
    case WM_COMMAND: {
      // A group frame is the parent of its controls, and a standard frame
      // drops their notifications: hand them back to the control.
      const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
      const HWND child = reinterpret_cast<HWND>(lParam);
      if (child && GetParent(child) == hwnd) SendMessageW(child, kReflectedCommand, wParam, lParam);
      return result;
    }
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// CMystatic

void CMystatic::Attach(HWND label, HWND mainWindow) { Subclass<CMystatic>::Attach(label, mainWindow); }

LRESULT CMystatic::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (GetDlgCtrlID(hwnd) != id::kWebLink) return DefSubclassProc(hwnd, msg, wParam, lParam);
  const HWND main = main_;
  switch (msg) {
    case WM_LBUTTONDOWN:
      SendMessageW(main, UM_LINK_DOWN, 0, 0);
      SetCapture(hwnd);
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case WM_LBUTTONUP:
      if (SendMessageW(main, UM_LINK_UP, 0, 0)) {
        InvalidateRect(hwnd, nullptr, TRUE);
        ReleaseCapture();
        if (StrictlyInsideClient(hwnd, lParam)) {
          ShellExecuteW(main, L"open", WebPageUrl().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        }
      } else if (GetCapture() == hwnd) {
        ReleaseCapture();
      }
      break;
    case WM_CAPTURECHANGED:
      // Capture taken away mid-press (another window, a key): the label
      // must not stay red.
      if (reinterpret_cast<HWND>(lParam) != hwnd && SendMessageW(main, UM_LINK_UP, 0, 0)) {
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace kovra::win32
