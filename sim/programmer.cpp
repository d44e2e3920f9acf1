// SPDX-License-Identifier: MIT
#include "sim/programmer.h"

#include <algorithm>

#include "sim/device.h"

namespace kovra::sim {

using Lock = std::lock_guard<std::mutex>;

Programmer::Programmer(Timing timing) : device_(std::make_unique<detail::Device>(timing)) {}

Programmer::~Programmer() = default;

uint64_t Programmer::HostWrite(const uint8_t* data, size_t count, uint64_t nowUs) {
  Lock lock(mutex_);
  return device_->HostWrite(data, count, nowUs);
}

uint64_t Programmer::TransmitIdleUs() const {
  Lock lock(mutex_);
  return device_->TransmitIdleUs();
}

uint64_t Programmer::WireUs(size_t bytes) const {
  Lock lock(mutex_);
  return device_->timing.WireUs(bytes);
}

std::optional<uint64_t> Programmer::NextOutputTime(uint64_t limitUs) {
  Lock lock(mutex_);
  return device_->NextOutputTime(limitUs);
}

size_t Programmer::ReadOutput(uint8_t* data, size_t max, uint64_t nowUs) {
  Lock lock(mutex_);
  return device_->ReadOutput(data, max, nowUs);
}

size_t Programmer::DiscardOutput(uint64_t nowUs) {
  Lock lock(mutex_);
  return device_->DiscardOutput(nowUs);
}

bool Programmer::Dsr(uint64_t nowUs) {
  Lock lock(mutex_);
  return device_->Dsr(nowUs);
}

void Programmer::AdvanceTo(uint64_t nowUs) {
  Lock lock(mutex_);
  device_->AdvanceTo(nowUs);
}

std::optional<uint64_t> Programmer::NextWakeUs() {
  Lock lock(mutex_);
  return device_->NextWakeUs();
}

void Programmer::PowerOff(uint64_t nowUs) {
  Lock lock(mutex_);
  device_->PowerOff(nowUs);
}

void Programmer::PowerOn(uint64_t nowUs) {
  Lock lock(mutex_);
  device_->PowerOn(nowUs);
}

bool Programmer::Powered() const {
  Lock lock(mutex_);
  return device_->Powered();
}

bool Programmer::Idle() const {
  Lock lock(mutex_);
  return device_->Idle();
}

Chip Programmer::GetChip() const {
  Lock lock(mutex_);
  return device_->chip;
}

void Programmer::SetChip(Chip chip) {
  Lock lock(mutex_);
  device_->chip = std::move(chip);
}

void Programmer::UpdateChip(const std::function<void(Chip&)>& change) {
  Lock lock(mutex_);
  change(device_->chip);
}

std::vector<uint8_t> Programmer::ReadMemory(uint32_t address, size_t count) const {
  Lock lock(mutex_);
  const auto& memory = device_->memory;
  const size_t first = std::min<size_t>(address, memory.size());
  const size_t last = std::min(memory.size(), first + count);
  return std::vector<uint8_t>(memory.begin() + static_cast<std::ptrdiff_t>(first),
                              memory.begin() + static_cast<std::ptrdiff_t>(last));
}

void Programmer::WriteMemory(uint32_t address, const std::vector<uint8_t>& bytes) {
  Lock lock(mutex_);
  auto& memory = device_->memory;
  for (size_t i = 0; i < bytes.size() && address + i < memory.size(); ++i) memory[address + i] = bytes[i];
}

uint16_t Programmer::MemorySum(uint32_t first, uint32_t last) const {
  Lock lock(mutex_);
  return device_->MemorySum(first, last);
}

std::optional<std::array<uint8_t, Programmer::kFrameSize>> Programmer::OfflineConfig() const {
  Lock lock(mutex_);
  return device_->offlineConfig;
}

Faults Programmer::GetFaults() const {
  Lock lock(mutex_);
  return device_->faults();
}

void Programmer::SetFaults(const Faults& faults) {
  Lock lock(mutex_);
  device_->SetFaults(faults);
}

void Programmer::UpdateFaults(const std::function<void(Faults&)>& change) {
  Lock lock(mutex_);
  Faults faults = device_->faults();
  change(faults);
  device_->SetFaults(faults);
}

void Programmer::InjectNoise(size_t count, uint64_t nowUs) {
  Lock lock(mutex_);
  device_->InjectNoise(count, nowUs);
}

std::vector<Violation> Programmer::Violations() const {
  Lock lock(mutex_);
  return device_->violations;
}

void Programmer::ClearViolations() {
  Lock lock(mutex_);
  device_->violations.clear();
}

void Programmer::NoteViolation(uint64_t nowUs, std::string text) {
  Lock lock(mutex_);
  device_->AdvanceTo(nowUs);
  device_->Violate(std::move(text));
}

std::vector<LogEntry> Programmer::Log() {
  Lock lock(mutex_);
  return device_->TakeLogCopy();
}

std::string Programmer::HexLog() { return FormatLog(Log()); }

void Programmer::KeepLog(bool keep) {
  Lock lock(mutex_);
  device_->keepLog = keep;
  if (!keep) device_->log.clear();
}

void Programmer::SetLogSink(std::function<void(const LogEntry&)> sink) {
  Lock lock(mutex_);
  device_->logSink = std::move(sink);
}

}  // namespace kovra::sim
