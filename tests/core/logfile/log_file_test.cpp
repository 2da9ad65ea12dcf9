#include "core/logfile/log_file.h"
#include "log_test_time.h"
#include "support/temp_dir.h"
#include "support/write_failure.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using qv::LogLineForm;
using qvtest::ReadAll;

using qvtest::At;

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    EXPECT_EQ(start, bytes.size()) << "text after the last CR LF";
    return lines;
}

// "dd/dd/dd " (when dated) and "dd:dd:dd" at the start of a line under the C locale, as numbers;
// the rest of the line after it, or nothing when the line does not start so.
struct Stamp {
    int date[3] = {-1, -1, -1};
    int time[3] = {-1, -1, -1};
    std::string rest;
};

bool ReadPairs(std::string_view& text, char separator, int (&out)[3]) {
    if (text.size() < 8)
        return false;
    for (int i = 0; i < 3; ++i) {
        const char high = text[i * 3];
        const char low = text[i * 3 + 1];
        if (high < '0' || high > '9' || low < '0' || low > '9' || (i < 2 && text[i * 3 + 2] != separator))
            return false;
        out[i] = (high - '0') * 10 + (low - '0');
    }
    text.remove_prefix(8);
    return true;
}

std::optional<Stamp> ReadStamp(std::string_view line, bool dated) {
    Stamp stamp;
    if (dated && (!ReadPairs(line, '/', stamp.date) || line.empty() || line.front() != ' '))
        return std::nullopt;
    if (dated)
        line.remove_prefix(1);
    if (!ReadPairs(line, ':', stamp.time))
        return std::nullopt;
    stamp.rest = line;
    return stamp;
}

class LogFile : public testing::Test {
protected:
    std::string Append(std::string_view text, LogLineForm form = LogLineForm::Full) {
        return qv::AppendLogFileLineAt(path_, text, form, At(2002, 11, 7, 14, 5, 9), c_);
    }
    void TearDown() override { freelocale(c_); }

    qvtest::TempDir dir_;
    std::string path_ = dir_.File(qv::kLogFileName);
    locale_t c_ = newlocale(LC_ALL_MASK, "C", (locale_t)0);
};

TEST_F(LogFile, AppendsDatedAndDatelessLinesEndingInCrLf) {
    qvtest::WriteAll(path_, "earlier line\r\n");
    EXPECT_EQ(Append(" Connection on Mapping #2"), "11/07/02 14:05:09 Connection on Mapping #2\r\n");
    Append(" Connection on Mapping #4", LogLineForm::TimeOnly);
    Append(" Quorvane - Internet Port Mapping is closing.");
    EXPECT_EQ(ReadAll(path_), "earlier line\r\n"
                              "11/07/02 14:05:09 Connection on Mapping #2\r\n"
                              "14:05:09 Connection on Mapping #4\r\n"
                              "11/07/02 14:05:09 Quorvane - Internet Port Mapping is closing.\r\n");
}

TEST_F(LogFile, CreatesAMissingFileReadableByAll) {
    const mode_t mask = ::umask(022);
    Append(" first");
    ::umask(mask);
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_EQ(ReadAll(path_), "11/07/02 14:05:09 first\r\n");
}

TEST_F(LogFile, FileDeletedBetweenLinesIsCreatedAgain) {
    Append(" one");
    fs::remove(path_);
    Append(" two");
    EXPECT_EQ(ReadAll(path_), "11/07/02 14:05:09 two\r\n");
}

