#include "meter/DataFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "meter/TextCodec.h"

namespace {

constexpr size_t kMaxComponentBytes = 255;

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string exe(buf, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash + 1);
}

// The account's home from the password database; empty when it has none.
std::string AccountHome() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buf(static_cast<size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == ERANGE &&
         buf.size() < (1u << 20))
    buf.resize(buf.size() * 2);
  if (found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') return "";
  return found->pw_dir;
}

bool Unsafe(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("/\\<>:\"|?*", c) != nullptr;
}

}  // namespace

std::string WithSeparator(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + "/";
}

std::string BaseFolder() {
  if (const char* d = std::getenv("KRVO_DATA_DIR"); d != nullptr && *d != '\0') {
    ForceFolders(d);
    return WithSeparator(d);
  }
  // A portable copy keeps its data beside itself, as the program does on
  // Windows: it is one with a CommSet.ini beside the executable. An installed
  // program in a system folder never writes there, also when run as root.
  const std::string exe = ExecutableFolder();
  if (!exe.empty() && exe.rfind("/usr/", 0) != 0 &&
      access((exe + "CommSet.ini").c_str(), F_OK) == 0 && access(exe.c_str(), W_OK) == 0)
    return exe;
  std::string xdg;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x == '/') {
    xdg = x;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    xdg = std::string(home) + "/.local/share";
  } else if (const std::string account = AccountHome(); !account.empty()) {
    xdg = WithSeparator(account) + ".local/share";
  } else {
    // Never a shared folder such as /tmp: anyone could plant files there, and it is emptied at
    // boot.
    throw ENoDataFolder(
        "There is no folder for the data: neither XDG_DATA_HOME nor HOME is set, and the account "
        "has no "
        "home. Name one with --data-dir DIR or the environment variable KRVO_DATA_DIR.");
  }
  const std::string base = WithSeparator(xdg) + "KRVOLogViewer/";
  ForceFolders(base);
  return base;
}

std::string SafePathComponent(const std::string& name) {
  std::string out;
  // C1 controls too: as U+0080 to U+009F in UTF-8, or as raw bytes in a name
  // that is not UTF-8.
  const bool utf8 = IsValidUtf8(name);
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
    if (utf8 && c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out += '_';
      ++i;
    } else if (Unsafe(c) || (!utf8 && c >= 0x80 && c <= 0x9F)) {
      out += '_';
    } else {
      out += static_cast<char>(c);
    }
  }
  // ".." anywhere (and a lone ".") could climb out of the base folder.
  for (size_t at = out.find(".."); at != std::string::npos; at = out.find("..", at))
    out.replace(at, 2, "__");
  if (out == ".") out = "_";
  if (out.size() > kMaxComponentBytes) {
    size_t cut = kMaxComponentBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);  // never split a UTF-8 character
  }
  return out;
}

std::string DeviceDataLogFolder(const std::string& deviceName) {
  const std::string device = SafePathComponent(deviceName);
  return BaseFolder() + (device.empty() ? "" : device + "/") + "DataLog/";
}

bool ForceFolders(const std::string& path) {
  std::string part;
  size_t i = 0;
  while (i <= path.size()) {
    const size_t slash = path.find('/', i);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    part = path.substr(0, end);
    if (!part.empty() && !FolderExists(part)) {
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (slash == std::string::npos) break;
    i = slash + 1;
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string& text) {
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    text.resize(std::min(
        maxBytes, static_cast<size_t>(st.st_size) + 1));  // + 1: a file grown meanwhile shows
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  if (!ok) text.clear();
  return ok;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
