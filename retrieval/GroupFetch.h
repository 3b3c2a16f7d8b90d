#pragma once
// The fetch of one data log group: the remote folder /DataLog/GroupN/ listed
// and every file of it fetched, in case-insensitive name order, into the
// group's local folder, with a pause after each file to pace the meter.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "retrieval/FtpClient.h"

struct TGroupFetchEvents {
  // False stops the group before its next file (the session closed, or the
  // application is closing).
  std::function<bool()> Continue;
  // Waits so long, letting events run.
  std::function<void(int ms)> Pause;
  // A file's fetch starts: its remote path and the size the listing gave.
  std::function<void(const std::string& remotePath, int32_t expectedSize)> FileStarted;
  // A fetch failed; the local file keeps what arrived.
  std::function<void(const std::string& localPath, const std::string& error)> FileFailed;
  // A file is in place (fetched, or failed with some bytes): read and show it.
  // An exception ends the group.
  std::function<void(const std::string& localPath, const std::string& remoteName)> FileArrived;
  // After each file: files and bytes done of the listing's total.
  std::function<void(size_t filesDone, size_t files, int64_t bytesDone, int64_t bytes)> Progress;
};

struct TGroupFetchResult {
  size_t Listed = 0;
  size_t Fetched = 0;
  size_t Failed = 0;
  size_t Skipped = 0;  // already in place (only new files asked for)
  bool Ended = false;  // an error ended the group before its last file
};

class CGroupFetcher {
 public:
  // pauseMs: the pause after each file and after a reconnect; the pause
  // before a listing is a tenth of it.
  CGroupFetcher(TFtpClient& ftp, int pauseMs) : ftp_(ftp), pauseMs_(pauseMs) {}

  // Opens the FTP session when it is not open: login, NOOP, then a pause.
  // Throws EFtpError when the server can't be reached or refuses the login.
  void EnsureSession(const TGroupFetchEvents& events);

  // Makes the folder current and lists it; an error gives no entries.
  std::vector<TFtpListEntry> ListRemoteFolder(const std::string& path, const TGroupFetchEvents& events);

  // Lists group g (0-9) and fetches its files into localFolder (which exists).
  // With onlyNew, a file whose local copy has the listed size is skipped, and
  // a fetched file lands under a temporary name and takes its own name only
  // when complete (a failed one leaves the earlier copy as it was).
  TGroupFetchResult FetchGroup(int group, const std::string& localFolder, const TGroupFetchEvents& events,
                               bool onlyNew = false);

  static std::string RemoteFolder(int group) { return "/DataLog/Group" + std::to_string(group + 1) + "/"; }

 private:
  void Disconnect();

  TFtpClient& ftp_;
  int pauseMs_;
};
