// SPDX-License-Identifier: MIT
// Loading and saving a HEX file that fills the whole 1 MiB code image.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

#include "base/control_ids.h"
#include "image/code_loader.h"
#include "image/hex_writer.h"
#include "support/test_context.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    const fs::path d = fs::temp_directory_path() / "kovra_bench";
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

class NoProgrammer : public BlockSource {
 public:
  bool ReadBlock(uint32_t, uint32_t, uint8_t*) override { return false; }
};

// Saves 00000..FFFFF of the world's image in debug mode.
bool SaveWholeImage(test::TestWorld& w, const fs::path& path) {
  NoProgrammer programmer;
  w.state.programStart = 0;
  w.state.programEnd = kImageSize - 1;
  w.window.SetChecked(id::kDebugMode, true);
  w.dialogs.Answer(path.string());
  SaveMemoryAsHex(w.ctx, programmer);
  return w.state.linkError == 0;
}

void FillRandom(test::TestWorld& w) {
  std::mt19937 random(1);
  for (auto& byte : w.state.codeImage) byte = static_cast<uint8_t>(random());
}

// About 2.9 MB: 65,536 records of 16 bytes and 15 segment records.
const fs::path& FullHexFile() {
  static const fs::path path = [] {
    test::TestWorld w;
    FillRandom(w);
    const fs::path p = WorkDir() / "full.hex";
    if (!SaveWholeImage(w, p)) throw std::runtime_error("cannot write " + p.string());
    return p;
  }();
  return path;
}

void LoadFullHex(benchmark::State& state) {
  const fs::path& file = FullHexFile();
  test::TestWorld w;
  w.window.SetText(id::kFilePath, file.string());
  for (auto _ : state) {
    LoadCodeFile(w.ctx);
    if (w.state.linkError || w.state.programEnd != kImageSize - 1) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(file)));
}
BENCHMARK(LoadFullHex)->Unit(benchmark::kMillisecond);

void SaveFullHex(benchmark::State& state) {
  test::TestWorld w;
  FillRandom(w);
  const fs::path file = WorkDir() / "saved.hex";
  for (auto _ : state) {
    if (!SaveWholeImage(w, file)) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(file)));
}
BENCHMARK(SaveFullHex)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kovra
