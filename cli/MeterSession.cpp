#include "cli/MeterSession.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "cli/CliArgs.h"
#include "cli/DataDir.h"
#include "cli/ErrorText.h"

bool ParseMeterArgs(int argc, char** argv, const char* usage, std::string& host, int& port) {
  CliArgs args(argc, argv, 2, {"--host", "--port", "--data-dir"}, {});
  if (args.Help()) {
    std::fputs(usage, stdout);
    return false;
  }
  if (!args.Positional().empty()) throw UsageError{"unexpected argument " + args.Positional()[0]};
  host = args.Require("--host");
  port = args.Port("--port", 502);
  ApplyDataDir(args);
  return true;
}

MeterSession::MeterSession(const std::string& host, int port) : comm_(host, std::to_string(port)) {}

MeterSession::~MeterSession() {
  meter_.reset();
  comm_.closeport();
}

bool MeterSession::Open() {
  errno = 0;
  if (comm_.openport() != 1) {
    const int err = errno;
    if (err != 0) {
      std::fprintf(stderr, "Can not to Connect with KRVO: %s.\n", std::strerror(err));
    } else {
      std::fprintf(stderr, "Can not to Connect with KRVO.\n");
    }
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
    error = ErrorText(e);
  }
  if (printLines) {
    for (const std::string& line : memo_.Lines) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
  return ok;
}
