#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>

#include "core/relay/relay_pipes.h"

namespace qv {

inline constexpr std::size_t kRelayChunk = 32768;

// Relays bytes both ways between a link's incoming socket (the client) and outgoing socket (the
// destination), both non-blocking, until both have ended their streams and every byte has been written,
// either side fails, stop is set (with the incoming socket shut down to wake the wait), or the link has
// been half-closed and quiet both ways for halfClosedTimeout.
//
// Neither direction ever blocks the other: each holds at most one chunk of kRelayChunk bytes and is not
// read again until that chunk has been written whole. An end of stream from either side is passed on to
// the other as a shutdown of the sending side, after the last bytes before it, and the other direction
// keeps flowing. True when the link ended with both streams ended: both sockets are shut for sending and
// all their input has been read.
bool PumpRelay(int inFd, int outFd, const std::atomic<bool>& stop, TRelayPipes& pipes,
               std::chrono::milliseconds halfClosedTimeout);

} // namespace qv
