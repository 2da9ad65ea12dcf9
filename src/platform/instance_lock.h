#pragma once

#include <string>

namespace qv {

// One instance per configuration: a lock file beside it (`<configuration>.lock`), locked for the
// life of the instance that runs it, names that instance's process and kind ("window" or
// "headless"). The kernel drops the lock when the process ends, however it ends.
class InstanceLock {
public:
    enum class State {
        Taken,       // this process runs the configuration
        HeldByOther, // another process does: Holder() says which
        Unavailable, // no lock file can be made there; the instance runs unguarded, as before
    };
    struct Holder {
        long pid = 0;
        std::string kind;
    };

    InstanceLock(const std::string& configPath, std::string kind);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State Take();
    const Holder& HeldBy() const { return holder_; }
    // Gives the configuration up, so an instance started now (a restart) can take it.
    void Release();

private:
    std::string lockPath_;
    std::string kind_;
    int fd_ = -1;
    State state_ = State::Unavailable;
    Holder holder_;
};

// Where the instance running a configuration answers the next start: a local socket in
// $XDG_RUNTIME_DIR (or the temporary folder, with the user's id in its name), named after the
// configuration's full path.
std::string InstanceSocketPath(const std::string& configPath);

} // namespace qv
