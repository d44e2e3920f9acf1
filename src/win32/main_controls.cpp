// SPDX-License-Identifier: MIT
#include "win32/main_controls.h"

#include <commctrl.h>
#include <uxtheme.h>

#include "base/control_ids.h"
#include "base/control_table.h"
#include "win32/controls.h"
#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

enum Font { kDialogFont, kStatusFont, kFieldFont, kLinkFont, kGridFont };

// The status line and the number fields take the font a Chinese system
// gives a font without a face name. Asked for by name, it also holds
// Chinese on a system with another code page, where a nameless font would
// be a Western one.
constexpr const wchar_t* kChineseFace = L"SimSun";

HFONT MakeFont(int height, int width, int weight, bool italicUnderlined, const wchar_t* face,
               DWORD charset = DEFAULT_CHARSET) {
  const BYTE style = italicUnderlined ? TRUE : FALSE;
  return CreateFontW(height, width, 0, 0, weight, style, style, FALSE, charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

DWORD ControlStyle(const ControlEntry& entry, DWORD& exStyle, const wchar_t*& className) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  exStyle = 0;
  const uint32_t s = entry.style;
  switch (entry.kind) {
    case ControlKind::kGroup:
      className = L"BUTTON";
      // Dialog navigation only reaches the controls inside through this.
      exStyle = WS_EX_CONTROLPARENT;
      style |= BS_GROUPBOX;
      break;
    case ControlKind::kCombo:
      className = WC_COMBOBOXW;
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | ((s & kStyleUpperCase) ? CBS_UPPERCASE : 0);
      break;
    case ControlKind::kCheckBox:
      className = L"BUTTON";
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
    case ControlKind::kRadio:
      className = L"BUTTON";
      style |= BS_AUTORADIOBUTTON | WS_TABSTOP | ((s & kStyleGroupStart) ? WS_GROUP : 0);
      break;
    case ControlKind::kPushButton:
      className = L"BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case ControlKind::kLabel:
      className = L"STATIC";
      style |= SS_LEFT | ((s & kStyleNotify) ? SS_NOTIFY : 0);
      break;
    case ControlKind::kEdit:
      className = L"EDIT";
      exStyle = WS_EX_CLIENTEDGE;
      style |= ES_AUTOHSCROLL | WS_TABSTOP;
      if (s & kStyleCentered) style |= ES_CENTER;
      if (s & kStyleUpperCase) style |= ES_UPPERCASE;
      if (s & kStyleReadOnly) style |= ES_READONLY;
      if (s & kStyleDigitsOnly) style |= ES_NUMBER;
      if (s & kStyleBorder) style |= WS_BORDER;
      break;
    case ControlKind::kList:
      className = WC_LISTVIEWW;
      style |= LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | LVS_NOSCROLL | WS_TABSTOP;
      if (s & kStyleBorder) style |= WS_BORDER;
      break;
  }
  return style;
}

HWND CreateControl(const ControlEntry& entry, HWND dialog, HINSTANCE instance, const Win32MainWindow& window) {
  DWORD exStyle = 0;
  const wchar_t* className = nullptr;
  const DWORD style = ControlStyle(entry, exStyle, className);
  const HWND parent = entry.parent == 0 ? dialog : window.Control(entry.parent);
  const ControlRect& r = entry.rect;
  const HWND control = CreateWindowExW(exStyle, className, Widen(entry.text).c_str(), style, r.left, r.top,
                                       r.right - r.left, r.bottom - r.top, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), instance, nullptr);
  if (!control) return nullptr;
  switch (entry.kind) {
    case ControlKind::kGroup:
      // A themed frame draws its caption in the theme's colour, whatever the
      // colour handler says. (A blank, not an empty, name: an empty one
      // falls back to the class's theme on some systems.)
      SetWindowTheme(control, L" ", L" ");
      CMygrp::Attach(control, dialog);
      break;
    case ControlKind::kCombo:
      CMyComboBox::Attach(control, dialog);
      break;
    case ControlKind::kCheckBox:
    case ControlKind::kRadio:
    case ControlKind::kPushButton:
      CMybtn::Attach(control, dialog);
      break;
    case ControlKind::kLabel:
      CMystatic::Attach(control, dialog);
      break;
    case ControlKind::kEdit:
      CMyedit::Attach(control, dialog);
      break;
    case ControlKind::kList:
      break;
  }
  return control;
}

}  // namespace

MainControls::~MainControls() {
  for (HFONT font : fonts_) {
    if (font) DeleteObject(font);
  }
}

void MainControls::Create(HWND dialog, HINSTANCE instance, Win32MainWindow& window) {
  for (const ControlEntry& entry : MainControlTable()) {
    if (const HWND control = CreateControl(entry, dialog, instance, window)) window.AddControl(entry.id, control);
  }

  fonts_[kDialogFont] = MakeFont(12, 6, 400, false, L"MS Shell Dlg");
  fonts_[kStatusFont] = MakeFont(16, 8, 500, false, kChineseFace, GB2312_CHARSET);
  fonts_[kFieldFont] = MakeFont(16, 8, 580, false, kChineseFace, GB2312_CHARSET);
  fonts_[kLinkFont] = MakeFont(18, 7, 600, true, L"MS Shell Dlg");
  fonts_[kGridFont] = MakeFont(12, 5, 500, false, L"MS Shell Dlg");

  auto give = [&](int controlId, Font font) {
    SendMessageW(window.Control(controlId), WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[font]), TRUE);
  };
  for (const ControlEntry& entry : MainControlTable()) give(entry.id, kDialogFont);
  give(id::kStatusLine, kStatusFont);
  for (int field : {id::kStartAddress, id::kEndAddress, id::kVppField, id::kVccField, id::kDisplayAddress,
                    id::kChecksumField, id::kSuccessCount, id::kFailureCount}) {
    give(field, kFieldFont);
  }
  give(id::kWebLink, kLinkFont);
  give(id::kCodeGrid, kGridFont);
}

}  // namespace kovra::win32
