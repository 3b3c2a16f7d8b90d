#pragma once
// Date-time values are doubles counting days since 1899-12-30 00:00; the
// fraction is the time of day.
#include <cstdint>
#include <stdexcept>

using TDateTime = double;

// Raised for a calendar date or time of day that does not exist.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TDateParts {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
  int DayOfWeek = 0;  // 1 = Sunday, as the meter's clock calendars count
};

bool IsValidDate(int year, int month, int day);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out);
// Throw EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int ms);
// Splits a value into its parts, the time rounded to the millisecond.
TDateParts DecodeDateTime(TDateTime value);
