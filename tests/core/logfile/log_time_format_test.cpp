#include "core/logfile/log_time_format.h"
#include "log_test_time.h"

#include <gtest/gtest.h>
#include <locale.h>

namespace {

using qv::LogLineForm;

using qvtest::At;

const std::tm kAfternoon = At(2002, 11, 7, 14, 5, 9);
const std::tm kMorning = At(2002, 11, 7, 9, 5, 9);
const std::tm kMidnight = At(1999, 1, 31, 0, 0, 0);
const std::tm kNoon = At(2010, 6, 5, 12, 30, 0);

// A fixed locale for one test; the process-wide locale is never touched.
class FixedLocale {
public:
    explicit FixedLocale(const char* name) : locale_(newlocale(LC_ALL_MASK, name, (locale_t)0)) {}
    ~FixedLocale() {
        if (locale_ != (locale_t)0)
            freelocale(locale_);
    }
    FixedLocale(const FixedLocale&) = delete;
    FixedLocale& operator=(const FixedLocale&) = delete;
    locale_t Get() const { return locale_; }

private:
    locale_t locale_;
};

struct LocaleCase {
    const char* locale;
    std::tm when;
    LogLineForm form;
    const char* expected;
};

void PrintTo(const LocaleCase& c, std::ostream* os) {
    *os << c.locale << " -> " << c.expected;
}

class TimestampUnderLocale : public testing::TestWithParam<LocaleCase> {};

TEST_P(TimestampUnderLocale, FollowsTheLocalesDateAndTimeRules) {
    const LocaleCase& c = GetParam();
    FixedLocale locale(c.locale);
    ASSERT_NE(locale.Get(), (locale_t)0) << c.locale << " is missing: tools/install-deps.sh generates it";
    EXPECT_EQ(qv::FormatLogTimestamp(c.when, c.form, locale.Get()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, TimestampUnderLocale,
    testing::Values(LocaleCase{"C", kAfternoon, LogLineForm::Full, "11/07/02 14:05:09"},
                    LocaleCase{"C", kAfternoon, LogLineForm::TimeOnly, "14:05:09"},
                    LocaleCase{"C", kMorning, LogLineForm::Full, "11/07/02 09:05:09"},
                    LocaleCase{"C", kMidnight, LogLineForm::Full, "01/31/99 00:00:00"},
                    LocaleCase{"en_US.UTF-8", kAfternoon, LogLineForm::Full, "11/07/2002 02:05:09 PM"},
                    LocaleCase{"en_US.UTF-8", kAfternoon, LogLineForm::TimeOnly, "02:05:09 PM"},
                    LocaleCase{"en_US.UTF-8", kMorning, LogLineForm::Full, "11/07/2002 09:05:09 AM"},
                    LocaleCase{"en_US.UTF-8", kMidnight, LogLineForm::TimeOnly, "12:00:00 AM"},
                    LocaleCase{"en_US.UTF-8", kNoon, LogLineForm::Full, "06/05/2010 12:30:00 PM"},
                    LocaleCase{"en_GB.UTF-8", kAfternoon, LogLineForm::Full, "07/11/02 14:05:09"},
                    LocaleCase{"en_GB.UTF-8", kMidnight, LogLineForm::Full, "31/01/99 00:00:00"},
                    LocaleCase{"en_GB.UTF-8", kNoon, LogLineForm::TimeOnly, "12:30:00"}));

// The rules applied to patterns other locales use or might use.
struct RulesCase {
    const char* name;
    qv::LocaleTimeRules rules;
    std::tm when;
    const char* expected;
};

void PrintTo(const RulesCase& c, std::ostream* os) {
    *os << c.name;
}

class TimestampUnderRules : public testing::TestWithParam<RulesCase> {};

TEST_P(TimestampUnderRules, BuildsTheFullLineStart) {
    EXPECT_EQ(qv::FormatLogTimestamp(GetParam().when, LogLineForm::Full, GetParam().rules),
              GetParam().expected);
}

const RulesCase kRulesCases[] = {
    {"DotsAndFourDigitYear", {"%d.%m.%Y", "%H.%M.%S", "", "", ""}, kMorning, "07.11.2002 09.05.09"},
    {"DesignatorBeforeTime",
     {"%Y/%m/%d", "%p %I:%M:%S", "", "AM", "PM"},
     kAfternoon,
     "2002/11/07 PM 02:05:09"},
    {"TwelveHourWithoutLeadingZero",
     {"%m/%d/%y", "%l:%M:%S %p", "", "AM", "PM"},
     kMorning,
     "11/07/02 9:05:09 AM"},
    {"NoPaddingFlag", {"%-d/%-m/%Y", "%-H:%M:%S", "", "", ""}, kMorning, "7/11/2002 9:05:09"},
    {"BlankPaddedHourHasNoZero", {"%D", "%k:%M:%S", "", "", ""}, kMorning, "11/07/02 9:05:09"},
    {"IsoDate", {"%F", "%T", "", "", ""}, kMorning, "2002-11-07 09:05:09"},
    {"DayWithoutPadding", {"%e.%m.%Y", "%R", "", "", ""}, kMorning, "7.11.2002 09:05:09"},
    {"LowerCaseDesignator", {"%d/%m/%y", "%I:%M:%S %P", "", "AM", "PM"}, kMorning, "07/11/02 09:05:09 am"},
    {"TimeFormatNamesTwelveHourForm",
     {"%m/%d/%Y", "%r", "%I:%M:%S %p", "AM", "PM"},
     kMidnight,
     "01/31/1999 12:00:00 AM"},
    {"TwelveHourFormMissingFallsBack", {"%m/%d/%Y", "%r", "", "a", "p"}, kNoon, "06/05/2010 12:30:00 p"},
    {"TwelveHourWithoutDesignators", {"%m/%d/%Y", "%I:%M:%S", "", "", ""}, kAfternoon, "11/07/2002 02:05:09"},
    {"NothingGivenFallsBack", {"", "", "", "", ""}, kAfternoon, "11/07/02 14:05:09"},
    {"WordsInDateFallBack", {"%A %d %B %Y", "%H:%M:%S", "", "", ""}, kAfternoon, "11/07/02 14:05:09"},
    {"UnitWordsAreNoSeparator", {"%d/%m/%Y", "%Hh%Mm%Ss", "", "", ""}, kAfternoon, "07/11/2002 14:05:09"},
    {"NoHoursInPattern", {"%d/%m/%Y", "%M:%S", "", "", ""}, kAfternoon, "07/11/2002 14:05:09"},
    {"TruncatedConversions", {"%d/%", "%H-%", "", "", ""}, kAfternoon, "11/07/02 14-05-09"},
    {"LiteralPercent", {"%d%%%m", "%H:%M:%S", "", "", ""}, kAfternoon, "07%11 14:05:09"},
};

INSTANTIATE_TEST_SUITE_P(Patterns, TimestampUnderRules, testing::ValuesIn(kRulesCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LogTimestamp, ReadsTheRulesOfTheGivenLocale) {
    FixedLocale gb("en_GB.UTF-8");
    ASSERT_NE(gb.Get(), (locale_t)0);
    const qv::LocaleTimeRules rules = qv::ReadLocaleTimeRules(gb.Get());
    EXPECT_EQ(rules.dateFormat, "%d/%m/%y");
    EXPECT_EQ(rules.am, "am");
    // The thread's own locale (C in a test process) answers for locale 0.
    EXPECT_EQ(qv::ReadLocaleTimeRules().dateFormat, "%m/%d/%y");
}

} // namespace
