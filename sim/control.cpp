// SPDX-License-Identifier: MIT
#include "sim/control.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace kovra::sim {
namespace {

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
    if (end > at) words.emplace_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

// "0x1F" is hexadecimal, anything else decimal.
std::optional<uint64_t> Number(const std::string& text) {
  int base = 10;
  size_t skip = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    skip = 2;
  }
  uint64_t value = 0;
  const char* first = text.data() + skip;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, value, base);
  if (error != std::errc() || end != last || first == last) return std::nullopt;
  return value;
}

std::optional<bool> OnOff(const std::string& text) {
  if (text == "on") return true;
  if (text == "off") return false;
  return std::nullopt;
}

ControlReply Fail(std::string text) { return {false, text + "\n", ControlReply::Action::kNone, 0}; }
ControlReply Done(std::string text = "ok") { return {true, text + "\n", ControlReply::Action::kNone, 0}; }

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

std::string Status(Programmer& programmer) {
  const sim::Chip chip = programmer.GetChip();
  const Faults f = programmer.GetFaults();
  char text[512];
  std::snprintf(text, sizeof text,
                "chip %s %s, ROM 0x%zX bytes, %s; read %s, LDC %s, write %s, SMART %s\n"
                "faults: silent %d, no %d, voltage %d, garbage %d, short %d, short-frame %d, wrong-checksum %d, "
                "dsr %d, stop-progress %s\n"
                "offline configuration %s; %zu violation(s)\n",
                chip.present ? "present" : "absent", chip.type == ChipType::kMtp ? "MTP" : "OTP", chip.rom.size(),
                chip.IsBlank() ? "blank" : "not blank", chip.readProtected ? "on" : "off",
                chip.ldcProtected ? "on" : "off", chip.writeProtected ? "on" : "off", chip.smartEnabled ? "on" : "off",
                f.silent, f.answerNo, f.voltage, f.garbage, f.shortAnswer, f.shortFrameAnswer, f.wrongChecksum,
                f.dsrStuckOn, f.stopProgressAt ? std::to_string(*f.stopProgressAt).c_str() : "off",
                programmer.OfflineConfig() ? "stored" : "none", programmer.Violations().size());
  return text;
}

ControlReply ChipCommand(Programmer& programmer, const std::vector<std::string>& w) {
  if (w.size() >= 2 && (w[1] == "absent" || w[1] == "present")) {
    programmer.UpdateChip([&](sim::Chip& chip) { chip.present = w[1] == "present"; });
    return Done();
  }
  if (w.size() < 2 || w.size() > 3 || (w[1] != "otp" && w[1] != "mtp")) return Fail("usage: chip otp|mtp [SIZE]");
  uint64_t size = 0x8000;
  if (w.size() == 3) {
    const auto n = Number(w[2]);
    if (!n || *n == 0 || *n > Programmer::kMemorySize) return Fail("chip size must be 1 to 0x100000");
    size = *n;
  }
  programmer.SetChip(sim::Chip::Blank(w[1] == "mtp" ? ChipType::kMtp : ChipType::kOtp, static_cast<uint32_t>(size)));
  return Done();
}

ControlReply Protect(Programmer& programmer, const std::vector<std::string>& w) {
  const auto on = w.size() == 3 ? OnOff(w[2]) : std::nullopt;
  if (!on) return Fail("usage: protect read|ldc|write|smart on|off");
  bool known = true;
  programmer.UpdateChip([&](sim::Chip& chip) {
    if (w[1] == "read") {
      chip.readProtected = *on;
    } else if (w[1] == "ldc") {
      chip.ldcProtected = *on;
    } else if (w[1] == "write") {
      chip.writeProtected = *on;
    } else if (w[1] == "smart") {
      chip.smartEnabled = *on;
    } else {
      known = false;
    }
  });
  return known ? Done() : Fail("usage: protect read|ldc|write|smart on|off");
}

