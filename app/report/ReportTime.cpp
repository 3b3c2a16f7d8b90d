#include "app/report/ReportTime.h"

#include <cstdio>

#include "app/LogTable.h"

namespace {

constexpr int64_t kDay = 86400;
// 1899-12-30, the day count's origin, counted from 1970-01-01.
constexpr int64_t kOriginFromUnix = -25569;

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

TReportSeconds Seconds(int year, int month, int day, int h, int m, int s) {
  return (DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
          kOriginFromUnix) *
             kDay +
         h * 3600 + m * 60 + s;
}

bool Digits(const std::string& text, size_t at, size_t count, int& out) {
  if (at + count > text.size()) return false;
  out = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool StampSeconds(const TSystemTime& s, TReportSeconds& out) {
  TDateTime checked = 0;
  if (!RecordTime(s, checked)) return false;
  out = Seconds(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond);
  return true;
}

bool ParseReportTime(const std::string& text, TReportSeconds& out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) return false;
  if (!Digits(text, 0, 4, y) || text[4] != '-' || !Digits(text, 5, 2, mo) || text[7] != '-' ||
      !Digits(text, 8, 2, d))
    return false;
  if (text.size() > 10) {
    if (text[10] != ' ' || !Digits(text, 11, 2, h) || text[13] != ':' || !Digits(text, 14, 2, mi))
      return false;
    if (text.size() == 19 && (text[16] != ':' || !Digits(text, 17, 2, s))) return false;
  }
  if (!IsValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59) return false;
  out = Seconds(y, mo, d, h, mi, s);
  return true;
}

bool ParseReportPeriod(const std::string& text, TReportPeriod& out) {
  if (text == "day")
    out = TReportPeriod::Day;
  else if (text == "week")
    out = TReportPeriod::Week;
  else if (text == "month")
    out = TReportPeriod::Month;
  else if (text == "total")
    out = TReportPeriod::Total;
  else
    return false;
  return true;
}

std::string FormatReportTime(TReportSeconds t) {
  int y = 0, mo = 0, d = 0;
  CivilFromDays(FloorDiv(t, kDay) + kOriginFromUnix, y, mo, d);
  const int64_t sec = t - FloorDiv(t, kDay) * kDay;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d,
                static_cast<int>(sec / 3600), static_cast<int>(sec / 60 % 60),
                static_cast<int>(sec % 60));
  return buf;
}

std::string FormatReportDate(TReportSeconds t) { return FormatReportTime(t).substr(0, 10); }

TReportSeconds PeriodStart(TReportPeriod period, TReportSeconds t) {
  const int64_t days = FloorDiv(t, kDay);
  switch (period) {
    case TReportPeriod::Day:
      return days * kDay;
    case TReportPeriod::Week:
      // Day 2 of the count, 1900-01-01, was a Monday.
      return (days - ((days - 2) - FloorDiv(days - 2, 7) * 7)) * kDay;
    case TReportPeriod::Month: {
      int y = 0, mo = 0, d = 0;
      CivilFromDays(days + kOriginFromUnix, y, mo, d);
      return Seconds(y, mo, 1, 0, 0, 0);
    }
    case TReportPeriod::Total:
      break;
  }
  return kTotalPeriod;
}

TReportSeconds NextPeriodStart(TReportPeriod period, TReportSeconds start) {
  switch (period) {
    case TReportPeriod::Day:
      return start + kDay;
    case TReportPeriod::Week:
      return start + 7 * kDay;
    case TReportPeriod::Month: {
      int y = 0, mo = 0, d = 0;
      CivilFromDays(FloorDiv(start, kDay) + kOriginFromUnix, y, mo, d);
      return mo == 12 ? Seconds(y + 1, 1, 1, 0, 0, 0) : Seconds(y, mo + 1, 1, 0, 0, 0);
    }
    case TReportPeriod::Total:
      break;
  }
  return INT64_MAX;
}

std::string PeriodLabel(TReportSeconds start) {
  return start == kTotalPeriod ? std::string("total") : FormatReportDate(start);
}

bool TTimeRange::Holds(const TSystemTime& stamp) const {
  TReportSeconds t = 0;
  return StampSeconds(stamp, t) && Contains(t);
}
