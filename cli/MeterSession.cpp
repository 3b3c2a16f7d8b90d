#include "cli/MeterSession.h"

#include <cstdio>
#include <exception>

MeterSession::MeterSession(const std::string& host, int port)
    : comm_(host, std::to_string(port)) {}

MeterSession::~MeterSession() {
  meter_.reset();
  comm_.closeport();
}

bool MeterSession::Open() {
  if (comm_.openport() != 1) {
    std::fprintf(stderr, "Can not to Connect with KRVO.\n");
    return false;
  }
  meter_ = std::make_unique<CZELMeterObj>(comm_, memo_);
  return true;
}

bool MeterSession::ReadDeviceInfo(bool printLines) {
  bool ok = false;
  std::string error = "Read Device infomation fail.";
  try {
    ok = meter_->ReadDeviceInfo();
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (printLines) {
    for (const std::string& line : memo_.Lines) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
  return ok;
}
