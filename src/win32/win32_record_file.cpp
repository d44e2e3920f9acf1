// SPDX-License-Identifier: MIT
#include "win32/win32_record_file.h"

#include <windows.h>

#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

// Append-only access: every write lands at the end, whoever else writes.
// Read too, for the end of the file a new row follows.
HANDLE OpenForAppending(const std::string& path) {
  return CreateFileW(Widen(path).c_str(), FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool Win32RecordFile::Append(const std::string& path, std::string_view header, std::string_view rows) {
  std::lock_guard lock(mutex_);
  HANDLE file = OpenForAppending(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  std::optional<std::string> bytes;
  if (GetFileSizeEx(file, &size)) {
    bytes = RecordLead(header, static_cast<uint64_t>(size.QuadPart),
                       [file](uint64_t offset, size_t count) { return ReadFileAt(file, offset, count); });
  }
  if (bytes) bytes->append(rows);
  // One write for the lead and the rows: a row is never left without them.
  const bool ok = bytes && WriteAll(file, *bytes) && FlushFileBuffers(file);
  CloseHandle(file);
  return ok;
}

bool Win32RecordFile::CanAppend(const std::string& path) {
  std::lock_guard lock(mutex_);
  HANDLE file = OpenForAppending(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::string ReadFileAt(void* file, uint64_t offset, size_t count) {
  std::string bytes(count, '\0');
  size_t got = 0;
  while (got < count) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + got);
    at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data() + got, static_cast<DWORD>(count - got), &read, &at) || read == 0) break;
    got += read;
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace kovra::win32
