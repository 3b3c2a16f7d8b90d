#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>

#include "meter/ZelDef.h"

namespace {

constexpr size_t kChunkBytes = 256 * 1024;

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

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the .dat reader assumes a little-endian host");

// Raw values converted and divided in one pass over a record; the compiler
// vectorises it (an AVX2 copy is picked at run time where the CPU has it).
// Division, not multiplication by a reciprocal: the results must be exact.
__attribute__((target_clones("avx2", "default"))) void ScaleValues(const uint8_t* p, int keys,
                                                                   const double* divisor,
                                                                   double* out) {
  int32_t raw[kMaxKeys];
  std::memcpy(raw, p, 4 * static_cast<size_t>(keys));  // the files are little-endian, as we are
  for (int j = 0; j < keys; ++j) out[j] = static_cast<double>(raw[j]) / divisor[j];
}

void DecodeRecord(TLogRecordList& into, const uint8_t* p, int keys, const double* divisor,
                  const int* noKeys, int noKeyCount) {
  const uint8_t* t = p + 4 * keys;
  double* values = into.AddUnfilled(
      TSystemTime{static_cast<uint16_t>(t[0] + 2000), t[1], 0, t[2], t[3], t[4], t[5], 0});
  ScaleValues(p, keys, divisor, values);
  // A list that holds more keys (an earlier file's) has them 0.0 here.
  std::fill(values + keys, values + into.KeyCount(), 0.0);
  for (int k = 0; k < noKeyCount; ++k) values[noKeys[k]] = static_cast<double>(NoValue);
}

[[noreturn]] void ThrowNoMemory(const std::string& path, size_t records, int keys) {
  const double mb =
      static_cast<double>(records) * static_cast<double>(TLogRecordList::RecordBytes(keys)) / 1e6;
  char need[32];
  std::snprintf(need, sizeof need, "%.0f", mb < 1 ? 1 : mb);
  throw EDataLogError("Not enough memory to read \"" + path + "\": its " + std::to_string(records) +
                      " records need about " + need + " MB.");
}

// Below this, a file's records fit on any machine we run on: the memory
// check, a system call, is spared for the many small day files.
constexpr double kAlwaysFitsBytes = 64.0 * 1024 * 1024;

double MachineMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 1e300;
  return (static_cast<double>(info.totalram) + static_cast<double>(info.totalswap)) * info.mem_unit;
}

// The keys a record of group holds; 0 when the group logs nothing (and so
// nothing is read). name is what a message calls the file.
int GroupKeys(int group, const std::string& name) {
  if (group < 0 || group >= kGroupCount) return 0;
  const int keys = GroupSetups[static_cast<size_t>(group)].KeyNum;
  if (keys > kMaxKeys) {
    // A record has 64 value slots; such a setup cannot be the meter's.
    throw EDataLogError("Data log group " + std::to_string(group + 1) + " lists " +
                        std::to_string(keys) + " keys, more than the 64 a record can hold; \"" +
                        name + "\" is not read.");
  }
  return keys;
}

// Where the bytes of one .dat file come from, in order.
class CDatBytes {
 public:
  virtual ~CDatBytes() = default;
  // Bytes the file has: its records are those that fit whole.
  virtual size_t Size() const = 0;
  // Whether Next needs room to copy into (a file read does; bytes in memory
  // are handed out where they are).
  virtual bool Copies() const = 0;
  // Up to want of the next bytes, in scratch when the source copies; fewer
  // only where the bytes end early (a file cut short meanwhile).
  virtual std::span<const uint8_t> Next(uint8_t* scratch, size_t want) = 0;
};

class CMemoryBytes final : public CDatBytes {
 public:
  explicit CMemoryBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t Size() const override { return bytes_.size(); }
  bool Copies() const override { return false; }
  std::span<const uint8_t> Next(uint8_t*, size_t want) override {
    const std::span<const uint8_t> out = bytes_.first(std::min(want, bytes_.size()));
    bytes_ = bytes_.subspan(out.size());
    return out;
  }

 private:
  std::span<const uint8_t> bytes_;
};

