#include "win32/win32_serial_port.h"

#include <string>

#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

// BuildCommDCB's form, such as "baud=38400 parity=S data=8 stop=1".
std::wstring SettingsText(const SerialSettings& settings) {
  static constexpr wchar_t kParities[] = L"NOEMS";
  return L"baud=" + std::to_wstring(static_cast<uint32_t>(settings.baud)) + L" parity=" +
         kParities[static_cast<int>(settings.parity)] + L" data=" +
         std::to_wstring(static_cast<int>(settings.dataBits)) + L" stop=" +
         (settings.stopBits == StopBits::kOne ? L"1" : L"2");
}

}  // namespace

Win32SerialPort::Win32SerialPort()
    : ioEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), commEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Win32SerialPort::~Win32SerialPort() {
  Close();
  CloseHandle(ioEvent_);
  CloseHandle(commEvent_);
}

bool Win32SerialPort::Open(std::string_view name) {
  Close();
  // Names from COM10 on open only through the device namespace.
  const std::wstring path = L"\\\\.\\" + Widen(name);
  handle_ =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return handle_ != INVALID_HANDLE_VALUE;
}

void Win32SerialPort::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  if (commWaitPending_) {
    CancelIoEx(handle_, &commWait_);
    DWORD ignored = 0;
    GetOverlappedResult(handle_, &commWait_, &ignored, TRUE);
    commWaitPending_ = false;
  }
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

bool Win32SerialPort::IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

bool Win32SerialPort::SetQueues(uint32_t inputBytes, uint32_t outputBytes) {
  return SetupComm(handle_, inputBytes, outputBytes) != 0;
}

bool Win32SerialPort::SetTimeouts(const SerialTimeouts& t) {
  COMMTIMEOUTS ct{};
  ct.ReadIntervalTimeout = t.readInterval;
  ct.ReadTotalTimeoutMultiplier = t.readMultiplier;
  ct.ReadTotalTimeoutConstant = t.readConstant;
  ct.WriteTotalTimeoutMultiplier = t.writeMultiplier;
  ct.WriteTotalTimeoutConstant = t.writeConstant;
  return SetCommTimeouts(handle_, &ct) != 0;
}

bool Win32SerialPort::Purge() {
  return PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool Win32SerialPort::Configure(const SerialSettings& settings) {
  // The DCB keeps what earlier configurations left in it; the settings text
  // changes only the fields it names.
  dcb_.DCBlength = sizeof dcb_;
  dcb_.fParity = settings.parityCheck ? 1 : 0;
  dcb_.fAbortOnError = settings.abortOnError ? 1 : 0;
  const std::wstring text = SettingsText(settings);
  if (!BuildCommDCBW(text.c_str(), &dcb_)) return false;
  return SetCommState(handle_, &dcb_) != 0;
}

bool Win32SerialPort::GetModemStatus(uint32_t& modemStatus) {
  DWORD status = 0;
  if (!GetCommModemStatus(handle_, &status)) return false;
  modemStatus = status;
  return true;
}

bool Win32SerialPort::ArmTransmitEmpty() {
  // A wait left over from a drain that never came goes first.
  if (commWaitPending_) {
    if (WaitForSingleObject(commEvent_, 0) != WAIT_OBJECT_0) return false;
    DWORD ignored = 0;
    GetOverlappedResult(handle_, &commWait_, &ignored, FALSE);
    commWaitPending_ = false;
  }
  return SetCommMask(handle_, EV_TXEMPTY) != 0;
}

bool Win32SerialPort::WaitTransmitEmpty(uint32_t timeoutMs) {
  if (commWaitPending_) return false;
  commWait_ = {};
  commWait_.hEvent = commEvent_;
  ResetEvent(commEvent_);
  commEvents_ = 0;
  if (WaitCommEvent(handle_, &commEvents_, &commWait_)) return (commEvents_ & EV_TXEMPTY) != 0;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  DWORD ignored = 0;
  if (WaitForSingleObject(commEvent_, timeoutMs) == WAIT_OBJECT_0) {
    return GetOverlappedResult(handle_, &commWait_, &ignored, FALSE) && (commEvents_ & EV_TXEMPTY) != 0;
  }
  // A new mask ends a pending wait; cancelling is the fallback.
  SetCommMask(handle_, 0);
  if (WaitForSingleObject(commEvent_, 100) != WAIT_OBJECT_0) {
    CancelIoEx(handle_, &commWait_);
    if (WaitForSingleObject(commEvent_, 100) != WAIT_OBJECT_0) {
      commWaitPending_ = true;
      return false;
    }
  }
  GetOverlappedResult(handle_, &commWait_, &ignored, FALSE);
  return false;
}

template <typename Start>
DWORD Win32SerialPort::Complete(Start start) {
  OVERLAPPED io{};
  io.hEvent = ioEvent_;
  ResetEvent(ioEvent_);
  if (!start(&io) && GetLastError() != ERROR_IO_PENDING) return 0;
  // The port's time-outs end the call; this waits for that end.
  DWORD moved = 0;
  GetOverlappedResult(handle_, &io, &moved, TRUE);
  return moved;
}

size_t Win32SerialPort::Write(const uint8_t* data, size_t count) {
  return Complete(
      [&](OVERLAPPED* io) { return WriteFile(handle_, data, static_cast<DWORD>(count), nullptr, io) != 0; });
}

size_t Win32SerialPort::Read(uint8_t* data, size_t count) {
  return Complete([&](OVERLAPPED* io) { return ReadFile(handle_, data, static_cast<DWORD>(count), nullptr, io) != 0; });
}

}  // namespace kovra::win32
