// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/chip_record.h"
#include "base/outcome.h"
#include "base/request_frame.h"
#include "platform/serial_port.h"

namespace kovra {

inline constexpr uint32_t kImageSize = 0x100000;
inline constexpr size_t kPortRows = 8;
inline constexpr size_t kDeviceRows = 64;

// controlFlags bits.
inline constexpr uint32_t kFlagCountingPaused = 0x02;
inline constexpr uint32_t kFlagBuzzerOn = 0x20;

using Flag = std::atomic<int32_t>;

// All state of the program. One instance lives as long as the application;
// the start values are those the window's start-up leaves behind. Flags are
// atomics because the user-interface thread and the link worker share them.
//
// Each plain field says which thread writes it and what keeps its readers
// safe. "UI" is the window's thread, "worker" the link worker. Where both
// write, busy separates them: it is raised as an operation is queued for
// the worker and lowered when the operation ends, and the window's thread
// leaves the operation, file, chip and code view controls alone while it
// is set.
struct AppState {
  AppState();

  // Chip list.
  Flag chipListLoaded{0};
  // UI, at start-up before the first tick hands the worker anything; read
  // only afterwards.
  uint32_t chipCount = 1;
  std::vector<ChipRecord> chipTable;

  // Address ranges.
  // UI (the address fields, just before an operation is started) and the
  // worker (operations that load or download code); busy.
  uint32_t programStart = 0;
  uint32_t programEnd = 0;
  // The worker, when a checksum confirms what the memory holds; UI at
  // start-up and when it checks the range before an automatic run, which
  // only happens while busy is clear.
  uint32_t memoryStart = 0x0000;
  uint32_t memoryEnd = 0x1FFF;
  // The worker, when a load or a chip copy gives the image its code: the
  // last address of that code, which a programming range must reach.
  uint32_t codeEnd = 0;
  Flag codeLoaded{0};
  // Set when the link is lost while codeLoaded vouched for the memory: the
  // programmer that answers next may be another, or its memory changed.
  Flag memoryToReconfirm{0};
  // Set when that confirmation found other code in the memory; cleared by
  // whatever writes the memory from here (download, chip copy, F7).
  Flag memoryRewritten{0};

  // Host code image.
  // The worker (loads, chip copies) and UI (start-up, a byte edit in the
  // code view, refused while busy); busy.
  std::vector<uint8_t> codeImage;
  Flag fillZero{0};
  // The worker (page requests) and UI (setting up the code view before its
  // first page request); busy.
  int32_t displayAddress = 0;

  // COM port and the bridge ports found by the last scan.
  // The worker (connect and supervision); UI only at start-up, before the
  // first tick, and when it saves the settings at shutdown.
  std::string currentPortName;
  // The worker only.
  std::array<std::string, kPortRows> portNames{};
  std::array<std::string, kDeviceRows> deviceNames{};
  SerialSettings serialSettings{};

  // Link.
  Flag linkError{0};
  Flag linkReady{0};
  Flag connected{0};
  Flag busy{0};
  Flag quietConnect{0};
  Flag firstTickDone{0};
  // The worker only: every operation builds it there, after any supervision
  // pass has finished.
  RequestFrame requestFrame{};
  std::atomic<uint32_t> optionMask{0};

  // Production counters; the counter buttons write them while a run counts.
  std::atomic<uint32_t> successCount{0};
  std::atomic<uint32_t> failureCount{0};
  std::atomic<uint32_t> controlFlags{kFlagBuzzerOn};
  // The set-count dialog's failure mask: kept and shown again, but counting
  // does not consult it. The window's own behaviour; keep it.
  std::atomic<uint32_t> failureCountMask{0};
  std::atomic<int32_t> autoRunState{0};
  Flag autoProgramActive{0};
  // The worker: when the automatic run under way started (Clock::NowMs),
  // and the steps it has taken so far, comma-separated, the failing one
  // included.
  uint64_t runStartedMs = 0;
  std::string runSteps;
  // What the last operation or automatic run came to. The worker, as the
  // operation goes; UI when the window refuses a button before anything
  // is posted (busy clear then).
  Outcome outcome;

  // Production record: the file each automatic run appends a row to (none
  // when empty). Set before the first run (settings, command line); read by
  // the worker. recordFailed: the worker, when a row could not be written.
  std::string recordPath;
  Flag recordFailed{0};
  // The job file a run came from and its SHA-256, for the record; set
  // before the first run (command line).
  std::string recordJob;
  std::string recordJobSha256;
  // A run that gives the chip its own number: the image variant verifies
  // the chip by reading it back, byte for byte, since two exchanged bytes
  // keep the chip's 16-bit checksum; runSerial is the number's bytes (hex)
  // for the record. Set between runs (command line); read by the worker.
  bool verifyByReadback = false;
  uint32_t serialAddress = 0;
  std::string runSerial;

  // Whether a saved HEX file ends with an end-of-file record, as other
  // tools expect; the window's files keep their format without one. Set
  // before the first save (command line); read by the worker.
  bool hexEndRecord = false;

  // User interface.
  Flag interruptRequested{0};
  Flag codeViewReady{0};
  // The mouse is down on the web-link label (not the programmer's link).
  Flag linkPressed{0};

  uint8_t& operationCode() { return requestFrame.code(); }
  uint8_t operationCode() const { return requestFrame.code(); }
};

}  // namespace kovra
