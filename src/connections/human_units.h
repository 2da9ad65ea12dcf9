#pragma once

#include <QString>
#include <chrono>
#include <cstdint>

namespace qv {

// Figures as people read them: "512 B", "1.46 KiB", "12.3 MiB"; rates with "/s"; durations as
// "42 s", "3 min 05 s", "1 h 02 min", "2 d 04 h".
QString HumanBytes(std::uint64_t bytes);
QString HumanRate(double bytesPerSecond);
QString HumanDuration(std::chrono::seconds duration);

} // namespace qv
