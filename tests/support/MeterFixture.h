#pragma once
// A connected meter object on a fresh krvo-sim, with a fresh data folder and
// the operator's messages collected instead of shown.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "meter/UserMessages.h"
#include "meter/ZelDef.h"
#include "tests/support/Process.h"

class MeterFixture {
 public:
  explicit MeterFixture(const std::vector<std::string>& simArgs = {})
      : sim_(simArgs), comm_("127.0.0.1", std::to_string(sim_.ModbusPort())) {
    setenv("KRVO_DATA_DIR", data_.Path().c_str(), 1);
    oldHandler_ = SetMessageBoxHandler([this](const std::string& m) { Messages.push_back(m); });
    comm_.openport();
    meter_ = std::make_unique<CZELMeterObj>(comm_, memo_);
    PanelNames = TPanelName{};
    GroupSetups = {};
    LogRecords.Clear();
  }
  ~MeterFixture() {
    meter_.reset();
    comm_.closeport();
    SetMessageBoxHandler(oldHandler_);
    unsetenv("KRVO_DATA_DIR");
  }
  CZELMeterObj& Meter() { return *meter_; }
  const std::string& DataDir() const { return data_.Path(); }
  int FtpPort() const { return sim_.FtpPort(); }
  std::vector<std::string> Messages;

 private:
  TempDir data_;
  SimProcess sim_;
  CSocketClientComm comm_;
  CStringListMemo memo_;
  std::unique_ptr<CZELMeterObj> meter_;
  MessageBoxHandler oldHandler_;
};