ControlReply Load(Programmer& programmer, const std::vector<std::string>& w, bool memory) {
  if (w.size() < 2 || w.size() > 3)
    return Fail(memory ? "usage: load-memory FILE [ADDR]" : "usage: load-chip FILE [ADDR]");
  const auto address = w.size() == 3 ? Number(w[2]) : std::optional<uint64_t>(0);
  if (!address || *address >= Programmer::kMemorySize) return Fail("bad address");
  const auto bytes = ReadFile(w[1]);
  if (!bytes) return Fail("cannot read " + w[1]);
  if (memory) {
    programmer.WriteMemory(static_cast<uint32_t>(*address), *bytes);
  } else {
    programmer.UpdateChip([&](sim::Chip& chip) {
      for (size_t i = 0; i < bytes->size() && *address + i < chip.rom.size(); ++i) chip.rom[*address + i] = (*bytes)[i];
    });
  }
  return Done();
}

ControlReply Save(Programmer& programmer, const std::vector<std::string>& w, bool memory) {
  std::vector<uint8_t> bytes;
  if (memory) {
    const auto first = w.size() == 4 ? Number(w[2]) : std::nullopt;
    const auto last = w.size() == 4 ? Number(w[3]) : std::nullopt;
    if (!first || !last || *first > *last || *last >= Programmer::kMemorySize)
      return Fail("usage: save-memory FILE FIRST LAST");
    bytes = programmer.ReadMemory(static_cast<uint32_t>(*first), static_cast<size_t>(*last - *first + 1));
  } else {
    if (w.size() != 2) return Fail("usage: save-chip FILE");
    bytes = programmer.GetChip().rom;
  }
  return WriteFile(w[1], bytes) ? Done() : Fail("cannot write " + w[1]);
}

ControlReply Fault(Programmer& programmer, const std::vector<std::string>& w) {
  if (w.size() == 2 && w[1] == "clear") {
    programmer.SetFaults({});
    return Done();
  }
  if (w.size() < 3) return Fail("usage: fault NAME on|off|VALUE (see help)");
  const std::string& name = w[1];
  Faults f = programmer.GetFaults();
  const auto on = OnOff(w[2]);
  bool* flag = name == "silent"           ? &f.silent
               : name == "no"             ? &f.answerNo
               : name == "garbage"        ? &f.garbage
               : name == "short"          ? &f.shortAnswer
               : name == "short-frame"    ? &f.shortFrameAnswer
               : name == "wrong-checksum" ? &f.wrongChecksum
               : name == "dsr"            ? &f.dsrStuckOn
                                          : nullptr;
  if (flag) {
    if (!on || w.size() != 3) return Fail("usage: fault " + name + " on|off");
    *flag = *on;
  } else if (name == "voltage") {
    if (w.size() != 3 || (w[2] != "off" && w[2].size() != 1)) return Fail("usage: fault voltage CODE|off");
    f.voltage = w[2] == "off" ? 0 : static_cast<uint8_t>(w[2][0]);
  } else if (name == "stop-progress") {
    const auto address = Number(w[2]);
    if (w.size() != 3 || (w[2] != "off" && !address)) return Fail("usage: fault stop-progress ADDR|off");
    f.stopProgressAt = w[2] == "off" ? std::nullopt : std::optional<uint32_t>(static_cast<uint32_t>(*address));
  } else if (name == "drop-to-host" || name == "corrupt-to-host" || name == "late-to-host" || name == "swap-to-host" ||
             name == "drop-to-device" || name == "corrupt-to-device" || name == "late-to-device" ||
             name == "swap-to-device") {
    WireFault& wire = name.ends_with("to-host") ? f.toHost : f.toDevice;
    if (w[2] == "off" && w.size() == 3) {
      wire = {};
    } else {
      const auto after = Number(w[2]);
      const auto count = w.size() == 4 ? Number(w[3]) : std::optional<uint64_t>(0);
      if (!after || !count || w.size() > 4) return Fail("usage: fault " + name + " AFTER [COUNT]|off");
      const WireFault::Kind kind = name.starts_with("drop")   ? WireFault::Kind::kDrop
                                   : name.starts_with("late") ? WireFault::Kind::kLate
                                   : name.starts_with("swap") ? WireFault::Kind::kSwap
                                                              : WireFault::Kind::kCorrupt;
      wire = {kind, *after, *count};
    }
  } else {
    return Fail("unknown fault " + name);
  }
  programmer.SetFaults(f);
  return Done();
}

