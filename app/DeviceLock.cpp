#include "app/DeviceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "meter/DataFolder.h"

CDeviceLock::~CDeviceLock() { Release(); }

void CDeviceLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
  fd_ = -1;
}

std::string CDeviceLock::PathOf(const std::string& dataLogFolder) {
  std::string folder = dataLogFolder;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder + ".lock";
}

bool CDeviceLock::Open(const std::string& dataLogFolder, std::string& error, TLockMode mode) {
  Release();
  const std::string path = PathOf(dataLogFolder);
  const size_t slash = path.rfind('/');
  // A reader makes no folders: it reads one that is there.
  if (slash != std::string::npos && mode == TLockMode::Exclusive)
    ForceFolders(path.substr(0, slash + 1));
  // Non-blocking open: a FIFO planted in its place must not hang us.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  // flock needs no write access: a lock file of another account still locks
  // (only the note of who holds it stays as it is).
  if (fd_ < 0 && (errno == EACCES || errno == EROFS))
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd_ < 0) {
    error = "Cannot lock " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string CDeviceLock::Holder() const {
  char holder[256] = {};
  const ssize_t n = pread(fd_, holder, sizeof holder - 1, 0);
  std::string who(holder, n > 0 ? static_cast<size_t>(n) : 0);
  while (!who.empty() && (who.back() == '\n' || who.back() == '\r')) who.pop_back();
  return who.empty() ? "another run" : who;
}

void CDeviceLock::Note(const std::string& owner, TLockMode mode) {
  if (mode != TLockMode::Exclusive) return;  // readers leave the writer's note alone
  const std::string line = owner + "\n";
  if (ftruncate(fd_, 0) != 0 || pwrite(fd_, line.data(), line.size(), 0) < 0) {
    // The lock holds all the same; only the note of who holds it is missing.
  }
}

bool CDeviceLock::Acquire(const std::string& dataLogFolder, const std::string& owner,
                          const std::function<void(const std::string& holder)>& waiting,
                          std::string& error, TLockMode mode) {
  if (!Open(dataLogFolder, error, mode)) return false;
  const int op = mode == TLockMode::Exclusive ? LOCK_EX : LOCK_SH;
  if (flock(fd_, op | LOCK_NB) != 0) {
    if (waiting) waiting(Holder());
    if (flock(fd_, op) != 0) {
      error = "Stopped while waiting for " + PathOf(dataLogFolder) + ".";
      Release();
      return false;
    }
  }
  Note(owner, mode);
  return true;
}

bool CDeviceLock::TryAcquire(const std::string& dataLogFolder, const std::string& owner,
                             std::string& holder, std::string& error, TLockMode mode) {
  holder.clear();
  if (!Open(dataLogFolder, error, mode)) return false;
  if (flock(fd_, (mode == TLockMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    holder = Holder();
    Release();
    return false;
  }
  Note(owner, mode);
  return true;
}
