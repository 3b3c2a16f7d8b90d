#include "sim/MeterImage.h"

#include <sys/time.h>

#include <ctime>

void MeterImage::SetU32(uint16_t reg, uint32_t value) {
  regs_[reg] = static_cast<uint16_t>(value >> 16);
  regs_[static_cast<uint16_t>(reg + 1)] = static_cast<uint16_t>(value & 0xFFFF);
}

void MeterImage::SetText(uint16_t reg, const std::string& text, int regs) {
  for (int r = 0; r < regs; ++r) {
    const size_t i = 2 * static_cast<size_t>(r);
    const uint8_t hi = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
    const uint8_t lo = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    regs_[static_cast<uint16_t>(reg + r)] = static_cast<uint16_t>((hi << 8) | lo);
  }
}

void MeterImage::LoadIdentity(const SimIdentity& id) {
  identity_ = id;
  SetText(9800, id.Model, 20);
  SetU16(9820, id.FirmwareVersion);
  SetU16(9821, id.ModbusVersion);
  SetU16(9822, static_cast<uint16_t>(id.FirmwareYear - 2000));
  SetU16(9823, static_cast<uint16_t>(id.FirmwareMonth));
  SetU16(9824, static_cast<uint16_t>(id.FirmwareDay));
  SetU32(9825, id.SerialNumber);
  // 9827-9838 and 9840-9843 are reserved; a real meter leaves them non-zero at times.
  for (uint16_t r = 9827; r <= 9838; ++r) SetU16(r, 0xFFFF);
  SetU16(9839, id.WebVersion);
  UpdateClock();
}

void MeterImage::UpdateClock() {
  if (!identity_.Clock.empty()) {
    const int* b = identity_.ClockBytes;
    SetU16(9000, static_cast<uint16_t>((b[0] << 8) | b[1]));
    SetU16(9001, static_cast<uint16_t>((b[2] << 8) | b[3]));
    SetU16(9002, static_cast<uint16_t>((b[4] << 8) | b[5]));
    SetU16(9003, static_cast<uint16_t>(identity_.ClockMs));
    return;
  }
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  const int year = local.tm_year + 1900 - 2000;
  SetU16(9000, static_cast<uint16_t>(((year & 0xFF) << 8) | (local.tm_mon + 1)));
  SetU16(9001, static_cast<uint16_t>((local.tm_mday << 8) | local.tm_hour));
  SetU16(9002,
         static_cast<uint16_t>((local.tm_min << 8) | (local.tm_sec > 59 ? 59 : local.tm_sec)));
  SetU16(9003, static_cast<uint16_t>(tv.tv_usec / 1000));
}

void MeterImage::LoadProfile(const SimProfile& p) {
  for (size_t g = 0; g < p.Groups.size(); ++g) {
    const SimGroup& group = p.Groups[g];
    const auto base = static_cast<uint16_t>(8250 + 71 * g);
    SetU16(base, group.TriggerType);
    SetU16(static_cast<uint16_t>(base + 1), group.RecordType);
    SetU16(static_cast<uint16_t>(base + 2), group.RecordNum);
    SetU32(static_cast<uint16_t>(base + 3), group.IntervalSeconds);
    SetU16(static_cast<uint16_t>(base + 5), group.TimeOffset);
    SetU16(static_cast<uint16_t>(base + 6), static_cast<uint16_t>(group.Keys.size()));
    for (size_t i = 0; i < 64; ++i)
      SetU16(static_cast<uint16_t>(base + 7 + i), i < group.Keys.size() ? group.Keys[i] : 0);
  }
  SetText(6050, p.DeviceName, 20);
  SetText(6070, p.MainsIName, 20);
  SetText(6090, p.MainsIIName, 20);
  for (size_t n = 0; n < p.BranchNames.size(); ++n)
    SetText(static_cast<uint16_t>(50000 + 20 * n), p.BranchNames[n], 20);
}
