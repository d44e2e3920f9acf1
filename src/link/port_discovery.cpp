// SPDX-License-Identifier: MIT
#include "base/host_timing.h"
#include "link/programmer_link.h"

namespace kovra {
namespace {

// A purge that keeps failing means the port is gone.
constexpr int kMaxPurgeTries = 100;

}  // namespace

int ScanProlificPorts(AppContext& ctx) {
  AppState& s = ctx.state;
  s.portNames.fill({});
  s.deviceNames.fill({});
  size_t found = 0;
  for (BridgePort& port : ctx.portMap.Scan()) {
    if (found == kPortRows) break;
    s.portNames[found] = std::move(port.port);
    s.deviceNames[found] = std::move(port.device);
    ++found;
  }
  if (found != 0 || s.quietConnect) return static_cast<int>(found);
  ctx.window.ShowMessageBox({kTextNoBridge, "", MbButtons::kOk, MbIcon::kError});
  return 0;
}

bool IsPortPresent(AppContext& ctx) {
  AppState& s = ctx.state;
  if (s.deviceNames[0].empty()) return false;
  s.currentPortName = ctx.portMap.Canonical(s.currentPortName);
  for (size_t row = 0; row < kPortRows && !s.portNames[row].empty(); ++row) {
    if (s.portNames[row] == s.currentPortName) return ctx.portMap.Listed(s.deviceNames[row]);
  }
  return false;
}

bool OpenPort(AppContext& ctx, const std::string& name) {
  ctx.port.Close();
  if (!ctx.port.Open(name)) return false;
  // Without its time-outs a read could wait for ever: a port that refuses
  // them is one that does not open.
  if (!ctx.port.SetQueues(sizes::kPortQueue, sizes::kPortQueue) ||
      !ctx.port.SetTimeouts({.readInterval = kReadIntervalMs,
                             .readMultiplier = kReadPerByteMs,
                             .readConstant = kReadConstantMs,
                             .writeMultiplier = kWritePerByteMs,
                             .writeConstant = kWriteConstantMs})) {
    ctx.port.Close();
    return false;
  }
  ctx.state.requestFrame.Fill(0x55);
  BuildRequestFrame(ctx);
  ctx.state.operationCode() = kConnectProbe;
  return CheckConnection(ctx);
}

bool ConfigurePort(AppContext& ctx) {
  int tries = 0;
  while (!ctx.port.Purge()) {
    if (++tries >= kMaxPurgeTries) return false;
  }
  // The programmer's line: 38400 baud, 8 data bits, space parity, 1 stop bit.
  ctx.state.serialSettings = {.baud = Baud::k38400,
                              .parity = Parity::kSpace,
                              .dataBits = DataBits::k8,
                              .stopBits = StopBits::kOne,
                              .parityCheck = true,
                              .abortOnError = false};
  // A line left half set up would garble every byte; the port is given up
  // instead, and the next connect opens it afresh.
  if (!ctx.port.Configure(ctx.state.serialSettings)) {
    ctx.port.Close();
    return false;
  }
  return true;
}

bool WaitDsrOff(AppContext& ctx, uint32_t polls) {
  for (uint32_t i = 0; i < polls; ++i) {
    ctx.clock.SleepMs(pause::kDsrPollMs);
    // A port that cannot report its modem status reads as not busy.
    uint32_t status = 0;
    ctx.port.GetModemStatus(status);
    if ((status & kModemDsrOn) == 0) return true;
  }
  return false;
}

}  // namespace kovra
