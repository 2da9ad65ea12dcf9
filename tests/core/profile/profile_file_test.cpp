#include "core/profile/profile_file.h"
#include "support/temp_dir.h"
#include "support/write_failure.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using qvtest::ReadAll;
using qvtest::WriteAll;

std::string AllByteValues() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

std::string Reversed(const std::string& text) {
    return std::string(text.rbegin(), text.rend());
}

size_t FilesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Expects WriteError with the path in its text.
template <typename Action> void ExpectWriteError(const std::string& path, Action action) {
    try {
        action();
        ADD_FAILURE() << "no WriteError for " << path;
    } catch (const qv::WriteError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + path);
        EXPECT_EQ(error.Path(), path);
    }
}

struct ValueCase {
    const char* name;
    std::string value;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
    *os << c.name;
}

class ProfileFileValue : public testing::TestWithParam<ValueCase> {};

TEST_P(ProfileFileValue, ReadsBackExactlyAndLeavesNeighboursAlone) {
    qvtest::TempDir dir;
    const std::string path = dir.File("values.qrvd");
    qv::WriteString(path, "S", "before", "1");
    qv::WriteString(path, "S", "value", GetParam().value);
    qv::WriteString(path, "S", "after", "2");
    EXPECT_EQ(qv::ReadString(path, "S", "value"), GetParam().value);
    EXPECT_EQ(qv::ReadString(path, "S", "before"), "1");
    EXPECT_EQ(qv::ReadString(path, "S", "after"), "2");
    const std::string file = ReadAll(path);
    EXPECT_EQ(file.substr(0, 15), "[S]\r\nbefore=1\r\n");
    EXPECT_EQ(file.substr(file.size() - 9), "after=2\r\n");
}

const ValueCase kValues[] = {
    {"EveryByteValue", AllByteValues()},
    {"EveryByteValueReversed", Reversed(AllByteValues())},
    {"Nul", std::string(1, '\0')},
    {"CrLf", "\r\n"},
    {"LineInjection", "x\r\n[S]\r\nbefore=666"},
    {"EqualsAndSemicolon", "=;=;"},
    {"LeadingSemicolon", ";comment?"},
    {"DoubleQuoted", "\"quoted\""},
    {"SingleQuoted", "'q'"},
    {"BlanksAtBothEnds", " \t x \t "},
    {"OnlyBlanks", "   "},
    {"EscapeByteAndHex", "\x7F"
                         "41\x7F"},
    {"ScrambledVersion", "\xA8\xA4\xA6"},
    {"ExactlyTheLimit", std::string(qv::kMaxProfileValueLength, 'v')},
};

INSTANTIATE_TEST_SUITE_P(Values, ProfileFileValue, testing::ValuesIn(kValues),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFile, LongValueReadsAsItsFirst2047Bytes) {
    qvtest::TempDir dir;
    const std::string path = dir.File("long.qrvd");
    std::string value;
    for (int i = 0; i < 3000; ++i)
        value += static_cast<char>(i % 251); // every kind of byte, escaped ones included
    qv::WriteString(path, "S", "k", value);
    EXPECT_EQ(qv::ReadString(path, "S", "k"), value.substr(0, 2047));
    qv::WriteString(path, "S", "k", std::string(2048, 'a'));
    EXPECT_EQ(qv::ReadString(path, "S", "k"), std::string(2047, 'a'));
}

TEST(ProfileFile, EmptyValueLeavesKeyLineAndReadsLikeMissingKey) {
    qvtest::TempDir dir;
    const std::string path = dir.File("empty.qrvd");
    qv::WriteString(path, "S", "k", "");
    EXPECT_EQ(ReadAll(path), "[S]\r\nk=\r\n");
    EXPECT_EQ(qv::ReadString(path, "S", "k"), "");
    EXPECT_EQ(qv::ReadString(path, "S", "never"), "");
}

TEST(ProfileFile, MissingOrUnreadableFileReadsEmpty) {
    qvtest::TempDir dir;
    EXPECT_EQ(qv::ReadString(dir.File("missing.qrvd"), "S", "k"), "");
    EXPECT_EQ(qv::ReadString(dir.File("no/such/folder.qrvd"), "S", "k"), "");
    EXPECT_EQ(qv::ReadString(dir.Path().string(), "S", "k"), ""); // a folder, not a file
    WriteAll(dir.File("empty.qrvd"), "");
    EXPECT_EQ(qv::ReadString(dir.File("empty.qrvd"), "S", "k"), "");
}

