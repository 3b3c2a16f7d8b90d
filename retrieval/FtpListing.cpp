#include "retrieval/FtpListing.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "meter/DateTimeUtil.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// Characters from..to (1-based, inclusive) of s, or fewer where s ends.
std::string Columns(const std::string& s, size_t from, size_t to) {
  if (s.size() < from) return "";
  return s.substr(from - 1, to - from + 1);
}

bool ToInt64(const std::string& s, int64_t& v) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && p == s.data() + s.size();
}

std::string WithoutCommas(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), ','), s.end());
  return s;
}

bool IsPermissionChar(char c) { return std::strchr("-RWX", c) != nullptr; }

struct Field {
  std::string text;
  size_t start;  // position in the line
};

std::vector<Field> SplitAtBlanks(const std::string& line) {
  std::vector<Field> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    fields.push_back({line.substr(i, j - i), i});
    i = j;
  }
  return fields;
}

int MonthOf(const std::string& name) {
  static const char* const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (int m = 0; m < 12; ++m)
    if (strcasecmp(name.c_str(), kMonths[m]) == 0) return m + 1;
  return 0;
}

}  // namespace

TFtpListFormat DetectListFormat(const std::string& first) {
  const std::string up = Upper(first);
  if (up.rfind("TOTAL", 0) == 0) return TFtpListFormat::flfUnix;
  if (up.size() >= 10 && (up[0] == '-' || up[0] == 'D' || up[0] == 'L')) {
    bool perms = true;
    for (size_t i = 1; i < 10; ++i) perms = perms && IsPermissionChar(up[i]);
    if (perms) return TFtpListFormat::flfUnix;
  }
  if (up.find("DSK:") != std::string::npos) return TFtpListFormat::flfUnix;
  if (first.size() >= 6 && (first[2] == '-' || first[2] == '/') &&
      (first[5] == '-' || first[5] == '/')) {
    const std::string dir = Trimmed(Columns(first, 25, 30));
    int64_t size = 0;
    if (dir == "<DIR>" ||
        (dir.empty() && ToInt64(WithoutCommas(Trimmed(Columns(first, 31, 38))), size)))
      return TFtpListFormat::flfDos;
  }
  return TFtpListFormat::flfUnknown;
}

bool ParseUnixLine(const std::string& line, const tm& now, TFtpListEntry& e) {
  const std::vector<Field> f = SplitAtBlanks(line);
  // perms links owner [group] size month day year-or-time name...
  int64_t number = 0;
  size_t size = 4;  // index of the size field
  if (f.size() >= 8 && !ToInt64(f.size() > 4 ? f[4].text : "", number) &&
      ToInt64(f[3].text, number))
    size = 3;  // a listing without the group column
  if (f.size() < size + 5) return false;
  e = TFtpListEntry{};
  const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(f[0].text[0])));
  e.ItemType = kind == 'D'   ? TFtpItemType::ditDirectory
               : kind == 'L' ? TFtpItemType::ditSymbolicLink
                             : TFtpItemType::ditFile;
  if (!ToInt64(f[size].text, e.Size)) e.Size = 0;

  const int month = MonthOf(f[size + 1].text);
  if (month == 0) return false;
  int64_t day = now.tm_mday, year = now.tm_year + 1900;
  if (!ToInt64(f[size + 2].text, day)) day = now.tm_mday;
  int hour = 0, minute = 0;
  const std::string& yt = f[size + 3].text;
  if (const size_t colon = yt.find(':'); colon != std::string::npos) {
    int64_t h = 0, m = 0;
    if (!ToInt64(yt.substr(0, colon), h) || !ToInt64(yt.substr(colon + 1), m)) return false;
    hour = static_cast<int>(h);
    minute = static_cast<int>(m);
    year = now.tm_year + 1900 - (month > now.tm_mon + 1 ? 1 : 0);
  } else if (!ToInt64(yt, year)) {
    year = now.tm_year + 1900;
  }
  TDateTime date = 0, time = 0;
  if (day < 1 || day > 31 || year < 1 || year > 9999 ||
      !TryEncodeDate(static_cast<int>(year), month, static_cast<int>(day), date) ||
      !TryEncodeTime(hour, minute, 0, 0, time))
    return false;
  e.ModifiedTime = date + time;

  // The name is the rest of the line from its first character: inner blanks
  // are part of it.
  e.Name = line.substr(f[size + 4].start);
  while (!e.Name.empty() && (e.Name.back() == ' ' || e.Name.back() == '\t')) e.Name.pop_back();
  if (e.ItemType == TFtpItemType::ditSymbolicLink) {
    if (const size_t arrow = e.Name.find(" -> "); arrow != std::string::npos) {
      e.LinkTarget = e.Name.substr(arrow + 4);
      e.Name.resize(arrow);
    }
  }
  return !e.Name.empty();
}

bool ParseDosLine(const std::string& line, TFtpListEntry& e) {
  if (line.size() < 8) return false;
  e = TFtpListEntry{};
  const std::vector<Field> f = SplitAtBlanks(line.substr(8));
  if (f.size() < 3) return false;
  // Month, day, year from characters 1-2, 4-5, 7-8; then the time.
  int64_t mo = 0, d = 0, y = 0;
  if (ToInt64(Columns(line, 1, 2), mo) && ToInt64(Columns(line, 4, 5), d) &&
      ToInt64(Columns(line, 7, 8), y)) {
    const int year = static_cast<int>(y < 70 ? 2000 + y : (y < 100 ? 1900 + y : y));
    TDateTime date = 0;
    if (TryEncodeDate(year, static_cast<int>(mo), static_cast<int>(d), date)) {
      int h = 0, m = 0;
      char ampm[3] = {};
      const int got = std::sscanf(f[0].text.c_str(), "%d:%d%2s", &h, &m, ampm);
      if (got >= 2) {
        if ((ampm[0] == 'P' || ampm[0] == 'p') && h < 12) h += 12;
        if ((ampm[0] == 'A' || ampm[0] == 'a') && h == 12) h = 0;
        TDateTime time = 0;
        if (TryEncodeTime(h, m, 0, 0, time)) e.ModifiedTime = date + time;
      }
    }
  }
  const std::string sizeText = WithoutCommas(f[1].text);
  if (Upper(sizeText) == "<DIR>") {
    e.ItemType = TFtpItemType::ditDirectory;
  } else {
    e.ItemType = TFtpItemType::ditFile;
    if (!ToInt64(sizeText, e.Size)) e.Size = 0;
  }
  e.Name = Trimmed(line.substr(8 + f[2].start));
  return !e.Name.empty();
}

std::vector<TFtpListEntry> ParseListing(const std::vector<std::string>& lines, const tm& now) {
  std::vector<TFtpListEntry> entries;
  if (lines.empty()) return entries;
  const TFtpListFormat format = DetectListFormat(lines[0]);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (i == 0 && format == TFtpListFormat::flfUnix && Upper(line).rfind("TOTAL", 0) == 0) continue;
    TFtpListEntry e;
    const bool ok = format == TFtpListFormat::flfUnix  ? ParseUnixLine(line, now, e)
                    : format == TFtpListFormat::flfDos ? ParseDosLine(line, e)
                                                       : false;
    if (ok) {
      entries.push_back(std::move(e));
    } else {
      entries.clear();
    }
  }
  return entries;
}
