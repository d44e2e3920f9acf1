// kovra-cli: the programmer host for scripts and production lines: code
// files and chip lists, and one or many programmers driven at once.
// Output is UTF-8, one "key: value" per line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
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

#ifdef _WIN32
#include <windows.h>
#endif

namespace kovra {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  kovra-cli load FILE [--fill-zero] [--dump IMAGE.bin]\n"
    "  kovra-cli save-hex FILE START END OUT\n"
    "  kovra-cli chips LISTFILE\n"
    "  kovra-cli ports\n"
    "  kovra-cli download FILE --port PORT [--chips LIST] [--chip NAME] [--expect-checksum HHHH]\n"
    "  kovra-cli program FILE --port PORT [--port PORT ...] --chip NAME [--chips LIST]\n"
    "            [--steps blank,erase,program,verify,smart,ldc,read-protect,write-protect]\n"
    "            [--expect-checksum HHHH] [--record FILE.csv] [--count N]\n"
    "  kovra-cli read-hex OUT.hex --port PORT [--start HHHH --end HHHH]\n"
    "  kovra-cli offline-master FILE --port PORT --chip NAME [--chips LIST] [--expect-checksum HHHH]\n"
    "PORT: a serial device (/dev/ttyUSB0, a pseudo-terminal) or COMn on Windows; auto: the first bridge port.\n";

// Message boxes have no one to read them here: they go to stderr.
cli::StationOutput MessagesToStderr() {
  return {.status = {}, .progress = {}, .message = [](const std::string& caption, const std::string& text) {
            std::fprintf(stderr, "%s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", text.c_str());
          }};
}

struct CliWorld {
  AppState state;
  cli::StationWindow window{MessagesToStderr()};
  MemoryRegistry registry;
  SystemClock clock;
  cli::Silence sound;
  cli::GivenPathDialogs dialogs;
  NoSerialPort port;
  RegistryPortMap portMap{registry};
  LinkWorker worker;
  FixedProgramFolder programFolder;
  MemoryRecordFile records;
  AppContext ctx{state, window, registry, clock, sound, dialogs, port, portMap, worker, programFolder, records};
};

void Print(std::string_view key, std::string_view value) {
  std::printf("%.*s: %.*s\n", static_cast<int>(key.size()), key.data(), static_cast<int>(value.size()), value.data());
}

int Usage() {
  std::fputs(kUsage, stderr);
  return cli::kExitUsage;
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "error: %s\n", why.c_str());
  return cli::kExitUsage;
}

// Runs the loader as the application does for a path in the path field,
// refusing a damaged file; linkError tells the rest.
std::optional<std::string> Load(CliWorld& w, const std::string& file, bool fillZero) {
  w.state.fillZero = fillZero ? 1 : 0;
  w.window.SetText(id::kFilePath, file);
  return cli::LoadCodeFileStrictly(w.ctx);
}

bool WriteImage(const std::string& path, const std::vector<uint8_t>& image) {
  std::ofstream out(Utf8Path(path), std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  return static_cast<bool>(out);
}

int CmdLoad(const std::vector<std::string>& args) {
  std::string file;
  std::optional<std::string> dump;
  bool fillZero = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--fill-zero") {
      fillZero = true;
    } else if (args[i] == "--dump" && i + 1 < args.size()) {
      dump = args[++i];
    } else if (file.empty() && !args[i].starts_with("--")) {
      file = args[i];
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();

  CliWorld w;
  if (auto damaged = Load(w, file, fillZero)) return Refuse(*damaged);
  Print("status", w.window.GetText(id::kStatusLine));
  if (w.state.linkError) return cli::kExitFailed;
  Print("start", w.window.GetText(id::kStartAddress));
  Print("end", w.window.GetText(id::kEndAddress));
  Print("checksum", w.window.GetText(id::kChecksumField));
  if (dump && !WriteImage(*dump, w.state.codeImage)) {
    std::fprintf(stderr, "cannot write %s\n", dump->c_str());
    return cli::kExitFailed;
  }
  return cli::kExitOk;
}

std::optional<uint32_t> ParseAddress(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  const uint32_t value = HexToNumber(text, 16);
  if (value == kBadNumber || value >= kImageSize) return std::nullopt;
  return value;
}

int CmdSaveHex(const std::vector<std::string>& args) {
  if (args.size() != 4) return Usage();
  const auto start = ParseAddress(args[1]);
  const auto end = ParseAddress(args[2]);
  if (!start || !end || *start > *end) return Usage();

  CliWorld w;
  if (auto damaged = Load(w, args[0], false)) return Refuse(*damaged);
  if (w.state.linkError) {
    Print("status", w.window.GetText(id::kStatusLine));
    return cli::kExitFailed;
  }
  w.state.programStart = *start;
  w.state.programEnd = *end;
  w.window.SetChecked(id::kDebugMode, true);
  w.dialogs.path = PathText(std::filesystem::absolute(Utf8Path(args[3])));
  ImageBlockSource image(w.state);
  SaveMemoryAsHex(w.ctx, image);
  Print("status", w.window.GetText(id::kStatusLine));
  return w.state.linkError == 0 ? cli::kExitOk : cli::kExitFailed;
}

std::string OrDash(const std::string& field) { return field.empty() ? "-" : field; }

int CmdChips(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage();
  AppState state;
  const bool loaded = LoadChipListFile(args[0], state);
  if (!loaded) std::fprintf(stderr, "%s: cannot be read or holds no chip\n", args[0].c_str());
  for (uint32_t row = 0; row < state.chipCount; ++row) {
    const ChipRecord& chip = state.chipTable[row];
    std::printf("row %u: %s %s %s %s %s %s\n", row, OrDash(chip.name).c_str(), OrDash(chip.memoryType).c_str(),
                OrDash(chip.spare).c_str(), OrDash(chip.vpp).c_str(), OrDash(chip.vdd).c_str(),
                Hex4(ChipRomEnd(chip)).c_str());
  }
  std::printf("count: %u\n", state.chipCount);
  return loaded ? cli::kExitOk : cli::kExitFailed;
}

int Run(const std::vector<std::string>& argv) {
  if (argv.empty()) return Usage();
  const std::vector<std::string> args(argv.begin() + 1, argv.end());
  if (argv[0] == "load") return CmdLoad(args);
  if (argv[0] == "save-hex") return CmdSaveHex(args);
  if (argv[0] == "chips") return CmdChips(args);
  if (const cli::LineCommand command = cli::FindLineCommand(argv[0])) return command(args);
  return Usage();
}

}  // namespace
}  // namespace kovra

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(kovra::PathText(std::filesystem::path(argv[i])));
  return kovra::Run(args);
}
#else
int main(int argc, char** argv) { return kovra::Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