class CFileBytes final : public CDatBytes {
 public:
  CFileBytes(int fd, size_t size, const std::string& path) : fd_(fd), size_(size), path_(path) {}
  size_t Size() const override { return size_; }
  bool Copies() const override { return true; }
  std::span<const uint8_t> Next(uint8_t* scratch, size_t want) override {
    size_t got = 0;
    while (got < want) {
      const ssize_t n = ::read(fd_, scratch + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ThrowOpenError(path_, errno);
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    return {scratch, got};
  }

 private:
  int fd_;
  size_t size_;
  const std::string& path_;
};

// Appends the whole records of bytes to into: all of them or, on an error,
// none.
void ReadRecords(const TDataLogSetup& setup, int keys, CDatBytes& bytes, const std::string& name,
                 TLogRecordList& into) {
  static_assert(4 * kMaxKeys + 6 <= kChunkBytes, "a chunk holds at least one record");
  const size_t recordSize = 4 * static_cast<size_t>(keys) + 6;
  const size_t total = bytes.Size() / recordSize;
  double divisor[kMaxKeys];
  int noKeys[kMaxKeys];  // slots whose key id is 0
  int noKeyCount = 0;
  for (int j = 0; j < keys; ++j) {
    divisor[j] = KeyDivisor(setup.keyArr[j]);
    if (setup.keyArr[j] == 0) noKeys[noKeyCount++] = j;
  }

  if (total == 0) return;
  const size_t before = into.Count();
  const size_t perChunk = std::max<size_t>(1, kChunkBytes / recordSize);
  // All the memory the records take, before the first is decoded: a file too
  // big for the memory left gives a message naming it, and the list stays as
  // it was. (Beyond the machine's memory and swap, the allocations could
  // succeed on credit and the kernel would end the process later.)
  const double need =
      static_cast<double>(total) * static_cast<double>(TLogRecordList::RecordBytes(keys));
  if (need > kAlwaysFitsBytes && need > MachineMemory()) ThrowNoMemory(name, total, keys);
  // One chunk's room per thread, kept from file to file: a folder of day
  // files would otherwise allocate and clear it for each.
  static thread_local std::unique_ptr<uint8_t[]> scratch;
  try {
    into.SetKeyCount(keys);
    into.Reserve(total);
    if (bytes.Copies() && !scratch) scratch.reset(new uint8_t[kChunkBytes]);
  } catch (const std::bad_alloc&) {
    ThrowNoMemory(name, total, keys);
  } catch (const std::length_error&) {
    ThrowNoMemory(name, total, keys);
  }
  // Whole records in chunks small enough to stay in the cache while they are
  // decoded. (A mapping would be no faster to decode, but a file cut short by
  // another program meanwhile would kill us with SIGBUS.)
  size_t done = 0;
  while (done < total) {
    const size_t want = std::min(perChunk, total - done) * recordSize;
    std::span<const uint8_t> chunk;
    try {
      chunk = bytes.Next(scratch.get(), want);
    } catch (...) {
      into.Truncate(before);  // all of the file or nothing
      throw;
    }
    const size_t records = chunk.size() / recordSize;
    for (size_t r = 0; r < records; ++r)
      DecodeRecord(into, chunk.data() + r * recordSize, keys, divisor, noKeys, noKeyCount);
    done += records;
    if (chunk.size() < want) break;  // the file shrank while being read
  }
}

}  // namespace

void CZELMeterObj::ReadDataLogFile(int group, const std::string& path) {
  ReadDataLogFile(group, path, LogRecords);
}

void CZELMeterObj::ReadDataLogFile(int group, const std::string& path, TLogRecordList& into) {
  const int keys = GroupKeys(group, path);
  if (keys == 0) return;

  // Non-blocking, so that a FIFO in the file's place cannot hang the open.
  FileHandle file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) ThrowOpenError(path, errno);
  // Nobody else may change the file while it is read.
  if (flock(file.fd, LOCK_EX | LOCK_NB) != 0) ThrowOpenError(path, errno);
  struct stat st {};
  if (fstat(file.fd, &st) != 0) ThrowOpenError(path, errno);
  if (!S_ISREG(st.st_mode)) return;  // not a log file: a FIFO, a device, a folder

  CFileBytes bytes(file.fd, static_cast<size_t>(st.st_size), path);
  ReadRecords(GroupSetups[static_cast<size_t>(group)], keys, bytes, path, into);
}

void CZELMeterObj::ReadDataLogBytes(int group, std::span<const uint8_t> bytes,
                                    const std::string& name, TLogRecordList& into) {
  const int keys = GroupKeys(group, name);
  if (keys == 0) return;
  CMemoryBytes source(bytes);
  ReadRecords(GroupSetups[static_cast<size_t>(group)], keys, source, name, into);
}
