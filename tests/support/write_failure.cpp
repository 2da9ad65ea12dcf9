#include "support/write_failure.h"

#include <csignal>
#include <exception>
#include <linux/capability.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace qvtest {
namespace {

// Capabilities belong to a thread: dropping them here leaves the rest of the test process as it was.
void DropPermissionOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        throw std::runtime_error("capget failed");
    const unsigned overrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
    data[0].effective &= ~overrides;
    if (::syscall(SYS_capset, &header, data) != 0)
        throw std::runtime_error("capset failed");
}

} // namespace

void RunWithoutPermissionOverride(const std::function<void()>& fn) {
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            DropPermissionOverride();
            fn();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &old_) != 0)
        throw std::runtime_error("getrlimit failed");
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
}

} // namespace qvtest
