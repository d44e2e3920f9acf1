// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace kovra {

// What an operation or an automatic run came to, kept beside the texts
// the window shows: the command line, the record and scripts read this,
// never the texts.
enum class Failure : uint8_t {
  kNone,
  kNotBlank,         // the chip is not blank at `address`
  kVerifyFailed,     // the chip differs from the code (at `address` when known)
  kProgramChecksum,  // the programmer's verdict on the programming was not OK
  kVoltageFault,     // the programmer reported voltage fault `fault` (0: unknown)
  kSettingFailed,    // the programmer refused a chip setting or the master's configuration
  kMemoryDiffers,    // the programming memory differs from the code (at `address` when known)
  kFileError,        // the code file could not be read, or the output file written
  kLinkLost,         // no answer, a damaged one, or the port gone
  kRefused,          // not done at all: `why`
  kInterrupted,      // the operator interrupted it
};

struct Outcome {
  Failure failure = Failure::kNone;
  // An automatic run's step ("blank", "verify"), else the operation's name.
  std::string step;
  uint32_t address = 0;
  bool hasAddress = false;
  int fault = 0;
  std::string why;

  bool passed() const { return failure == Failure::kNone; }
  void Fail(Failure kind) { failure = kind; }
  void FailAt(Failure kind, uint32_t at) {
    failure = kind;
    address = at;
    hasAddress = true;
  }
  void Refuse(std::string reason) {
    failure = Failure::kRefused;
    why = std::move(reason);
  }
};

// A passed outcome of `step`, until the step notes otherwise.
inline Outcome OutcomeOf(std::string step) {
  Outcome outcome;
  outcome.step = std::move(step);
  return outcome;
}

// The failure's kind in words a script can match ("not-blank"); empty for
// kNone.
const char* FailureName(Failure failure);

// An operation's position in its range, as it goes.
struct ProgressEvent {
  const char* operation;  // "blank check", "download", ...
  uint32_t address;       // reached
  uint32_t start;
  uint32_t end;
};

// Who wants the progress events of a context's operations; called on the
// link worker's thread.
class ProgressListener {
 public:
  virtual ~ProgressListener() = default;
  virtual void OnProgress(const ProgressEvent& event) = 0;
};

}  // namespace kovra
