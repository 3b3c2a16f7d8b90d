#pragma once
// The download's one updating terminal line, fitted to the terminal's width.
#include <cstddef>
#include <cstdint>
#include <string>

struct TProgressFields {
  int Group = 0;  // from 0
  size_t FilesDone = 0, Files = 0;
  int64_t BytesDone = 0, Bytes = 0;
  double Rate = 0;     // bytes per second; 0 while there is none worth showing
  std::string Detail;  // the other status text, least important
};

// "Group 01 [####....] 3/12 files, 1.2 MB of 4.5 MB, 2.1 MB/s, 00:00:03 left  DETAIL",
// at most columns - 1 characters (the last column would wrap on some
// terminals): the bar narrows, then the detail, the time left, the rate and
// the sizes go, in that order.
std::string FitProgressLine(const TProgressFields& f, int columns);

// text cut to at most columns - 1 characters (UTF-8 sequences kept whole).
std::string FitText(const std::string& text, int columns);
