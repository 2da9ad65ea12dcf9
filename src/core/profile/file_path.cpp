#include "core/profile/file_path.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FollowLinks(const std::string& path) {
    // As many links as the kernel itself follows in one path before it gives up.
    constexpr int kMaxLinks = 40;
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof target)
            return current; // unreadable: the write through it fails and says why
        const std::string next(target, static_cast<size_t>(length));
        // A relative link is read from the folder the link itself is in.
        current = next.front() == '/' ? next : DirectoryOf(current) + "/" + next;
    }
    errno = ELOOP;
    return {};
}

} // namespace qv
