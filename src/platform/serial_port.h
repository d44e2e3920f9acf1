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

// The line settings record kept between configurations (the system's DCB,
// reduced to what the link sets).
struct SerialSettings {
  uint32_t baudRate = 0;
  uint8_t byteSize = 0;
  char parity = 0;  // 'N', 'O', 'E', 'M' or 'S'
  uint8_t stopBits = 0;
  bool parityCheck = false;
  bool abortOnError = false;
};

inline constexpr uint32_t kModemDsrOn = 0x0020;

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
  // Applies a settings text such as "baud=38400 parity=S data=8 stop=1" to
  // the record, then hands the record to the port.
  virtual bool Configure(std::string_view settingsText, SerialSettings& settings) = 0;
  // False when the status cannot be read; modemStatus is then untouched.
  virtual bool GetModemStatus(uint32_t& modemStatus) = 0;
  // Arms the transmit-empty event. Armed before a write, a drain that
  // comes before the wait is not missed.
  virtual bool ArmTransmitEmpty() = 0;
  // Waits, at most timeoutMs, for the output to drain since the event was
  // armed. False when it did not come in time.
  virtual bool WaitTransmitEmpty(uint32_t timeoutMs) = 0;

  // Byte counts actually moved; 0 on time-out or failure.
  virtual size_t Write(const uint8_t* data, size_t count) = 0;
  virtual size_t Read(uint8_t* data, size_t count) = 0;
};

}  // namespace kovra
