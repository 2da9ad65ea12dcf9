#pragma once

#include <functional>
#include <sys/resource.h>

namespace qvtest {

// Runs fn on a thread of its own without the capabilities that let root write anywhere, so that a
// read-only folder is read-only for the code under test even when the tests run as root.
// Whatever fn throws is thrown again here.
void RunWithoutPermissionOverride(const std::function<void()>& fn);

// While it lives, no file of this process can grow beyond the given size: writes fail with EFBIG,
// as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

} // namespace qvtest
