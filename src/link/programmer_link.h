// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/app_context.h"

namespace kovra {

inline constexpr std::string_view kSerialMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline constexpr std::string_view kBridgeValuePrefix = "\\Device\\ProlificSerial";
inline constexpr uint8_t kConnectProbe = 0x01;

// Timer that link failures arm, beside the window's own timer 501.
inline constexpr int kRetryTimer = 0;
inline constexpr int kMainTimer = 501;

// Status-line texts of the link.
inline constexpr const char* kTextConnecting = "正在尝试联接Kovra V3.0C,请稍候...";
inline constexpr const char* kTextReconnecting = "正在尝试重新联接到Kovra V3.0C,请稍候......";
inline constexpr const char* kTextConnectedPrefix = "OK, 已检测到 Kovra-V3.0C 连接在端口 USB TO ";
inline constexpr const char* kTextLinkError = "编程器连接错误,USB端口可能工作异常或编程器可能正忙";
inline constexpr const char* kTextNoLink = "请先行启动编程器连接";
inline constexpr const char* kTextPortLost = "检测到USB连接错误,该端口可能已被退出或被其它软件所占用!";
inline constexpr const char* kTextPortInvalid = "USB COM 端口已失效! 请重新连接!";
inline constexpr const char* kTextNoBridge =
    "未检测到有效的USB连接!\n可能USB驱动软件安装不正确或USB端口工作异常!\n请确保烧写器与主机USB已联接并打开电源!\n"
    "或尝试重新安装PL2303-USB驱动软件!";

// Port discovery and opening.
int ScanProlificPorts(AppContext& ctx);
bool IsPortPresent(AppContext& ctx);
bool OpenPort(AppContext& ctx, const std::string& name);
bool ConfigurePort(AppContext& ctx);
bool WaitDsrOff(AppContext& ctx, uint32_t polls);

// Byte primitives. They return the bytes moved and set linkError on failure.
size_t WriteBytes(AppContext& ctx, const uint8_t* data, size_t count);
size_t ReadBytes(AppContext& ctx, uint8_t* data, size_t count);
// Zeroes size bytes, waits up to `tries` reads for the first byte, then
// reads the rest of `count` in one go; missing bytes stay 0. A failed read
// ends it at once: linkError set, every byte 0.
void ReadAnswer(AppContext& ctx, uint8_t* buffer, size_t size, size_t count, uint32_t tries);

// The request frame and the connection check before every command.
void BuildRequestFrame(AppContext& ctx);
bool ExchangeRequest(AppContext& ctx);
bool CheckConnection(AppContext& ctx);

// Programmer faults and the questions before an automatic run.
void Beeps(AppContext& ctx, int count, uint32_t durationMs);
void ReportVoltageFault(AppContext& ctx, const uint8_t* answer);
bool ConfirmAutoOptions(AppContext& ctx);

// busy around work on the link worker. An operation raises it as it is
// queued, so the window leaves its range and image alone from then on, not
// only once the worker takes it up. Whatever raised it lowers it when done,
// unless an operation was queued meanwhile: that one keeps it up until it
// ends.
void PostBusyOperation(AppContext& ctx, std::function<void()> job);
void LowerBusy(AppContext& ctx);

// Connect and supervision.
void Connect(AppContext& ctx);
// The link is gone: not connected, and in normal mode the memory's code is
// to be confirmed again once a programmer answers.
void DropLink(AppContext& ctx);
// What runs on the link worker once supervision has connected again.
using AfterReconnect = void (*)(AppContext& ctx);
void SuperviseLink(AppContext& ctx, AfterReconnect afterReconnect = nullptr);
// The first connect, with messages.
void ConnectAtStartup(AppContext& ctx);
// Every tick of any of the window's timers.
void OnTimerTick(AppContext& ctx, AfterReconnect afterReconnect = nullptr);

}  // namespace kovra