TEST(ProfileFile, RewritingKeepsOtherSectionsKeysAndOrder) {
    qvtest::TempDir dir;
    const std::string path = dir.File("order.qrvd");
    qv::WriteString(path, "First", "a", "1");
    qv::WriteString(path, "Second", "x", "9");
    qv::WriteString(path, "First", "b", "2");
    qv::WriteString(path, "first", "A", "one"); // same section and key, other spelling
    qv::WriteString(path, "Third", "t", "3");
    EXPECT_EQ(ReadAll(path), "[First]\r\na=one\r\nb=2\r\n[Second]\r\nx=9\r\n[Third]\r\nt=3\r\n");
}

TEST(ProfileFile, FileFromAPlainWriterReadsAsItsReaderWould) {
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVN.qrvd");
    // Raw bytes: scrambled values with high bytes and wrapped control bytes, CR LF lines, a comment,
    // a stray line and a quoted value, as such a file may come from the old program or an editor.
    const std::string original = "[QuorvaneDataMapping]\r\n"
                                 "VQRVNV=\xA8\xA4\xA6\r\n"
                                 "IncommingPort=\xAE\xA6\xAE\xA6\r\n"
                                 "OutcommingIp=\xA7\xA8\xAD\xA4\xA6\x1B\x01\r\n"
                                 "; a note\r\n"
                                 "stray line\r\n"
                                 "TimerStart = \"  1 \"\r\n"
                                 "[QuorvaneDataSettings]\r\n"
                                 "TrayIcon=\xC0\xE5\xEF\xDD\xDE\xE8\xE1\xE0\r\n";
    WriteAll(path, original);
    EXPECT_EQ(qv::ReadString(path, "QuorvaneDataMapping", "VQRVNV"), "\xA8\xA4\xA6");
    EXPECT_EQ(qv::ReadString(path, "quorvanedatamapping", "IncommingPort"), "\xAE\xA6\xAE\xA6");
    EXPECT_EQ(qv::ReadString(path, "QuorvaneDataMapping", "OutcommingIp"), "\xA7\xA8\xAD\xA4\xA6\x1B\x01");
    EXPECT_EQ(qv::ReadString(path, "QuorvaneDataMapping", "TimerStart"), "  1 ");
    EXPECT_EQ(qv::ReadString(path, "QuorvaneDataMapping", "stray line"), "");
    EXPECT_EQ(qv::ReadString(path, "QuorvaneDataSettings", "TrayIcon"), "\xC0\xE5\xEF\xDD\xDE\xE8\xE1\xE0");

    // A change touches its own line only.
    qv::WriteString(path, "QuorvaneDataMapping", "IncommingPort", "\xAF");
    std::string expected = original;
    expected.replace(expected.find("\xAE\xA6\xAE\xA6"), 4, "\xAF");
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(ProfileFile, DeleteKeyRemovesOnlyThatKeyAndNeverFails) {
    qvtest::TempDir dir;
    const std::string path = dir.File("delete.qrvd");
    qv::DeleteKey(path, "S", "k");
    EXPECT_FALSE(fs::exists(path)) << "deleting from a missing file created it";
    qv::WriteString(path, "S", "k", "1");
    qv::WriteString(path, "S", "j", "2");
    qv::WriteString(path, "T", "k", "3");
    qv::DeleteKey(path, "S", "K");
    qv::DeleteKey(path, "S", "missing");
    qv::DeleteKey(path, "Missing", "k");
    EXPECT_EQ(ReadAll(path), "[S]\r\nj=2\r\n[T]\r\nk=3\r\n");
    EXPECT_NO_THROW(qv::DeleteKey(dir.File("no/such/folder.qrvd"), "S", "k"));
}

TEST(ProfileFile, BatchWritesAndDeletesInOneReplacement) {
    qvtest::TempDir dir;
    const std::string path = dir.File("batch.qrvd");
    qv::WriteString(path, "S", "gone", "x");
    qv::ProfileBatch batch(path);
    batch.Write("S", "a", "1").Write("T", "b", "2").Delete("S", "gone").Write("S", "c", " 3 ");
    EXPECT_EQ(ReadAll(path), "[S]\r\ngone=x\r\n") << "nothing is written before Commit";
    batch.Commit();
    EXPECT_EQ(ReadAll(path), "[S]\r\na=1\r\nc=\x7F"
                             "203\x7F"
                             "20\r\n[T]\r\nb=2\r\n");
    batch.Commit(); // an empty batch changes nothing
    qv::WriteStrings(path, "T", {{"b", "two"}, {"d", "4"}});
    EXPECT_EQ(qv::ReadString(path, "T", "b"), "two");
    EXPECT_EQ(qv::ReadString(path, "T", "d"), "4");
    EXPECT_EQ(qv::ReadString(path, "S", "c"), " 3 ");
}

// A configuration that is a link, in a folder of links, to a file elsewhere: the write goes through to
// the file at the end, in that file's folder, and the links stay.
struct LinkCase {
    const char* name;
    bool targetExists;
    fs::perms expected; // the target's permissions after the write
};

class ProfileFileThroughLinks : public testing::TestWithParam<LinkCase> {};

TEST_P(ProfileFileThroughLinks, WritesTheFileAtTheEndAndKeepsTheLinks) {
    const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    qvtest::TempDir dir;
    const fs::path store = dir.Path() / "store";
    fs::create_directory(store);
    const std::string target = (store / "real.qrvd").string();
    const std::string link = dir.File("DataQRVN.qrvd");
    if (GetParam().targetExists) {
        WriteAll(target, "[S]\r\nk=1\r\n");
        fs::permissions(target, kept);
    }
    // An absolute link to a relative one: each is read from its own folder.
    fs::create_symlink("real.qrvd", store / "middle.qrvd");
    fs::create_symlink(store / "middle.qrvd", link);
    const mode_t mask = ::umask(022);
    qv::WriteString(link, "S", "k", "2");
    ::umask(mask);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(store / "middle.qrvd"));
    EXPECT_EQ(ReadAll(target), "[S]\r\nk=2\r\n");
    EXPECT_EQ(fs::symlink_status(target).permissions() & fs::perms::all, GetParam().expected);
    EXPECT_EQ(FilesIn(store), 2u) << "a temporary file was left in the target's folder";
    EXPECT_EQ(FilesIn(dir.Path()), 2u) << "a file was put beside the link";
}

