// SPDX-License-Identifier: MIT
// kovra_link_check: the link on the real Windows serial port and serial
// port map, under Wine, against kovra-sim. It finds the bridge in the map,
// connects with the probe frame and runs a memory checksum command. No
// window: the logic's own headless window takes the texts.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/headless_window.h"
#include "base/control_ids.h"
#include "link/link_worker.h"
#include "link/programmer_link.h"
#include "link/registry_port_map.h"
#include "ops/run_operation.h"
#include "platform/system_clock.h"
#include "win32/win32_registry.h"
#include "win32/win32_serial_port.h"

namespace {

class Silent : public kovra::Sound, public kovra::FileDialogs {
 public:
  void Beep(uint32_t, uint32_t) override {}
  std::optional<std::string> ChooseOpenFile(std::string_view) override { return std::nullopt; }
  std::optional<std::string> ChooseSaveFile(std::string_view) override { return std::nullopt; }
};

int failures = 0;

void Expect(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

}  // namespace

int main() {
  using namespace kovra;
  AppState state;
  HeadlessWindow window;
  win32::Win32Registry registry;
  SystemClock clock;
  Silent silent;
  win32::Win32SerialPort port;
  RegistryPortMap portMap{registry};
  LinkWorker worker;
  FixedProgramFolder programFolder;
  MemoryRecordFile records;
  AppContext ctx{state, window, registry, clock, silent, silent, port, portMap, worker, programFolder, records};

  // A chip selection as the window's start-up makes one: every frame then
  // names a chip type and a supply.
  window.SetChecked(id::kChipOtp, true);
  window.SetChecked(id::kVcc50, true);
  window.SetChecked(id::kVpp12, true);

  const int found = ScanProlificPorts(ctx);
  Expect(found >= 1 && state.portNames[0] == "COM5", "the serial port map shows the bridge at " + state.portNames[0]);

  // The first connect tries the saved port name, the scan's port a tick
  // later, as the program does.
  worker.PostSupervision([&] { ConnectAtStartup(ctx); });
  worker.WaitIdle();
  for (int tick = 0; tick < 3 && !state.connected; ++tick) {
    worker.PostSupervision([&] { SuperviseLink(ctx); });
    worker.WaitIdle();
  }
  const std::string connected = window.GetText(id::kStatusLine);
  Expect(state.connected == 1 && connected == std::string(kTextConnectedPrefix) + "COM5", "connected: " + connected);

  // The simulator's memory starts erased: 256 bytes of FF sum to FF00.
  window.SetText(id::kStartAddress, "0000");
  window.SetText(id::kEndAddress, "00FF");
  state.programStart = 0;
  state.programEnd = 0xFF;
  StartOperation(ctx, Op::kMemoryChecksum);
  worker.WaitIdle();
  const std::string checksum = window.GetText(id::kStatusLine);
  Expect(state.linkError == 0 && checksum == "编程内存检查和 =  FF00", "memory checksum: " + checksum);

  std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "PASSED", failures);
  return failures ? 1 : 0;
}
