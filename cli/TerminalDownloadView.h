#pragma once
// The terminal as the download's window: a tree of the ten group nodes,
// status texts on stderr (one updating line with a bar on a terminal, plain
// lines otherwise), the workbook in the device's folder.
#include <string>

#include "app/LogDownload.h"
#include "app/TransferMeter.h"
#include "cli/ProgressLine.h"
#include "meter/ZelDef.h"

class CTerminalDownloadView : public CDownloadView {
 public:
  CTerminalDownloadView(CZELMeterObj& meter, TFtpClient& ftp, bool tty);
  ~CTerminalDownloadView() override;

  void ShowStatus(int panel, const std::string& text) override;
  void ShowMessage(TMessageKind kind, const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool Pump() override;
  bool SessionOpen() override;
  bool DeviceNameRead() override { return meter_.NamesRead(); }
  size_t NodeCount() override { return kGroupCount; }
  bool IsGroupNode(size_t) override { return true; }
  std::string NodeCaption(size_t node) override;
  bool SelectNode(size_t) override { return true; }
  void RemoveChildren(size_t) override {}
  void AddFileNode(const std::string&) override {}
  void SelectFirstNode() override {}
  void BeginGroup(int group, const std::string&) override;
  void ShowRecords(size_t) override {}
  void SetTimeRange() override;
  void SetLogsNumber(size_t) override {}
  void EnableDownload(bool) override {}
  void EnableDisplayGroup() override {}
  bool ReadSnapShotSetup() override { return meter_.ReadSnapShotSetup(); }
  TWorkbookUpdate UpdateWorkbook(CWorkbookBuild& build, int group) override;
  void CloseFtp() override;
  bool FtpOpen() override;
  void FileStarted(int32_t expectedSize) override;
  void GroupProgress(int group, size_t filesDone, size_t files, int64_t bytesDone,
                     int64_t bytes) override;

  void WorkBegin(int32_t maximum);
  void Work(int32_t count);
  // Ends the updating line, so that what follows starts on a line of its own.
  void EndLine();
  // The command prints the final line on stdout itself (download, not sync).
  void SetFinalLineOnStdout(bool yes) { finalOnStdout_ = yes; }

 private:
  void Line(const std::string& text);
  // Draws the updating line anew, fitted to the terminal's width.
  void Redraw();

  CZELMeterObj& meter_;
  TFtpClient& ftp_;
  bool tty_;
  bool open_ = false;
  std::string panels_[3];
  int32_t expected_ = 0;
  CTransferMeter meterLine_;
  int columns_ = 80;
  bool stdoutTty_ = false;
  bool finalOnStdout_ = true;
  bool hasProgress_ = false;
  TProgressFields progress_;
  // The group's rate: bytes fetched since its first file was asked for.
  bool groupStarted_ = false;
  bool fetching_ = false;  // a file was started since the last report
  double groupStart_ = 0;
  int64_t groupFetched_ = 0, lastBytesDone_ = 0;
};
