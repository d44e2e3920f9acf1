// SPDX-License-Identifier: MIT
#include "win32/main_dialog.h"

#include <commctrl.h>

#include "app/command_dispatch.h"
#include "app/settings.h"
#include "app/startup.h"
#include "base/control_ids.h"
#include "chips/target_rules.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "ops/code_view.h"
#include "win32/colours.h"
#include "win32/main_controls.h"
#include "win32/messages.h"
#include "win32/resource.h"

namespace kovra::win32 {
namespace {

constexpr UINT kAboutCommand = 0x10;
// V3.10C beside the V3.0C everywhere else: the window's own caption, keep it.
constexpr const wchar_t* kAboutCaption = L"关于Kovra V3.10C";
constexpr const wchar_t* kAboutText =
    L"Kovra V3.0C 经济型OTP/MTP芯片编程器\n"
    L"适用于SAM4/8与CalmRisc内核的串行OTP及MTP单片机.\n\n"
    L"Lentaro  www.lentaro.cn";

// The outermost controls end at x = 623 and y = 470.
constexpr int kMinClientWidth = 628;
constexpr int kMinClientHeight = 476;

constexpr COLORREF kGroupColour = RGB(0, 100, 100);
constexpr COLORREF kOperationGroupColour = RGB(0, 100, 255);

bool IsGroupFrame(int controlId) {
  const ControlEntry* entry = FindControl(controlId);
  return entry && entry->kind == ControlKind::kGroup;
}

}  // namespace

CMainDialog::CMainDialog(HINSTANCE instance, AppContext& ctx, Win32MainWindow& window)
    : instance_(instance),
      ctx_(ctx),
      window_(window),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN))),
      smallIcon_(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0))) {}

CMainDialog::~CMainDialog() {
  if (smallIcon_) DestroyIcon(smallIcon_);
}

INT_PTR CMainDialog::DoModal() {
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMainDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    reinterpret_cast<CMainDialog*>(lParam)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<CMainDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CMainDialog::Answer(LRESULT result) {
  SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CMainDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  AppState& s = ctx_.state;
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();

    case WM_COMMAND:
      // Enter never closes the window; Esc and the close box do.
      if (LOWORD(wParam) == IDOK) return TRUE;
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(hwnd_, IDCANCEL);
        return TRUE;
      }
      return FALSE;

    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kAboutCommand) {
        MessageBoxW(hwnd_, kAboutText, kAboutCaption, MB_OK | MB_ICONINFORMATION);
        return Answer(0);
      }
      return FALSE;

    case WM_PAINT:
      return OnPaintMinimised() ? TRUE : FALSE;

    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);

    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return OnCtlColor(msg, wParam, lParam);

    case WM_KEYDOWN:
      OnWindowKeyDown(ctx_, static_cast<int>(wParam));
      return FALSE;

    case WM_TIMER:
      OnWindowTimer(ctx_);
      window_.RepaintStatusIfStale(s.linkError != 0);
      return Answer(0);

    case WM_SETCURSOR:
      SetCursor(LoadCursorW(nullptr, s.busy ? IDC_WAIT : IDC_ARROW));
      return Answer(TRUE);

    case WM_NOTIFY:
      OnGridDoubleClick(*reinterpret_cast<const NMHDR*>(lParam));
      return FALSE;

    case WM_DESTROY:
      OnDestroy();
      return FALSE;

    case WM_NCDESTROY:
      window_.Detach();
      return FALSE;

    case kInvokeMessage:
      Win32MainWindow::RunInvoked(lParam);
      return Answer(0);

    case UM_COMMAND: {
      const HWND parent = reinterpret_cast<HWND>(lParam);
      const int parentId = (!parent || parent == hwnd_) ? 0 : GetDlgCtrlID(parent);
      // "退出编程" ends the window the way the close box does.
      if (OnCommandRequest(ctx_, static_cast<int>(wParam), parentId)) EndDialog(hwnd_, IDCANCEL);
      return Answer(0);
    }
    case UM_QUERY_LINK_ERROR:
      return Answer(s.linkError ? 1 : 0);
    case UM_LINK_DOWN:
      s.linkPressed = 1;
      return Answer(0);
    case UM_LINK_UP:
      if (!s.linkPressed) return Answer(0);
      s.linkPressed = 0;
      return Answer(1);
    case UM_INTERRUPT:
      s.interruptRequested = 1;
      return Answer(0);
    case UM_HOTKEY:
      OnHotKey(ctx_, static_cast<int>(wParam));
      return Answer(0);
    case UM_CHIP_CHANGED:
      ApplyChipSelection(ctx_);
      return Answer(0);
    case UM_CONNECT:
      // A connect with messages, on the worker like every use of the port.
      ctx_.worker.PostSupervision([this] { ConnectAtStartup(ctx_); });
      return Answer(0);

    default:
      return FALSE;
  }
}

