#include "cli/ProgressLine.h"

#include <cstdio>
#include <vector>

#include "app/LogDownload.h"
#include "app/TransferMeter.h"

namespace {

constexpr int kWideBar = 24, kNarrowBar = 10;

// Columns a UTF-8 text takes: one per character.
size_t Columns(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

}  // namespace

std::string FitText(const std::string& text, int columns) {
  const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  size_t n = 0, at = 0;
  for (; at < text.size(); ++at) {
    const bool starts = (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
    if (starts && n++ == room) break;
  }
  return text.substr(0, at);
}

std::string FitProgressLine(const TProgressFields& f, int columns) {
  const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  char head[32];
  std::snprintf(head, sizeof head, "Group %.2d", f.Group + 1);
  const std::string count = std::to_string(f.FilesDone) + "/" + std::to_string(f.Files) + " files";
  // The optional fields, most important first; the last ones go first.
  std::vector<std::string> optional = {", " + ByteSize(f.BytesDone) + " of " + ByteSize(f.Bytes)};
  if (f.Rate > 0) {
    const double left = static_cast<double>(f.Bytes - f.BytesDone) / f.Rate;
    optional.push_back(", " + ByteSize(static_cast<int64_t>(f.Rate)) + "/s");
    optional.push_back(", " + ClockText(left > 0 ? static_cast<uint32_t>(left) : 0) + " left");
  }
  if (!f.Detail.empty()) optional.push_back("  " + f.Detail);
  const double part =
      f.Bytes > 0 ? static_cast<double>(f.BytesDone) / static_cast<double>(f.Bytes) : 1.0;
  auto bar = [&](int width) {
    const int filled = static_cast<int>(part * width);
    return " [" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '.') + "]";
  };
  for (size_t kept = optional.size() + 1; kept-- > 0;) {
    std::string tail;
    for (size_t i = 0; i < kept; ++i) tail += optional[i];
    // A narrower bar costs less than a field.
    for (int width = kWideBar; width >= kNarrowBar; --width) {
      const std::string line = head + bar(width) + " " + count + tail;
      if (Columns(line) <= room) return line;
    }
  }
  return FitText(std::string(head) + " " + count, columns);
}
