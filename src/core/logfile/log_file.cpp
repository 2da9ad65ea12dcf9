#include "core/logfile/log_file.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <unistd.h>

namespace qv {
namespace {

std::mutex& LogFileMutex() {
    static std::mutex mutex;
    return mutex;
}

[[noreturn]] void ThrowFileError(int error, const std::string& path) {
    throw std::system_error(error, std::system_category(), path);
}

void AppendWholeLine(const std::string& path, std::string_view line) {
    std::lock_guard<std::mutex> lock(LogFileMutex());
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        ThrowFileError(errno, path);
    // One write() carries the whole line. When it falls short (a full disk), the rest is tried; if that
    // fails, the part written is cut off again, so the next line does not start in the middle of it.
    bool started = false;
    off_t lineStart = -1; // unknown where the file cannot seek (not a regular file)
    int error = 0;
    while (!line.empty()) {
        const ssize_t written = ::write(fd, line.data(), line.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        if (!started && written > 0) {
            // O_APPEND put this write at the end of the file, wherever other processes left it.
            started = true;
            const off_t end = ::lseek(fd, 0, SEEK_CUR);
            lineStart = end < 0 ? -1 : end - written;
        }
        line.remove_prefix(static_cast<size_t>(written));
    }
    if (error != 0 && lineStart >= 0)
        while (::ftruncate(fd, lineStart) != 0 && errno == EINTR) {
        }
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0)
        ThrowFileError(error, path);
}

} // namespace

std::string AppendLogFileLineAt(const std::string& path, std::string_view eventText, LogLineForm form,
                                const std::tm& when, locale_t locale) {
    std::string line = FormatLogTimestamp(when, form, locale);
    line += eventText;
    line += "\r\n";
    AppendWholeLine(path, line);
    return line;
}

void AppendLogFileLine(const std::string& path, std::string_view eventText, LogLineForm form) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr)
        ThrowFileError(errno ? errno : EOVERFLOW, path);
    AppendLogFileLineAt(path, eventText, form, local);
}

} // namespace qv
