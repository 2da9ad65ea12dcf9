#include "core/logfile/log_time_format.h"

#include <cctype>
#include <langinfo.h>
#include <optional>
#include <string_view>

namespace qv {
namespace {

constexpr std::string_view kFallbackDate = "%m/%d/%y";
constexpr std::string_view kFallbackTime = "%H:%M:%S";
constexpr std::string_view kFallbackAmPmTime = "%I:%M:%S %p";

// One conversion of a strftime-style pattern: "%", optional flag, width and E/O modifier, a letter.
struct Conversion {
    char flag = '\0'; // '-' no padding, '_' blank padding, '0' zero padding, '^' or '#' ignored
    char letter = '\0';
    size_t begin = 0; // position of the '%'
    size_t end = 0;   // position just after the letter
};

std::optional<Conversion> ReadConversion(std::string_view pattern, size_t percent) {
    Conversion c;
    c.begin = percent;
    size_t i = percent + 1;
    if (i < pattern.size() && (pattern[i] == '-' || pattern[i] == '_' || pattern[i] == '0' ||
                               pattern[i] == '^' || pattern[i] == '#'))
        c.flag = pattern[i++];
    while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9')
        ++i; // a field width: the log keeps its own widths
    if (i < pattern.size() && (pattern[i] == 'E' || pattern[i] == 'O'))
        ++i; // alternative era or digits: the log writes plain digits
    if (i >= pattern.size())
        return std::nullopt;
    c.letter = pattern[i];
    c.end = i + 1;
    return c;
}

// A number as the flag and the conversion's own padding say.
std::string Number(int value, int width, char flag, char defaultPad) {
    std::string digits = std::to_string(value);
    const char pad = flag == '-' ? '\0' : flag == '_' ? ' ' : flag == '0' ? '0' : defaultPad;
    if (pad != '\0')
        while (static_cast<int>(digits.size()) < width)
            digits.insert(digits.begin(), pad);
    return digits;
}

// The date under a pattern of numeric fields, or nothing when the pattern holds anything else.
std::optional<std::string> FormatDate(std::string_view pattern, const std::tm& when, int depth = 0) {
    std::string out;
    const int year = when.tm_year + 1900;
    for (size_t i = 0; i < pattern.size();) {
        if (pattern[i] != '%') {
            out += pattern[i++];
            continue;
        }
        const auto c = ReadConversion(pattern, i);
        if (!c)
            return std::nullopt;
        i = c->end;
        std::optional<std::string> nested;
        switch (c->letter) {
        case 'd':
            out += Number(when.tm_mday, 2, c->flag, '0');
            break;
        case 'e':
            out += Number(when.tm_mday, 2, c->flag, '\0');
            break; // as a short date's "d": no padding
        case 'm':
            out += Number(when.tm_mon + 1, 2, c->flag, '0');
            break;
        case 'y':
            out += Number(((year % 100) + 100) % 100, 2, c->flag, '0');
            break;
        case 'Y':
            out += Number(year, 1, c->flag, '0');
            break;
        case 'C':
            out += Number(year / 100, 2, c->flag, '0');
            break;
        case '%':
            out += '%';
            break;
        case 'D':
        case 'F':
            if (depth > 0)
                return std::nullopt;
            nested = FormatDate(c->letter == 'D' ? "%m/%d/%y" : "%Y-%m-%d", when, depth + 1);
            if (!nested)
                return std::nullopt;
            out += *nested;
            break;
        default:
            return std::nullopt; // names, week numbers and the like: not a short date
        }
    }
    if (out.empty())
        return std::nullopt;
    return out;
}

// How a time pattern writes hours.
struct TimeShape {
    bool twelveHour = false;
    bool leadingZero = true;
    std::string separator = ":";
    bool designatorFirst = false;
    bool lowerCaseDesignator = false;
};

// The pattern with the composite conversions that stand for a whole time spelt out. One pass only, so
// a 12-hour pattern that names itself cannot loop.
std::string ExpandTimePattern(std::string_view pattern, const LocaleTimeRules& rules) {
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        const auto c = pattern[i] == '%' ? ReadConversion(pattern, i) : std::nullopt;
        if (!c) {
            out += pattern[i++];
            continue;
        }
        const std::string_view original = pattern.substr(c->begin, c->end - c->begin);
        i = c->end;
        if (c->letter == 'T')
            out += "%H:%M:%S";
        else if (c->letter == 'R')
            out += "%H:%M";
        else if (c->letter == 'r')
            out += rules.amPmTimeFormat.empty() ? std::string(kFallbackAmPmTime) : rules.amPmTimeFormat;
        else
            out += original;
    }
    return out;
}

// A time separator is a short run of punctuation; unit words such as "h" or "시" after the hours are
// not, and the log then keeps ":".
bool IsSeparator(std::string_view text) {
    if (text.empty() || text.size() > 3)
        return false;
    for (char ch : text)
        if (!std::ispunct(static_cast<unsigned char>(ch)) || static_cast<unsigned char>(ch) >= 0x80)
            return false;
    return true;
}

TimeShape ShapeOf(const LocaleTimeRules& rules) {
    const std::string pattern =
        ExpandTimePattern(rules.timeFormat.empty() ? kFallbackTime : rules.timeFormat, rules);
    TimeShape shape;
    std::optional<Conversion> hour;
    std::optional<size_t> designatorAt;
    for (size_t i = 0; i < pattern.size();) {
        const auto c = pattern[i] == '%' ? ReadConversion(pattern, i) : std::nullopt;
        if (!c) {
            ++i;
            continue;
        }
        i = c->end;
        if (!hour && (c->letter == 'H' || c->letter == 'k' || c->letter == 'I' || c->letter == 'l'))
            hour = c;
        if (!designatorAt && (c->letter == 'p' || c->letter == 'P')) {
            designatorAt = c->begin;
            shape.lowerCaseDesignator = c->letter == 'P';
        }
    }
    if (!hour)
        return TimeShape{}; // no hours at all: the plain 24-hour form
    shape.twelveHour = hour->letter == 'I' || hour->letter == 'l';
    const bool zeroByDefault = hour->letter == 'H' || hour->letter == 'I';
    shape.leadingZero = hour->flag == '0' || (zeroByDefault && hour->flag != '-' && hour->flag != '_');
    const size_t nextPercent = pattern.find('%', hour->end);
    std::string separator = pattern.substr(
        hour->end, nextPercent == std::string::npos ? std::string::npos : nextPercent - hour->end);
    if (IsSeparator(separator))
        shape.separator = separator;
    shape.designatorFirst = designatorAt && *designatorAt < hour->begin;
    return shape;
}

std::string LowerCase(std::string text) {
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

std::string FormatTime(const std::tm& when, const LocaleTimeRules& rules) {
    const TimeShape shape = ShapeOf(rules);
    int hours = when.tm_hour;
    std::string designator;
    if (shape.twelveHour) {
        designator = hours < 12 ? rules.am : rules.pm;
        if (shape.lowerCaseDesignator)
            designator = LowerCase(designator);
        hours %= 12;
        if (hours == 0)
            hours = 12;
    }
    std::string time = Number(hours, shape.leadingZero ? 2 : 1, '\0', '0') + shape.separator +
                       Number(when.tm_min, 2, '\0', '0') + shape.separator +
                       Number(when.tm_sec, 2, '\0', '0');
    if (designator.empty())
        return time;
    return shape.designatorFirst ? designator + " " + time : time + " " + designator;
}

const char* Item(nl_item item, locale_t locale) {
    const char* text = locale == (locale_t)0 ? nl_langinfo(item) : nl_langinfo_l(item, locale);
    return text ? text : "";
}

} // namespace

LocaleTimeRules ReadLocaleTimeRules(locale_t locale) {
    return LocaleTimeRules{Item(D_FMT, locale), Item(T_FMT, locale), Item(T_FMT_AMPM, locale),
                           Item(AM_STR, locale), Item(PM_STR, locale)};
}

std::string FormatLogTimestamp(const std::tm& when, LogLineForm form, const LocaleTimeRules& rules) {
    std::string time = FormatTime(when, rules);
    if (form == LogLineForm::TimeOnly)
        return time;
    std::optional<std::string> date = FormatDate(rules.dateFormat, when);
    if (!date)
        date = FormatDate(kFallbackDate, when);
    return *date + " " + time;
}

std::string FormatLogTimestamp(const std::tm& when, LogLineForm form, locale_t locale) {
    return FormatLogTimestamp(when, form, ReadLocaleTimeRules(locale));
}

} // namespace qv