ControlReply Power(const std::vector<std::string>& w, ControlReply::Action action) {
  const auto ms = w.size() == 2 ? Number(w[1]) : std::optional<uint64_t>(0);
  if (!ms || w.size() > 2) return Fail("usage: " + w[0] + " [MS]");
  return {true, "ok\n", action, *ms * 1000};
}

}  // namespace

ControlReply RunControl(Programmer& programmer, std::string_view line, uint64_t nowUs) {
  const std::vector<std::string> w = Words(line);
  if (w.empty() || w[0].starts_with("#")) return {};
  const std::string& verb = w[0];
  if (verb == "help") return Done(ControlHelp());
  if (verb == "status") return {true, Status(programmer), ControlReply::Action::kNone, 0};
  if (verb == "chip") return ChipCommand(programmer, w);
  if (verb == "blank" && w.size() == 1) {
    programmer.UpdateChip([](sim::Chip& chip) { chip.MakeBlank(); });
    return Done();
  }
  if (verb == "protect" && w.size() >= 2) return Protect(programmer, w);
  if (verb == "load-chip") return Load(programmer, w, false);
  if (verb == "load-memory") return Load(programmer, w, true);
  if (verb == "save-chip") return Save(programmer, w, false);
  if (verb == "save-memory") return Save(programmer, w, true);
  if (verb == "fault") return Fault(programmer, w);
  if (verb == "noise") {
    const auto n = w.size() == 2 ? Number(w[1]) : std::nullopt;
    if (!n || *n > 4096) return Fail("usage: noise COUNT (at most 4096)");
    programmer.InjectNoise(static_cast<size_t>(*n), nowUs);
    return Done();
  }
  if (verb == "violations") {
    std::string text;
    for (const Violation& v : programmer.Violations()) {
      char head[32];
      std::snprintf(head, sizeof head, "%.3f ms: ", static_cast<double>(v.us) / 1000.0);
      text += head + v.text + "\n";
    }
    return {true, text.empty() ? "none\n" : text, ControlReply::Action::kNone, 0};
  }
  if (verb == "clear-violations") {
    programmer.ClearViolations();
    return Done();
  }
  if (verb == "unplug") return Power(w, ControlReply::Action::kUnplug);
  if (verb == "replug") return Power(w, ControlReply::Action::kReplug);
  if (verb == "quit" && w.size() == 1) return {true, "bye\n", ControlReply::Action::kQuit, 0};
  return Fail("unknown command: " + std::string(line) + " (try help)");
}

std::string ControlHelp() {
  return "chip otp|mtp [SIZE]       a new blank chip of that type and ROM size (default 0x8000)\n"
         "chip absent|present       take the chip out of the socket or put it back\n"
         "blank                     the chip becomes blank and unprotected\n"
         "protect read|ldc|write|smart on|off\n"
         "load-chip FILE [ADDR]     raw bytes into the chip's ROM\n"
         "load-memory FILE [ADDR]   raw bytes into the programming memory\n"
         "save-chip FILE            the chip's ROM as raw bytes\n"
         "save-memory FILE FIRST LAST\n"
         "fault silent|no|garbage|short|short-frame|wrong-checksum|dsr on|off\n"
         "fault voltage CODE|off    chip commands answer 'E' and CODE (one character, e.g. 1..4)\n"
         "fault stop-progress ADDR|off\n"
         "fault {drop|corrupt|late|swap}-to-{host|device} AFTER [COUNT]|off\n"
         "fault clear\n"
         "noise COUNT               send COUNT random bytes now\n"
         "unplug [MS] / replug [MS] now or after MS milliseconds\n"
         "status / violations / clear-violations / quit\n"
         "Numbers are decimal, or hexadecimal after 0x.";
}

}  // namespace kovra::sim
