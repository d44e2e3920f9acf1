// SPDX-License-Identifier: MIT
#pragma once

#include "platform/serial_port.h"

namespace kovra {

// The port of a program that has no programmer behind it: nothing opens.
class NoSerialPort : public SerialPort {
 public:
  bool Open(std::string_view) override { return false; }
  void Close() override {}
  bool IsOpen() const override { return false; }
  bool SetQueues(uint32_t, uint32_t) override { return false; }
  bool SetTimeouts(const SerialTimeouts&) override { return false; }
  bool Purge() override { return false; }
  bool Configure(const SerialSettings&) override { return false; }
  bool GetModemStatus(uint32_t&) override { return false; }
  bool ArmTransmitEmpty() override { return false; }
  bool WaitTransmitEmpty(uint32_t) override { return false; }
  SerialTransfer Write(const uint8_t*, size_t) override { return {.failed = true}; }
  SerialTransfer Read(uint8_t*, size_t) override { return {.failed = true}; }
};

}  // namespace kovra
