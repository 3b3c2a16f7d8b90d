#pragma once
// "Download All Group": the device's data log folder fetched anew from the
// meter, group by group, each group read, shown and written into the working
// workbook. Written once against a small view; the window implements it
// with its tree, table and status bar, krvo download with the terminal.
#include <cstdint>
#include <string>

#include "app/PumpHook.h"
#include "app/Workbook.h"
#include "retrieval/GroupFetch.h"

// "12 kB" or "3.4 MB".
std::string ByteSize(int64_t bytes);

enum class TMessageKind { Information, Warning, Error };

class CDownloadView {
 public:
  virtual ~CDownloadView() = default;
  // Panel 1: session and progress texts; panel 2: the file; panel 0: the
  // group's overall progress.
  virtual void ShowStatus(int panel, const std::string& text) = 0;
  virtual void ShowMessage(TMessageKind kind, const std::string& text) = 0;
  // An error that ends one step; the download goes on.
  virtual void ShowError(const std::string& text) = 0;
  // Lets pending events run; true when the application is closing.
  virtual bool Pump() = 0;
  // Whether the meter session is still open.
  virtual bool SessionOpen() = 0;
  // Whether this session read the device's names (and so its folder's name).
  virtual bool DeviceNameRead() = 0;

  // The tree, nodes counted depth first.
  virtual size_t NodeCount() = 0;
  virtual bool IsGroupNode(size_t node) = 0;
  virtual std::string NodeCaption(size_t node) = 0;
  // Selects the node; false when no group node is then selected.
  virtual bool SelectNode(size_t node) = 0;
  virtual void RemoveChildren(size_t node) = 0;
  // Adds a child under the selected node when that is a group node.
  virtual void AddFileNode(const std::string& text) = 0;
  virtual void SelectFirstNode() = 0;

  // The table: a group begins ("Logs Number of Group NN:", "0", its columns).
  virtual void BeginGroup(int group, const std::string& caption) = 0;
  // LogRecords changed: the row count and a repaint.
  virtual void ShowRecords(size_t count) = 0;
  // Throws EConvertError for a first or last record without a valid time.
  virtual void SetTimeRange() = 0;
  virtual void SetLogsNumber(size_t count) = 0;

  // Commands: the download item's state, "Display Selected Group" enabled.
  virtual void EnableDownload(bool enabled) = 0;
  virtual void EnableDisplayGroup() = 0;
  // Reads the ten group setups from the meter again into GroupSetups.
  virtual bool ReadSnapShotSetup() = 0;
  // Writes the names sheet (-1) or group's sheet into the workbook being built.
  virtual TWorkbookUpdate UpdateWorkbook(CWorkbookBuild& build, int group) = 0;
  // The FTP session is closed (the command stops).
  virtual void CloseFtp() = 0;
  // Whether the FTP session is open.
  virtual bool FtpOpen() = 0;
  // A fetch begins: the listing's size of the file.
  virtual void FileStarted(int32_t /*expectedSize*/) {}
  // The device folder holds another meter's logs (text says which): true to go on and replace them.
  virtual bool ConfirmOtherMeter(const std::string& /*text*/) { return false; }
  // After each file of a group: files and bytes done of the listing's total.
  // By default a line on panel 0.
  virtual void GroupProgress(int group, size_t filesDone, size_t files, int64_t bytesDone,
                             int64_t bytes);
};

struct TDownloadResult {
  bool Finished = false;  // all ten groups walked
  size_t Files[10] = {};  // fetched now
  size_t Records[10] = {};
  size_t Kept[10] = {};  // local files not fetched now (only new files)
  size_t Failed = 0;
  size_t ListFailed = 0;     // groups whose folder could not be listed (their files kept)
  bool SetupFailed = false;  // the meter's setup could not be read: the one kept was used
  bool OtherMeter = false;   // stopped: the folder holds another meter's logs
  std::string FinalText;
};

class CLogDownload {
 public:
  CLogDownload(TFtpClient& ftp, CDownloadView& view, int pauseMs)
      : ftp_(ftp), view_(view), pauseMs_(pauseMs), fetcher_(ftp, pauseMs) {}

  // "Download All Group". Errors that end it (the FTP server unreachable or
  // refusing the login, an empty tree's "Invalid index", a workbook that
  // can't be written) leave by their exception. Nothing of the device's
  // earlier files goes before its replacement is complete: each file lands
  // under a temporary name, a group's files the meter no longer has go only
  // when the group was listed and walked to its end, and the workbook is
  // built beside the old one and replaces it when every group is in it.
  TDownloadResult mniDownload1Click() { return Run(false, true); }
  // "Download New Files": only the files missing locally or of another size
  // are fetched; every other local file stays, and each group is then read,
  // shown and written from all its local files. A group whose keys changed
  // since its files were written has them moved aside first.
  TDownloadResult mniDownloadNewClick(bool workbook = true) { return Run(true, workbook); }
  // One group: reconnects when needed (its errors leave), then fetches,
  // reads and shows the group's files.
  void DownloadGroup(int group, TDownloadResult& result, bool onlyNew = false);

  // Waits ms in short slices, letting events run.
  void Pause(int ms);

  // The serial number of the connected meter (0: unknown), recorded in the
  // device folder; a folder that records another one is not written unless
  // ReplaceOtherMeter is set or the view confirms it.
  uint32_t MeterSerial = 0;
  bool ReplaceOtherMeter = false;

 private:
  TDownloadResult Run(bool onlyNew, bool workbook);
  TGroupFetchEvents Events();
  bool SameMeterOrConfirmed(const std::string& dataLog);
  void ReadSetup(const std::string& dataLog, TDownloadResult& result);
  void EndEarly();

  bool setupRead_ = false;
  bool groupsCompleted_ = true;

  TFtpClient& ftp_;
  CDownloadView& view_;
  int pauseMs_;
  CGroupFetcher fetcher_;
};
