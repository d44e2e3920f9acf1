// SPDX-License-Identifier: MIT
// The commands on code files and chip lists: the loader, the HEX writer and
// the chip list parser as the window runs them, with no programmer.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "base/app_context.h"
#include "base/control_ids.h"
#include "base/text_helpers.h"
#include "chips/chip_list.h"
#include "chips/target_rules.h"
#include "cli/commands.h"
#include "cli/station.h"
#include "image/hex_writer.h"
#include "link/link_worker.h"
#include "link/registry_port_map.h"
#include "platform/memory_registry.h"
#include "platform/no_serial_port.h"
#include "platform/system_clock.h"

namespace kovra::cli {
namespace {

// Message boxes have no one to read them here: they go to stderr.
StationOutput MessagesToStderr() {
  return {.status = {}, .progress = {}, .message = [](const std::string& caption, const std::string& text) {
            std::fprintf(stderr, "%s\n", MessageLine(caption, text).c_str());
          }};
}

struct CliWorld {
  AppState state;
  StationWindow window{MessagesToStderr()};
  MemoryRegistry registry;
  SystemClock clock;
  Silence sound;
  GivenPathDialogs dialogs;
  NoSerialPort port;
  RegistryPortMap portMap{registry};
  LinkWorker worker;
  FixedProgramFolder programFolder;
  MemoryRecordFile records;
  AppContext ctx{state, window, registry, clock, sound, dialogs, port, portMap, worker, programFolder, records};
};

// Runs the loader as the application does for a path in the path field,
// refusing a damaged file; linkError tells the rest.
void LoadStrictly(CliWorld& w, const std::string& file, bool fillZero) {
  w.state.fillZero = fillZero ? 1 : 0;
  w.window.SetText(id::kFilePath, file);
  if (auto damaged = LoadCodeFileStrictly(w.ctx)) throw Refusal{*damaged};
}

bool WriteImage(const std::string& path, const std::vector<uint8_t>& image) {
  std::ofstream out(Utf8Path(path), std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  return static_cast<bool>(out);
}

std::string OrDash(const std::string& field) { return field.empty() ? "-" : field; }

std::string ChipFields(const ChipRecord& chip) {
  return OrDash(chip.name) + " " + OrDash(chip.memoryType) + " " + OrDash(chip.spare) + " " + OrDash(chip.vpp) + " " +
         OrDash(chip.vdd) + " " + Hex4(ChipRomEnd(chip));
}

}  // namespace

int Load(const Inputs& in) {
  if (in.dump) RequireRegularFile("--dump", *in.dump, true);
  CliWorld w;
  LoadStrictly(w, in.file, in.fillZero);
  const std::string status = w.window.GetText(id::kStatusLine);
  if (w.state.linkError) {
    Print("status", status);
    return kExitFailed;
  }
  // Written before the load is reported: its lines stand for both.
  if (in.dump && !WriteImage(*in.dump, w.state.codeImage)) {
    std::fprintf(stderr, "error: %s: the image could not be written\n", in.dump->c_str());
    return kExitFailed;
  }
  Print("status", status);
  Print("start", w.window.GetText(id::kStartAddress));
  Print("end", w.window.GetText(id::kEndAddress));
  Print("checksum", w.window.GetText(id::kChecksumField));
  return kExitOk;
}

int SaveHex(const Inputs& in) {
  if (*in.start > *in.end) throw Refusal{"START lies beyond END"};
  CliWorld w;
  LoadStrictly(w, in.file, false);
  if (w.state.linkError) {
    Print("status", w.window.GetText(id::kStatusLine));
    return kExitFailed;
  }
  w.state.programStart = *in.start;
  w.state.programEnd = *in.end;
  // Other tools read these files.
  w.state.hexEndRecord = true;
  w.window.SetChecked(id::kDebugMode, true);
  w.dialogs.path = PathText(std::filesystem::absolute(Utf8Path(in.out)));
  ImageBlockSource image(w.state);
  SaveMemoryAsHex(w.ctx, image);
  Print("status", w.window.GetText(id::kStatusLine));
  return w.state.linkError == 0 ? kExitOk : kExitFailed;
}

int Chips(const Inputs& in) {
  const std::string list = in.file.empty() ? DefaultChipList() : in.file;
  // A missing file is the chip list's own failure, as in the window.
  std::error_code error;
  if (std::filesystem::exists(Utf8Path(list), error)) RequireRegularFile("chips", list, false);
  const auto lines = ReadChipListLines(list);
  if (!lines) {
    std::fprintf(stderr, "error: %s: the chip list cannot be read\n", list.c_str());
    return kExitFailed;
  }
  uint32_t row = 0;
  std::string printed;
  for (const ChipListLine& line : *lines) {
    printed += line.listed ? "row " + std::to_string(row++) + ": " : "unlisted: ";
    printed += ChipFields(line.chip) + "\n";
  }
  if (row == 0) {
    std::fprintf(stderr, "error: %s: no chip the window would list\n", list.c_str());
    return kExitFailed;
  }
  std::fputs(printed.c_str(), stdout);
  Print("count", std::to_string(row));
  return kExitOk;
}

}  // namespace kovra::cli
