#include "meter/MeterState.h"

std::array<TDataLogSetup, kGroupCount> GroupSetups{};
TPanelName PanelNames;
TLogRecordList LogRecords;

TLogRecord* TLogRecordList::Add() {
  if (usedInLast_ == kBlockRecords) {
    blocks_.emplace_back(new TLogRecord[kBlockRecords]);
    usedInLast_ = 0;
  }
  TLogRecord* r = &blocks_.back()[usedInLast_++];
  items_.push_back(r);
  return r;
}

void TLogRecordList::Truncate(size_t count) {
  // The dropped records' storage stays with the list until Clear.
  if (count < items_.size()) items_.resize(count);
}

void TLogRecordList::Clear() {
  items_.clear();
  blocks_.clear();
  usedInLast_ = kBlockRecords;
}
