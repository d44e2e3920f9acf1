// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/serial_port.h"

namespace kovra::linux_platform {

// A tty through termios. Reads and writes keep the COMMTIMEOUTS rules of
// the Windows port: a total of constant + multiplier * bytes (0: no limit)
// and, for reads, the longest gap once bytes have started to come (0: no
// limit). All of them 0 makes a read wait for every byte it asked for. A
// write returns once its bytes have left the kernel's queue, or at its
// time-out.
//
// Open takes the tty for this program alone: TIOCEXCL turns away later
// opens by other users, an exclusive flock() turns away programs that ask
// for one, root among them.
class LinuxSerialPort : public SerialPort {
 public:
  LinuxSerialPort() = default;
  ~LinuxSerialPort() override;
  LinuxSerialPort(const LinuxSerialPort&) = delete;
  LinuxSerialPort& operator=(const LinuxSerialPort&) = delete;
  bool Open(std::string_view name) override;
  void Close() override;
  bool IsOpen() const override;
  bool SetQueues(uint32_t inputBytes, uint32_t outputBytes) override;
  bool SetTimeouts(const SerialTimeouts& timeouts) override;
  bool Purge() override;
  // Fails for abortOnError, which has no termios counterpart.
  bool Configure(const SerialSettings& settings) override;
  bool GetModemStatus(uint32_t& modemStatus) override;
  bool ArmTransmitEmpty() override;
  bool WaitTransmitEmpty(uint32_t timeoutMs) override;
  SerialTransfer Write(const uint8_t* data, size_t count) override;
  SerialTransfer Read(uint8_t* data, size_t count) override;

 private:
  int fd_ = -1;
  SerialTimeouts timeouts_;
  std::chrono::microseconds byteTime_{1'042};  // 10 bits at 9600 baud until configured
};

// Why `path` cannot be the programmer's port ("no such file", "not a
// serial port (not a tty)", "in use by another program", ...), or nothing
// when it can. Sends no byte and leaves the line settings alone.
std::optional<std::string> SerialPortProblem(const std::string& path);

}  // namespace kovra::linux_platform
