#pragma once

#include <string>

namespace qv {

// One instance per configuration: a lock file beside it (`<configuration>.lock`), locked for the
// life of the instance that runs it, names that instance's process and kind ("window" or
// "headless"). The kernel drops the lock when the process ends, however it ends. No instance runs
// without it: the folder of a configuration may be one others can write, so a lock file that is
// a link, not a plain file or not this user's own is refused rather than trusted.
class InstanceLock {
public:
    enum class State {
        Free,        // not taken yet, or given up
        Taken,       // this process runs the configuration
        HeldByOther, // another process does: HeldBy() says which
        Refused,     // the lock file cannot be taken: Problem() says why
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
    const std::string& Problem() const { return problem_; }
    const std::string& Path() const { return lockPath_; }
    // Gives the configuration up, so an instance started now (a restart) can take it.
    void Release();

private:
    State Refuse(const char* problem);

    std::string lockPath_;
    std::string kind_;
    int fd_ = -1;
    State state_ = State::Free;
    Holder holder_;
    std::string problem_;
};

// Where the instance running a configuration answers the next start: a local socket named after the
// configuration's full path, in $XDG_RUNTIME_DIR, or else in a folder of the user's own in the
// temporary folder ($TMPDIR or /tmp).
std::string InstanceSocketPath(const std::string& configPath);

// Makes the socket's folder when it is missing, then checks that it is this user's alone: a folder,
// no link, owned by this user, closed to everyone else. Empty when it is; else what is wrong, and
// nobody is to answer or be asked there.
std::string InstanceSocketFolderProblem(const std::string& socketPath);

// Whether the process at the other end of a connected local socket runs as this user.
bool PeerIsThisUser(int fd);

} // namespace qv
