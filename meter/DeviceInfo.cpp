#include <cstdio>
#include <string>

#include "meter/TextCodec.h"
#include "meter/ZelDef.h"

namespace {

constexpr int kData = 3;  // register data start in an RTU read reply

uint32_t RegisterValue(const TModbusBuffer& reply, int dataOffset, int format) {
  double v = 0;
  CModbusProtocol::DecodeValue(format, reply.Bytes + kData + dataOffset, v);
  return static_cast<uint32_t>(v + 0.5);
}

// "%.1f" with the user's decimal separator.
std::string Tenths(uint16_t value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", value / 10.0);
  std::string s = buf;
  for (char& c : s)
    if (c == '.') c = FormatSettings().DecimalSeparator;
  return s;
}

}  // namespace

bool CZELMeterObj::ReadDeviceInfo() {
  FMemo.Clear();
  FNamesRead = false;
  TModbusBuffer reply{};

  if (!ReadRegisters(MeterMap::kReadHolding, MeterMap::kClockStart, reply, MeterMap::kClockCount))
    return false;
  const uint8_t* c = reply.Bytes + kData;
  const int ms = (c[6] << 8) | c[7];
  const TDateTime clock = EncodeDate(c[0] + 2000, c[1], c[2]) + EncodeTime(c[3], c[4], c[5], ms);
  FMemo.Add("Device Time: " + DateTimeToDisplayStr(true, clock));

  if (!ReadRegisters(MeterMap::kReadHolding, MeterMap::kIdentityStart, reply,
                     MeterMap::kIdentityCount))
    return false;
  const std::string model = DecodeNameField(reply.Bytes + kData, 40);

  TDeviceInfo info;
  info.FirmwareVersion = static_cast<uint16_t>(RegisterValue(reply, 40, 0));
  info.ModbusVersion = static_cast<uint16_t>(RegisterValue(reply, 42, 0));
  info.FirmwareYear = static_cast<uint16_t>(RegisterValue(reply, 44, 0));
  info.FirmwareMonth = static_cast<uint16_t>(RegisterValue(reply, 46, 0));
  info.FirmwareDay = static_cast<uint16_t>(RegisterValue(reply, 48, 0));
  info.SerialNumber = RegisterValue(reply, 50, 2);
  info.WebVersion = static_cast<uint16_t>(RegisterValue(reply, 78, 0));
  FDeviceInfo = info;

  const std::string firmwareDate =
      DateToDisplayStr(EncodeDate(info.FirmwareYear + 2000, info.FirmwareMonth, info.FirmwareDay));
  FMemo.Add("Device Model: " + model);

  char line[512];
  std::snprintf(line, sizeof line,
                "Firmware Version: V%d.%.2d.%.2d, Firmware Date: %s, Modbus Version: V%s, "
                "Web Version: V%s, S/N: %.10d ",
                info.FirmwareVersion / 10000, (info.FirmwareVersion / 100) % 100,
                info.FirmwareVersion % 100, firmwareDate.c_str(),
                Tenths(info.ModbusVersion).c_str(), Tenths(info.WebVersion).c_str(),
                static_cast<int32_t>(info.SerialNumber));
  FMemo.Add(line);

  FNamesRead = ReadPanelNames();
  return true;
}
