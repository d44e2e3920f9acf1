#include "win32/win32_record_file.h"

#include <windows.h>

#include "win32/wide_text.h"

namespace kovra::win32 {
namespace {

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
  // Append-only access: every write lands at the end, whoever else writes.
  HANDLE file = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  // One write for header and rows: a row is never left without its header.
  std::string bytes;
  if (GetFileSizeEx(file, &size) && size.QuadPart == 0) bytes = header;
  bytes += rows;
  const bool ok = WriteAll(file, bytes) && FlushFileBuffers(file);
  CloseHandle(file);
  return ok;
}

}  // namespace kovra::win32
