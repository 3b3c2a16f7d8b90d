#include "retrieval/GroupFetch.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <unordered_map>

#include "meter/DataFolder.h"
#include "meter/FileReplace.h"
#include "retrieval/FtpErrors.h"
#include "retrieval/LocalNames.h"
#include "retrieval/MirrorFolder.h"

namespace {

bool SameSizeFile(const std::string& path, int64_t size) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         static_cast<int64_t>(st.st_size) == size;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size)
                                                              : 0;
}

bool AllBlank(const std::vector<std::string>& lines) {
  return std::all_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find_first_not_of(" \t\r\n") == std::string::npos;
  });
}

struct TListedFile {
  std::string Name;
  int64_t Size;
};

// The listing read once: each name with its size (the last entry of a name
// wins), in case-insensitive name order, and the total of the sizes.
std::vector<TListedFile> IndexListing(const std::vector<TFtpListEntry>& entries,
                                      int64_t& totalBytes) {
  std::vector<TListedFile> files;
  std::unordered_map<std::string, size_t> at;
  for (const TFtpListEntry& e : entries) {
    const auto [it, added] = at.emplace(e.Name, files.size());
    if (added) {
      files.push_back({e.Name, e.Size});
    } else {
      files[it->second].Size = e.Size;
    }
  }
  totalBytes = 0;
  for (const TListedFile& f : files) totalBytes += std::max<int64_t>(0, f.Size);
  std::stable_sort(files.begin(), files.end(), [](const TListedFile& a, const TListedFile& b) {
    return strcasecmp(a.Name.c_str(), b.Name.c_str()) < 0;
  });
  return files;
}

}  // namespace

void CGroupFetcher::EnsureSession(const TGroupFetchEvents& events) {
  if (ftp_.IsConnected()) return;
  ftp_.OpenSession();
  ftp_.SendNoop();
  if (events.Pause) events.Pause(pauseMs_);
}

bool CGroupFetcher::SessionAlive() {
  if (!FtpConnectedQuietly(ftp_)) return false;
  try {
    ftp_.SendNoop();
    return true;
  } catch (const EFtpError&) {
    FtpCloseQuietly(ftp_);
    return false;
  }
}

void CGroupFetcher::EnsureLiveSession(const TGroupFetchEvents& events) {
  if (SessionAlive()) return;
  EnsureSession(events);
}

TRemoteListing CGroupFetcher::ListRemoteFolder(const std::string& path,
                                               const TGroupFetchEvents& events) {
  TRemoteListing result;
  try {
    ftp_.ChangeFolder(path);
    ftp_.SetTransferType(TFtpTransferType::ftASCII);
    if (events.Pause) events.Pause(pauseMs_ / 10);
    ftp_.ListFolder(nullptr, "", true);
    result.Entries = ftp_.Listing();
  } catch (const EFtpError& e) {
    result.Error = e.what();  // never the listing of an earlier folder
    return result;
  }
  // Lines we could not read are not "no files": the group's files stay.
  if (result.Entries.empty() && !AllBlank(ftp_.ListingLines())) {
    result.Error = "The listing of " + path + " could not be read.";
    return result;
  }
  result.Ok = true;
  return result;
}

TRemoteListing CGroupFetcher::ListGroup(const std::string& remote,
                                        const TGroupFetchEvents& events) {
  TRemoteListing listing = ListRemoteFolder(remote, events);
  if (listing.Ok || SessionAlive()) return listing;
  // The server dropped the session: a folder it never listed is not empty.
  EnsureSession(events);
  listing = ListRemoteFolder(remote, events);
  if (listing.Ok || SessionAlive()) return listing;
  throw EFtpError("The FTP session was lost while listing " + remote + ": " + listing.Error);
}

