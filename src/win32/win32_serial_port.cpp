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

Win32SerialPort::~Win32SerialPort() { Close(); }

bool Win32SerialPort::Open(std::string_view name) {
  Close();
  // Names from COM10 on open only through the device namespace.
  const std::wstring path = L"\\\\.\\" + Widen(name);
  handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  return handle_ != INVALID_HANDLE_VALUE;
}

void Win32SerialPort::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
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

bool Win32SerialPort::WaitTransmitEmpty() {
  if (!SetCommMask(handle_, EV_TXEMPTY)) return false;
  DWORD events = 0;
  return WaitCommEvent(handle_, &events, nullptr) != 0;
}

size_t Win32SerialPort::Write(const uint8_t* data, size_t count) {
  DWORD written = 0;
  WriteFile(handle_, data, static_cast<DWORD>(count), &written, nullptr);
  return written;
}

size_t Win32SerialPort::Read(uint8_t* data, size_t count) {
  DWORD read = 0;
  ReadFile(handle_, data, static_cast<DWORD>(count), &read, nullptr);
  return read;
}

}  // namespace kovra::win32
