#include "meter/FileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Room for ".", ".~krvo-", the largest process id and "-XXXXXX" within the
// file system's 255 bytes a name.
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kTempOverhead = 1 + 7 + 10 + 7;

// A target whose name would make its temporary name too long is shortened,
// the same way every time, with a hash of the whole name, so that temporary
// files of different targets stay apart and stale ones can still be found.
std::string TempStem(const std::string& name) {
  if (name.size() + kTempOverhead <= kMaxNameBytes) return name;
  uint32_t h = 2166136261u;  // FNV-1a
  for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  char hash[16];
  std::snprintf(hash, sizeof hash, "~%08x", h);
  return name.substr(0, kMaxNameBytes - kTempOverhead - 9) + hash;
}

std::string TempPrefix(const std::string& target) {
  std::string prefix = ".";
  return prefix.append(TempStem(NameOf(target))).append(".~krvo-");
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string CreateTempBeside(const std::string& target) {
  std::string name = FolderOf(target) + TempPrefix(target) + std::to_string(getpid()) + "-XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  const int fd = mkstemp(buf.data());
  if (fd < 0) {
    const int err = errno;
    const std::string text = "Unable to create a file beside " + target + ": " + std::strerror(err);
    errno = err;  // for callers that word the failure themselves
    throw std::runtime_error(text);
  }
  fchmod(fd, 0644);
  ::close(fd);
  return buf.data();
}

namespace {

// Removes the entries of folder named prefix + PID + ... whose process is gone;
// an empty prefix takes every name of the form ".NAME.~krvo-PID-...".
void RemoveStale(const std::string& folder, const std::string& prefix) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  static const std::string kMark = ".~krvo-";
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    size_t pidAt = 0;
    if (!prefix.empty()) {
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      pidAt = prefix.size();
    } else {
      const size_t mark = name.find(kMark);
      if (name.empty() || name[0] != '.' || mark == std::string::npos) continue;
      pidAt = mark + kMark.size();
    }
    const long pid = std::strtol(name.c_str() + pidAt, nullptr, 10);
    if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;
    stale.push_back(folder + name);
  }
  closedir(dir);
  for (const std::string& path : stale) ::unlink(path.c_str());
}

}  // namespace

void RemoveStaleTemps(const std::string& target) {
  RemoveStale(FolderOf(target), TempPrefix(target));
}

void RemoveStaleTempsIn(const std::string& folder) {
  RemoveStale(folder.empty() || folder.back() == '/' ? folder : folder + "/", "");
}

namespace {

bool FlushAndRename(const std::string& temp, const std::string& target, bool noReplace) {
  bool ok = SyncPath(temp, O_RDONLY);
  if (ok) {
    ok = noReplace
             ? renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0
             : std::rename(temp.c_str(), target.c_str()) == 0;
  }
  if (!ok) {
    const int err = errno;
    ::unlink(temp.c_str());
    errno = err;  // the reason stays the rename's (or the flush's)
  }
  return ok;
}

}  // namespace

bool CommitTemp(const std::string& temp, const std::string& target, bool noReplace) {
  if (!FlushAndRename(temp, target, noReplace)) return false;
  SyncFolder(FolderOf(target));
  return true;
}

bool CommitTempNoFolderSync(const std::string& temp, const std::string& target) {
  return FlushAndRename(temp, target, false);
}

bool SyncFolder(const std::string& folder) {
  return SyncPath(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
}

bool CopyFileReplacing(const std::string& source, const std::string& target, bool noReplace) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  std::string temp;
  try {
    temp = CreateTempBeside(target);
  } catch (const std::runtime_error&) {
    ::close(in);
    return false;
  }
  const int out = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool ok = out >= 0;
  std::vector<char> buf(1 << 20);
  while (ok) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      if (ok) done += w;
    }
  }
  ::close(in);
  if (out >= 0 && ::close(out) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  return CommitTemp(temp, target, noReplace);
}
