#include "core/profile/temporary_files.h"

#include "core/profile/file_path.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <signal.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {
namespace {

// Set before this process creates its first temporary file: until then, a file bearing its own process
// number was left by an earlier process that had the same number.
std::atomic<bool> writingBegun{false};

constexpr std::string_view kMarker = ".tmp";

// Reads "<digits><end>" off the front of text.
bool ReadNumber(std::string_view& text, char end, long long& value) {
    const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || rest == text.data() || value < 0)
        return false;
    text.remove_prefix(static_cast<size_t>(rest - text.data()));
    if (end == '\0')
        return text.empty();
    if (text.empty() || text.front() != end)
        return false;
    text.remove_prefix(1);
    return true;
}

// The writer's process number when name is one of TemporaryNameFor(<base>, ...), else -1.
pid_t WriterOf(std::string_view name, const std::string& base) {
    if (!name.starts_with(base) || !name.substr(base.size()).starts_with(kMarker))
        return -1;
    name.remove_prefix(base.size() + kMarker.size());
    long long pid = 0, counter = 0, attempt = 0;
    if (!ReadNumber(name, '-', pid) || !ReadNumber(name, '-', counter) || !ReadNumber(name, '\0', attempt) ||
        pid == 0 || pid != static_cast<pid_t>(pid))
        return -1;
    return static_cast<pid_t>(pid);
}

bool WriterIsGone(pid_t pid) {
    if (pid == ::getpid())
        return !writingBegun.load();
    // EPERM: the process exists under another user.
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

std::string TemporaryNameFor(const std::string& target, int attempt) {
    static std::atomic<unsigned> counter{0};
    writingBegun.store(true);
    return target + std::string(kMarker) + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
           "-" + std::to_string(attempt);
}

void RemoveStaleTemporaryFiles(const std::string& target) {
    const std::string base = NameOf(target);
    if (base.empty())
        return;
    const int saved = errno;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(DirectoryOf(target).c_str()), ::closedir);
    if (folder) {
        const int folderFd = ::dirfd(folder.get());
        while (const dirent* entry = ::readdir(folder.get())) {
            const pid_t writer = WriterOf(entry->d_name, base);
            struct stat info {};
            if (writer > 0 && ::fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && WriterIsGone(writer))
                ::unlinkat(folderFd, entry->d_name, 0);
        }
    }
    errno = saved;
}

void RemoveStaleTemporaryFilesOnce(const std::string& path) {
    static std::mutex mutex;
    static std::set<std::string> done;
    std::lock_guard lock(mutex);
    if (done.insert(path).second)
        RemoveStaleTemporaryFiles(FollowLinks(path));
}

} // namespace qv
