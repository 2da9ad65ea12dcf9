#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// The machine's physical memory as the About window shows it, in bytes. "Available" is what
// programs can still get without swapping (MemAvailable), and the load is the share in use,
// (total - available) / total, in whole per cent.
struct MemoryStatus {
    std::uint64_t totalBytes = 0;
    std::uint64_t availableBytes = 0;
    int loadPercent = 0;
};

// Reads the figures from a meminfo text ("MemTotal:  16318412 kB" lines); nullopt when the
// total is missing.
std::optional<MemoryStatus> ParseMemInfo(std::string_view text);
// The same from the kernel's file.
std::optional<MemoryStatus> ReadMemoryStatus(const std::string& path = "/proc/meminfo");

// The processor's time-stamp counter, from any thread; nullopt where none can be read.
std::optional<std::uint64_t> ReadCycleCounter();

} // namespace qv
