#include "core/profile/atomic_file.h"

#include "core/profile/file_path.h"
#include "core/profile/temporary_files.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {
namespace {

// Closes the descriptor on every path out; keeps errno as the failing step left it.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    bool Close() {
        if (fd_ < 0)
            return true;
        const int saved = errno;
        const bool ok = ::close(fd_) == 0;
        if (ok)
            errno = saved;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

bool WriteAllBytes(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The mode a new file gets from open(..., 0666): 0666 less this process's umask, read without changing
// it (umask() would, for every thread at once). nullopt where the system does not tell it.
std::optional<mode_t> NewFileMode() {
    std::string status;
    if (ReadWholeFile("/proc/self/status", status) != 0)
        return std::nullopt;
    const size_t at = status.find("\nUmask:");
    if (at == std::string::npos)
        return std::nullopt;
    const char* digits = status.c_str() + at + 7;
    while (*digits == ' ' || *digits == '\t')
        ++digits;
    unsigned mask = 0;
    const auto [end, error] = std::from_chars(digits, status.c_str() + status.size(), mask, 8);
    if (error != std::errc() || end == digits)
        return std::nullopt;
    return static_cast<mode_t>(0666 & ~mask);
}

} // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
    // Through a chain of links to the file at its end, so the links stay links, even a dangling one.
    const std::string target = FollowLinks(path);
    if (target.empty())
        return false;
    struct stat old {};
    const bool hadFile = ::stat(target.c_str(), &old) == 0;

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryNameFor(target, attempt);
        // Owner only for as long as the copy goes by its temporary name: if the process dies before the
        // rename, what stays behind is no more readable than the user's own files.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    FileDescriptor file(fd);

    bool ok = WriteAllBytes(file.Get(), bytes);
    if (ok)
        ok = ::fsync(file.Get()) == 0;
    if (ok)
        ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    // In place under its own name, the file takes the old file's permission bits, or a new file's.
    // Failing that it stays owner-only, which loses no data.
    const std::optional<mode_t> mode = hadFile ? std::optional<mode_t>(old.st_mode & 07777) : NewFileMode();
    if (mode && *mode != 0600)
        ::fchmod(file.Get(), *mode);
    if (!file.Close())
        return false;
    // Make the rename itself durable; the new file is in place already, so a failure here is no loss.
    FileDescriptor directory(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0)
        ::fsync(directory.Get());
    return true;
}

int ReadWholeFile(const std::string& path, std::string& bytes, size_t maxSize) {
    bytes.clear();
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0)
        return errno;
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    if (static_cast<unsigned long long>(info.st_size) > maxSize)
        return EFBIG;
    bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got == 0)
            return 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            bytes.clear();
            return error;
        }
        bytes.append(buffer, static_cast<size_t>(got));
        if (bytes.size() > maxSize) {
            bytes.clear();
            return EFBIG;
        }
    }
}

} // namespace qv
