// SPDX-License-Identifier: MIT
#include "ops/serial_run.h"

#include "base/text_helpers.h"
#include "image/code_image.h"

namespace kovra {

std::optional<GivenSerial> GiveSerial(AppContext& ctx) {
  AppState& s = ctx.state;
  const SerialNext next = ctx.serials->Next(s.currentPortName, ctx.clock.UtcMs());
  if (next.take != SerialTake::kTaken) {
    const bool runOut = next.take == SerialTake::kRunOut;
    s.outcome.Refuse(runOut ? kWhySerialsRunOut : "the serial journal cannot be written");
    SetStatus(ctx, runOut ? kTextSerialsRunOut : kTextSerialJournalFailed);
    return std::nullopt;
  }
  const std::vector<uint8_t>& bytes = next.value.bytes;
  GivenSerial given{s.serialAddress, {}, ctx.window.GetText(id::kChecksumField)};
  for (size_t i = 0; i < bytes.size(); ++i) {
    given.original.push_back(s.codeImage[s.serialAddress + i]);
    s.codeImage[s.serialAddress + i] = bytes[i];
  }
  // The run's frame was built before the number was in: its checksum word
  // is set here, as the box shows it.
  ShowImageChecksum(ctx);
  s.requestFrame.SetChecksum(SumImage(s, s.programStart, s.programEnd));
  s.runSerial = HexBytes(bytes);
  return given;
}

void TakeBackSerial(AppContext& ctx, const GivenSerial& given) {
  AppState& s = ctx.state;
  for (size_t i = 0; i < given.original.size(); ++i) s.codeImage[given.address + i] = given.original[i];
  ctx.window.SetText(id::kChecksumField, given.checksumText);
}

}  // namespace kovra
