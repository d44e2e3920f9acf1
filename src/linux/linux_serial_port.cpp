// SPDX-License-Identifier: MIT
#include "linux/linux_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>
#include <thread>

namespace kovra::linux_platform {
namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// Non-blocking, so that poll() bounds every wait; no controlling terminal,
// and no carrier wait at open.
constexpr int kOpenFlags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

// The system's MS_*_ON values, as the link reads them.
constexpr struct {
  int line;
  uint32_t status;
} kModemLines[] = {{TIOCM_CTS, 0x0010}, {TIOCM_DSR, kModemDsrOn}, {TIOCM_RNG, 0x0040}, {TIOCM_CAR, 0x0080}};

// A total of constant + perByte * count milliseconds, none when 0. Capped
// at what a DWORD of milliseconds holds, so the clock cannot overflow.
Deadline TotalDeadline(uint32_t constant, uint32_t perByte, size_t count) {
  const uint64_t bytes = std::min<uint64_t>(count, UINT32_MAX);
  const uint64_t ms = std::min<uint64_t>(constant + perByte * bytes, UINT32_MAX);
  if (ms == 0) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(ms);
}

Deadline Earlier(Deadline a, Deadline b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

// How a wait on the port ended.
enum class Wait { kDone, kTimedOut, kFailed };

// Waits until the port is ready for `events`, until `end` at the most.
// Failed when the port reports only a hang-up or an error.
Wait WaitReady(int fd, short events, Deadline end) {
  for (;;) {
    int waitMs = -1;
    if (end) {
      // Past the time-out a last look still counts: a byte that came while
      // this thread waited for the processor came in time, and the
      // system's driver would hand it over.
      const auto left = std::max(*end - Clock::now(), Clock::duration::zero());
      waitMs = static_cast<int>(std::min<int64_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count(), INT_MAX));
    }
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, waitMs);
    if (ready < 0 && errno != EINTR) return Wait::kFailed;
    if (ready > 0) return (p.revents & events) != 0 ? Wait::kDone : Wait::kFailed;
    if (ready == 0 && waitMs == 0) return Wait::kTimedOut;
  }
}

// Waits until the tty's output queue has gone out, until `end` at the most:
// it sleeps the line time of what is queued, then looks again. Failed when
// the queue cannot be read (the device is gone).
Wait WaitDrained(int fd, Deadline end, Clock::duration byteTime) {
  constexpr auto kLeastSleep = std::chrono::microseconds(100);
  for (;;) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) return Wait::kFailed;
    if (queued == 0) return Wait::kDone;
    const auto now = Clock::now();
    if (end && now >= *end) return Wait::kTimedOut;
    Clock::duration sleep = std::max<Clock::duration>(byteTime * queued, kLeastSleep);
    if (end) sleep = std::min(sleep, *end - now);
    std::this_thread::sleep_for(sleep);
  }
}

// Takes the tty's exclusive flock. False when another program holds it.
// The tty's exclusive mode is no sign of a user: a program killed while it
// held the port leaves it set as long as anybody else keeps the tty open,
// while its flock went with it.
bool Claim(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

std::optional<speed_t> Speed(Baud baud) {
  switch (baud) {
    case Baud::k9600:
      return B9600;
    case Baud::k19200:
      return B19200;
    case Baud::k38400:
      return B38400;
  }
  return std::nullopt;
}

std::optional<tcflag_t> ParityFlags(Parity parity) {
  switch (parity) {
    case Parity::kNone:
      return 0;
    case Parity::kOdd:
      return PARENB | PARODD;
    case Parity::kEven:
      return PARENB;
    case Parity::kMark:
      return PARENB | CMSPAR | PARODD;
    case Parity::kSpace:
      return PARENB | CMSPAR;
  }
  return std::nullopt;
}

// The settings in termios, in raw mode; false for what termios cannot say.
bool ToTermios(const SerialSettings& s, termios& t) {
  const std::optional<speed_t> speed = Speed(s.baud);
  const std::optional<tcflag_t> parity = ParityFlags(s.parity);
  if (!speed || !parity) return false;
  if (s.dataBits != DataBits::k7 && s.dataBits != DataBits::k8) return false;
  if (s.stopBits != StopBits::kOne && s.stopBits != StopBits::kTwo) return false;
  // abortOnError stops reads and writes at a line error until the error is
  // cleared; termios has no such state, and ignoring it would claim it had.
  if (s.abortOnError) return false;

  cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  // A break would otherwise read as a 0 byte the programmer never sent.
  t.c_iflag |= IGNBRK;
  // A byte with a parity or framing error is dropped. Windows hands it on
  // as it came and termios would make it 0; either way the logic would take
  // it for data. Dropped, the answer comes short and the link fails the
  // exchange instead.
  if (s.parityCheck) t.c_iflag |= INPCK | IGNPAR;
  t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | *parity;
  t.c_cflag |= s.dataBits == DataBits::k7 ? CS7 : CS8;
  if (s.stopBits == StopBits::kTwo) t.c_cflag |= CSTOPB;
  // Reads return what is there at once; poll() does the waiting.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return cfsetispeed(&t, *speed) == 0 && cfsetospeed(&t, *speed) == 0;
}

// Whether the tty holds the line `wanted`, but for the parity bit, which a
// pseudo-terminal drops.
bool Holds(int fd, const termios& wanted) {
  termios now{};
  return tcgetattr(fd, &now) == 0 && now.c_iflag == wanted.c_iflag && now.c_oflag == wanted.c_oflag &&
         now.c_lflag == wanted.c_lflag && (now.c_cflag & ~PARENB) == (wanted.c_cflag & ~PARENB) &&
         now.c_cc[VMIN] == wanted.c_cc[VMIN] && now.c_cc[VTIME] == wanted.c_cc[VTIME];
}

std::string Reason(int error) {
  if (error == ENOENT) return "no such file";
  if (error == EACCES) return "permission denied";
  if (error == EBUSY || error == EWOULDBLOCK) return "in use by another program";
  return std::generic_category().message(error);
}

}  // namespace

