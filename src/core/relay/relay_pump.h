#pragma once
#include <atomic>
#include <cstddef>

#include "core/relay/relay_pipes.h"

namespace qv {

inline constexpr std::size_t kRelayChunk = 32768;

// Relays bytes both ways between a link's incoming socket (the client) and outgoing socket (the
// destination), both non-blocking, until the destination has closed and its last bytes have been written
// to the client, either side fails, or stop is set.
//
// Neither direction ever blocks the other: each holds at most one chunk of kRelayChunk bytes and is not
// read again until that chunk has been written whole. An end of stream from the client is passed on to the
// destination as a shutdown of the sending side, and the destination's reply keeps flowing back.
void PumpRelay(int inFd, int outFd, const std::atomic<bool>& stop, TRelayPipes& pipes);

} // namespace qv
