// SPDX-License-Identifier: MIT
#include <windows.h>
// These need windows.h first.
#include <commctrl.h>
#include <objbase.h>

#include "base/app_context.h"
#include "link/link_worker.h"
#include "link/registry_port_map.h"
#include "platform/system_clock.h"
#include "win32/main_dialog.h"
#include "win32/win32_file_dialogs.h"
#include "win32/win32_line_record.h"
#include "win32/win32_main_window.h"
#include "win32/win32_program_folder.h"
#include "win32/win32_registry.h"
#include "win32/win32_serial_port.h"
#include "win32/win32_sound.h"

namespace kovra::win32 {

// How long a closing window waits for the database to take its last rows.
constexpr uint32_t kSettleMs = 3000;

// The application: builds the world, runs the main window, and ends the
// process when the window closes.
class CProgrammerApp {
 public:
  [[noreturn]] void Run(HINSTANCE instance);
};

void CProgrammerApp::Run(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  // The file dialogs browse through the shell.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  AppState state;
  Win32MainWindow window(instance);
  Win32Registry registry;
  SystemClock clock;
  Win32Sound sound;
  Win32FileDialogs dialogs(window);
  Win32SerialPort port;
  RegistryPortMap portMap{registry};
  Win32ProgramFolder programFolder;
  Win32LineRecord records;
  LinkWorker worker([](bool timeCritical) {
    SetThreadPriority(GetCurrentThread(), timeCritical ? THREAD_PRIORITY_TIME_CRITICAL : THREAD_PRIORITY_NORMAL);
  });
  AppContext ctx{state, window, registry, clock, sound, dialogs, port, portMap, worker, programFolder, records};

  CMainDialog dialog(instance, ctx, window);
  dialog.DoModal();
  // The last rows of a shift reach the database now, not at the next
  // morning's first chip.
  records.Settle(kSettleMs);
  // The settings are saved. Nothing is joined: a worker still inside a
  // step is abandoned with the process.
  ExitProcess(0);
}

}  // namespace kovra::win32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kovra::win32::CProgrammerApp app;
  app.Run(instance);
}