LinuxSerialPort::~LinuxSerialPort() { Close(); }

bool LinuxSerialPort::Open(std::string_view name) {
  Close();
  const int fd = open(std::string(name).c_str(), kOpenFlags);
  if (fd < 0) return false;
  if (!isatty(fd) || !Claim(fd) || ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void LinuxSerialPort::Close() {
  if (fd_ < 0) return;
  ioctl(fd_, TIOCNXCL);
  close(fd_);
  fd_ = -1;
}

bool LinuxSerialPort::IsOpen() const { return fd_ >= 0; }

// The tty's buffers are the kernel's own size.
bool LinuxSerialPort::SetQueues(uint32_t, uint32_t) { return IsOpen(); }

bool LinuxSerialPort::SetTimeouts(const SerialTimeouts& timeouts) {
  if (!IsOpen()) return false;
  timeouts_ = timeouts;
  return true;
}

bool LinuxSerialPort::Purge() { return tcflush(fd_, TCIOFLUSH) == 0; }

bool LinuxSerialPort::Configure(const SerialSettings& settings) {
  // What the settings do not name keeps its current value.
  termios t{};
  if (tcgetattr(fd_, &t) != 0 || !ToTermios(settings, t)) return false;
  // A tty refuses a change of which it keeps nothing (EINVAL): so does a
  // pseudo-terminal, which keeps no parity bit, asked for its line again.
  // What it holds is then the line.
  if (tcsetattr(fd_, TCSANOW, &t) != 0 && !(errno == EINVAL && Holds(fd_, t))) return false;
  // A start bit, the data bits, the parity bit, the stop bits.
  const uint32_t bits = 1 + static_cast<uint32_t>(settings.dataBits) + (settings.parity == Parity::kNone ? 0 : 1) +
                        (settings.stopBits == StopBits::kTwo ? 2 : 1);
  byteTime_ = std::chrono::microseconds(uint64_t{bits} * 1'000'000 / static_cast<uint32_t>(settings.baud));
  return true;
}

bool LinuxSerialPort::GetModemStatus(uint32_t& modemStatus) {
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) return false;
  uint32_t status = 0;
  for (const auto& line : kModemLines) {
    if ((lines & line.line) != 0) status |= line.status;
  }
  modemStatus = status;
  return true;
}

// The queue is read when the wait comes, so a drain before it is not
// missed.
bool LinuxSerialPort::ArmTransmitEmpty() { return IsOpen(); }

// tcdrain() has no time-out; the output queue is watched instead.
bool LinuxSerialPort::WaitTransmitEmpty(uint32_t timeoutMs) {
  return WaitDrained(fd_, Clock::now() + std::chrono::milliseconds(timeoutMs), byteTime_) == Wait::kDone;
}

SerialTransfer LinuxSerialPort::Write(const uint8_t* data, size_t count) {
  if (!IsOpen()) return {.failed = true};
  const Deadline end = TotalDeadline(timeouts_.writeConstant, timeouts_.writeMultiplier, count);
  SerialTransfer done;
  while (done.count < count) {
    const ssize_t n = write(fd_, data + done.count, count - done.count);
    if (n > 0) {
      done.count += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    // EIO from a device that is gone.
    if (errno != EAGAIN) return {done.count, true};
    const Wait wait = WaitReady(fd_, POLLOUT, end);
    if (wait == Wait::kFailed) return {done.count, true};
    if (wait == Wait::kTimedOut) break;
  }
  // The protocol paces the line by time (a download's page pause, the DSR
  // polls after it): a write ends when its bytes have gone out, as the
  // Windows port's does, not when the kernel has queued them. Past the
  // time-out they still go, late.
  if (done.count > 0) done.failed = WaitDrained(fd_, end, byteTime_) == Wait::kFailed;
  return done;
}

SerialTransfer LinuxSerialPort::Read(uint8_t* data, size_t count) {
  if (!IsOpen()) return {.failed = true};
  const Deadline total = TotalDeadline(timeouts_.readConstant, timeouts_.readMultiplier, count);
  Deadline gap;
  SerialTransfer done;
  while (done.count < count) {
    const Wait wait = WaitReady(fd_, POLLIN, Earlier(total, gap));
    if (wait == Wait::kTimedOut) break;
    if (wait == Wait::kFailed) return {done.count, true};
    const ssize_t n = read(fd_, data + done.count, count - done.count);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // Readable yet nothing to read (a hung-up tty's end of file), or EIO:
    // the device is gone.
    if (n <= 0) return {done.count, true};
    done.count += static_cast<size_t>(n);
    if (timeouts_.readInterval != 0) gap = Clock::now() + std::chrono::milliseconds(timeouts_.readInterval);
  }
  return done;
}

std::optional<std::string> SerialPortProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Reason(errno);
  if (!S_ISCHR(info.st_mode)) return "not a character device";
  const int fd = open(path.c_str(), kOpenFlags);
  if (fd < 0) return Reason(errno);
  std::optional<std::string> problem;
  if (!isatty(fd)) {
    problem = "not a serial port (not a tty)";
  } else if (!Claim(fd)) {
    problem = Reason(EBUSY);
  }
  close(fd);
  return problem;
}

}  // namespace kovra::linux_platform
