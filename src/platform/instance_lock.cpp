#include "platform/instance_lock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
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
    if (fd_ < 0)
        fd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        return state_ = State::Unavailable;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            Release();
            return state_ = State::Unavailable;
        }
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

void InstanceLock::Release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (state_ == State::Taken)
        state_ = State::Unavailable;
}

std::string InstanceSocketPath(const std::string& configPath) {
    // FNV-1a of the full path: short enough for a socket name, and one per configuration.
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : AbsolutePath(configPath)) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[64];
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        std::snprintf(name, sizeof name, "/quorvane-%016llx.sock", static_cast<unsigned long long>(hash));
        return runtime + std::string(name);
    }
    std::snprintf(name, sizeof name, "/tmp/quorvane-%u-%016llx.sock", static_cast<unsigned>(::getuid()),
                  static_cast<unsigned long long>(hash));
    return name;
}

} // namespace qv
