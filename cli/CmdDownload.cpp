#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "app/LogDownload.h"
#include "app/LogTable.h"
#include "app/TransferMeter.h"
#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/FtpSession.h"
#include "cli/MeterSession.h"
#include "meter/DataFolder.h"
#include "retrieval/FtpErrors.h"

const char* const kDownloadUsage =
    "usage: krvo download --host HOST [--port N] [--ftp-port N] [--data-dir DIR]\n"
    "                     [--pace-ms MS] [--timeout S]\n"
    "  Reads the meter's identity, names and setup as the window's Connect does,\n"
    "  then downloads every data log group into DEVICE/DataLog/ as \"Download All\n"
    "  Group\" does (the earlier copy is replaced) and rebuilds the workbook.\n"
    "  Prints 'Group NN<TAB>FILES<TAB>RECORDS' per group, the final line, and the\n"
    "  workbook's path. --pace-ms: the pause after each file (1000).\n";

namespace {

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The terminal as the download's window: a tree of the ten group nodes,
// status texts on stderr (one updating line on a terminal, plain lines
// otherwise), the workbook in the device's folder.
class CTerminalDownloadView : public CDownloadView {
 public:
  CTerminalDownloadView(CZELMeterObj& meter, TFtpClient& ftp, bool tty) : meter_(meter), ftp_(ftp), tty_(tty) {}
  ~CTerminalDownloadView() override { EndLine(); }

  void ShowStatus(int panel, const std::string& text) override {
    if (text.empty()) return;
    if (tty_) {
      panels_[panel] = text;
      std::fprintf(stderr, "\r\033[K%s  %s", panels_[0].c_str(), panels_[1].c_str());
      if (panel == 2 && text.rfind("Get file failed: ", 0) == 0) {
        std::fprintf(stderr, "\n%s\n", text.c_str());
      }
      open_ = true;
    } else if (panel != 2 || text.rfind("Get file failed: ", 0) == 0) {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
  }
  // The final line goes to stdout; what else a box would say goes to stderr.
  void ShowMessage(TMessageKind kind, const std::string& text) override {
    if (kind != TMessageKind::Information) Line(text);
  }
  void ShowError(const std::string& text) override { Line(text); }
  bool Pump() override { return Interrupted(); }
  bool SessionOpen() override { return !Interrupted(); }
  bool DeviceNameRead() override { return meter_.NamesRead(); }
  size_t NodeCount() override { return kGroupCount; }
  bool IsGroupNode(size_t) override { return true; }
  std::string NodeCaption(size_t node) override {
    char caption[32];
    std::snprintf(caption, sizeof caption, "Group %.2d", static_cast<int>(node) + 1);
    return caption;
  }
  bool SelectNode(size_t) override { return true; }
  void RemoveChildren(size_t) override {}
  void AddFileNode(const std::string&) override {}
  void SelectFirstNode() override {}
  void BeginGroup(int, const std::string&) override {}
  void ShowRecords(size_t) override {}
  void SetTimeRange() override {
    TDateTime a = 0, b = 0;
    RecordsTimeSpan(LogRecords, a, b);
  }
  void SetLogsNumber(size_t) override {}
  void EnableDownload(bool) override {}
  void EnableDisplayGroup() override {}
  void RefreshDataLogSetup() override {
    if (meter_.ReadSnapShotSetup()) {
      CZELMeterObj::SaveDataLogSetup();
      ShowStatus(1, "Read SnapShot Setup Successed.");
    } else {
      ShowStatus(1, "Read SnapShot Setup failed.");
    }
  }
  TWorkbookUpdate UpdateWorkbook(int group) override {
    return ::UpdateWorkbook(DeviceDataLogFolder(PanelNames.DeviceName) + "template.xlsx", group,
                            [] { return Interrupted(); });
  }
  void CloseFtp() override {
    try {
      ftp_.AbortTransfer();
      ftp_.CloseSession();
      ftp_.Disconnect();
    } catch (const EFtpError&) {
    }
  }
  bool FtpOpen() override {
    try {
      return ftp_.IsConnected();
    } catch (const EFtpError&) {
      return false;
    }
  }
  void FileStarted(int32_t expectedSize) override { expected_ = expectedSize; }

  void WorkBegin(int32_t maximum) { meter_line_.Begin(maximum, expected_, NowSeconds()); }
  void Work(int32_t count) { ShowStatus(1, meter_line_.Work(count, NowSeconds())); }
  void EndLine() {
    if (open_) std::fputc('\n', stderr);
    open_ = false;
  }

 private:
  void Line(const std::string& text) {
    EndLine();
    std::fprintf(stderr, "%s\n", text.c_str());
  }

  CZELMeterObj& meter_;
  TFtpClient& ftp_;
  bool tty_;
  bool open_ = false;
  std::string panels_[3];
  int32_t expected_ = 0;
  CTransferMeter meter_line_;
};

}  // namespace

int CmdDownload(int argc, char** argv) {
  CliArgs args(argc, argv, 2, {"--host", "--port", "--ftp-port", "--data-dir", "--pace-ms", "--timeout"}, {});
  if (args.Help()) {
    std::fputs(kDownloadUsage, stdout);
    return 0;
  }
  if (!args.Positional().empty()) throw UsageError{"unexpected argument " + args.Positional()[0]};
  const std::string host = args.Require("--host");
  const int port = args.Port("--port", 502);
  const int pace = static_cast<int>(args.Number("--pace-ms", 0, 600000, 1000));
  TFtpClient ftp;
  ConfigureFtpClient(ftp, args);
  ApplyDataDir(args);

  MeterSession session(host, port);
  if (!session.Open()) return 1;
  if (!session.ReadDeviceInfo(false)) return 1;

  CTerminalDownloadView view(session.Meter(), ftp, isatty(STDERR_FILENO) == 1);
  ftp.OnWorkBegin = [&view](TWorkMode, int32_t maximum) { view.WorkBegin(maximum); };
  ftp.OnWork = [&view](TWorkMode, int32_t count) { view.Work(count); };
  CLogDownload download(ftp, view, pace);
  TDownloadResult result;
  try {
    result = download.mniDownload1Click();
  } catch (const std::exception& e) {
    view.EndLine();
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  view.EndLine();
  if (!result.Finished) {
    std::fprintf(stderr, "%s\n", Interrupted() ? "Interrupted." : "The download did not finish.");
    return 1;
  }
  for (int g = 0; g < kGroupCount; ++g) std::printf("Group %.2d\t%zu\t%zu\n", g + 1, result.Files[g], result.Records[g]);
  std::printf("%s\n%s\n", result.FinalText.c_str(),
              (DeviceDataLogFolder(PanelNames.DeviceName) + "template.xlsx").c_str());
  return result.Failed == 0 ? 0 : 1;
}
