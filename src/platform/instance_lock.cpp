#include "platform/instance_lock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {
std::string ReadHolderText(int fd) {
    char text[64] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
}

InstanceLock::Holder ParseHolder(const std::string& text) {
    InstanceLock::Holder holder;
    char kind[16] = {};
    if (std::sscanf(text.c_str(), "%ld %15s", &holder.pid, kind) == 2)
        holder.kind = kind;
    return holder;
}

std::string AbsolutePath(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string absolute = real;
        std::free(real);
        return absolute;
    }
    return path;
}
} // namespace

InstanceLock::InstanceLock(const std::string& configPath, std::string kind)
    : lockPath_(configPath + ".lock"), kind_(std::move(kind)) {}

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::State InstanceLock::Take() {
    if (state_ == State::Taken)
        return state_;
    if (fd_ < 0) {
        // Non-blocking, so a pipe put where the lock belongs cannot hold the start up.
        fd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd_ < 0)
            return Refuse(errno == ELOOP    ? "it is a symbolic link"
                          : errno == EISDIR ? "it is not a regular file"
                                            : std::strerror(errno));
        struct stat file {};
        if (::fstat(fd_, &file) != 0)
            return Refuse(std::strerror(errno));
        if (!S_ISREG(file.st_mode))
            return Refuse("it is not a regular file");
        if (file.st_uid != ::geteuid())
            return Refuse("it belongs to another user");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            return Refuse(std::strerror(errno));
        holder_ = ParseHolder(ReadHolderText(fd_));
        return state_ = State::HeldByOther;
    }
    const std::string text = std::to_string(::getpid()) + " " + kind_ + "\n";
    // The lock is what counts; the text only names the holder for a later start's message.
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_, text.data(), text.size(), 0);
    }
    holder_ = {static_cast<long>(::getpid()), kind_};
    return state_ = State::Taken;
}

InstanceLock::State InstanceLock::Refuse(const char* problem) {
    problem_ = problem;
    Release();
    return state_ = State::Refused;
}

void InstanceLock::Release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    state_ = State::Free;
}

std::string InstanceSocketPath(const std::string& configPath) {
    // FNV-1a of the full path: short enough for a socket name, and one per configuration.
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : AbsolutePath(configPath)) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "/quorvane-%016llx.sock", static_cast<unsigned long long>(hash));
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return runtime + std::string(name);
    const char* temporary = std::getenv("TMPDIR");
    char folder[32];
    std::snprintf(folder, sizeof folder, "/quorvane-%u", static_cast<unsigned>(::geteuid()));
    return (temporary && temporary[0] == '/' ? temporary : "/tmp") + std::string(folder) + name;
}

std::string InstanceSocketFolderProblem(const std::string& socketPath) {
    const std::string folder = socketPath.substr(0, socketPath.rfind('/'));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return folder + ": " + std::strerror(errno);
    // lstat, so that a link to a folder of someone else's is not taken for one.
    struct stat place {};
    if (::lstat(folder.c_str(), &place) != 0)
        return folder + ": " + std::strerror(errno);
    if (!S_ISDIR(place.st_mode))
        return folder + " is not a folder";
    if (place.st_uid != ::geteuid())
        return folder + " belongs to another user";
    if ((place.st_mode & 077) != 0)
        return folder + " is open to other users";
    return {};
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
}

} // namespace qv
