#include "connections/human_units.h"

#include <array>

namespace qv {

namespace {
QString Scaled(double value, const char* suffix) {
    static constexpr std::array<const char*, 5> kUnits = {"B", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < kUnits.size()) {
        value /= 1024;
        ++unit;
    }
    // Three significant digits, whole bytes as they are.
    const int decimals = unit == 0 ? 0 : value < 10 ? 2 : value < 100 ? 1 : 0;
    return QStringLiteral("%1 %2%3")
        .arg(value, 0, 'f', decimals)
        .arg(QLatin1String(kUnits[unit]), QLatin1String(suffix));
}

QString TwoParts(long long big, const char* bigUnit, long long small, const char* smallUnit) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(big)
        .arg(QLatin1String(bigUnit))
        .arg(small, 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(smallUnit));
}
} // namespace

QString HumanBytes(std::uint64_t bytes) {
    return Scaled(static_cast<double>(bytes), "");
}

QString HumanRate(double bytesPerSecond) {
    return Scaled(bytesPerSecond < 0 ? 0 : bytesPerSecond, "/s");
}

QString HumanDuration(std::chrono::seconds duration) {
    const long long s = duration.count() < 0 ? 0 : duration.count();
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return TwoParts(s / 60, "min", s % 60, "s");
    if (s < 86400)
        return TwoParts(s / 3600, "h", s % 3600 / 60, "min");
    return TwoParts(s / 86400, "d", s % 86400 / 3600, "h");
}

} // namespace qv
