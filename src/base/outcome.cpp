#include "base/outcome.h"

namespace kovra {

const char* FailureName(Failure failure) {
  switch (failure) {
    case Failure::kNone:
      return "";
    case Failure::kNotBlank:
      return "not-blank";
    case Failure::kVerifyFailed:
      return "verify-failed";
    case Failure::kProgramChecksum:
      return "program-checksum";
    case Failure::kVoltageFault:
      return "voltage-fault";
    case Failure::kSettingFailed:
      return "setting-failed";
    case Failure::kMemoryDiffers:
      return "memory-differs";
    case Failure::kFileError:
      return "file-error";
    case Failure::kLinkLost:
      return "link-lost";
    case Failure::kRefused:
      return "refused";
    case Failure::kInterrupted:
      return "interrupted";
  }
  return "";
}

}  // namespace kovra
