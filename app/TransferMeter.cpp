#include "app/TransferMeter.h"

#include <cmath>
#include <cstdio>

#include "meter/DisplayFormat.h"

std::string ClockText(uint32_t s) {
  char text[48];
  std::snprintf(text, sizeof text, "%.2u:%.2u:%.2u", s / 3600, (s / 60) % 60, s % 60);
  return text;
}

void CTransferMeter::Begin(int32_t maximum, int32_t expectedSize, double nowSeconds) {
  start_ = nowSeconds;
  maximum_ = maximum > 0 ? maximum : expectedSize;
  speed_ = 0;
}

std::string CTransferMeter::Work(int32_t count, double nowSeconds, bool download) {
  // The elapsed time's clock part, whole seconds held in 16 bits as the
  // original counts them.
  double elapsed = nowSeconds - start_;
  if (elapsed < 0) elapsed = 0;
  const auto ms = static_cast<int64_t>(std::floor(elapsed * 1000)) % (86400 * 1000);
  const auto e = static_cast<uint16_t>(ms / 1000);
  const double t = e + (ms % 1000) / 1000.0;
  if (t > 0) speed_ = count / 1024.0 / t;
  std::string remaining;
  if (speed_ > 0) {
    const auto r = static_cast<uint16_t>(
        static_cast<int64_t>((maximum_ - static_cast<double>(count)) / 1024.0 / speed_));
    remaining = "Time remaining " + ClockText(r);
  }
  std::string done = "--";
  if (maximum_ > 0) {
    char text[64];
    std::snprintf(text, sizeof text, "Finished %.2f", static_cast<double>(count) / maximum_ * 100);
    done = std::string(text) + "%";
  }
  char speed[64];
  std::snprintf(speed, sizeof speed, "%.2f KB/s", speed_);
  std::string speedText = speed;
  const char sep = FormatSettings().DecimalSeparator;
  for (char& c : speedText)
    if (c == '.') c = sep;
  return (download ? "DowndLoad Speed " : "Upload Speed ") + speedText + "; " + remaining + "; " +
         done;
}

void CTransferMeter::End() {
  maximum_ = 0;
  speed_ = 0;
}
