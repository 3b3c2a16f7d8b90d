#include "retrieval/MirrorFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "meter/DataFolder.h"

namespace {

// Works through descriptors, so that a folder swapped for a link while we
// work can't lead the deletion elsewhere.
void ClearAt(int dirFd, const std::set<std::string>* keep = nullptr) {
  const int fd = dup(dirFd);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != ".." && (keep == nullptr || keep->count(name) == 0))
      names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const int sub = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) {
        ClearAt(sub);
        ::close(sub);
      }
      unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(dirFd, name.c_str(), 0);
    }
  }
}

bool HasDotDot(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

bool BelowBase(const std::string& p) {
  const std::string base = BaseFolder();
  return p.size() > base.size() && p.compare(0, base.size(), base) == 0 && !HasDotDot(p);
}

}  // namespace

bool PruneFolder(const std::string& path, const std::set<std::string>& keep) {
  const std::string p = WithSeparator(path);
  if (!BelowBase(p)) return false;
  const int fd =
      ::open(p.substr(0, p.size() - 1).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  ClearAt(fd, &keep);
  ::close(fd);
  return true;
}

bool MakeRealFolder(const std::string& path) {
  const std::string p = WithSeparator(path);
  if (!BelowBase(p)) return false;
  const std::string folder = p.substr(0, p.size() - 1);
  struct stat st {};
  if (lstat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    ::unlink(folder.c_str());  // a link goes, not what it points to
  }
  return ForceFolders(p) && lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ClearFolder(const std::string& path) {
  const std::string p = WithSeparator(path);
  if (!BelowBase(p)) return false;
  const std::string folder = p.substr(0, p.size() - 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // A link in the folder's place goes, not what it points to.
    struct stat st {};
    if (lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(folder.c_str());
    return true;
  }
  ClearAt(fd);
  ::close(fd);
  ::rmdir(folder.c_str());
  return true;
}
