// Where the program's files go: beside the executable when it may write there, else the per-user
// folder; the name it was started by kept for restart and autostart.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "platform/file_locations.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Root may write anywhere, so the decision runs in a child process that, when the test runs as
// root, first becomes the unprivileged user "nobody": the folder's mode bits then answer exactly
// as they do for a desktop user.
constexpr uid_t kNobody = 65534;

qv::FileLocations DecideAsUser(const qv::LaunchFacts& facts, bool unprivileged = true) {
    int channel[2];
    if (pipe(channel) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
             setresuid(kNobody, kNobody, kNobody) != 0))
            _exit(3);
        const qv::FileLocations where = qv::DecideFileLocations(facts);
        const std::string text = where.launchPath + '\n' + where.dataDir + '\n' + where.writableDir + '\n' +
                                 (where.perUser ? "1" : "0") + '\n';
        const bool written = write(channel[1], text.data(), text.size()) == ssize_t(text.size());
        _exit(written ? 0 : 4);
    }
    close(channel[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("decision child failed");
    qv::FileLocations where;
    std::istringstream lines(text);
    std::string perUser;
    std::getline(lines, where.launchPath);
    std::getline(lines, where.dataDir);
    std::getline(lines, where.writableDir);
    std::getline(lines, perUser);
    where.perUser = perUser == "1";
    return where;
}

// An installed tree: <root>/lib/quorvane/quorvane with <root>/bin/quorvane linking to it, and a
// home folder, all reachable by the unprivileged user.
struct Install {
    qvtest::TempDir temp;
    fs::path root = temp.Path();
    fs::path lib = root / "lib" / "quorvane";
    fs::path bin = root / "bin";
    fs::path home = root / "home";

    Install(bool libWritable) {
        fs::create_directories(lib);
        fs::create_directories(bin);
        fs::create_directories(home);
        std::ofstream(lib / "quorvane") << "program";
        fs::permissions(lib / "quorvane", fs::perms(0755));
        fs::create_symlink("../lib/quorvane/quorvane", bin / "quorvane");
        for (const fs::path& dir : {root, root / "lib", bin})
            fs::permissions(dir, fs::perms(0755));
        fs::permissions(lib, fs::perms(libWritable ? 0777 : 0555));
        fs::permissions(home, fs::perms(0777));
    }
    ~Install() {
        std::error_code error;
        fs::permissions(lib, fs::perms(0755), error);
    }
    std::string Real() const { return (lib / "quorvane").string(); }
    std::string Dir(const fs::path& dir) const { return dir.string() + '/'; }
};

struct Case {
    const char* name;
    bool libWritable;
    const char* xdgConfigHome;       // "@" stands for <root>/xdg
    const char* argv0;               // "@" stands for <root>
    const char* workingDir;          // "@" stands for <root>
    const char* pathVariable;        // "@" stands for <root>
    const char* expectWritable;      // "lib", "xdg" or "home"
    const char* expectLaunch;        // "link" or "real"
    const char* realExecutable = ""; // the installed one when empty
};

std::string Expand(const char* text, const fs::path& root) {
    std::string out = text;
    if (const auto at = out.find('@'); at != std::string::npos)
        out.replace(at, 1, root.string());
    return out;
}

class FileLocationsTest : public testing::TestWithParam<Case> {};

TEST_P(FileLocationsTest, ChoosesTheFolders) {
    const Case& c = GetParam();
    Install install(c.libWritable);
    qv::LaunchFacts facts;
    facts.argv0 = Expand(c.argv0, install.root);
    facts.realExecutable = *c.realExecutable ? c.realExecutable : install.Real();
    facts.workingDir = Expand(c.workingDir, install.root);
    facts.pathVariable = Expand(c.pathVariable, install.root);
    facts.xdgConfigHome = Expand(c.xdgConfigHome, install.root);
    facts.home = install.home.string();
    if (std::string(c.xdgConfigHome) == "@/xdg") {
        fs::create_directories(install.root / "xdg");
        fs::permissions(install.root / "xdg", fs::perms(0777));
    }

    const qv::FileLocations where = DecideAsUser(facts, !*c.realExecutable);

    EXPECT_EQ(where.dataDir, fs::path(facts.realExecutable).parent_path().string() + '/');
    const std::string kind = c.expectWritable;
    const std::string expected = kind == "lib"   ? install.Dir(install.lib)
                                 : kind == "xdg" ? install.Dir(install.root / "xdg" / "quorvane")
                                                 : install.Dir(install.home / ".config" / "quorvane");
    EXPECT_EQ(where.writableDir, expected);
    EXPECT_EQ(where.perUser, kind != "lib");
    // The per-user folder exists afterwards, private to its user.
    struct stat info {};
    ASSERT_EQ(stat(where.writableDir.c_str(), &info), 0);
    if (where.perUser) {
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    const std::string link = (install.bin / "quorvane").string();
    EXPECT_EQ(where.launchPath, std::string(c.expectLaunch) == "link" ? link : facts.realExecutable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileLocationsTest,
    testing::Values(
        Case{"WritableBesideExecutable", true, "@/xdg", "@/lib/quorvane/quorvane", "/", "", "lib", "real"},
        Case{"ReadOnlyToXdgConfigHome", false, "@/xdg", "@/bin/quorvane", "/", "", "xdg", "link"},
        Case{"ReadOnlyXdgUnsetToHome", false, "", "quorvane", "/", "/nowhere:@/bin", "home", "link"},
        Case{"ReadOnlyRelativeXdgIgnored", false, "relative", "bin/quorvane", "@", "", "home", "link"},
        Case{"ForeignArgv0KeepsRealPath", false, "", "/usr/bin/something-else", "/", "", "home", "real"},
        // Under /usr, which root could write to: never written there, whoever runs it.
        Case{"SystemTreeNeverWritten", true, "", "quorvane", "/", "", "home", "real", "/usr/bin/quorvane"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
