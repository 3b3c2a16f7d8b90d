#include "meter/MeterState.h"

std::array<TDataLogSetup, kGroupCount> GroupSetups{};
TPanelName PanelNames;
TLogRecordList LogRecords;

TLogRecord* TLogRecordList::Add() {
  if (blocks_.empty() || used_ == kBlockRecords) {
    if (!blocks_.empty()) ++block_;
    if (block_ == blocks_.size()) blocks_.emplace_back(new TLogRecord[kBlockRecords]);
    used_ = 0;
  }
  TLogRecord* r = &blocks_[block_][used_++];
  items_.push_back(r);
  return r;
}

void TLogRecordList::Truncate(size_t count) {
  // The dropped records' storage stays with the list until Clear.
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
  std::vector<TLogRecord*>().swap(items_);
}
