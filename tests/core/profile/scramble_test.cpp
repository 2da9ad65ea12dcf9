#include "core/profile/scramble.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct ShiftKeyCase {
    const char* name;
    const char* shiftKey;
    int expected;
};

void PrintTo(const ShiftKeyCase& c, std::ostream* os) {
    *os << c.name;
}

const ShiftKeyCase kShiftKeys[] = {
    {"MappingData", qv::kMappingDataShiftKey, 118},   {"LQRVNL", qv::kLQRVNLShiftKey, 118},
    {"CLLogsSave", qv::kCLLogsSaveShiftKey, 103},     {"TrayIcon", qv::kTrayIconShiftKey, 124},
    {"WindowsState", qv::kWindowsStateShiftKey, 109}, {"QRVNLanguage", qv::kQRVNLanguageShiftKey, 107},
};

std::string AllByteValues() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

class ScrambleEveryKey : public testing::TestWithParam<ShiftKeyCase> {};

TEST_P(ScrambleEveryKey, ShiftsEveryByteModulo256AndUnscramblesBack) {
    const ShiftKeyCase& key = GetParam();
    const std::string plain = AllByteValues();
    const std::string scrambled = qv::ScrambleText(plain, key.shiftKey);
    ASSERT_EQ(scrambled.size(), plain.size());
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(static_cast<unsigned char>(scrambled[static_cast<size_t>(b)]), (b + key.expected) % 256)
            << "byte " << b;
    EXPECT_EQ(qv::UnscrambleText(scrambled, key.shiftKey), plain);
    // Unscrambling is a shift of its own, not only the inverse: plain bytes go down by the key.
    EXPECT_EQ(static_cast<unsigned char>(qv::UnscrambleText(std::string(1, '\0'), key.shiftKey)[0]),
              256 - key.expected);
}

INSTANTIATE_TEST_SUITE_P(ShiftKeys, ScrambleEveryKey, testing::ValuesIn(kShiftKeys),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Scramble, VersionMarkerScramblesToKnownBytes) {
    EXPECT_EQ(qv::ScrambleText("2.0", qv::kMappingDataShiftKey), "\xA8\xA4\xA6");
    EXPECT_EQ(qv::UnscrambleText("\xA8\xA4\xA6", qv::kMappingDataShiftKey), "2.0");
    EXPECT_EQ(qv::ScrambleText("Save", qv::kCLLogsSaveShiftKey), "\xBA\xC8\xDD\xCC");
}

TEST(Scramble, EmptyTextStaysEmptyAndNulBytesAreKept) {
    EXPECT_EQ(qv::ScrambleText("", "118"), "");
    EXPECT_EQ(qv::UnscrambleText("", "118"), "");
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(qv::ScrambleText(withNul, "0"), withNul);
    EXPECT_EQ(qv::ScrambleText(withNul, "256"), withNul);
    EXPECT_EQ(qv::ScrambleText(withNul, "1"), std::string("b\1c", 3));
}

TEST(Scramble, ShiftKeyThatIsNoIntegerIsRejected) {
    for (const char* bad : {"", "11a", "abc", " 118", "1.5"}) {
        try {
            qv::ScrambleText("x", bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
    EXPECT_THROW(qv::UnscrambleText("x", "z"), std::invalid_argument);
}

TEST(Scramble, NegativeShiftKeyWrapsLikeAnyOther) {
    EXPECT_EQ(qv::ScrambleText("\x01", "-2"), "\xFF");
    EXPECT_EQ(qv::UnscrambleText("\xFF", "-2"), "\x01");
    EXPECT_EQ(qv::ScrambleText("A", "-2147483648"), "A"); // -2^31 is 0 modulo 256
}

} // namespace
