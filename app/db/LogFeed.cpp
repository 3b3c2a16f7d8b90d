#include "app/db/LogFeed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "app/GroupFiles.h"
#include "app/LogTable.h"
#include "meter/KeyCatalogue.h"
#include "meter/ZelDef.h"

namespace {

// A file's bytes as the database compares them: the CRC-32 of the first
// prefix bytes (those loaded before) and of them all.
struct TFileBytes {
  uint64_t Size = 0;
  uint32_t PrefixCrc = 0;
  uint32_t Crc = 0;
};

TFileBytes ReadFileBytes(const std::string& path, uint64_t prefix) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  TFileBytes b;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::vector<unsigned char> buf(256 * 1024);
  for (;;) {
    if (b.Size == prefix) b.PrefixCrc = static_cast<uint32_t>(crc);
    size_t want = buf.size();
    // Stop at the prefix once, so that its CRC is taken exactly there.
    if (b.Size < prefix) want = static_cast<size_t>(std::min<uint64_t>(want, prefix - b.Size));
    const ssize_t n = ::read(fd, buf.data(), want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      throw EFOpenError("Cannot read file \"" + path + "\". " + std::strerror(err));
    }
    if (n == 0) break;
    crc = crc32(crc, buf.data(), static_cast<uInt>(n));
    b.Size += static_cast<uint64_t>(n);
  }
  ::close(fd);
  b.Crc = static_cast<uint32_t>(crc);
  return b;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t MtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// The group's key generation in the database: the latest one when it logs
// the keys of the setup, else a new one.
int64_t GroupGeneration(CLogDatabase& db, int64_t device, int group, const TDataLogSetup& setup) {
  const std::vector<int> keys(setup.keyArr, setup.keyArr + setup.KeyNum);
  return InTransaction(db, [&] {
    db.LockDevice(device);
    int64_t id = 0;
    std::vector<int> latest;
    if (db.LatestGeneration(device, group + 1, id, latest) && latest == keys) return id;
    std::vector<std::string> captions;
    for (int k : keys) captions.push_back(GetKeyName(k));
    return db.AddGeneration(device, group + 1, keys, captions);
  });
}

// Files go in whole with their entries, many to a transaction: a commit
// costs the index pages it touched, so one per file would cost more than the
// rows. A kill still leaves the database at a file boundary.
class CBatch {
 public:
  CBatch(CLogDatabase& db, int64_t device) : db_(db), device_(device) {}
  ~CBatch() {
    if (open_) db_.Rollback();
  }
  CBatch(const CBatch&) = delete;
  CBatch& operator=(const CBatch&) = delete;

  void Open() {
    if (open_) return;
    db_.Begin();
    open_ = true;
    db_.LockDevice(device_);
  }
  void Commit() {
    if (!open_) return;
    open_ = false;
    db_.Commit();
    values_ = 0;
  }
  void Added(size_t values) {
    values_ += values + 1;
    if (values_ >= kValuesPerCommit) Commit();
  }

 private:
  static constexpr size_t kValuesPerCommit = 250000;
  CLogDatabase& db_;
  int64_t device_;
  bool open_ = false;
  size_t values_ = 0;
};

class CGroupFeed {
 public:
  CGroupFeed(CLogDatabase& db, CBatch& batch, int group, int64_t device, int64_t generation,
             TFeedResult& result)
      : db_(db),
        batch_(batch),
        device_(device),
        group_(group),
        generation_(generation),
        result_(result),
        setup_(GroupSetups[static_cast<size_t>(group)]) {}

  void Feed(const std::string& path, const std::string& name, const struct stat& st) {
    batch_.Open();
    // Confirmed under the lock: another feed may have loaded it meanwhile.
    std::optional<TLoadedFile> known = db_.LoadedFile(generation_, name);
    if (known && known->Size == static_cast<uint64_t>(st.st_size) &&
        known->MtimeNs == MtimeNs(st)) {
      ++result_.Unchanged;
      return;
    }
    records_.Clear();
    CZELMeterObj::ReadDataLogFile(group_, path, records_);
    const TFileBytes bytes = ReadFileBytes(path, known ? known->Size : 0);
    const uint64_t recordSize = 4 * static_cast<uint64_t>(setup_.KeyNum) + 6;
    if (bytes.Size / recordSize != records_.Count())
      throw EFOpenError("The file \"" + path + "\" changed while it was read.");

    TLoadedFile entry = known.value_or(TLoadedFile{});
    size_t from = 0;
    const bool grown = known && bytes.Size >= known->Size && bytes.PrefixCrc == known->Crc;
    if (grown) {
      from = static_cast<size_t>(known->Records);
    } else if (known) {
      // Rewritten: the rows of before are not this file's any more.
      db_.DeleteFileValues(known->Id);
      entry.Values = entry.Untimed = 0;
    }
    const bool changed = !known || from < records_.Count() || !grown;
    // The entry first, complete: its id goes into every row.
    size_t values = 0, untimed = 0;
    Count(from, values, untimed);
    entry.Values += values;
    entry.Untimed += untimed;
    entry.Size = bytes.Size;
    entry.Records = records_.Count();
    entry.Crc = bytes.Crc;
    entry.MtimeNs = MtimeNs(st);
    entry.Id = db_.SaveLoadedFile(generation_, name, entry);
    Insert(from, entry.Id);
    result_.Values += values;
    result_.Untimed += untimed;
    ++(changed ? result_.Files : result_.Unchanged);
    batch_.Added(values);
  }

