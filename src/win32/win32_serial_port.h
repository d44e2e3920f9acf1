// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include "platform/serial_port.h"

namespace kovra::win32 {

// A COM port through the system's comm functions. The handle is opened for
// overlapped I/O so that the transmit-empty wait can be bounded; reads and
// writes still complete before they return, under the port's time-outs.
class Win32SerialPort : public SerialPort {
 public:
  Win32SerialPort();
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;
  bool Open(std::string_view name) override;
  void Close() override;
  bool IsOpen() const override;
  bool SetQueues(uint32_t inputBytes, uint32_t outputBytes) override;
  bool SetTimeouts(const SerialTimeouts& timeouts) override;
  bool Purge() override;
  bool Configure(const SerialSettings& settings) override;
  bool GetModemStatus(uint32_t& modemStatus) override;
  bool ArmTransmitEmpty() override;
  bool WaitTransmitEmpty(uint32_t timeoutMs) override;
  SerialTransfer Write(const uint8_t* data, size_t count) override;
  SerialTransfer Read(uint8_t* data, size_t count) override;

 private:
  // Starts an overlapped call through `start` and waits for its end.
  template <typename Start>
  SerialTransfer Complete(Start start);

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE ioEvent_;
  HANDLE commEvent_;
  // The comm-event wait's record outlives a wait that had to be cancelled,
  // for the system may still write into it.
  OVERLAPPED commWait_{};
  DWORD commEvents_ = 0;
  bool commWaitPending_ = false;
};

}  // namespace kovra::win32
