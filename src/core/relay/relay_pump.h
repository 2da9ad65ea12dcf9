#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/relay/relay_bandwidth.h"
#include "core/relay/relay_pipes.h"

namespace qv {

inline constexpr std::size_t kRelayChunk = 32768;

// One direction of a link, from a non-blocking source socket to a non-blocking destination socket. It
// holds at most one chunk of kRelayChunk bytes and is not read again until that chunk has been written
// whole, so neither direction of a link ever holds up the other.
//
// Small transfers are copied through the loop's scratch buffer, which no chunk outlives: what the
// destination does not take at once is kept in a buffer of the link's own until written. Once a read
// fills a whole chunk the stream is a bulk one and moves through a pipe with splice, so its bytes never
// enter this process. A link holds a pipe or a buffer only while bytes wait in it: idle links hold none.
//
// Under a bandwidth limit each read is granted first and reads no more than its grant; while the grant
// is not yet due the channel is held. Writing what was read is never held back.
class TRelayChannel {
public:
    TRelayChannel(TRelayPipes& pipes, char* scratch) : pipes_(pipes), scratch_(scratch) {}
    ~TRelayChannel();
    TRelayChannel(const TRelayChannel&) = delete;
    TRelayChannel& operator=(const TRelayChannel&) = delete;

    void SetEnds(int src, int dst) {
        src_ = src;
        dst_ = dst;
    }
    // Counts the bytes written to the destination, for readers on other threads.
    void CountInto(std::atomic<std::uint64_t>* moved) { moved_ = moved; }
    // After a failure: whether the source failed (else the destination did).
    bool FailedAtSource() const { return failedAtSource_; }
    bool Writing() const { return pending_ > 0; }
    bool Eof() const { return eof_; }

    // The limit of this direction (null: none). A grant in hand is dropped: the limit has changed.
    void Limit(TRelayBandwidth* bandwidth) {
        limit_ = bandwidth;
        grant_ = 0;
        held_ = false;
    }
    // Waiting for its grant, due at ReadAt.
    bool Held() const { return held_; }
    TRelayBandwidth::Clock::time_point ReadAt() const { return readAt_; }

    // Moves bytes on as far as the sockets allow, reading at most `budget` chunks. Clears srcReadable
    // once the source has nothing more and dstWritable once the destination is full; srcEnding says the
    // source's end of stream has been reported and waits behind its data. False on a failure.
    bool MoveOn(bool& srcReadable, bool srcEnding, bool& dstWritable, int& budget);

private:
    enum class FillResult { Filled, Eof, Again, Failed };
    FillResult Fill(bool& srcReadable, bool srcEnding, std::size_t want);
    // Under a limit: whether a grant is due now, and its size.
    bool Granted(std::size_t& want);
    bool Flush();
    void ReleasePipe();

    TRelayPipes& pipes_;
    char* scratch_;
    int src_ = -1;
    int dst_ = -1;
    int pipe_[2] = {-1, -1};
    bool bulk_ = false;      // reads go through a pipe
    bool spliced_ = false;   // the chunk in hand is in the pipe
    bool inScratch_ = false; // the chunk in hand is in the loop's scratch buffer
    std::unique_ptr<char[]> own_;
    const char* data_ = nullptr;
    std::size_t pending_ = 0;
    bool eof_ = false;
    bool failedAtSource_ = false;
    std::atomic<std::uint64_t>* moved_ = nullptr;
    TRelayBandwidth* limit_ = nullptr;
    std::size_t grant_ = 0;
    bool held_ = false;
    TRelayBandwidth::Clock::time_point readAt_{};
};

} // namespace qv