 private:
  // What the table shows as "--" holds no measurement, and a record of no
  // real time has no place on a time axis: neither is stored.
  bool Stored(int slot, double v) const {
    return setup_.keyArr[slot] != 0 && v != static_cast<double>(NoValue);
  }
  static bool Timed(const TSystemTime& s) {
    TDateTime t = 0;
    return RecordTime(s, t);
  }

  void Count(size_t from, size_t& values, size_t& untimed) const {
    for (size_t r = from; r < records_.Count(); ++r) {
      const TLogRecord record = records_[r];
      if (!Timed(record.Stamp())) {
        ++untimed;
        continue;
      }
      for (int j = 0; j < setup_.KeyNum; ++j) values += Stored(j, record.Value(j)) ? 1 : 0;
    }
  }

  // The values of the records from on, as rows of the file.
  void Insert(size_t from, int64_t file) {
    if (from >= records_.Count()) return;
    char time[48];  // room for any uint16_t fields
    db_.BeginValues();
    for (size_t r = from; r < records_.Count(); ++r) {
      const TLogRecord record = records_[r];
      const TSystemTime s = record.Stamp();
      if (!Timed(s)) continue;
      std::snprintf(time, sizeof time, "%04u-%02u-%02u %02u:%02u:%02u", s.wYear, s.wMonth, s.wDay,
                    s.wHour, s.wMinute, s.wSecond);
      const int64_t seconds = DaysFromCivil(s.wYear, s.wMonth, s.wDay) * 86400 + s.wHour * 3600 +
                              s.wMinute * 60 + s.wSecond;
      TValueRow row{device_, group_ + 1, time, seconds, 0, 0.0, file};
      for (int j = 0; j < setup_.KeyNum; ++j) {
        const double v = record.Value(j);
        if (!Stored(j, v)) continue;
        row.KeyId = setup_.keyArr[j];
        row.Value = v;
        db_.AddValue(row);
      }
    }
    db_.EndValues();
  }

  CLogDatabase& db_;
  CBatch& batch_;
  int64_t device_;
  int group_;
  int64_t generation_;
  TFeedResult& result_;
  const TDataLogSetup& setup_;
  TLogRecordList records_;
};

}  // namespace

TFeedResult FeedDeviceFolder(CLogDatabase& db, const std::string& dataLogFolder,
                             const std::string& device, const std::optional<std::string>& host,
                             int port, const PumpHook& pump) {
  TFeedResult result;
  db.EnsureSchema();
  const int64_t deviceId = db.Device(device, host, port);
  for (int g = 0; g < kGroupCount; ++g) {
    const TDataLogSetup& setup = GroupSetups[static_cast<size_t>(g)];
    if (setup.KeyNum == 0 || setup.KeyNum > kMaxKeys) continue;  // nothing the reader can read
    const std::string folder = dataLogFolder + "Group" + std::to_string(g + 1) + "/";
    std::vector<std::string> files;
    FindFiles(folder, ".dat", files, pump);
    if (files.empty()) continue;
    const int64_t generation = GroupGeneration(db, deviceId, g, setup);
    std::unordered_map<std::string, TLoadedFile> known;
    for (auto& [name, entry] : db.LoadedFiles(generation)) known.emplace(name, entry);
    CBatch batch(db, deviceId);
    CGroupFeed feed(db, batch, g, deviceId, generation, result);
    for (const std::string& path : files) {
      if (pump && pump()) {
        batch.Commit();
        result.Stopped = true;
        return result;
      }
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      const std::string name = path.substr(folder.size());
      // The common case of a re-feed, without a transaction or a read.
      const auto it = known.find(name);
      if (it != known.end() && it->second.Size == static_cast<uint64_t>(st.st_size) &&
          it->second.MtimeNs == MtimeNs(st)) {
        ++result.Unchanged;
        continue;
      }
      feed.Feed(path, name, st);
    }
    batch.Commit();
  }
  return result;
}

std::string FeedSummary(const TFeedResult& r) {
  return "Database\t" + std::to_string(r.Files) + " files loaded\t" + std::to_string(r.Unchanged) +
         " unchanged\t" + std::to_string(r.Values) + " values\t" + std::to_string(r.Untimed) +
         " records without a valid time";
}
