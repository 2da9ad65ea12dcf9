#pragma once

#include <QAbstractTableModel>
#include <chrono>
#include <deque>
#include <vector>

#include "service/mapping_service.h"

namespace qv {

// The links of the connections window as a table: the live ones, updated in place from each snapshot,
// or the ended ones, newest first. Each cell shows human units; its tool tip has the exact value and
// Qt::UserRole the value to sort by. A UDP session's bytes come with its datagrams: "1.2 KiB (14 dgrams)".
class TLinksModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Column {
        Mapping,
        Protocol,
        Client,
        Destination,
        State,
        Reason,
        Sent,
        Received,
        RateUp,
        RateDown,
        Duration,
        Ended
    };
    enum class Kind { Live, Ended };

    explicit TLinksModel(Kind kind, QObject* parent = nullptr);

    // Live: links that are gone leave, new ones are added at the end, the others change in place, so
    // views keep their selection and their place. `now` is when the snapshot was taken.
    void UpdateLive(std::vector<MappingLink> links, std::chrono::steady_clock::time_point now);
    // Ended: the `fresh` newest of `ended` go on top, rows beyond its size leave at the bottom.
    void UpdateEnded(const std::deque<MappingLink>& ended, std::size_t fresh);

    const MappingLink* LinkAt(int row) const;
    Column ColumnAt(int column) const { return columns_.at(static_cast<std::size_t>(column)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        MappingLink link;
        double rateUp = 0;
        double rateDown = 0;
    };
    QVariant Display(const Row& row, Column column) const;
    QVariant Exact(const Row& row, Column column) const;
    QVariant SortValue(const Row& row, Column column) const;
    std::chrono::seconds Age(const Row& row) const;

    std::vector<Column> columns_;
    std::vector<Row> rows_;
    std::chrono::steady_clock::time_point now_{};
    std::chrono::steady_clock::time_point previous_{};
};

} // namespace qv