INSTANTIATE_TEST_SUITE_P(Links, ProfileFileThroughLinks,
                         testing::Values(LinkCase{"ToAFile", true,
                                                  fs::perms::owner_read | fs::perms::owner_write |
                                                      fs::perms::group_read},
                                         LinkCase{"Dangling", false,
                                                  fs::perms::owner_read | fs::perms::owner_write |
                                                      fs::perms::group_read | fs::perms::others_read}),
                         [](const auto& info) { return std::string(info.param.name); });

// A save killed midway (here by the file size limit's own signal) leaves its owner-only temporary file;
// the next process's first look at the configuration removes it, but not one of a writer still running.
TEST(ProfileFile, StartRemovesTemporaryFilesOfDeadWritersOnly) {
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVN.qrvd");
    WriteAll(path, "[S]\r\nk=old\r\n");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        qv::WriteString(path, "S", "password", std::string(1024, 'p'));
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the save was not killed midway";
    std::string stale;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.Path()))
        if (entry.path().string().starts_with(path + ".tmp" + std::to_string(child) + "-"))
            stale = entry.path().string();
    ASSERT_FALSE(stale.empty()) << "the killed save left no temporary file";
    EXPECT_EQ(fs::status(stale).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string live = path + ".tmp" + std::to_string(::getppid()) + "-0-0";
    WriteAll(live, "being written");

    EXPECT_EQ(qv::ReadString(path, "S", "k"), "old");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
}

TEST(ProfileFile, ThreadsWritingAtOnceLoseNoKey) {
    qvtest::TempDir dir;
    const std::string path = dir.File("threads.qrvd");
    constexpr int kKeysEach = 40;
    auto writer = [&](const std::string& prefix) {
        for (int i = 0; i < kKeysEach; ++i)
            qv::WriteString(path, "S", prefix + std::to_string(i), std::to_string(i));
    };
    std::thread a(writer, "a"), b(writer, "b");
    a.join();
    b.join();
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < kKeysEach; ++i)
            EXPECT_EQ(qv::ReadString(path, "S", prefix + std::to_string(i)), std::to_string(i));
}

