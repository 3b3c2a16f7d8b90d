#include "meter/DisplayFormat.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

// The locale name that setlocale(category, "") would use.
std::string EnvLocaleName(const char* categoryVar) {
  for (const char* var : {"LC_ALL", categoryVar, "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return v;
  }
  return "C";
}

bool IsCLocale(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

std::mutex g_mutex;
std::optional<TFormatSettings> g_settings;

void AppendNumber(std::string& out, int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  out += buf;
}

// Length of the run of character c at pattern[i], at most maxRun.
size_t RunLength(const std::string& p, size_t i, char c) {
  size_t n = 0;
  while (i + n < p.size() && p[i + n] == c) ++n;
  return n;
}

}  // namespace

std::string PatternFromStrftime(const std::string& fmt) {
  std::string out;
  std::string literal;
  auto flushLiteral = [&] {
    if (literal.empty()) return;
    out += '\'';
    out += literal;
    out += '\'';
    literal.clear();
  };
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%' || i + 1 >= fmt.size()) {
      literal += fmt[i];
      continue;
    }
    char c = fmt[++i];
    while ((c == 'E' || c == 'O' || c == '-' || c == '_' || c == '0') && i + 1 < fmt.size())
      c = fmt[++i];  // modifiers and glibc padding flags
    const char* token = nullptr;
    switch (c) {
      case 'Y':
        token = "yyyy";
        break;
      case 'y':
        token = "yy";
        break;
      case 'm':
        token = "MM";
        break;
      case 'd':
        token = "dd";
        break;
      case 'e':
        token = "d";
        break;
      case 'H':
        token = "HH";
        break;
      case 'k':
        token = "H";
        break;
      case 'I':
        token = "hh";
        break;
      case 'l':
        token = "h";
        break;
      case 'M':
        token = "mm";
        break;
      case 'S':
        token = "ss";
        break;
      case 'p':
      case 'P':
        token = "tt";
        break;
      case 'T':
        token = "HH:mm:ss";
        break;
      case 'R':
        token = "HH:mm";
        break;
      case 'r':
        token = "hh:mm:ss tt";
        break;
      case 'D':
        token = "MM/dd/yy";
        break;
      case 'F':
        token = "yyyy-MM-dd";
        break;
      case '%':
        literal += '%';
        continue;
      default:
        continue;  // names of days and months are not part of a short form
    }
    flushLiteral();
    out += token;
  }
  flushLiteral();
  return out;
}

TFormatSettings LoadFormatSettings() {
  TFormatSettings s;
  const std::string timeName = EnvLocaleName("LC_TIME");
  if (!IsCLocale(timeName)) {
    if (locale_t loc = newlocale(LC_TIME_MASK, timeName.c_str(), nullptr)) {
      std::string date = PatternFromStrftime(nl_langinfo_l(D_FMT, loc));
      std::string time = PatternFromStrftime(nl_langinfo_l(T_FMT, loc));
      if (!date.empty()) s.ShortDateFormat = date;
      if (!time.empty()) s.LongTimeFormat = time;
      freelocale(loc);
    }
  }
  const std::string numName = EnvLocaleName("LC_NUMERIC");
  if (!IsCLocale(numName)) {
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, numName.c_str(), nullptr)) {
      const char* dp = nl_langinfo_l(RADIXCHAR, loc);
      if (dp != nullptr && std::strlen(dp) == 1) s.DecimalSeparator = dp[0];
      freelocale(loc);
    }
  }
  return s;
}

const TFormatSettings& FormatSettings() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_settings) g_settings = LoadFormatSettings();
  return *g_settings;
}

void SetFormatSettings(const TFormatSettings& settings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_settings = settings;
}

std::string FormatDateTimePattern(const std::string& p, TDateTime value) {
  const TDateParts t = DecodeDateTime(value);
  std::string out;
  for (size_t i = 0; i < p.size();) {
    const char c = p[i];
    if (c == '\'') {
      size_t end = p.find('\'', i + 1);
      if (end == std::string::npos) end = p.size();
      out.append(p, i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    size_t n = RunLength(p, i, c);
    switch (c) {
      case 'y':
        if (n >= 4) {
          AppendNumber(out, t.Year, 4);
          n = 4;
        } else {
          AppendNumber(out, t.Year % 100, 2);
          n = std::min<size_t>(n, 2);
        }
        break;
      case 'M':
      case 'd':
      case 'H':
      case 'h':
      case 'm':
      case 's': {
        // One or two digits: one letter pads nothing, two pad to two.
        n = std::min<size_t>(n, 2);
        const int h12 = t.Hour % 12 == 0 ? 12 : t.Hour % 12;
        const int value = c == 'M'   ? t.Month
                          : c == 'd' ? t.Day
                          : c == 'H' ? t.Hour
                          : c == 'h' ? h12
                          : c == 'm' ? t.Minute
                                     : t.Second;
        AppendNumber(out, value, static_cast<int>(n));
        break;
      }
      case 'z':
        n = std::min<size_t>(n, 3);
        AppendNumber(out, t.MilliSecond, 3);
        break;
      case 't':
        n = std::min<size_t>(n, 2);
        out += t.Hour < 12 ? "AM" : "PM";
        break;
      default:
        out += c;
        n = 1;
        break;
    }
    i += n;
  }
  return out;
}

std::string DateTimeToDisplayStr(bool withMilliseconds, TDateTime value) {
  const TFormatSettings& s = FormatSettings();
  std::string timePattern = s.LongTimeFormat;
  if (withMilliseconds) {
    for (size_t i = 0; i + 1 < timePattern.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(timePattern[i])) == 's' &&
          std::tolower(static_cast<unsigned char>(timePattern[i + 1])) == 's') {
        timePattern.replace(i, 2, "ss.zzz");
        break;
      }
    }
  }
  return FormatDateTimePattern(s.ShortDateFormat, value) + " " +
         FormatDateTimePattern(timePattern, value);
}

std::string DateToDisplayStr(TDateTime value) {
  return FormatDateTimePattern(FormatSettings().ShortDateFormat, value);
}
