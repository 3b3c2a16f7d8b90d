#include "meter/MeterState.h"

#include <algorithm>

std::array<TDataLogSetup, kGroupCount> GroupSetups{};
TPanelName PanelNames;
TLogRecordList LogRecords;

void TLogRecordList::SetKeyCount(int keys) {
  keys = std::clamp(keys, 0, kMaxKeys);
  if (items_.empty()) {
    // The blocks are of one size whatever the key count: all of them serve.
    keys_ = keys;
    block_ = 0;
    used_ = 0;
    return;
  }
  if (keys <= keys_) return;
  TLogRecordList wider;
  wider.keys_ = keys;
  wider.Reserve(items_.size());
  for (Handle h : items_) {
    double* values = wider.Add(View(h).Stamp());
    std::copy(h + TLogRecord::kStampSlots, h + TLogRecord::kStampSlots + keys_, values);
  }
  blocks_.swap(wider.blocks_);
  items_.swap(wider.items_);
  block_ = wider.block_;
  used_ = wider.used_;
  keys_ = keys;
}

void TLogRecordList::Reserve(size_t more) {
  const size_t per = PerBlock();
  size_t room = blocks_.empty() ? 0 : (blocks_.size() - block_) * per - used_;
  while (room < more) {
    blocks_.emplace_back(new double[kBlockSlots]);
    room += per;
  }
  const size_t need = items_.size() + more;
  // Doubling, so that many files of one group cost no quadratic copying.
  if (need > items_.capacity()) items_.reserve(std::max(need, 2 * items_.capacity()));
}

double* TLogRecordList::Add(const TSystemTime& stamp) {
  double* values = AddUnfilled(stamp);
  std::fill(values, values + keys_, 0.0);
  return values;
}

double* TLogRecordList::AddUnfilled(const TSystemTime& stamp) {
  if (blocks_.empty() || used_ == PerBlock()) {
    if (!blocks_.empty()) ++block_;
    if (block_ == blocks_.size()) blocks_.emplace_back(new double[kBlockSlots]);
    used_ = 0;
  }
  double* start =
      blocks_[block_].get() + used_ * static_cast<size_t>(TLogRecord::kStampSlots + keys_);
  ++used_;
  std::memcpy(start, &stamp, sizeof stamp);
  items_.push_back(start);
  return start + TLogRecord::kStampSlots;
}

void TLogRecordList::Truncate(size_t count) {
  if (count < items_.size()) items_.resize(count);
}

void TLogRecordList::Clear() {
  items_.clear();
  block_ = 0;
  used_ = 0;
}

void TLogRecordList::Release() {
  Clear();
  blocks_.clear();
  std::vector<Handle>().swap(items_);
}

size_t TLogRecordList::CapacityBytes() const {
  return blocks_.size() * kBlockSlots * sizeof(double) + items_.capacity() * sizeof(Handle);
}

size_t TLogRecordList::RecordBytes(int keys) {
  return static_cast<size_t>(TLogRecord::kStampSlots + keys) * sizeof(double) + sizeof(Handle);
}
