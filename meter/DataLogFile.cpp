#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "meter/ZelDef.h"

namespace {

constexpr size_t kReadChunkBytes = 1 << 20;

// Closes the descriptor (and so drops its lock) however the read ends.
struct FileHandle {
  int fd;
  ~FileHandle() {
    if (fd >= 0) ::close(fd);
  }
};

[[noreturn]] void ThrowOpenError(const std::string& path, int err) {
  throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(err));
}

int32_t LoadLe32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                              (uint32_t{p[3]} << 24));
}

}  // namespace

void CZELMeterObj::ReadDataLogFile(int group, const std::string& path) {
  if (group < 0 || group >= kGroupCount) return;
  const TDataLogSetup& setup = GroupSetups[static_cast<size_t>(group)];
  const int keys = setup.KeyNum;
  if (keys == 0) return;
  if (keys > kMaxKeys) {
    // A record has 64 value slots; such a setup cannot be the meter's.
    throw EDataLogError("Data log group " + std::to_string(group + 1) + " lists " +
                      std::to_string(keys) + " keys, more than the 64 a record can hold; \"" +
                      path + "\" is not read.");
  }

  FileHandle file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) ThrowOpenError(path, errno);
  // Nobody else may change the file while it is read.
  if (flock(file.fd, LOCK_EX | LOCK_NB) != 0) ThrowOpenError(path, errno);
  struct stat st {};
  if (fstat(file.fd, &st) != 0) ThrowOpenError(path, errno);
  if (!S_ISREG(st.st_mode)) ThrowOpenError(path, EISDIR);

  const size_t recordSize = 4 * static_cast<size_t>(keys) + 6;
  const size_t total = static_cast<size_t>(st.st_size) / recordSize;
  double divisor[kMaxKeys];
  bool noKey[kMaxKeys];
  for (int j = 0; j < keys; ++j) {
    divisor[j] = KeyDivisor(setup.keyArr[j]);
    noKey[j] = setup.keyArr[j] == 0;
  }

  const size_t before = LogRecords.Count();
  const size_t perChunk = std::max<size_t>(1, kReadChunkBytes / recordSize);
  std::vector<uint8_t> buf(perChunk * recordSize);
  size_t done = 0;
  while (done < total) {
    const size_t want = std::min(perChunk, total - done) * recordSize;
    size_t got = 0;
    while (got < want) {
      const ssize_t n = ::read(file.fd, buf.data() + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        LogRecords.Truncate(before);  // all of the file or nothing
        ThrowOpenError(path, errno);
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    const size_t records = got / recordSize;
    for (size_t r = 0; r < records; ++r) {
      const uint8_t* p = buf.data() + r * recordSize;
      TLogRecord* rec = LogRecords.Add();
      for (int j = 0; j < keys; ++j) {
        rec->Values[j] = noKey[j] ? static_cast<double>(NoValue)
                                  : static_cast<double>(LoadLe32(p + 4 * j)) / divisor[j];
      }
      for (int j = keys; j < kMaxKeys; ++j) rec->Values[j] = 0.0;
      const uint8_t* t = p + 4 * keys;
      rec->Stamp = TSystemTime{static_cast<uint16_t>(t[0] + 2000), t[1], 0, t[2], t[3], t[4], t[5], 0};
    }
    done += records;
    if (got < want) break;  // the file shrank while being read
  }
}
