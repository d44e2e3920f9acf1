// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string_view>

#include "base/app_state.h"
#include "platform/serial_port.h"

namespace kovra::test {

// Passes everything to another port and lets a test watch (and act on)
// what the host writes: every write, and every request frame by its code;
// and before every read.
class ObservedPort : public SerialPort {
 public:
  explicit ObservedPort(SerialPort& inner) : inner_(inner) {}

  std::function<void(uint8_t code)> onFrame;
  std::function<void(const uint8_t* data, size_t count)> onWrite;
  std::function<void()> onRead;

  bool Open(std::string_view name) override { return inner_.Open(name); }
  void Close() override { inner_.Close(); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  bool SetQueues(uint32_t in, uint32_t out) override { return inner_.SetQueues(in, out); }
  bool SetTimeouts(const SerialTimeouts& t) override { return inner_.SetTimeouts(t); }
  bool Purge() override { return inner_.Purge(); }
  bool Configure(const SerialSettings& s) override { return inner_.Configure(s); }
  bool GetModemStatus(uint32_t& status) override { return inner_.GetModemStatus(status); }
  bool ArmTransmitEmpty() override { return inner_.ArmTransmitEmpty(); }
  bool WaitTransmitEmpty(uint32_t timeoutMs) override { return inner_.WaitTransmitEmpty(timeoutMs); }
  SerialTransfer Read(uint8_t* data, size_t count) override {
    if (onRead) onRead();
    return inner_.Read(data, count);
  }
  SerialTransfer Write(const uint8_t* data, size_t count) override {
    const bool frame = count == kRequestFrameSize && std::string_view(reinterpret_cast<const char*>(data), 4) == "STAR";
    if (frame && onFrame) onFrame(data[RequestFrame::kCode]);
    if (!frame && onWrite) onWrite(data, count);
    return inner_.Write(data, count);
  }

 private:
  SerialPort& inner_;
};

}  // namespace kovra::test
