// SPDX-License-Identifier: MIT
#include "base/control_table.h"

#include <array>

#include "base/control_ids.h"

namespace kovra {
namespace {

using K = ControlKind;
constexpr uint32_t kFieldStyle = kStyleCentered | kStyleUpperCase;
constexpr uint32_t kDisplayStyle = kStyleCentered | kStyleUpperCase | kStyleReadOnly;
constexpr uint32_t kCounterStyle = kStyleCentered | kStyleDigitsOnly | kStyleReadOnly;

constexpr std::array kControls = {
    ControlEntry{id::kGroupChipModel, 0, K::kGroup, "芯片型号", 0, {5, 5, 98, 60}},
    ControlEntry{id::kChipCombo, id::kGroupChipModel, K::kCombo, "", kStyleUpperCase, {5, 20, 88, 180}},
    ControlEntry{id::kGroupAux, 0, K::kGroup, "辅助功能", 0, {5, 65, 98, 140}},
    ControlEntry{id::kDebugMode, id::kGroupAux, K::kCheckBox, "调试模式", 0, {8, 15, 90, 40}},
    ControlEntry{id::kBuzzer, id::kGroupAux, K::kCheckBox, "开启蜂鸣器", 0, {8, 40, 90, 60}},
    ControlEntry{id::kGroupDataType, 0, K::kGroup, "数据类型", 0, {103, 75, 208, 140}},
    ControlEntry{id::kDataSam48, id::kGroupDataType, K::kRadio, "SAM4/8", 0, {7, 20, 80, 40}},
    ControlEntry{id::kDataCalmRisc, id::kGroupDataType, K::kRadio, "CalmRisc", 0, {7, 40, 80, 60}},
    ControlEntry{id::kGroupChipType, 0, K::kGroup, "芯片类型", 0, {103, 5, 208, 70}},
    ControlEntry{id::kChipOtp, id::kGroupChipType, K::kRadio, "串行OTP芯片", 0, {8, 20, 100, 40}},
    ControlEntry{id::kChipMtp, id::kGroupChipType, K::kRadio, "串行MTP芯片", 0, {8, 40, 100, 60}},
    ControlEntry{id::kGroupVpp, 0, K::kGroup, "芯片Vpp选择", 0, {213, 5, 320, 75}},
    ControlEntry{id::kVpp12, id::kGroupVpp, K::kRadio, "12V", 0, {7, 20, 55, 40}},
    ControlEntry{id::kVppVcc, id::kGroupVpp, K::kRadio, "Vcc", 0, {57, 20, 105, 40}},
    ControlEntry{id::kVpp11, id::kGroupVpp, K::kRadio, "11V", 0, {7, 45, 55, 65}},
    ControlEntry{id::kGroupVcc, 0, K::kGroup, "芯片Vcc选择", 0, {213, 85, 320, 140}},
    ControlEntry{id::kVcc50, id::kGroupVcc, K::kRadio, "5.0V", 0, {7, 20, 55, 45}},
    ControlEntry{id::kVcc33, id::kGroupVcc, K::kRadio, "3.3V", 0, {57, 20, 105, 45}},
    ControlEntry{id::kGroupOptions, 0, K::kGroup, "编程系统", 0, {325, 5, 455, 140}},
    ControlEntry{id::kOptAutoVerify, id::kGroupOptions, K::kCheckBox, "自动校验", 0, {10, 20, 120, 35}},
    ControlEntry{id::kOptAutoReadProtect, id::kGroupOptions, K::kCheckBox, "自动读保护", 0, {10, 35, 120, 50}},
    ControlEntry{id::kOptSmart, id::kGroupOptions, K::kCheckBox, "使能SMART", 0, {10, 50, 120, 65}},
    ControlEntry{id::kOptEraseMtp, id::kGroupOptions, K::kCheckBox, "编程前擦除MTP", 0, {10, 65, 120, 80}},
    ControlEntry{id::kOptAutoLdcProtect, id::kGroupOptions, K::kCheckBox, "自动LDC保护", 0, {10, 95, 120, 110}},
    ControlEntry{id::kOptAutoHwWriteProtect, id::kGroupOptions, K::kCheckBox, "自动硬件写保护", 0, {10, 80, 120, 95}},
    ControlEntry{id::kOptAutoBlankCheck, id::kGroupOptions, K::kCheckBox, "自动空检查", 0, {10, 110, 120, 125}},
    ControlEntry{id::kGroupControlData, 0, K::kGroup, "控制数据", 0, {460, 5, 623, 140}},
    ControlEntry{id::kLabelStart, id::kGroupControlData, K::kLabel, "起始地址(HEX):", 0, {5, 20, 100, 40}},
    ControlEntry{id::kLabelEnd, id::kGroupControlData, K::kLabel, "终止地址(HEX):", 0, {5, 49, 100, 69}},
    ControlEntry{id::kLabelVpp, id::kGroupControlData, K::kLabel, "编程电压[V]:", 0, {5, 78, 100, 98}},
    ControlEntry{id::kLabelVcc, id::kGroupControlData, K::kLabel, "芯片电压[V]:", 0, {5, 107, 100, 127}},
    ControlEntry{id::kStartAddress, id::kGroupControlData, K::kEdit, "", kFieldStyle, {95, 15, 155, 40}},
    ControlEntry{id::kEndAddress, id::kGroupControlData, K::kEdit, "", kFieldStyle, {95, 45, 155, 70}},
    ControlEntry{id::kVppField, id::kGroupControlData, K::kEdit, "", kDisplayStyle, {95, 75, 155, 100}},
    ControlEntry{id::kVccField, id::kGroupControlData, K::kEdit, "", kDisplayStyle, {95, 105, 155, 130}},
    ControlEntry{id::kGroupOperations, 0, K::kGroup, "编程操作", 0, {5, 145, 320, 360}},
    ControlEntry{id::kAutoProgram, id::kGroupOperations, K::kPushButton, "自动编程", 0, {10, 20, 130, 45}},
    ControlEntry{id::kVerifyChip, id::kGroupOperations, K::kPushButton, "校验芯片", 0, {180, 20, 290, 45}},
    ControlEntry{id::kBlankCheck, id::kGroupOperations, K::kPushButton, "芯片空检查", 0, {10, 60, 130, 85}},
    ControlEntry{id::kShowMemory, id::kGroupOperations, K::kPushButton, "显示内存数据", 0, {180, 60, 290, 85}},
    ControlEntry{id::kChipChecksum, id::kGroupOperations, K::kPushButton, "芯片检查和", 0, {10, 100, 130, 125}},
    ControlEntry{id::kMemoryChecksum, id::kGroupOperations, K::kPushButton, "内存检查和", 0, {180, 100, 290, 125}},
    ControlEntry{id::kReadProtect, id::kGroupOperations, K::kPushButton, "芯片读保护", 0, {10, 140, 130, 165}},
    ControlEntry{id::kEraseMtp, id::kGroupOperations, K::kPushButton, "擦除MTP", 0, {180, 140, 290, 165}},
    ControlEntry{id::kLdcProtect, id::kGroupOperations, K::kPushButton, "芯片LDC保护", 0, {10, 180, 130, 205}},
    ControlEntry{id::kHwWriteProtect, id::kGroupOperations, K::kPushButton, "芯片硬件写保护", 0, {180, 180, 290, 205}},
    ControlEntry{id::kGroupFiles, 0, K::kGroup, "文件操作", 0, {325, 145, 623, 310}},
    ControlEntry{id::kOpenFile, id::kGroupFiles, K::kPushButton, "打开文件", 0, {10, 20, 100, 45}},
    ControlEntry{id::kFilePath, id::kGroupFiles, K::kEdit, "", kStyleCentered | kStyleBorder, {110, 20, 290, 45}},
    ControlEntry{id::kCopyChip, id::kGroupFiles, K::kPushButton, "拷贝芯片数据到内存", 0, {10, 60, 150, 85}},
    ControlEntry{id::kSaveHex, id::kGroupFiles, K::kPushButton, "内存数据制作HEX文件", 0, {10, 95, 150, 120}},
    ControlEntry{id::kMakeMaster, id::kGroupFiles, K::kPushButton, "制作脱机烧写母片", 0, {10, 130, 150, 155}},
    ControlEntry{id::kRefreshMemory, id::kGroupFiles, K::kPushButton, "刷新内存代码", 0, {180, 60, 280, 85}},
    ControlEntry{id::kLabelChecksum, id::kGroupFiles, K::kLabel, "编程内存检查和:", 0, {180, 90, 280, 110}},
    ControlEntry{id::kChecksumField, id::kGroupFiles, K::kEdit, "", kDisplayStyle, {180, 110, 280, 140}},
    ControlEntry{id::kExit, 0, K::kPushButton, "退出编程", 0, {505, 320, 605, 360}},
    ControlEntry{id::kWebLink, 0, K::kLabel, kWebAddress, kStyleNotify, {325, 340, 495, 360}},
    ControlEntry{id::kGroupCodeView, 0, K::kGroup, "编程内存代码视图", 0, {10, 5, 618, 305}},
    ControlEntry{id::kCodeGrid, 0, K::kList, "", kStyleBorder, {20, 25, 483, 270}},
    ControlEntry{id::kPrevPage, id::kGroupCodeView, K::kPushButton, "上一页", 0, {490, 25, 590, 50}},
    ControlEntry{id::kNextPage, id::kGroupCodeView, K::kPushButton, "下一页", 0, {490, 70, 590, 95}},
    ControlEntry{id::kLabelDisplayAddress, id::kGroupCodeView, K::kLabel, "显示地址:", 0, {490, 130, 580, 150}},
    ControlEntry{id::kDisplayAddress, id::kGroupCodeView, K::kEdit, "", kFieldStyle, {490, 150, 545, 175}},
    ControlEntry{id::kSetAddress, id::kGroupCodeView, K::kPushButton, "设 置", 0, {550, 150, 590, 175}},
    ControlEntry{
        id::kMemoryView, id::kGroupCodeView, K::kRadio, "编程内存代码视图", kStyleGroupStart, {490, 200, 600, 220}},
    ControlEntry{id::kChipView, id::kGroupCodeView, K::kRadio, "芯片代码视图", 0, {490, 225, 590, 245}},
    ControlEntry{id::kAsciiView, id::kGroupCodeView, K::kCheckBox, "ASCII格式显示", 0, {490, 250, 590, 270}},
    ControlEntry{id::kBack, 0, K::kPushButton, "返 回", 0, {500, 320, 600, 350}},
    ControlEntry{id::kGroupStatus, 0, K::kGroup, "编程状态", 0, {5, 365, 623, 415}},
    ControlEntry{id::kStatusLine, id::kGroupStatus, K::kEdit, "", kStyleReadOnly, {10, 15, 595, 40}},
    ControlEntry{id::kGroupCounters, 0, K::kGroup, "编程计数", 0, {5, 420, 623, 470}},
    ControlEntry{id::kLabelSuccess, id::kGroupCounters, K::kLabel, "成功计数:", 0, {10, 20, 70, 42}},
    ControlEntry{id::kSuccessCount, id::kGroupCounters, K::kEdit, "", kCounterStyle, {80, 15, 150, 40}},
    ControlEntry{id::kLabelFailure, id::kGroupCounters, K::kLabel, "失败计数:", 0, {180, 20, 240, 42}},
    ControlEntry{id::kFailureCount, id::kGroupCounters, K::kEdit, "", kCounterStyle, {250, 15, 320, 40}},
    ControlEntry{id::kClearCounters, id::kGroupCounters, K::kPushButton, "清零", 0, {350, 16, 410, 40}},
    ControlEntry{id::kPauseCounting, id::kGroupCounters, K::kPushButton, "暂停计数", 0, {430, 16, 490, 40}},
    ControlEntry{id::kCounterSettings, id::kGroupCounters, K::kPushButton, "设置计数器", 0, {510, 16, 590, 40}},
};

}  // namespace

std::span<const ControlEntry> MainControlTable() { return kControls; }

const ControlEntry* FindControl(int controlId) {
  for (const ControlEntry& c : kControls) {
    if (c.id == controlId) return &c;
  }
  return nullptr;
}

}  // namespace kovra
