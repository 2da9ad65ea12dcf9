#include "core/profile/profile_document.h"
#include "core/profile/profile_random_check.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

namespace {

// Pieces that make the reader's decisions: headers, equals signs, comments, quotes, blanks, every kind
// of line break, escapes well and badly formed, and names that the check looks up.
const std::string kPieces[] = {"[S]",         "[s ]", "[T]", "[Long Name]", "[",  "]",
                               "k",           "K",    "x",   "VQRVNV",      "=",  ";",
                               "\"",          "'",    " ",   "\t",          "\r", "\n",
                               "\r\n",        "\x7F", "7F",  "0a",          "zz", std::string(1, '\0'),
                               "\xA8\xA4\xA6"};

std::string RandomText(std::mt19937& random, int maxPieces) {
    std::uniform_int_distribution<int> count(0, maxPieces);
    std::uniform_int_distribution<size_t> piece(0, std::size(kPieces));
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text;
    for (int n = count(random); n > 0; --n) {
        const size_t which = piece(random);
        if (which == std::size(kPieces))
            text += static_cast<char>(byte(random)); // now and then any byte at all
        else
            text += kPieces[which];
    }
    return text;
}

TEST(ProfileRandomized, AMillionRandomFilesReadAndChangeAsPromised) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> selector(0, 255);
    constexpr int kInputs = 1'000'000;
    const auto started = std::chrono::steady_clock::now();
    int failures = 0;
    for (int i = 0; i < kInputs && failures < 10; ++i) {
        const std::string file = RandomText(random, 14);
        const std::string value = RandomText(random, 3);
        const auto which = static_cast<unsigned char>(selector(random));
        const std::string problem = qvtest::CheckProfileChange(file, which, value);
        if (!problem.empty()) {
            ++failures;
            ADD_FAILURE() << problem << "\nfile: " << testing::PrintToString(file)
                          << "\nvalue: " << testing::PrintToString(value) << "\nselector: " << int(which);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%d random profile files checked in %.2f s\n", kInputs, seconds);
}

} // namespace
