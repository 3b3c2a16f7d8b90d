#pragma once
// The user's regional date and time formats, and the one display form of
// date-time values used everywhere in the program.
//
// Patterns use these tokens: yyyy yy MM M dd d HH H hh h mm m ss s zzz tt
// (tt is AM/PM); text in single quotes is literal, as is any other character.
#include <string>

#include "meter/DateTimeUtil.h"

struct TFormatSettings {
  std::string ShortDateFormat = "yyyy-MM-dd";
  std::string LongTimeFormat = "HH:mm:ss";
  char DecimalSeparator = '.';
};

// Formats from LC_ALL / LC_TIME / LC_NUMERIC / LANG; the C and POSIX locales
// (and any locale that cannot be loaded) give the defaults above.
TFormatSettings LoadFormatSettings();
// The settings in use; read from the environment on first use.
const TFormatSettings& FormatSettings();
// Replaces the settings in use (the window's options and tests).
void SetFormatSettings(const TFormatSettings& settings);

// Converts an strftime pattern (nl_langinfo D_FMT, T_FMT) into a pattern above.
std::string PatternFromStrftime(const std::string& fmt);

std::string FormatDateTimePattern(const std::string& pattern, TDateTime value);

// Date in the short date format, a blank, the time in the long time format;
// with milliseconds the first "ss" of the time pattern becomes "ss.zzz".
std::string DateTimeToDisplayStr(bool withMilliseconds, TDateTime value);
std::string DateToDisplayStr(TDateTime value);
