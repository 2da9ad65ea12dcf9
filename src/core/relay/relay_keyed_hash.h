#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// A hash of `length` bytes under a key drawn at random once per process (SipHash-1-3). Tables keyed on
// what clients choose (their addresses and ports) use it: without the key no one can pick inputs that
// land in one bucket and make every lookup slow.
std::uint64_t KeyedHash(const void* data, std::size_t length);

} // namespace qv