BOOL CMainDialog::OnInitDialog() {
  window_.Attach(hwnd_);
  AddAboutItem();
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_ : icon_));
  EnsureClientArea();
  controls_.Create(hwnd_, instance_, window_);
  InitializeMainWindow(ctx_);
  return TRUE;
}

void CMainDialog::AddAboutItem() {
  wchar_t text[128] = {};
  if (LoadStringW(instance_, IDS_ABOUT_ITEM, text, static_cast<int>(std::size(text))) <= 0 || !text[0]) return;
  const HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (!menu) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kAboutCommand, text);
}

void CMainDialog::EnsureClientArea() {
  // The template's size is in units of its font; a substituted font can
  // make the window too small for the pixel rectangles of the controls.
  RECT client;
  GetClientRect(hwnd_, &client);
  if (client.right >= kMinClientWidth && client.bottom >= kMinClientHeight) return;
  RECT frame{0, 0, std::max<LONG>(client.right, kMinClientWidth), std::max<LONG>(client.bottom, kMinClientHeight)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE)));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(hwnd_, nullptr, std::max(0, x), std::max(0, y), width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CMainDialog::OnCtlColor(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND child = reinterpret_cast<HWND>(lParam);
  if (GetParent(child) != hwnd_) return FALSE;
  const int controlId = GetDlgCtrlID(child);
  COLORREF colour;
  if (controlId == id::kGroupOperations || controlId == id::kGroupFiles) {
    colour = kOperationGroupColour;
  } else if (IsGroupFrame(controlId)) {
    colour = kGroupColour;
  } else if (controlId == id::kWebLink) {
    colour = ctx_.state.linkPressed ? kRed : kBlue;
  } else {
    return FALSE;
  }
  // The standard background and brush; only the text colour is ours.
  const LRESULT brush = DefWindowProcW(hwnd_, msg, wParam, lParam);
  SetTextColor(reinterpret_cast<HDC>(wParam), colour);
  return static_cast<INT_PTR>(brush);
}

bool CMainDialog::OnPaintMinimised() {
  if (!IsIconic(hwnd_)) return false;
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(hwnd_, &ps);
  SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rc;
  GetClientRect(hwnd_, &rc);
  const int x = (rc.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rc.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(hwnd_, &ps);
  return true;
}

void CMainDialog::OnGridDoubleClick(const NMHDR& header) {
  if (header.idFrom != static_cast<UINT_PTR>(id::kCodeGrid) || header.code != static_cast<UINT>(NM_DBLCLK)) return;
  const auto& activate = reinterpret_cast<const NMITEMACTIVATE&>(header);
  LVHITTESTINFO hit{};
  hit.pt = activate.ptAction;
  SendMessageW(header.hwndFrom, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  if (hit.iItem < 0 || !(hit.flags & LVHT_ONITEM)) return;
  EditCodeByte(ctx_, hit.iItem, hit.iSubItem);
}

void CMainDialog::OnDestroy() {
  SaveSettings(ctx_);
  // The process ends next; a worker in the middle of a step stays there.
  ctx_.worker.Abandon();
}

}  // namespace kovra::win32
