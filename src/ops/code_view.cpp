// SPDX-License-Identifier: MIT
#include "ops/code_view.h"

#include <algorithm>
#include <array>

#include "base/control_ids.h"
#include "base/host_timing.h"
#include "base/text_helpers.h"
#include "link/commands.h"
#include "ops/memory_ops.h"

namespace kovra {
namespace {

constexpr int32_t kLastPage = 0xFF00;

std::string CellText(uint8_t byte, bool ascii) {
  if (!ascii) return NumberToText(byte, 16, 2);
  if (byte >= 0x21 && byte <= 0x7E) return std::string(1, static_cast<char>(byte));
  return {};
}

void WrongOperation(AppContext& ctx, const char* text) {
  ctx.window.ShowMessageBox({text, "错误操作", MbButtons::kOk, MbIcon::kWarning});
}

}  // namespace

void SetupCodeView(AppContext& ctx) {
  ctx.window.SetupGrid();
  ctx.state.displayAddress = 0;
  ctx.window.SetText(id::kDisplayAddress, "00000");
  ctx.window.SetChecked(id::kMemoryView, true);
  ctx.window.SetChecked(id::kAsciiView, false);
}

void ShowCodePage(AppContext& ctx, Op request) {
  AppState& s = ctx.state;
  int32_t wanted = s.displayAddress;
  if (request == Op::kPageGoTo) {
    const std::string digits = FitDigits(ctx.window.GetText(id::kDisplayAddress).substr(0, 99), 5);
    if (!AllCharsIn(digits, HexDigitSet)) {
      s.linkError = 1;
      s.outcome.Refuse("display address out of range");
      ctx.window.SetText(id::kStatusLine, "显示地址设置错误!");
      return;
    }
    wanted = static_cast<int32_t>(HexToNumber(digits, 16));
    ctx.window.SetText(id::kDisplayAddress, Hex5(static_cast<uint32_t>(wanted)));
  } else if (request == Op::kPagePrevious) {
    wanted -= 0x100;
  } else if (request == Op::kPageNext) {
    wanted += 0x100;
  }
  wanted = wanted <= 0 ? 0 : std::min(wanted, kLastPage);
  const uint32_t first = static_cast<uint32_t>(wanted) & ~0xFFu;
  s.displayAddress = static_cast<int32_t>(first);

  for (int row = 0; row < kGridRows; ++row) ctx.window.SetGridCell(row, 0, Hex5(first + 16 * row));
  const bool chip = ctx.window.IsChecked(id::kChipView);
  const bool ascii = ctx.window.IsChecked(id::kAsciiView);
  ctx.window.SetText(id::kStatusLine, "调入代码......");

  std::array<uint8_t, sizes::kBlock> buffer{};
  bool filled = true;
  if (!chip && DebugMode(ctx)) {
    std::copy_n(s.codeImage.begin() + first, 256, buffer.begin());
  } else {
    ReadBlock(ctx, chip ? cmd::kReadChipBlock : cmd::kReadMemoryBlock, buffer.data(), buffer.size(), first,
              first + 0xFF);
    filled = s.linkError == 0;
  }
  // A page that could not be read shows its addresses with empty cells.
  for (int i = 0; i < 256; ++i) {
    ctx.window.SetGridCell(i / 16, 1 + i % 16, filled ? CellText(buffer[i], ascii) : std::string());
  }
  ctx.window.SetText(id::kDisplayAddress, Hex5(first));
  ctx.window.SetText(id::kStatusLine, "当前显示代码区段:  " + Hex5(first) + "~" + Hex5(first + 0xFF));
}

void EditCodeByte(AppContext& ctx, int row, int column) {
  if (ctx.state.busy) return;
  if (row < 0 || row >= kGridRows || column < 1 || column > 16) return;
  const std::string label = ctx.window.GetGridCell(row, 0);
  // A set-up row that no page has filled yet has no address.
  if (label.empty()) return;
  if (ctx.window.IsChecked(id::kChipView)) return WrongOperation(ctx, "不能改变芯片代码数据!");
  if (ctx.window.IsChecked(id::kAsciiView)) return WrongOperation(ctx, "不能在ASCII码方式改变代码!");

  const std::string addressText = label.substr(0, label.size() - 1) + "0123456789ABCDEF"[column - 1];
  const uint32_t address = HexToNumber(addressText, 16);
  const auto value = ctx.window.ShowEditDialog(ctx.window.GetGridCell(row, column), addressText);
  if (!value) return;
  if (!AllCharsIn(*value, HexDigitSet)) {
    ctx.window.ShowMessageBox({"代码输入错误!", "", MbButtons::kOk, MbIcon::kWarning});
    return;
  }
  const std::string two = FitDigits(*value, 2);
  ctx.window.SetGridCell(row, column, two);
  if (address < kImageSize) ctx.state.codeImage[address] = static_cast<uint8_t>(HexToNumber(two, 16));
}

}  // namespace kovra
