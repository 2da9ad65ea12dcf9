#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "service/mapping_service.h"

class QLabel;

namespace qv {

class TThroughputGraph;

// One line per switched-on mapping: where it listens and relays to, its live and total
// connections, its bytes each way, its failures by reason, and its throughput over the last minute.
class TMappingSummary : public QWidget {
    Q_OBJECT
public:
    explicit TMappingSummary(QWidget* parent = nullptr);

    // From the service and the live links of the same moment; `newSecond` adds a point to the graphs.
    void Update(const TMappingService& service, const std::vector<MappingLink>& live, bool newSecond);

    // The text of a mapping's line as it stands (empty while the mapping is off).
    QString LineText(int slot) const;

signals:
    // A line's "Rules..." was clicked.
    void RulesWanted(int slot);

private:
    struct Line {
        QWidget* row = nullptr;
        QLabel* text = nullptr;
        TThroughputGraph* graph = nullptr;
        std::uint64_t lastUp = 0;
        std::uint64_t lastDown = 0;
        bool sampled = false;
    };
    std::array<Line, TMappingService::kTimedSlot> lines_{};
    QLabel* nothing_ = nullptr;
};

} // namespace qv
