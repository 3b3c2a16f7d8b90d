#pragma once
// The meter model's state that outlives sessions, so that a folder saved
// earlier can be read with no meter attached.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

constexpr int kGroupCount = 10;
constexpr int kMaxKeys = 64;
constexpr int kBranchCount = 84;

struct TDataLogSetup {
  uint16_t TriggerType = 0;
  uint16_t recordType = 0;
  uint16_t RecordNum = 0;
  uint32_t TimeInterval = 0;
  uint16_t TimeOffset = 0;
  uint16_t KeyNum = 0;  // 0 to 64; 0 means the group logs nothing
  uint16_t keyArr[kMaxKeys] = {};
};

struct TPanelName {
  std::string DeviceName;
  std::string MainsIName;
  std::string MainsIIName;
  std::array<std::string, kBranchCount> BranchName;  // branch 1 first
};

// The order of the Windows SYSTEMTIME structure.
struct TSystemTime {
  uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

static_assert(sizeof(TSystemTime) == 2 * sizeof(double), "a stamp fills two value slots");

// The value of a slot whose key id is 0.
constexpr int32_t NoValue = INT32_MIN;

// One record as the table reads it: a view into a TLogRecordList. Value j
// belongs to entry j of the group's keyArr; the list holds as many values as
// the group logs, and the values from there up to the 64 a record can have
// read 0.0.
class TLogRecord {
 public:
  TLogRecord(const double* start, int keys) : start_(start), keys_(keys) {}
  TSystemTime Stamp() const {
    TSystemTime s;
    std::memcpy(&s, start_, sizeof s);
    return s;
  }
  double Value(int j) const { return j >= 0 && j < keys_ ? start_[kStampSlots + j] : 0.0; }

  static constexpr int kStampSlots = 2;

 private:
  const double* start_;
  int keys_;
};

// The records of one group. Each takes the stamp and as many doubles as the
// list's key count, so that a group logging one key costs a few dozen bytes
// a record, not the 64 values a record can have. They live in large blocks
// that never move; the list's order is a vector of handles (where a record
// starts), so that reordering moves handles only.
class TLogRecordList {
 public:
  using Handle = const double*;

  TLogRecordList() = default;
  TLogRecordList(const TLogRecordList&) = delete;
  TLogRecordList& operator=(const TLogRecordList&) = delete;

  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  TLogRecord operator[](size_t i) const { return {items_[i], keys_}; }
  TLogRecord View(Handle h) const { return {h, keys_}; }
  // Values each record holds.
  int KeyCount() const { return keys_; }
  // An empty list takes keys as its key count; a list with records grows to
  // it (moving them; their handles change) and never shrinks.
  void SetKeyCount(int keys);
  // Room for more records beyond Count(), so that Add takes no memory until
  // they are added. Throws std::bad_alloc.
  void Reserve(size_t more);
  // A new record at the end with stamp and every value 0.0; returns its
  // KeyCount() values for the caller to fill.
  double* Add(const TSystemTime& stamp);
  // Add for a caller that writes all KeyCount() values itself.
  double* AddUnfilled(const TSystemTime& stamp);
  // Drops the records from position count on. Their storage stays with the
  // list until Clear.
  void Truncate(size_t count);
  // Empties the list. The storage blocks are kept for the next records
  // (the window reloads groups often); Release gives them back.
  void Clear();
  void Release();
  std::vector<Handle>& Items() { return items_; }
  const std::vector<Handle>& Items() const { return items_; }
  // Memory the list holds, its kept blocks included.
  size_t CapacityBytes() const;
  // Memory one record of keys values takes, its handle included.
  static size_t RecordBytes(int keys);

 private:
  static constexpr size_t kBlockSlots = 128 * 1024;  // 1 MiB
  size_t PerBlock() const {
    return kBlockSlots / static_cast<size_t>(TLogRecord::kStampSlots + keys_);
  }

  std::vector<std::unique_ptr<double[]>> blocks_;
  size_t block_ = 0;  // the block being filled
  size_t used_ = 0;   // records in it
  int keys_ = 0;
  std::vector<Handle> items_;
};

extern std::array<TDataLogSetup, kGroupCount> GroupSetups;
extern TPanelName PanelNames;
extern TLogRecordList LogRecords;
