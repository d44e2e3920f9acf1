// SPDX-License-Identifier: MIT
#include "win32/win32_serial_journal.h"

#include <windows.h>

#include "win32/wide_text.h"
#include "win32/win32_record_file.h"

namespace kovra::win32 {
namespace {

// The lock covers one byte far past any journal's end: it keeps a second
// run out without stopping a person from reading the file meanwhile.
OVERLAPPED LockPlace() {
  OVERLAPPED place{};
  place.Offset = 0xFFFFFFFE;
  place.OffsetHigh = 0x7FFFFFFF;
  return place;
}

}  // namespace

std::unique_ptr<Win32SerialJournal> Win32SerialJournal::Open(const std::string& path, std::string& error) {
  // Append-only access: every write lands at the end, wherever a torn one
  // left it.
  HANDLE file = CreateFileW(Widen(path).c_str(), FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open the journal " + path + " (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    error = "the journal " + path + " is not a regular file";
    CloseHandle(file);
    return nullptr;
  }
  OVERLAPPED place = LockPlace();
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) {
    const DWORD why = GetLastError();
    error = why == ERROR_LOCK_VIOLATION ? "the journal " + path + " is in use by another run"
                                        : "cannot lock the journal " + path + " (error " + std::to_string(why) + ")";
    CloseHandle(file);
    return nullptr;
  }
  return std::unique_ptr<Win32SerialJournal>(new Win32SerialJournal(file));
}

Win32SerialJournal::~Win32SerialJournal() {
  OVERLAPPED place = LockPlace();
  UnlockFileEx(file_, 0, 1, 0, &place);
  CloseHandle(file_);
}

std::optional<std::vector<std::string>> Win32SerialJournal::Lines() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_, &size)) return std::nullopt;
  const auto length = static_cast<size_t>(size.QuadPart);
  const std::string contents = ReadFileAt(file_, 0, length);
  if (contents.size() != length) return std::nullopt;
  return JournalLines(contents);
}

bool Win32SerialJournal::Append(std::string_view line) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_, &size)) return false;
  std::optional<char> lastByte;
  if (size.QuadPart > 0) {
    const std::string last = ReadFileAt(file_, static_cast<uint64_t>(size.QuadPart) - 1, 1);
    if (last.size() != 1) return false;
    lastByte = last[0];
  }
  const std::string entry = JournalEntry(line, lastByte);
  // A short write (a full disk) is not continued: it leaves a torn line,
  // which the next append ends, and the number is not handed out.
  DWORD written = 0;
  if (!WriteFile(file_, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr) || written != entry.size()) {
    return false;
  }
  return FlushFileBuffers(file_) != 0;
}

}  // namespace kovra::win32
