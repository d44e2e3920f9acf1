// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

// The host's pauses, answer waits and buffer sizes in one place, each with
// its unit and what it is for. The programmer has no flow control beyond
// DSR, so the pauses are what keeps the host from talking over its work.
namespace kovra {

// Pauses, in milliseconds.
namespace pause {
// After the request frame, before its 21-byte answer is read.
inline constexpr uint32_t kFrameAnswerMs = 50;
// The longest wait for the frame to drain: its 21 bytes of 11 bits at
// 38400 baud (6 ms, rounded up), and what the bridge and the system may
// add before they report it. A drain event that never comes costs this.
inline constexpr uint32_t kFrameDrainMs = 7 + 100;
// Between two DSR reads while the programmer is busy.
inline constexpr uint32_t kDsrPollMs = 1;
// Before the second try to open a bridge port the first try could not.
inline constexpr uint32_t kReopenMs = 100;
// Between a block read's acknowledgement and its data.
inline constexpr uint32_t kBlockDataMs = 50;
// Before reading a chip (readback, copy): its supplies settle.
inline constexpr uint32_t kChipReadMs = 200;
// Between the memory's "ROMOK" and the download command.
inline constexpr uint32_t kAfterInitMs = 200;
// At every page boundary of a download: the programmer writes the page.
inline constexpr uint32_t kPageMs = 30;
// After the last downloaded byte, before the memory checksum command: the
// last page write.
inline constexpr uint32_t kAfterDownloadMs = 500;
// Before the offline configuration is written.
inline constexpr uint32_t kBeforeConfigMs = 400;
// Between the steps of an automatic run.
inline constexpr uint32_t kAutoStepMs = 50;
// Before each progress address of a range command; the programmer sends
// them no faster, so they never pile up in the input buffer.
inline constexpr uint32_t kChipChecksumProgressMs = 100;
inline constexpr uint32_t kBlankCheckProgressMs = 50;
inline constexpr uint32_t kVerifyProgressMs = 150;
inline constexpr uint32_t kProgramProgressMs = 0;  // programming is slower than the line
inline constexpr uint32_t kMemoryChecksumProgressMs = 50;
inline constexpr uint32_t kCopyProgressMs = 300;
// Between two beeps of a signal.
inline constexpr uint32_t kBeepGapMs = 100;
}  // namespace pause

// Beep lengths, in milliseconds.
inline constexpr uint32_t kShortBeepMs = 100;
inline constexpr uint32_t kLongBeepMs = 500;  // a chip programmed

// Timer periods, in milliseconds.
inline constexpr uint32_t kFirstTickMs = 500;  // start-up to the first connect
inline constexpr uint32_t kTickMs = 1000;      // supervision, and the retry after a link failure

// Tries: one-byte reads for the first byte of an answer, each ending after
// the read time-out below (52 ms for one byte), so tries x 52 ms is the
// longest the host waits for the programmer to begin answering.
namespace tries {
inline constexpr uint32_t kWord = 30;             // a checksum word
inline constexpr uint32_t kProgressAddress = 30;  // the next progress address
inline constexpr uint32_t kAcknowledge = 50;      // "OK" after a command
inline constexpr uint32_t kProgramVerdict = 50;   // after programming from the memory
inline constexpr uint32_t kStreamVerdict = 100;   // after programming from a byte stream
inline constexpr uint32_t kSettingVerdict = 100;  // protections, SMART, erase
inline constexpr uint32_t kConfigVerdict = 50;    // the offline configuration
// "ROMOK" after the memory is cleared: the longer the range, the longer.
inline constexpr uint32_t kInitForDownload = 200;
inline constexpr uint32_t kInitWhole = 600;
inline constexpr uint32_t kInitForCopy = 1500;
// DSR reads, kDsrPollMs apart, before the frame and before a download page.
inline constexpr uint32_t kDsrBeforeFrame = 1000;
inline constexpr uint32_t kDsrBeforePage = 50;
}  // namespace tries

// Buffer sizes, in bytes. The answer buffers are larger than the answers:
// whatever else arrives in the same read is dropped with them.
namespace sizes {
inline constexpr uint32_t kPortQueue = 65536;     // the driver's input and output queues
inline constexpr size_t kAnswer = 16;             // acknowledgements and verdicts
inline constexpr size_t kRomOk = 8;               // "ROMOK" of a memory initialisation
inline constexpr size_t kSettingAnswer = 32;      // a chip setting's verdict
inline constexpr size_t kChecksumAnswer = 128;    // the memory checksum's acknowledgement
inline constexpr size_t kConfigAnswer = 256;      // the offline configuration's verdict
inline constexpr size_t kBlock = 512;             // one page read of at most 256 bytes
inline constexpr size_t kReadback = 2048;         // one readback block of at most 1024 bytes
inline constexpr uint32_t kReadbackBlock = 1024;  // bytes a readback asks for at once
inline constexpr uint32_t kCopyBlock = 256;       // bytes a chip copy asks for at once
}  // namespace sizes

// Read and write time-outs, in milliseconds, in the system's COMMTIMEOUTS
// sense: constant + multiplier x bytes, and the longest gap between bytes.
inline constexpr uint32_t kReadIntervalMs = 2;
inline constexpr uint32_t kReadPerByteMs = 2;
inline constexpr uint32_t kReadConstantMs = 50;
inline constexpr uint32_t kWritePerByteMs = 2;
inline constexpr uint32_t kWriteConstantMs = 50;

}  // namespace kovra