TEST_F(LogFile, ReadOnlyFolderThrowsAndLeavesNoFile) {
    fs::permissions(dir_.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    qvtest::RunWithoutPermissionOverride([&] {
        EXPECT_THROW(Append(" lost"), std::system_error);
        EXPECT_THROW(qv::AppendLogFileLine(path_, " lost", LogLineForm::Full), std::system_error);
    });
    EXPECT_FALSE(fs::exists(path_));
}

// A disk that fills up in the middle of a line, two ways: a small tmpfs (where the test may mount one)
// and a file size limit. The line must not be left half written.
enum class FullDisk { SmallTmpfs, FileSizeLimit };

const char* NameOf(FullDisk kind) {
    return kind == FullDisk::SmallTmpfs ? "SmallTmpfs" : "FileSizeLimit";
}
void PrintTo(FullDisk kind, std::ostream* os) {
    *os << NameOf(kind);
}

// A tmpfs of the given size over a folder for as long as it lives; Mounted() false when not allowed.
class TmpfsMount {
public:
    TmpfsMount(const fs::path& at, size_t bytes) : at_(at) {
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
        error_ = errno;
    }
    ~TmpfsMount() {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool Mounted() const { return mounted_; }
    const char* Why() const { return std::strerror(error_); }

private:
    fs::path at_;
    bool mounted_ = false;
    int error_ = 0;
};

class LogFileOnFullDisk : public testing::TestWithParam<FullDisk> {};

TEST_P(LogFileOnFullDisk, LineIsWrittenWholeOrNotAtAll) {
    constexpr size_t kDiskSize = 8192; // two pages of tmpfs
    constexpr size_t kRoomLeft = 10;   // less than any line
    qvtest::TempDir dir;
    const fs::path folder = dir.Path() / "disk";
    fs::create_directory(folder);
    std::optional<TmpfsMount> disk;
    if (GetParam() == FullDisk::SmallTmpfs && !disk.emplace(folder, kDiskSize).Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk->Why();
    const std::string path = (folder / qv::kLogFileName).string();
    const std::string earlier = std::string(kDiskSize - kRoomLeft - 2, 'x') + "\r\n";
    qvtest::WriteAll(path, earlier);
    std::optional<qvtest::FileSizeLimit> limit;
    if (GetParam() == FullDisk::FileSizeLimit)
        limit.emplace(kDiskSize - kRoomLeft / 2);
    locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    for (const std::tm& when : {At(2002, 11, 7, 17, 38, 59), At(2002, 11, 7, 17, 39, 0)})
        EXPECT_THROW(
            qv::AppendLogFileLineAt(path, " Connection on Mapping #1", LogLineForm::TimeOnly, when, c),
            std::system_error);
    freelocale(c);
    limit.reset();
    const std::string after = ReadAll(path);
    EXPECT_TRUE(after == earlier) << "a part of a line was left: the file ends in \""
                                  << after.substr(after.size() - std::min<size_t>(after.size(), 24)) << '"';
}

INSTANTIATE_TEST_SUITE_P(Kinds, LogFileOnFullDisk,
                         testing::Values(FullDisk::SmallTmpfs, FullDisk::FileSizeLimit),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

TEST_F(LogFile, LineOfNowUsesTheLocalClock) {
    const std::time_t before = std::time(nullptr);
    qv::AppendLogFileLine(path_, " Quorvane - Internet Port Mapping is starting.", LogLineForm::Full);
    const std::vector<std::string> lines = Lines(ReadAll(path_));
    ASSERT_EQ(lines.size(), 1u);
    // The test process runs in the C locale: month/day/two-digit year, 24-hour clock.
    const auto stamp = ReadStamp(lines[0], true);
    ASSERT_TRUE(stamp) << lines[0];
    EXPECT_EQ(stamp->rest, " Quorvane - Internet Port Mapping is starting.");
    std::tm local{};
    localtime_r(&before, &local);
    EXPECT_EQ(stamp->date[0], local.tm_mon + 1);
    EXPECT_EQ(stamp->date[2], local.tm_year % 100);
    const int written = stamp->time[0] * 3600 + stamp->time[1] * 60 + stamp->time[2];
    const int started = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_LE((written - started + 86400) % 86400, 5) << "time is not the local time of the append";
}

TEST_F(LogFile, ThreadsAppendingAtOnceLeaveEveryLineWhole) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 400;
    const std::string padding(150, 'x'); // long lines make a torn write likelier to show
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLinesEach; ++i)
                qv::AppendLogFileLine(path_,
                                      " Connection " + std::to_string(t) + "-" + std::to_string(i) + padding,
                                      i % 2 ? LogLineForm::Full : LogLineForm::TimeOnly);
        });
    for (std::thread& thread : threads)
        thread.join();

    std::set<std::string> seen;
    for (const std::string& line : Lines(ReadAll(path_))) {
        const auto stamp = ReadStamp(line, line.size() > 2 && line[2] == '/');
        ASSERT_TRUE(stamp) << "torn line: " << line;
        const std::string& rest = stamp->rest;
        ASSERT_TRUE(rest.starts_with(" Connection ") && rest.ends_with(padding) &&
                    rest.size() < 12 + 12 + padding.size())
            << "torn line: " << line;
        EXPECT_TRUE(seen.insert(rest).second) << "twice: " << line;
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLinesEach));
}

} // namespace
