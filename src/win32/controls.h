// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

// The five control classes of the main window. Each is a standard control
// with a subclass procedure that turns input into requests to the main
// window; the standard control still draws it. Attach() is called once,
// right after the control is created; the subclass frees itself when the
// control is destroyed.
namespace kovra::win32 {

// The one subclass procedure of them all: it hands every message to the
// control's object and frees the object with the control.
template <typename Control>
class Subclass;

// The window's control classes keep their established names: CMy and the
// kind of control each subclasses.

// Push buttons, check boxes and radio buttons.
class CMybtn {
 public:
  static void Attach(HWND button, HWND mainWindow);
  static bool IsLocked(HWND button);

 private:
  friend class Subclass<CMybtn>;
  explicit CMybtn(HWND main) : main_(main) {}
  LRESULT Handle(HWND, UINT, WPARAM, LPARAM);
  void Activate(HWND);
  bool Swallowed(HWND) const;

  HWND main_;
  bool pressed_ = false;
  bool locked_ = false;
  WPARAM keyDown_ = 0;  // Enter, Space or F2..F12 gone down on this button, not yet up
};

// The chip list.
class CMyComboBox {
 public:
  static void Attach(HWND combo, HWND mainWindow);

 private:
  friend class Subclass<CMyComboBox>;
  explicit CMyComboBox(HWND main) : main_(main) {}
  LRESULT Handle(HWND, UINT, WPARAM, LPARAM);

  HWND main_;
};

// Single-line fields: the hexadecimal filter and the double-click actions.
class CMyedit {
 public:
  static void Attach(HWND edit, HWND mainWindow);

 private:
  friend class Subclass<CMyedit>;
  explicit CMyedit(HWND main) : main_(main) {}
  LRESULT Handle(HWND, UINT, WPARAM, LPARAM);

  HWND main_;
  bool enterDown_ = false;
};

// Group frames: the colours of the checksum field and the status line, and
// the notifications of their children handed back to the children.
class CMygrp {
 public:
  static void Attach(HWND group, HWND mainWindow);

 private:
  friend class Subclass<CMygrp>;
  explicit CMygrp(HWND main) : main_(main) {}
  LRESULT Handle(HWND, UINT, WPARAM, LPARAM);

  HWND main_;
};

// Labels; the web-link label opens the maker's page.
class CMystatic {
 public:
  static void Attach(HWND label, HWND mainWindow);

 private:
  friend class Subclass<CMystatic>;
  explicit CMystatic(HWND main) : main_(main) {}
  LRESULT Handle(HWND, UINT, WPARAM, LPARAM);

  HWND main_;
};

}  // namespace kovra::win32
