#pragma once

#include <ctime>
#include <locale.h>
#include <string>

namespace qv {

// Full: date, blank, time. TimeOnly: the time alone, for the few lines that carry no date.
enum class LogLineForm { Full, TimeOnly };

// What a locale says about writing dates and times (LC_TIME), as its own format texts.
struct LocaleTimeRules {
    std::string dateFormat;     // short date pattern, strftime-style (D_FMT)
    std::string timeFormat;     // time pattern (T_FMT); "%r" in it stands for amPmTimeFormat
    std::string amPmTimeFormat; // 12-hour time pattern (T_FMT_AMPM)
    std::string am;             // designators (AM_STR, PM_STR)
    std::string pm;
};

// The rules of the locale; 0 means the current locale of the calling thread (the global one unless the
// thread chose its own).
LocaleTimeRules ReadLocaleTimeRules(locale_t locale = (locale_t)0);

// The timestamp that starts a log line. The date follows the short date pattern (numeric fields only;
// a pattern that is empty or names words falls back to month/day/two-digit year with "/"). The time is
// always hours, minutes and seconds: the separator is whatever the pattern puts after the hours (":" if
// nothing), hours carry a leading zero when the pattern's hour does, and a 12-hour pattern gives hours
// 1 to 12 with the AM or PM designator before or after the time, where the pattern puts it.
std::string FormatLogTimestamp(const std::tm& when, LogLineForm form, const LocaleTimeRules& rules);
std::string FormatLogTimestamp(const std::tm& when, LogLineForm form, locale_t locale = (locale_t)0);

} // namespace qv
