// SPDX-License-Identifier: MIT
#pragma once

// Numeric ids of the main window's controls.
namespace kovra::id {

// Group frames.
inline constexpr int kGroupChipType = 102;
inline constexpr int kGroupVcc = 103;
inline constexpr int kGroupDataType = 104;
inline constexpr int kGroupOptions = 105;
inline constexpr int kGroupControlData = 106;
inline constexpr int kGroupOperations = 107;
inline constexpr int kGroupFiles = 108;
inline constexpr int kGroupStatus = 109;
inline constexpr int kGroupChipModel = 110;
inline constexpr int kGroupCodeView = 158;
inline constexpr int kGroupCounters = 170;
inline constexpr int kGroupAux = 176;
inline constexpr int kGroupVpp = 200;

// Selection.
inline constexpr int kChipCombo = 1000;
inline constexpr int kDebugMode = 1008;
inline constexpr int kBuzzer = 174;
inline constexpr int kDataSam48 = 118;
inline constexpr int kDataCalmRisc = 119;
inline constexpr int kChipOtp = 114;
inline constexpr int kChipMtp = 115;
inline constexpr int kVpp12 = 201;
inline constexpr int kVppVcc = 202;
inline constexpr int kVpp11 = 203;
inline constexpr int kVcc50 = 116;
inline constexpr int kVcc33 = 117;

// Programming-system options.
inline constexpr int kOptAutoVerify = 121;
inline constexpr int kOptAutoBlankCheck = 122;
inline constexpr int kOptAutoReadProtect = 123;
inline constexpr int kOptAutoHwWriteProtect = 124;
inline constexpr int kOptAutoLdcProtect = 125;
inline constexpr int kOptEraseMtp = 126;
inline constexpr int kOptSmart = 127;

// Control data.
inline constexpr int kLabelStart = 128;
inline constexpr int kStartAddress = 129;
inline constexpr int kLabelEnd = 130;
inline constexpr int kEndAddress = 131;
inline constexpr int kLabelVpp = 132;
inline constexpr int kVppField = 133;
inline constexpr int kLabelVcc = 134;
inline constexpr int kVccField = 135;

// Operations.
inline constexpr int kAutoProgram = 136;
inline constexpr int kVerifyChip = 137;
inline constexpr int kBlankCheck = 138;
inline constexpr int kShowMemory = 139;
inline constexpr int kChipChecksum = 140;
inline constexpr int kMemoryChecksum = 141;
inline constexpr int kReadProtect = 142;
inline constexpr int kEraseMtp = 143;
inline constexpr int kLdcProtect = 144;
inline constexpr int kHwWriteProtect = 145;

// Files.
inline constexpr int kOpenFile = 146;
inline constexpr int kFilePath = 147;
inline constexpr int kRefreshMemory = 148;
inline constexpr int kCopyChip = 149;
inline constexpr int kMakeMaster = 150;
inline constexpr int kSaveHex = 151;
inline constexpr int kLabelChecksum = 152;
inline constexpr int kChecksumField = 153;

inline constexpr int kExit = 154;
inline constexpr int kWebLink = 156;
inline constexpr int kStatusLine = 157;

// Code view.
inline constexpr int kCodeGrid = 159;
inline constexpr int kPrevPage = 160;
inline constexpr int kNextPage = 161;
inline constexpr int kDisplayAddress = 162;
inline constexpr int kSetAddress = 163;
inline constexpr int kLabelDisplayAddress = 164;
inline constexpr int kMemoryView = 165;
inline constexpr int kChipView = 166;
inline constexpr int kAsciiView = 167;
inline constexpr int kBack = 168;

// Counters.
inline constexpr int kClearCounters = 172;
inline constexpr int kCounterSettings = 173;
inline constexpr int kPauseCounting = 175;
inline constexpr int kLabelSuccess = 177;
inline constexpr int kLabelFailure = 178;
inline constexpr int kSuccessCount = 179;
inline constexpr int kFailureCount = 180;

}  // namespace kovra::id
