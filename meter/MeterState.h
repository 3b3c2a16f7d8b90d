#pragma once
// The meter model's state that outlives sessions, so that a folder saved
// earlier can be read with no meter attached.
#include <array>
#include <cstdint>
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

struct TLogRecord {
  TSystemTime Stamp;
  double Values[kMaxKeys];  // value j belongs to entry j of the group's keyArr
};

// The value of a slot whose key id is 0.
constexpr int32_t NoValue = INT32_MIN;

// The list of records. It owns them; they live in large blocks rather than
// one allocation each, and the list itself is a vector of pointers, so that
// reordering moves pointers only.
class TLogRecordList {
 public:
  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  TLogRecord* operator[](size_t i) const { return items_[i]; }
  // A new record at the end; its contents are for the caller to fill.
  TLogRecord* Add();
  // Drops the records from position count on.
  void Truncate(size_t count);
  // Empties the list. The storage blocks are kept for the next records
  // (the window reloads groups often); Release gives them back.
  void Clear();
  void Release();
  std::vector<TLogRecord*>& Items() { return items_; }
  const std::vector<TLogRecord*>& Items() const { return items_; }

 private:
  static constexpr size_t kBlockRecords = 4096;
  std::vector<std::unique_ptr<TLogRecord[]>> blocks_;
  size_t block_ = 0;  // the block being filled
  size_t used_ = 0;   // records used in it
  std::vector<TLogRecord*> items_;
};

extern std::array<TDataLogSetup, kGroupCount> GroupSetups;
extern TPanelName PanelNames;
extern TLogRecordList LogRecords;
