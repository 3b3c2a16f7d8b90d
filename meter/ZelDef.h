#pragma once
// The program's model of one KRVO meter: its register map, the register read
// cycle over the main window's transport, and the device identity.
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "link/ModbusProtocolClass.h"
#include "link/TcpClientClass.h"
#include "meter/DisplayFormat.h"
#include "meter/KeyCatalogue.h"
#include "meter/MemoLines.h"
#include "meter/MeterState.h"

class CIniFile;

struct TDeviceInfo {
  uint16_t FirmwareVersion = 0;  // MMmmpp: 10203 is V1.02.03
  uint16_t ModbusVersion = 0;    // tenths
  uint16_t WebVersion = 0;       // tenths
  uint16_t FirmwareYear = 0;     // minus 2000
  uint16_t FirmwareMonth = 0;
  uint16_t FirmwareDay = 0;
  uint32_t SerialNumber = 0;
};

// Register map (function code 3, unit address 1).
namespace MeterMap {
constexpr uint8_t kUnitAddress = 1;
constexpr uint8_t kReadHolding = 3;
constexpr uint16_t kClockStart = 9000;
constexpr uint16_t kClockCount = 4;
constexpr uint16_t kIdentityStart = 9800;
constexpr uint16_t kIdentityCount = 44;
constexpr uint16_t kSetupStart = 8250;  // + 71 x group
constexpr uint16_t kSetupCount = 71;
constexpr uint16_t kNamesStart = 6050;
constexpr uint16_t kNamesCount = 60;
constexpr uint16_t kBranchStart = 50000;  // + 120 x block
constexpr uint16_t kBranchBlockCount = 120;
constexpr int kBranchBlocks = 14;
constexpr int kNameBytes = 40;
}  // namespace MeterMap

// The setup file in a device's data log folder.
constexpr const char* kSetupFileName = "DataLogSetup.ini";

// Raised when a .dat file cannot be opened or read.
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised for a group setup that no record layout can follow.
class EDataLogError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CZELMeterObj {
 public:
  CZELMeterObj(CSocketClientComm& comm, CMemoLines& memo);
  ~CZELMeterObj();
  CZELMeterObj(const CZELMeterObj&) = delete;
  CZELMeterObj& operator=(const CZELMeterObj&) = delete;

  // One request/reply exchange. On true, reply holds the RTU reply: address,
  // function code, byte count, register data from byte 3, CRC.
  bool ReadRegisters(uint8_t funcCode, uint16_t start, TModbusBuffer& reply, uint16_t count);
  // Reads clock and identity into the memo's three lines, then the names.
  // Throws EConvertError for a clock or firmware date that does not exist.
  bool ReadDeviceInfo();
  // Names of device, mains and branches into PanelNames; saved when all were read.
  bool ReadPanelNames();
  // The ten group setups into GroupSetups.
  bool ReadSnapShotSetup();

  // These use only the unit state and files, never the link.
  static void SaveDataLogSetup();
  static bool LoadDataLogSetup(const std::string& folder);
  static void SavePanelNames();
  // The names and the setup (and the serial number of the meter they came
  // from, when known) written into the device's DataLogSetup.ini in one
  // replace, so that the file never holds one without the other.
  static void SaveSetupAndNames(uint32_t serialNumber);
  // The serial number recorded in a DataLog folder's DataLogSetup.ini;
  // empty when none is.
  static std::string FolderSerialNumber(const std::string& dataLogFolder);
  static bool LoadPanelNames(const std::string& folder);
  static void WriteSetupInto(CIniFile& ini);
  static void WriteNamesInto(CIniFile& ini);
  static std::string GetKeyName(int keyId) { return ::GetKeyName(keyId); }
  // Appends the records of one .dat file of group (0-9) to LogRecords, or
  // to a list of the caller's (so that the table's records stay as they are).
  static void ReadDataLogFile(int group, const std::string& path);
  static void ReadDataLogFile(int group, const std::string& path, TLogRecordList& into);
  // The same for a .dat file's bytes already in memory; name is what a
  // message calls the file.
  static void ReadDataLogBytes(int group, std::span<const uint8_t> bytes, const std::string& name,
                               TLogRecordList& into);
  // The setup file at the device path of the current DeviceName.
  static std::string DevicePath();

  const TDeviceInfo& DeviceInfo() const { return FDeviceInfo; }
  // Whether the names read that ended the last ReadDeviceInfo succeeded;
  // ReadDeviceInfo itself goes on without them.
  bool NamesRead() const { return FNamesRead; }
  // Whether a names read saves them at once (the default); a caller that must
  // claim the device's folder first saves them itself.
  void SetSaveNames(bool save) { FSaveNames = save; }
  CModbusProtocol& Protocol() { return *FProtocol; }

 private:
  void SendFrame(const uint8_t* request, int length);
  int ReceiveFrame(uint8_t* dest, int capacity, uint8_t expectedDataBytes, uint8_t funcCode);
  void ClearLinkBuffers();

  int32_t FramingMode = 1;
  std::unique_ptr<CModbusProtocol> FProtocol;
  TModbusBuffer RequestBuffer{};
  TModbusBuffer ReplyBuffer{};
  TDeviceInfo FDeviceInfo;
  bool FNamesRead = false;
  bool FSaveNames = true;
  CSocketClientComm& FComm;
  CMemoLines& FMemo;
};
