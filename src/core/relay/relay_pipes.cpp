#include "core/relay/relay_pipes.h"

#include "core/relay/relay_socket.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace qv {

TRelayPipes::~TRelayPipes() {
    for (auto& [r, w] : spare_) {
        ::close(r);
        ::close(w);
    }
}

bool TRelayPipes::Take(int pipe[2]) {
    if (!spare_.empty()) {
        pipe[0] = spare_.back().first;
        pipe[1] = spare_.back().second;
        spare_.pop_back();
        return true;
    }
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    if (ceiling_ && !ceiling_->Allows(std::max(pipe[0], pipe[1]))) {
        CloseFd(pipe[0]);
        CloseFd(pipe[1]);
        return false; // the chunk is copied instead
    }
    return true;
}

void TRelayPipes::Give(int pipe[2]) {
    if (spare_.size() < kMaxSpare) {
        spare_.emplace_back(pipe[0], pipe[1]);
        pipe[0] = pipe[1] = -1;
        return;
    }
    CloseFd(pipe[0]);
    CloseFd(pipe[1]);
}

} // namespace qv
