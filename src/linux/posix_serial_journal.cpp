// SPDX-License-Identifier: MIT
#include "linux/posix_serial_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kovra::linux_platform {

std::unique_ptr<PosixSerialJournal> PosixSerialJournal::Open(const std::string& path, std::string& error) {
  // O_APPEND: every write lands at the end, wherever a torn one left it.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open the journal " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "the journal " + path + " is not a regular file";
    close(fd);
    return nullptr;
  }
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    error = errno == EWOULDBLOCK ? "the journal " + path + " is in use by another run"
                                 : "cannot lock the journal " + path + ": " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<PosixSerialJournal>(new PosixSerialJournal(fd));
}

PosixSerialJournal::~PosixSerialJournal() { close(fd_); }

std::optional<std::string> PosixSerialJournal::Contents() {
  std::string contents;
  char buffer[64 * 1024];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd_, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return contents;
    contents.append(buffer, static_cast<size_t>(n));
    at += n;
  }
}

std::optional<std::vector<std::string>> PosixSerialJournal::Lines() {
  const auto contents = Contents();
  if (!contents) return std::nullopt;
  return JournalLines(*contents);
}

bool PosixSerialJournal::Append(std::string_view line) {
  std::optional<char> lastByte;
  const off_t size = lseek(fd_, 0, SEEK_END);
  if (size < 0) return false;
  if (size > 0) {
    char last = 0;
    ssize_t n;
    do {
      n = pread(fd_, &last, 1, size - 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1) return false;
    lastByte = last;
  }
  const std::string entry = JournalEntry(line, lastByte);
  // A short write (a full disk) is not continued: it leaves a torn line,
  // which the next append ends, and the number is not handed out.
  ssize_t written;
  do {
    written = write(fd_, entry.data(), entry.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(entry.size())) return false;
  int synced;
  do {
    synced = fsync(fd_);
  } while (synced != 0 && errno == EINTR);
  return synced == 0;
}

}  // namespace kovra::linux_platform
