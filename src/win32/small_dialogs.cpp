// SPDX-License-Identifier: MIT
#include "win32/small_dialogs.h"

#include <array>

#include "win32/controls.h"
#include "win32/resource.h"
#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

// The counter texts the dialog takes and gives back.
constexpr int kCounterTextMax = 15;
constexpr int kEditValueMax = 99;

struct MaskBox {
  uint32_t bit;
  int control;
};
constexpr std::array<MaskBox, 6> kMaskBoxes = {{{0x01, IDC_COUNT_READ_PROTECT},
                                                {0x02, IDC_COUNT_LDC},
                                                {0x04, IDC_COUNT_BLANK},
                                                {0x08, IDC_COUNT_HW_PROTECT},
                                                {0x10, IDC_COUNT_SMART},
                                                {0x20, IDC_COUNT_ERASE}}};

std::wstring ItemText(HWND dialog, int control, int maxChars) {
  std::wstring text(static_cast<size_t>(maxChars) + 1, L'\0');
  const UINT got = GetDlgItemTextW(dialog, control, text.data(), maxChars + 1);
  text.resize(got);
  return text;
}

std::wstring Head(std::string_view utf8, size_t maxChars) {
  std::wstring wide = Widen(utf8);
  if (wide.size() > maxChars) wide.resize(maxChars);
  return wide;
}

// A dialog's data: handed over with WM_INITDIALOG, kept in DWLP_USER.
template <typename T>
T* DialogData(HWND dialog, UINT msg, LPARAM lParam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  return reinterpret_cast<T*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

struct SetCountData {
  CounterSettings settings;
  HFONT font = nullptr;
};

INT_PTR CALLBACK SetCountProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* data = DialogData<SetCountData>(dialog, msg, lParam);
  switch (msg) {
    case WM_INITDIALOG: {
      data->font = CreateFontW(16, 7, 0, 0, 550, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg");
      for (int control : {IDC_SUCCESS_START, IDC_FAILURE_START}) {
        SendDlgItemMessageW(dialog, control, WM_SETFONT, reinterpret_cast<WPARAM>(data->font), TRUE);
        // What is typed is what is taken: no silent cut at OK.
        SendDlgItemMessageW(dialog, control, EM_LIMITTEXT, kCounterTextMax, 0);
      }
      SetDlgItemTextW(dialog, IDC_SUCCESS_START, Head(data->settings.successText, kCounterTextMax).c_str());
      SetDlgItemTextW(dialog, IDC_FAILURE_START, Head(data->settings.failureText, kCounterTextMax).c_str());
      for (const MaskBox& box : kMaskBoxes) {
        CheckDlgButton(dialog, box.control, (data->settings.failureMask & box.bit) ? BST_CHECKED : BST_UNCHECKED);
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        data->settings.successText = Narrow(ItemText(dialog, IDC_SUCCESS_START, kCounterTextMax));
        data->settings.failureText = Narrow(ItemText(dialog, IDC_FAILURE_START, kCounterTextMax));
        uint32_t mask = 0;
        for (const MaskBox& box : kMaskBoxes) {
          if (IsDlgButtonChecked(dialog, box.control) == BST_CHECKED) mask |= box.bit;
        }
        data->settings.failureMask = mask;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (data && data->font) DeleteObject(data->font);
      return FALSE;
    default:
      return FALSE;
  }
}

struct EditData {
  HWND owner;
  std::wstring value;
  std::wstring address;
  HWND edit = nullptr;
};

INT_PTR CALLBACK EditProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* data = DialogData<EditData>(dialog, msg, lParam);
  switch (msg) {
    case WM_INITDIALOG: {
      const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
      data->edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_CENTER | ES_UPPERCASE | ES_AUTOHSCROLL, 30,
                                   60, 140, 25, dialog, reinterpret_cast<HMENU>(IDC_EDIT_VALUE), instance, nullptr);
      SendMessageW(data->edit, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
      // First in the tab order, before the buttons of the template.
      SetWindowPos(data->edit, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      CMyedit::Attach(data->edit, data->owner);
      // The template's one label (its id is -1, which not every system
      // finds by id).
      const HWND prompt = FindWindowExW(dialog, nullptr, L"Static", nullptr);
      SetWindowTextW(prompt, (L"请输入新值(地址--" + data->address + L"):").c_str());
      SetWindowTextW(data->edit, data->value.c_str());
      SetFocus(data->edit);
      SendMessageW(data->edit, EM_SETSEL, 0, -1);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        data->value = ItemText(dialog, IDC_EDIT_VALUE, kEditValueMax);
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool RunSetCountDialog(HINSTANCE instance, HWND owner, CounterSettings& settings) {
  SetCountData data{settings};
  const INT_PTR result =
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SET_COUNT), owner, SetCountProc, reinterpret_cast<LPARAM>(&data));
  if (result != IDOK) return false;
  settings = data.settings;
  return true;
}

bool RunEditDialog(HINSTANCE instance, HWND owner, std::string& value, std::string_view address) {
  EditData data{owner, Widen(value), Widen(address)};
  const INT_PTR result =
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_EDIT_DIALOG), owner, EditProc, reinterpret_cast<LPARAM>(&data));
  if (result != IDOK) return false;
  value = Narrow(data.value);
  return true;
}

}  // namespace kovra::win32
