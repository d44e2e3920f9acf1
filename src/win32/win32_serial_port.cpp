// SPDX-License-Identifier: MIT
#include "win32/win32_serial_port.h"

#include <string>

#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

// The settings in a DCB, every field that shapes the line set: a field
// left as the driver or the last program had it (a handshake, XON/XOFF,
// bytes replaced or dropped) would change what the programmer gets, or
// hold the host's bytes back.
void ToDcb(const SerialSettings& s, DCB& dcb) {
  static constexpr BYTE kParities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
  dcb.BaudRate = static_cast<DWORD>(s.baud);
  dcb.ByteSize = static_cast<BYTE>(s.dataBits);
  dcb.Parity = kParities[static_cast<int>(s.parity)];
  dcb.StopBits = s.stopBits == StopBits::kOne ? ONESTOPBIT : TWOSTOPBITS;
  dcb.fParity = s.parityCheck ? TRUE : FALSE;
  dcb.fAbortOnError = s.abortOnError ? TRUE : FALSE;
  // The only mode the system has.
  dcb.fBinary = TRUE;
  // No handshake: the programmer tells busy on DSR, which the link polls;
  // DTR and RTS are simply held on.
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  // Every byte as it came: no parity-error byte replaced, no 0 dropped.
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
}

// A serial driver ends a call at its time-out with success, or with one of
// these.
bool TimedOut(DWORD error) {
  return error == ERROR_SEM_TIMEOUT || error == ERROR_COUNTER_TIMEOUT || error == ERROR_TIMEOUT;
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
  // From the driver's own state: the characters and limits no setting
  // names keep their values.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle_, &dcb)) return false;
  ToDcb(settings, dcb);
  if (SetCommState(handle_, &dcb)) return true;
  // Under Wine a pseudo-terminal, which keeps no parity bit, refuses the
  // line it already holds, as a change that changes nothing; after another
  // line it takes it. A port that truly refuses the line refuses it again.
  DCB other = dcb;
  other.Parity = NOPARITY;
  other.fParity = FALSE;
  return SetCommState(handle_, &other) && SetCommState(handle_, &dcb);
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
SerialTransfer Win32SerialPort::Complete(Start start) {
  if (!IsOpen()) return {.failed = true};
  OVERLAPPED io{};
  io.hEvent = ioEvent_;
  ResetEvent(ioEvent_);
  if (!start(&io) && GetLastError() != ERROR_IO_PENDING) return {.failed = !TimedOut(GetLastError())};
  // The port's time-outs end the call; this waits for that end.
  DWORD moved = 0;
  const bool done = GetOverlappedResult(handle_, &io, &moved, TRUE) != 0;
  return {moved, !done && !TimedOut(GetLastError())};
}

SerialTransfer Win32SerialPort::Write(const uint8_t* data, size_t count) {
  return Complete(
      [&](OVERLAPPED* io) { return WriteFile(handle_, data, static_cast<DWORD>(count), nullptr, io) != 0; });
}

SerialTransfer Win32SerialPort::Read(uint8_t* data, size_t count) {
  return Complete([&](OVERLAPPED* io) { return ReadFile(handle_, data, static_cast<DWORD>(count), nullptr, io) != 0; });
}

}  // namespace kovra::win32
