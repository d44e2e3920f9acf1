// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kovra {

// Time-outs in milliseconds, with the meaning of the system's COMMTIMEOUTS:
// a read of k bytes gives up after readConstant + readMultiplier * k, or
// after a gap longer than readInterval once bytes have started to arrive.
struct SerialTimeouts {
  uint32_t readInterval = 0;
  uint32_t readMultiplier = 0;
  uint32_t readConstant = 0;
  uint32_t writeMultiplier = 0;
  uint32_t writeConstant = 0;
};

// Line settings. Each implementation maps them to its system's form in one
// place (the Windows one to every field of a DCB).
enum class Baud : uint32_t { k9600 = 9600, k19200 = 19200, k38400 = 38400 };
enum class Parity : uint8_t { kNone, kOdd, kEven, kMark, kSpace };
enum class DataBits : uint8_t { k7 = 7, k8 = 8 };
enum class StopBits : uint8_t { kOne, kTwo };

// The line settings record kept between configurations (the system's DCB,
// reduced to what the link sets).
struct SerialSettings {
  Baud baud = Baud::k9600;
  Parity parity = Parity::kNone;
  DataBits dataBits = DataBits::k8;
  StopBits stopBits = StopBits::kOne;
  bool parityCheck = false;
  bool abortOnError = false;

  bool operator==(const SerialSettings&) const = default;
};

inline constexpr uint32_t kModemDsrOn = 0x0020;

// What a read or a write did, as libserialport's blocking calls tell it.
// count: the bytes moved. Fewer than asked, 0 too, when the time-out ended
// the call; the port is fine and may be tried again.
// failed: the port can move nothing (the device is gone, an I/O error, the
// port not open); count holds what moved before. Trying again is useless.
struct SerialTransfer {
  size_t count = 0;
  bool failed = false;

  bool operator==(const SerialTransfer&) const = default;
};

// One COM port, used synchronously by one thread at a time.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Closes any port open before. False when the port cannot be opened.
  virtual bool Open(std::string_view name) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  virtual bool SetQueues(uint32_t inputBytes, uint32_t outputBytes) = 0;
  virtual bool SetTimeouts(const SerialTimeouts& timeouts) = 0;
  virtual bool Purge() = 0;
  // Sets the line: the settings, raw bytes and no flow control of any kind
  // (the programmer paces the line by time and tells busy on DSR). False
  // when the system refuses; the port is then left half set up.
  virtual bool Configure(const SerialSettings& settings) = 0;
  // False when the status cannot be read; modemStatus is then untouched.
  virtual bool GetModemStatus(uint32_t& modemStatus) = 0;
  // Arms the transmit-empty event. Armed before a write, a drain that
  // comes before the wait is not missed.
  virtual bool ArmTransmitEmpty() = 0;
  // Waits, at most timeoutMs, for the output to drain since the event was
  // armed. False when it did not come in time.
  virtual bool WaitTransmitEmpty(uint32_t timeoutMs) = 0;

  // Each under the port's time-outs. A write returns once its bytes have
  // left the host for the line (the bridge may hold a few), or at its
  // time-out: the protocol paces the line by time.
  virtual SerialTransfer Write(const uint8_t* data, size_t count) = 0;
  virtual SerialTransfer Read(uint8_t* data, size_t count) = 0;
};

}  // namespace kovra
