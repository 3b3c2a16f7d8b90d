#pragma once
// "Download All Group": the device's data log folder fetched anew from the
// meter, group by group, each group read, shown and written into the working
// workbook. Written once against a small sink of events; the window shows
// them with its tree, table and status bar, krvo download on the terminal.
#include <cstdint>
#include <functional>
#include <string>

#include "app/PumpHook.h"
#include "app/Workbook.h"
#include "retrieval/GroupFetch.h"

// "12 kB" or "3.4 MB".
std::string ByteSize(int64_t bytes);

enum class TMessageKind { Information, Warning, Error };

// What a download tells whoever shows it, and the little it must ask.
class CDownloadSink {
 public:
  virtual ~CDownloadSink() = default;
  // Panel 1: session and progress texts; panel 2: the file; panel 0: the
  // group's overall progress.
  virtual void ShowStatus(int panel, const std::string& text) = 0;
  // The final word, or (an error) what ended one step; the download goes on.
  virtual void ShowMessage(TMessageKind kind, const std::string& text) = 0;
  // Lets pending events run; true when the application is closing.
  virtual bool Pump() = 0;
  // Whether the meter session is still open.
  virtual bool SessionOpen() = 0;
  // The device folder holds another meter's logs (text says which): true to
  // go on and replace them.
  virtual bool ConfirmOtherMeter(const std::string& /*text*/) { return false; }

  // Whether each of the ten groups has its place to be shown; the download
  // does not start without them.
  virtual bool ShowsEveryGroup() { return true; }
  // Group (0-9) begins: its file nodes of before go, the table shows it
  // (empty). False stops the download.
  virtual bool GroupStarted(int /*group*/) { return true; }
  // A fetch begins: the listing's size of the file.
  virtual void FileStarted(int32_t /*expectedSize*/) {}
  // After each file of a group: files and bytes done of the listing's total.
  // By default a line on panel 0.
  virtual void GroupProgress(int group, size_t filesDone, size_t files, int64_t bytesDone,
                             int64_t bytes);
  // LogRecords changed: count records now.
  virtual void RecordsChanged(size_t /*count*/) {}
  // A file node under the group being downloaded.
  virtual void FileNodeAdded(const std::string& /*text*/) {}
  // The group's records are all read; timesValid is false when its first or
  // last record has no valid time (an error already shown).
  virtual void GroupEnded(int /*group*/, size_t /*records*/, bool /*timesValid*/) {}
  // Whether the download command may be started (off while one runs).
  virtual void EnableDownload(bool /*enabled*/) {}
  // Every group was walked and shown.
  virtual void DownloadFinished() {}
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
  CLogDownload(TFtpClient& ftp, CDownloadSink& sink, int pauseMs)
      : ftp_(ftp), sink_(sink), pauseMs_(pauseMs), fetcher_(ftp, pauseMs) {}

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
  // ReplaceOtherMeter is set or the sink confirms it.
  uint32_t MeterSerial = 0;
  bool ReplaceOtherMeter = false;
  // Whether this session read the device's names (and so its folder's name):
  // without them nothing is downloaded.
  bool DeviceNameRead = false;
  // Reads the ten group setups from the meter again into GroupSetups; false
  // when that failed (or there is no meter to ask).
  std::function<bool()> ReadMeterSetup;

 private:
  TDownloadResult Run(bool onlyNew, bool workbook);
  TGroupFetchEvents Events();
  bool SameMeterOrConfirmed(const std::string& dataLog);
  void ReadSetup(const std::string& dataLog, TDownloadResult& result);
  void EndEarly();

  bool setupRead_ = false;
  bool groupsCompleted_ = true;

  TFtpClient& ftp_;
  CDownloadSink& sink_;
  int pauseMs_;
  CGroupFetcher fetcher_;
};