bool CGroupFetcher::FetchOne(const std::string& remoteName, const std::string& local,
                             const TGroupFetchEvents& events, bool& stopped, std::string& error) {
  stopped = false;
  std::string temp;
  try {
    temp = CreateTempBeside(local);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  bool failed = false;
  try {
    ftp_.SetTransferType(TFtpTransferType::ftBinary);
    ftp_.FetchFile(remoteName, temp, true, false);
    if (ftp_.LastTransferAborted()) {  // the server cut the transfer
      failed = true;
      error = "Transfer aborted";
    }
  } catch (const EFtpError& e) {
    failed = true;
    error = e.what();
  }
  if (!failed) {
    if (CommitTempNoFolderSync(temp, local)) {
      folderChanged_ = true;
      const std::string partial = PartialName(local);
      if (!partial.empty())
        ::unlink(partial.c_str());  // the whole file replaces an earlier cut one
      return true;
    }
    error = "Unable to write " + local;
    return false;
  }
  stopped = events.Continue && !events.Continue();
  const std::string partial = PartialName(local);
  // Bytes of a fetch the operator cut are dropped; those of a failed one are
  // kept where no load reads them as a log.
  if (stopped || partial.empty() || FileSize(temp) == 0 || !CommitTempNoFolderSync(temp, partial)) {
    ::unlink(temp.c_str());
  } else {
    folderChanged_ = true;
  }
  return false;
}

bool CGroupFetcher::ReopenIn(const std::string& remote, const TGroupFetchEvents& events,
                             std::string& error) {
  try {
    EnsureSession(events);
    ftp_.ChangeFolder(remote);
  } catch (const EFtpError& e) {
    error = e.what();
    return false;
  }
  return true;
}

bool CGroupFetcher::FetchWithRetry(const std::string& remote, const std::string& remoteName,
                                   const std::string& local, const TGroupFetchEvents& events,
                                   bool& stopped, std::string& error) {
  if (FetchOne(remoteName, local, events, stopped, error)) return true;
  if (stopped || SessionAlive()) return false;
  // The server dropped the session (an idle time-out, a restart): the file
  // gets one more try on a new one.
  return ReopenIn(remote, events, error) && FetchOne(remoteName, local, events, stopped, error);
}

TGroupFetchResult CGroupFetcher::FetchGroup(int group, const std::string& localFolder,
                                            const TGroupFetchEvents& events, TFetchMode mode) {
  TGroupFetchResult result;
  // The files land without flushing the folder after each: it is flushed
  // once, however the group ends.
  struct FolderSync {
    bool& changed;
    const std::string& folder;
    ~FolderSync() {
      if (changed) SyncFolder(folder);
      changed = false;
    }
  } folderSync{folderChanged_, localFolder};
  const std::string remote = RemoteFolder(group);
  const TRemoteListing listing = ListGroup(remote, events);
  if (!listing.Ok) {
    result.ListFailed = true;
    result.Error = listing.Error;
    return result;
  }
  int64_t totalBytes = 0;
  const std::vector<TListedFile> files = IndexListing(listing.Entries, totalBytes);
  std::vector<std::string> names;
  names.reserve(files.size());
  for (const TListedFile& f : files) names.push_back(f.Name);
  const auto locals = LocalLogNames(names);
  result.Listed = files.size();

  std::set<std::string> keep;
  int64_t doneBytes = 0;
  bool reconnect = false;
  size_t k = 0;
  for (; k < files.size(); ++k) {
    if (events.Continue && !events.Continue()) break;
    const std::string& n = files[k].Name;
    const int64_t size = files[k].Size;
    const std::string& localName = locals.at(n);
    const std::string local = localFolder + (localName.empty() ? SafePathComponent(n) : localName);
    if (!localName.empty()) keep.insert(localName);
    auto progress = [&] {
      if (events.Progress)
        events.Progress(result.Fetched + result.Skipped, files.size(), doneBytes, totalBytes);
    };
    auto fail = [&](const std::string& error) {
      ++result.Failed;
      result.FailedFiles.push_back(local);
      if (events.FileFailed) events.FileFailed(local, error);
    };
    if (mode == TFetchMode::OnlyNew && !localName.empty() && SameSizeFile(local, size)) {
      const std::string partial = PartialName(local);
      if (!partial.empty()) ::unlink(partial.c_str());  // the whole file is here
      ++result.Skipped;
      doneBytes += std::max<int64_t>(0, size);
      progress();
      continue;
    }
    if (reconnect) {
      // One failed file costs one file: the next one gets a fresh session.
      std::string error;
      if (!ReopenIn(remote, events, error)) {
        fail(error);
        break;
      }
      reconnect = false;
    }
    if (events.FileStarted) events.FileStarted(remote + n, static_cast<int32_t>(size));
    if (localName.empty()) {
      fail("The name " + n +
           " can't be stored here, or another file of the group takes its place.");
      continue;
    }
    bool stopped = false;
    std::string error;
    if (FetchWithRetry(remote, n, local, events, stopped, error)) {
      ++result.Fetched;
      doneBytes += std::max<int64_t>(0, size);
      if (events.FileArrived) events.FileArrived(local, n);
    } else if (stopped) {
      break;  // an interrupted file leaves nothing under its name
    } else {
      FtpCloseQuietly(ftp_);
      reconnect = true;
      fail(error);
      // This run still shows what arrived of it.
      const std::string partial = localFolder + PartialName(localName);
      if (!PartialName(localName).empty() && FileSize(partial) > 0) {
        keep.insert(PartialName(localName));
        if (events.FileArrived) events.FileArrived(partial, n);
      }
    }
    progress();
    if (events.Pause) events.Pause(pauseMs_);
  }
  result.Completed = k == files.size();
  if (result.Completed && mode == TFetchMode::All) PruneFolder(localFolder, keep);
  return result;
}
