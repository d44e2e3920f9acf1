// SPDX-License-Identifier: MIT
#include <algorithm>
#include <cstring>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "base/texts.h"
#include "link/programmer_link.h"

namespace kovra {
namespace {

constexpr size_t kWriteChunk = 256;
constexpr size_t kReadChunk = 16;
// Writes that move nothing this many times in a row mean a dead port.
constexpr int kMaxStalledWrites = 20;
constexpr const char* kAppCaption = "Kovra V3.0C";

void ReportInvalidPort(AppContext& ctx) {
  ctx.window.ShowMessageBox({kTextPortInvalid, kAppCaption, MbButtons::kOk, MbIcon::kNone});
  ctx.state.linkError = 1;
}

bool Selected(MainWindow& w, int id) { return w.IsEnabled(id) && w.IsChecked(id); }

}  // namespace

size_t WriteBytes(AppContext& ctx, const uint8_t* data, size_t count) {
  size_t written = 0;
  int stalled = 0;
  while (written < count) {
    const size_t chunk = std::min(kWriteChunk, count - written);
    if (!ctx.port.IsOpen()) {
      ReportInvalidPort(ctx);
      return written;
    }
    const SerialTransfer sent = ctx.port.Write(data + written, chunk);
    written += sent.count;
    // A failed port moves nothing more, however often it is asked.
    if (sent.failed) {
      ctx.state.linkError = 1;
      return written;
    }
    if (sent.count == 0) {
      if (++stalled >= kMaxStalledWrites) {
        ctx.state.linkError = 1;
        return written;
      }
      continue;
    }
    stalled = 0;
  }
  return written;
}

size_t ReadBytes(AppContext& ctx, uint8_t* data, size_t count) {
  size_t read = 0;
  while (read < count) {
    const size_t chunk = std::min(kReadChunk, count - read);
    if (!ctx.port.IsOpen()) {
      ReportInvalidPort(ctx);
      return read;
    }
    const SerialTransfer got = ctx.port.Read(data + read, chunk);
    read += got.count;
    if (got.failed || got.count == 0) {
      ctx.state.linkError = 1;
      return read;
    }
  }
  return read;
}

void ReadAnswer(AppContext& ctx, uint8_t* buffer, size_t size, size_t count, uint32_t tries) {
  std::memset(buffer, 0, size);
  // The tries are for a programmer still at work; a failed port ends the
  // answer at once, as a lost link, with none of it taken.
  const auto lost = [&] {
    std::memset(buffer, 0, size);
    ctx.state.linkError = 1;
  };
  SerialTransfer first;
  for (uint32_t i = 0; i < tries && first.count == 0; ++i) {
    first = ctx.port.Read(buffer, 1);
    if (first.failed) return lost();
  }
  if (first.count == 0) {
    ctx.state.linkError = 1;
    return;
  }
  // A USB bridge hands bytes over in bursts: the rest of an answer may come
  // later than the gap between bytes allows. Only a read that brings
  // nothing in the port's whole time-out ends the answer short; a byte left
  // behind would fail this answer and spoil the next.
  const size_t want = std::min(count, size);
  for (size_t have = 1; have < want;) {
    const SerialTransfer rest = ctx.port.Read(buffer + have, want - have);
    if (rest.failed) return lost();
    if (rest.count == 0) break;
    have += rest.count;
  }
}

void BuildRequestFrame(AppContext& ctx) {
  MainWindow& w = ctx.window;
  RequestFrame& frame = ctx.state.requestFrame;
  frame.SetMarker();
  if (w.IsChecked(id::kChipOtp)) frame.chipType() = kFrameOtp;
  if (w.IsChecked(id::kChipMtp)) frame.chipType() = kFrameMtp;

  if (Selected(w, id::kVcc50)) frame.supply() = supply::kVcc50;
  if (Selected(w, id::kVcc33)) frame.supply() = supply::kVcc33;
  frame.supply() &= supply::kVccMask;
  if (Selected(w, id::kVppVcc)) frame.supply() |= supply::kVppFromVcc;
  if (Selected(w, id::kVpp12)) frame.supply() |= supply::kVpp12;

  uint32_t mask = 0;
  for (const option::Box& box : option::kBoxes) {
    if (Selected(w, box.id)) mask |= box.bit;
  }
  ctx.state.optionMask = mask;
  frame.options() = static_cast<uint8_t>(mask);

  frame.SetMagic();
  const uint32_t checksum = HexToNumber(w.GetText(id::kChecksumField).substr(0, 9), 16);
  frame.SetChecksum(static_cast<uint16_t>(checksum));
  frame.SetImageTag(ctx.state.codeImage.data() + RequestFrame::kImageTagFrom);
}

bool ExchangeRequest(AppContext& ctx) {
  ctx.state.linkError = 0;
  ctx.port.ArmTransmitEmpty();
  WriteBytes(ctx, ctx.state.requestFrame.data(), kRequestFrameSize);
  if (ctx.state.linkError) return false;
  // Bounded: an event that never comes costs this wait, never the link.
  // Whether the frame got through, its answer tells.
  ctx.port.WaitTransmitEmpty(pause::kFrameDrainMs);
  ctx.clock.SleepMs(pause::kFrameAnswerMs);
  // What the programmer answers to the frame is its own business; only
  // that all 21 bytes come matters.
  uint8_t answer[kRequestFrameSize];
  ReadBytes(ctx, answer, sizeof answer);
  return ctx.state.linkError == 0;
}

bool CheckConnection(AppContext& ctx) {
  AppState& s = ctx.state;
  if (!IsPortPresent(ctx)) {
    s.linkError = 1;
    DropLink(ctx);
    // A pulled cable is no chip failure.
    s.autoRunState = 0;
    if (s.operationCode() != kConnectProbe) {
      ctx.window.ShowMessageBox({kTextPortLost, kWarningCaption, MbButtons::kOk, MbIcon::kWarning});
    }
    ctx.window.SetText(id::kStatusLine, kTextReconnecting);
    return false;
  }
  if (ConfigurePort(ctx)) {
    WaitDsrOff(ctx, tries::kDsrBeforeFrame);
    // The tail of an answer the host gave up on lands during that wait: a
    // second purge lets the frame's answer start on an empty input.
    ctx.port.Purge();
    if (ExchangeRequest(ctx)) {
      s.connected = 1;
      s.linkReady = 1;
      return true;
    }
  }
  s.linkError = 1;
  DropLink(ctx);
  s.autoRunState = 0;
  ctx.window.SetTimer(kRetryTimer, kTickMs);
  ctx.window.SetText(id::kStatusLine, kTextLinkError);
  return false;
}

}  // namespace kovra
