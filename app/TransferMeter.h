#pragma once
// The progress line of one file transfer: speed, time remaining and the part
// done, as the status bar shows it ("DowndLoad Speed 512.00 KB/s; Time
// remaining 00:00:03; Finished 50.00%").
#include <cstdint>
#include <string>

class CTransferMeter {
 public:
  // A transfer begins: maximum from the transfer, else the listing's size.
  void Begin(int32_t maximum, int32_t expectedSize, double nowSeconds);
  // The line for count bytes so far at nowSeconds; download or upload.
  std::string Work(int32_t count, double nowSeconds, bool download = true);
  void End();

  int32_t Maximum() const { return maximum_; }
  double Speed() const { return speed_; }  // KB/s

 private:
  int32_t maximum_ = 0;
  double start_ = 0;
  double speed_ = 0;
};

// "%.2d:%.2d:%.2d" of whole seconds.
std::string ClockText(uint32_t seconds);
