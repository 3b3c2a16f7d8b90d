#include "retrieval/GroupFetch.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "meter/DataFolder.h"
#include "meter/FileReplace.h"
#include "retrieval/FtpErrors.h"

namespace {

int64_t LocalSize(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace

void CGroupFetcher::Disconnect() { FtpCloseQuietly(ftp_); }

void CGroupFetcher::EnsureSession(const TGroupFetchEvents& events) {
  if (ftp_.IsConnected()) return;
  ftp_.OpenSession();
  ftp_.SendNoop();
  if (events.Pause) events.Pause(pauseMs_);
}

std::vector<TFtpListEntry> CGroupFetcher::ListRemoteFolder(const std::string& path,
                                                           const TGroupFetchEvents& events) {
  try {
    ftp_.ChangeFolder(path);
    ftp_.SetTransferType(TFtpTransferType::ftASCII);
    if (events.Pause) events.Pause(pauseMs_ / 10);
    ftp_.ListFolder(nullptr, "", true);
    return ftp_.Listing();
  } catch (const EFtpError&) {
    return {};  // never the listing of an earlier folder
  }
}

TGroupFetchResult CGroupFetcher::FetchGroup(int group, const std::string& localFolder,
                                            const TGroupFetchEvents& events, bool onlyNew) {
  TGroupFetchResult result;
  const std::string remote = RemoteFolder(group);
  const std::vector<TFtpListEntry> listing = ListRemoteFolder(remote, events);
  std::vector<std::string> names;
  int64_t totalBytes = 0;
  for (const TFtpListEntry& e : listing) {
    names.push_back(e.Name);
    totalBytes += std::max<int64_t>(0, e.Size);
  }
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  result.Listed = names.size();
  int64_t doneBytes = 0;
  bool reconnect = false;
  for (size_t k = 0; k < names.size(); ++k) {
    if (events.Continue && !events.Continue()) break;
    const std::string& n = names[k];
    int64_t size = 0;
    for (const TFtpListEntry& e : listing)
      if (e.Name == n) size = e.Size;  // the last match wins
    const std::string local = localFolder + SafePathComponent(n);
    if (onlyNew && !SafePathComponent(n).empty()) {
      struct stat st {};
      if (lstat(local.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<int64_t>(st.st_size) == size) {
        ++result.Skipped;
        doneBytes += std::max<int64_t>(0, size);
        if (events.Progress) events.Progress(k + 1, names.size(), doneBytes, totalBytes);
        continue;
      }
    }
    try {
      if (reconnect) {
        // One failed file costs one file: the next one gets a fresh session.
        try {
          EnsureSession(events);
          ftp_.ChangeFolder(remote);
        } catch (const EFtpError& e) {
          ++result.Failed;
          if (events.FileFailed) events.FileFailed(local, e.what());
          result.Ended = true;
          break;
        }
        reconnect = false;
      }
      ftp_.SetTransferType(TFtpTransferType::ftBinary);
      if (events.FileStarted) events.FileStarted(remote + n, static_cast<int32_t>(size));
      if (SafePathComponent(n).empty()) throw std::runtime_error("empty name");
      const std::string into = onlyNew ? CreateTempBeside(local) : local;
      if (!onlyNew) ::unlink(local.c_str());
      bool failed = false;
      std::string error;
      try {
        ftp_.FetchFile(n, into, true, false);
        if (ftp_.LastTransferAborted()) {  // the server cut the transfer
          failed = true;
          error = "Transfer aborted";
        }
      } catch (const EFtpError& e) {
        failed = true;
        error = e.what();
      }
      if (onlyNew && (failed || !CommitTemp(into, local))) {
        ::unlink(into.c_str());  // nothing truncated under a real name
        if (!failed) error = "Unable to write " + local;
        failed = true;
      }
      if (failed) {
        Disconnect();
        reconnect = true;
        ++result.Failed;
        if (events.FileFailed) events.FileFailed(local, error);
      } else {
        ++result.Fetched;
      }
      // A failed file's bytes are read all the same; one that left nothing is skipped.
      if (!failed || LocalSize(local) > 0) {
        if (events.FileArrived) events.FileArrived(local, n);
      }
      doneBytes += std::max<int64_t>(0, size);
      if (events.Progress) events.Progress(k + 1, names.size(), doneBytes, totalBytes);
      if (events.Pause) events.Pause(pauseMs_);
    } catch (const std::exception&) {
      result.Ended = true;  // the rest of the group is skipped without a message
      break;
    }
  }
  return result;
}
