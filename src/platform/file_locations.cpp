#include "platform/file_locations.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qv {

namespace {

namespace fs = std::filesystem;

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

// argv0 as the shell resolved it: a name with a slash is a path from the working directory, a
// bare name was looked up along PATH. Empty when it does not lead to the running executable
// (a launcher may pass any argv0).
std::string LaunchPathOf(const LaunchFacts& facts) {
    const std::string& name = facts.argv0;
    std::string candidate;
    if (name.find('/') != std::string::npos) {
        candidate = name.front() == '/' ? name : WithSlash(facts.workingDir) + name;
    } else if (!name.empty()) {
        std::size_t start = 0;
        while (start <= facts.pathVariable.size()) {
            std::size_t end = facts.pathVariable.find(':', start);
            if (end == std::string::npos)
                end = facts.pathVariable.size();
            const std::string dir = facts.pathVariable.substr(start, end - start);
            const std::string path = WithSlash(dir.empty() ? facts.workingDir : dir) + name;
            if (access(path.c_str(), X_OK) == 0) {
                candidate = path;
                break;
            }
            start = end + 1;
        }
    }
    if (candidate.empty() || !SameFile(candidate, facts.realExecutable))
        return {};
    return fs::path(candidate).lexically_normal().string();
}

void MakePrivateDirs(const std::string& dir) {
    std::string partial;
    for (std::size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            partial = dir.substr(0, i);
            if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
                return;
        }
    }
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : fallback;
}

std::string HomeDir() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

} // namespace

bool DirIsWritable(const std::string& dir) {
    return faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string UserConfigDir(const std::string& xdgConfigHome, const std::string& home) {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
    return WithSlash(!xdgConfigHome.empty() && xdgConfigHome.front() == '/' ? xdgConfigHome
                                                                            : WithSlash(home) + ".config");
}

std::string UserConfigDir() {
    return UserConfigDir(EnvOr("XDG_CONFIG_HOME", ""), HomeDir());
}

std::string PerUserDir(const std::string& xdgConfigHome, const std::string& home) {
    return UserConfigDir(xdgConfigHome, home) + "quorvane/";
}

namespace {
// Sets writableDir and perUser of `where`, whose dataDir is known.
void ChooseWritableDir(FileLocations& where, const std::string& xdgConfigHome, const std::string& home) {
    // /usr holds installed, read-only files (/usr/bin, /usr/local): even root never writes there.
    const bool systemTree = where.dataDir.rfind("/usr/", 0) == 0;
    if (!systemTree && DirIsWritable(where.dataDir)) {
        where.writableDir = where.dataDir;
    } else {
        where.writableDir = PerUserDir(xdgConfigHome, home);
        where.perUser = true;
        MakePrivateDirs(where.writableDir);
    }
}
} // namespace

FileLocations DecideFileLocations(const LaunchFacts& facts) {
    FileLocations where;
    const std::string launch = LaunchPathOf(facts);
    where.launchPath = launch.empty() ? facts.realExecutable : launch;
    where.dataDir = WithSlash(fs::path(facts.realExecutable).parent_path().string());
    ChooseWritableDir(where, facts.xdgConfigHome, facts.home);
    return where;
}

std::string WritableDirFor(const std::string& dataDir) {
    FileLocations where;
    where.dataDir = WithSlash(dataDir);
    ChooseWritableDir(where, EnvOr("XDG_CONFIG_HOME", ""), HomeDir());
    return where.writableDir;
}

FileLocations LocateFiles(const char* argv0) {
    LaunchFacts facts;
    facts.argv0 = argv0 ? argv0 : "";
    std::error_code error;
    facts.workingDir = fs::current_path(error).string();
    facts.realExecutable = fs::read_symlink("/proc/self/exe", error).string();
    if (facts.realExecutable.empty()) // no /proc: trust the name it was started by
        facts.realExecutable = (fs::path(facts.workingDir) / facts.argv0).lexically_normal().string();
    facts.pathVariable = EnvOr("PATH", "/usr/local/bin:/usr/bin:/bin");
    facts.xdgConfigHome = EnvOr("XDG_CONFIG_HOME", "");
    facts.home = HomeDir();
    return DecideFileLocations(facts);
}

} // namespace qv
