#pragma once

#include <windows.h>

#include "platform/serial_port.h"

namespace kovra::win32 {

// A COM port through the system's comm functions, synchronous I/O.
class Win32SerialPort : public SerialPort {
 public:
  ~Win32SerialPort() override;
  bool Open(std::string_view name) override;
  void Close() override;
  bool IsOpen() const override;
  bool SetQueues(uint32_t inputBytes, uint32_t outputBytes) override;
  bool SetTimeouts(const SerialTimeouts& timeouts) override;
  bool Purge() override;
  bool Configure(const SerialSettings& settings) override;
  bool GetModemStatus(uint32_t& modemStatus) override;
  bool WaitTransmitEmpty() override;
  size_t Write(const uint8_t* data, size_t count) override;
  size_t Read(uint8_t* data, size_t count) override;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DCB dcb_{};
};

}  // namespace kovra::win32