// Another process (a headless instance, a second window) rewriting the configuration never shows a
// reader part of a file: every read finds one whole version.
TEST(ProfileFile, ReaderInAnotherProcessNeverSeesAHalfWrittenFile) {
    qvtest::TempDir dir;
    const std::string path = dir.File("shared.qrvd");
    constexpr int kKeys = 300;
    const auto write = [&](int generation) {
        qv::ProfileBatch batch(path);
        for (int k = 0; k < kKeys; ++k)
            batch.Write("S", "k" + std::to_string(k), std::to_string(generation));
        batch.Commit();
    };
    write(0);
    const std::string whole0 = ReadAll(path);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int generation = 1; generation <= 200; ++generation)
            write(generation);
        ::_exit(0);
    }
    int reads = 0;
    for (int status = 0; ::waitpid(writer, &status, WNOHANG) == 0; ++reads) {
        // A whole version: every line there, every value the same generation.
        std::istringstream lines(ReadAll(path));
        std::set<std::string> values;
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count)
            if (const auto equals = line.find('='); equals != std::string::npos)
                values.insert(line.substr(equals + 1));
        ASSERT_EQ(count, kKeys + 1) << "read " << reads;
        ASSERT_EQ(values.size(), 1u) << "read " << reads;
    }
    EXPECT_GT(reads, 0);
    EXPECT_EQ(qv::ReadString(path, "S", "k" + std::to_string(kKeys - 1)), "200");
    EXPECT_NE(ReadAll(path), whole0);
}

// Failures: the old file stays exactly as it was, nothing else is left behind, and the text names it.
class ProfileFileFailure : public testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("DataQRVN.qrvd");
        qv::WriteString(path_, "S", "k", "old");
        original_ = ReadAll(path_);
    }
    void ExpectUntouched() {
        EXPECT_EQ(ReadAll(path_), original_);
        EXPECT_EQ(FilesIn(dir_.Path()), 1u) << "a temporary file was left behind";
    }
    qvtest::TempDir dir_;
    std::string path_;
    std::string original_;
};

TEST_F(ProfileFileFailure, ReadOnlyFolder) {
    fs::permissions(dir_.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    qvtest::RunWithoutPermissionOverride([&] {
        ExpectWriteError(path_, [&] { qv::WriteString(path_, "S", "k", "new"); });
        ExpectWriteError(path_, [&] { qv::WriteStrings(path_, "S", {{"a", "1"}, {"b", "2"}}); });
        const std::string other = dir_.File("other.qrvd");
        ExpectWriteError(other, [&] { qv::WriteString(other, "S", "k", "new"); });
        qv::DeleteKey(path_, "S", "k"); // silent
    });
    fs::permissions(dir_.Path(), fs::perms::owner_all);
    ExpectUntouched();
    EXPECT_EQ(qv::ReadString(path_, "S", "k"), "old");
}

TEST_F(ProfileFileFailure, DiskFullMidwayKeepsTheWholeOldFile) {
    const std::string big(4096, 'x');
    {
        qvtest::FileSizeLimit limit(1024);
        ExpectWriteError(path_, [&] { qv::WriteString(path_, "S", "big", big); });
        ExpectWriteError(path_, [&] { qv::WriteStrings(path_, "S", {{"k", "new"}, {"big", big}}); });
    }
    ExpectUntouched();
    qv::WriteString(path_, "S", "big", big); // room again
    EXPECT_EQ(qv::ReadString(path_, "S", "big"), std::string(2047, 'x'));
}

TEST_F(ProfileFileFailure, UnreadableFileIsNotReplacedByOneKey) {
    fs::permissions(path_, fs::perms::none);
    qvtest::RunWithoutPermissionOverride(
        [&] { ExpectWriteError(path_, [&] { qv::WriteString(path_, "S", "j", "new"); }); });
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
    ExpectUntouched();
}

TEST_F(ProfileFileFailure, FolderThatIsAFile) {
    const std::string inside = path_ + "/nested.qrvd";
    ExpectWriteError(inside, [&] { qv::WriteString(inside, "S", "k", "v"); });
    ExpectUntouched();
}

} // namespace
