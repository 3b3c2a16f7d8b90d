#include "app/DeviceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "meter/DataFolder.h"

CDeviceLock::~CDeviceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
}

bool CDeviceLock::Acquire(const std::string& dataLogFolder, const std::string& owner,
                          const std::function<void(const std::string& holder)>& waiting, std::string& error) {
  std::string folder = dataLogFolder;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  const std::string path = folder + ".lock";
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) ForceFolders(path.substr(0, slash + 1));
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) {
    error = "Cannot lock " + path + ": " + std::strerror(errno);
    return false;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    char holder[256] = {};
    const ssize_t n = pread(fd_, holder, sizeof holder - 1, 0);
    std::string who(holder, n > 0 ? static_cast<size_t>(n) : 0);
    while (!who.empty() && (who.back() == '\n' || who.back() == '\r')) who.pop_back();
    if (waiting) waiting(who.empty() ? "another run" : who);
    if (flock(fd_, LOCK_EX) != 0) {
      error = "Stopped while waiting for " + path + ".";
      ::close(fd_);
      fd_ = -1;
      return false;
    }
  }
  const std::string line = owner + "\n";
  if (ftruncate(fd_, 0) != 0 || pwrite(fd_, line.data(), line.size(), 0) < 0) {
    // The lock holds all the same; only the note of who holds it is missing.
  }
  return true;
}
