#pragma once
// The fetch of one data log group: the remote folder /DataLog/GroupN/ listed
// and every file of it fetched, in case-insensitive name order, into the
// group's local folder, with a pause after each file to pace the meter.
//
// The local mirror is often the only copy left, so a file arrives under a
// temporary name and takes its own name only when complete; a group's files
// the meter no longer has are removed only when the group's listing worked
// and every file was walked.
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
  // A fetch failed: the local path it was meant for and why.
  std::function<void(const std::string& localPath, const std::string& error)> FileFailed;
  // A file is in place (fetched, or the kept bytes of a failed one): read and
  // show it. An exception ends the group.
  std::function<void(const std::string& localPath, const std::string& remoteName)> FileArrived;
  // After each file: files fetched or in place, and bytes done, of the
  // listing's total.
  std::function<void(size_t filesDone, size_t files, int64_t bytesDone, int64_t bytes)> Progress;
};

enum class TFetchMode {
  All,      // every listed file fetched; what the meter no longer has goes
  OnlyNew,  // only files missing locally or of another size; nothing goes
};

struct TGroupFetchResult {
  size_t Listed = 0;
  size_t Fetched = 0;
  size_t Failed = 0;
  size_t Skipped = 0;                    // already in place (only new files asked for)
  bool ListFailed = false;               // the folder could not be listed: nothing was touched
  bool Completed = false;                // listed, and every file walked
  std::string Error;                     // why the listing failed
  std::vector<std::string> FailedFiles;  // local paths
};

struct TRemoteListing {
  bool Ok = false;
  std::vector<TFtpListEntry> Entries;
  std::string Error;
};

class CGroupFetcher {
 public:
  // pauseMs: the pause after each file and after a reconnect; the pause
  // before a listing is a tenth of it.
  CGroupFetcher(TFtpClient& ftp, int pauseMs) : ftp_(ftp), pauseMs_(pauseMs) {}

  // Opens the FTP session when it is not open: login, NOOP, then a pause.
  // Throws EFtpError when the server can't be reached or refuses the login.
  void EnsureSession(const TGroupFetchEvents& events);
  // True when the session answers a NOOP; a session that does not is closed.
  bool SessionAlive();
  // A session that answers: one the server dropped (an idle time-out, a
  // restart) is opened again. Throws EFtpError when that fails.
  void EnsureLiveSession(const TGroupFetchEvents& events);

  // Makes the folder current and lists it. A listing whose lines parse to
  // no entry is no listing.
  TRemoteListing ListRemoteFolder(const std::string& path, const TGroupFetchEvents& events);

  // Lists group g (0-9) and fetches its files into localFolder (which
  // exists). A session lost while listing is opened again once; when it
  // can't be, or is lost again, EFtpError leaves.
  TGroupFetchResult FetchGroup(int group, const std::string& localFolder,
                               const TGroupFetchEvents& events, TFetchMode mode);

  static std::string RemoteFolder(int group) {
    return "/DataLog/Group" + std::to_string(group + 1) + "/";
  }

 private:
  TRemoteListing ListGroup(const std::string& remote, const TGroupFetchEvents& events);
  // One file into local; false when it failed (error says why). stopped
  // tells a fetch cut by the operator from a failed one.
  bool FetchOne(const std::string& remoteName, const std::string& local,
                const TGroupFetchEvents& events, bool& stopped, std::string& error);
  // FetchOne, and once more on a new session when the server dropped this
  // one meanwhile.
  bool FetchWithRetry(const std::string& remote, const std::string& remoteName,
                      const std::string& local, const TGroupFetchEvents& events, bool& stopped,
                      std::string& error);
  // A session opened when there is none, in the folder remote; false when
  // that failed (error says why).
  bool ReopenIn(const std::string& remote, const TGroupFetchEvents& events, std::string& error);

  TFtpClient& ftp_;
  int pauseMs_;
  bool folderChanged_ = false;  // a file landed since the local folder was last flushed
};
