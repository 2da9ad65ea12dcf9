#include "core/relay/relay_link_table.h"

#include <new>

namespace qv {
namespace {

// A tag: the generation in the high half, then the slot, then the role in the lowest bits.
constexpr unsigned kSlotShift = TRelayLinkTable::kRoleBits;
constexpr std::uint64_t kSlotMask = 0xffffffffu >> TRelayLinkTable::kRoleBits;

} // namespace

bool TRelayLinkTable::Add(TRelayLink& link, std::uint32_t& slot) {
    try {
        if (free_.empty()) {
            if (slots_.size() > kSlotMask)
                return false;
            slots_.emplace_back();
            if (free_.capacity() < slots_.capacity())
                free_.reserve(slots_.capacity()); // so Remove never has to allocate
            slot = static_cast<std::uint32_t>(slots_.size() - 1);
        } else {
            slot = free_.back();
            free_.pop_back();
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    slots_[slot].link = &link;
    ++count_;
    return true;
}

void TRelayLinkTable::Remove(std::uint32_t slot) {
    Slot& s = slots_[slot];
    s.link = nullptr;
    ++s.generation;
    free_.push_back(slot);
    --count_;
}

std::uint64_t TRelayLinkTable::Tag(std::uint32_t slot, unsigned role) const {
    return std::uint64_t{slots_[slot].generation} << 32 | std::uint64_t{slot} << kSlotShift | role;
}

TRelayLink* TRelayLinkTable::Find(std::uint64_t tag) const {
    const std::size_t slot = (tag >> kSlotShift) & kSlotMask;
    if (slot >= slots_.size())
        return nullptr;
    const Slot& s = slots_[slot];
    return s.generation == static_cast<std::uint32_t>(tag >> 32) ? s.link : nullptr;
}

} // namespace qv
