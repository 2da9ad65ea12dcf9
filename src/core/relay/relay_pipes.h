#pragma once
#include "core/relay/relay_descriptors.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace qv {

// Empty pipes for splicing, shared by the links of one relay thread, which alone uses it. A link holds a
// pipe only while a chunk is in it, so thousands of idle links do not hold two pipes (four descriptors)
// each.
class TRelayPipes {
public:
    // A pipe is taken only where the ceiling allows it, when one is given.
    explicit TRelayPipes(TRelayDescriptorCeiling* ceiling = nullptr) : ceiling_(ceiling) {}
    ~TRelayPipes(); // closes the spare pipes
    TRelayPipes(const TRelayPipes&) = delete;
    TRelayPipes& operator=(const TRelayPipes&) = delete;

    // An empty pipe (read end, write end), created when none is spare; false when none can be had.
    bool Take(int pipe[2]);
    // Takes back a pipe that is empty again, or closes it when enough are spare. Sets both ends to -1.
    void Give(int pipe[2]);

    static constexpr std::size_t kMaxSpare = 64;

private:
    TRelayDescriptorCeiling* ceiling_;
    std::vector<std::pair<int, int>> spare_;
};

} // namespace qv
