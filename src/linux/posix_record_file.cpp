// SPDX-License-Identifier: MIT
#include "linux/posix_record_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kovra::linux_platform {
namespace {

// Read too, for the end of the file a new row follows.
int OpenForAppending(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

std::string ReadAt(int fd, uint64_t offset, size_t count) {
  std::string bytes(count, '\0');
  size_t got = 0;
  while (got < count) {
    const ssize_t n = pread(fd, bytes.data() + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace

bool PosixRecordFile::Append(const std::string& path, std::string_view header, std::string_view rows) {
  std::lock_guard lock(mutex_);
  const int fd = OpenForAppending(path);
  if (fd < 0) return false;
  const off_t size = lseek(fd, 0, SEEK_END);
  std::optional<std::string> bytes;
  if (size >= 0) {
    bytes = RecordLead(header, static_cast<uint64_t>(size),
                       [fd](uint64_t offset, size_t count) { return ReadAt(fd, offset, count); });
  }
  if (bytes) bytes->append(rows);
  // One write for the lead and the rows: a row is never left without them.
  const bool ok = bytes && WriteAll(fd, *bytes) && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

bool PosixRecordFile::CanAppend(const std::string& path) {
  std::lock_guard lock(mutex_);
  const int fd = OpenForAppending(path);
  if (fd < 0) return false;
  // Root opens anything; a write of nothing still fails where rows would
  // (a file of /proc, say).
  const bool writable = write(fd, "", 0) == 0;
  return close(fd) == 0 && writable;
}

}  // namespace kovra::linux_platform
