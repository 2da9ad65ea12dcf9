#pragma once
#include <cstdint>
#include <vector>

namespace qv {

class TRelayLink;

// The links of one relay thread, each in a numbered slot whose generation changes whenever the slot is
// emptied. An epoll entry carries the slot, the generation and the socket's role rather than the link's
// address: closing a socket takes it out of epoll only once no other process (a child forked meanwhile)
// holds a copy, so an entry can outlive its link, and its events then name a generation that is gone.
// Such events are dropped without a system call per link to prevent them.
class TRelayLinkTable {
public:
    // Free slots are taken last-freed first, so each generation lasts at least as long as 2^32 links of
    // that slot: longer than any copy of a descriptor outlives the link in a forked child.
    // Links use roles 0 to 2; the loop tags its own entries with role 3, which no link has.
    static constexpr unsigned kRoleBits = 2;

    // A slot for link, or false when none can be had (no memory).
    bool Add(TRelayLink& link, std::uint32_t& slot);
    // Empties the slot: events that name it from now on find nothing.
    void Remove(std::uint32_t slot);
    // The epoll tag of a socket of the link in slot, with its role (below 2^kRoleBits).
    std::uint64_t Tag(std::uint32_t slot, unsigned role) const;
    // The link a tag names while it is still there, else null.
    TRelayLink* Find(std::uint64_t tag) const;
    static unsigned Role(std::uint64_t tag) { return tag & ((1u << kRoleBits) - 1); }

    std::size_t Count() const { return count_; }
    // Calls f for every link; f may remove links, not add them.
    template <typename F> void ForEach(F f) const {
        for (std::size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i].link)
                f(*slots_[i].link);
    }

private:
    struct Slot {
        TRelayLink* link = nullptr;
        std::uint32_t generation = 0;
    };
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> free_;
    std::size_t count_ = 0;
};

} // namespace qv
