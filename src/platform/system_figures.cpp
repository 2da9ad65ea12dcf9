#include "platform/system_figures.h"

#include "core/profile/atomic_file.h"

#include <algorithm>
#include <charconv>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace qv {

namespace {
// The value of one "Name:   1234 kB" line in bytes.
std::optional<std::uint64_t> Field(std::string_view text, std::string_view name) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != ':')
            continue;
        std::string_view rest = line.substr(name.size() + 1);
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        std::uint64_t value = 0;
        const auto [next, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (error != std::errc())
            return std::nullopt;
        const std::string_view unit = rest.substr(static_cast<size_t>(next - rest.data()));
        return unit.find("kB") != std::string_view::npos ? value * 1024 : value;
    }
    return std::nullopt;
}
} // namespace

std::optional<MemoryStatus> ParseMemInfo(std::string_view text) {
    const std::optional<std::uint64_t> total = Field(text, "MemTotal");
    if (!total || *total == 0)
        return std::nullopt;
    // Kernels before 3.14 have no MemAvailable: free memory is the nearest figure they give.
    std::optional<std::uint64_t> available = Field(text, "MemAvailable");
    if (!available)
        available = Field(text, "MemFree");
    MemoryStatus status;
    status.totalBytes = *total;
    status.availableBytes = std::min(available.value_or(0), *total);
    const std::uint64_t used = status.totalBytes - status.availableBytes;
    // Rounded to the nearest whole per cent; the products stay far below 2^64 for any real memory.
    status.loadPercent = static_cast<int>((used * 100 + status.totalBytes / 2) / status.totalBytes);
    return status;
}

std::optional<MemoryStatus> ReadMemoryStatus(const std::string& path) {
    std::string text;
    if (ReadWholeFile(path, text) != 0)
        return std::nullopt;
    return ParseMemInfo(text);
}

std::optional<std::uint64_t> ReadCycleCounter() {
#if defined(__x86_64__)
    return __rdtsc();
#else
    return std::nullopt;
#endif
}

} // namespace qv
