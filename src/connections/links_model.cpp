#include "connections/links_model.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <unordered_map>

#include "connections/human_units.h"

namespace qv {

namespace {
using Column = TLinksModel::Column;

std::uint64_t Key(const MappingLink& link) {
    // Link numbers are a listener's own: the mapping tells the listeners apart.
    return link.figures.id << 3 | static_cast<std::uint64_t>(link.slot);
}

QString Text(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString MappingName(int slot) {
    return slot == TMappingService::kTimedSlot ? QStringLiteral("Timed (#1)")
                                               : QStringLiteral("Mapping #%1").arg(slot);
}

const char* Caption(Column column) {
    switch (column) {
    case Column::Mapping:
        return "Mapping";
    case Column::Protocol:
        return "Protocol";
    case Column::Client:
        return "Client";
    case Column::Destination:
        return "Destination";
    case Column::State:
        return "State";
    case Column::Reason:
        return "Reason";
    case Column::Sent:
        return "Sent";
    case Column::Received:
        return "Received";
    case Column::RateUp:
        return "Sending";
    case Column::RateDown:
        return "Receiving";
    case Column::Duration:
        return "Duration";
    case Column::Ended:
        return "Ended";
    }
    return "";
}
bool IsUdp(const RelayLinkFigures& f) {
    return f.protocol == RelayProtocol::Udp;
}

// Bytes, and for a UDP session its datagrams too.
QString Carried(const RelayLinkFigures& f, std::uint64_t bytes, std::uint64_t datagrams) {
    if (!IsUdp(f))
        return HumanBytes(bytes);
    return QStringLiteral("%1 (%2 %3)")
        .arg(HumanBytes(bytes))
        .arg(datagrams)
        .arg(datagrams == 1 ? QStringLiteral("dgram") : QStringLiteral("dgrams"));
}

QString CarriedExactly(const RelayLinkFigures& f, std::uint64_t bytes, std::uint64_t datagrams) {
    const QLocale locale;
    const QString text = QStringLiteral("%1 bytes").arg(locale.toString(static_cast<qulonglong>(bytes)));
    if (!IsUdp(f))
        return text;
    return QStringLiteral("%1 in %2 datagrams")
        .arg(text, locale.toString(static_cast<qulonglong>(datagrams)));
}
} // namespace

TLinksModel::TLinksModel(Kind kind, QObject* parent) : QAbstractTableModel(parent) {
    if (kind == Kind::Live)
        columns_ = {Column::Mapping, Column::Protocol, Column::Client, Column::Destination, Column::State,
                    Column::Sent,    Column::Received, Column::RateUp, Column::RateDown,    Column::Duration};
    else
        columns_ = {Column::Mapping, Column::Protocol, Column::Client,   Column::Destination, Column::Reason,
                    Column::Sent,    Column::Received, Column::Duration, Column::Ended};
}

void TLinksModel::UpdateLive(std::vector<MappingLink> links, std::chrono::steady_clock::time_point now) {
    previous_ = now_;
    now_ = now;
    const double seconds = std::chrono::duration<double>(now_ - previous_).count();
    std::unordered_map<std::uint64_t, std::size_t> incoming;
    incoming.reserve(links.size());
    for (std::size_t i = 0; i < links.size(); ++i)
        incoming.emplace(Key(links[i]), i);

    // The rows that stay keep their order and take their new figures; new links follow. Ended links
    // are scattered (UDP sessions come in hash order), so the table is rebuilt in one pass and the views
    // told once, their persistent indexes moved along: a removal per run of neighbours would cost a
    // move of the rows below each time.
    std::vector<Row> next;
    next.reserve(links.size());
    std::vector<int> movedTo(rows_.size(), -1);
    std::vector<bool> known(links.size(), false);
    for (std::size_t old = 0; old < rows_.size(); ++old) {
        const auto found = incoming.find(Key(rows_[old].link));
        if (found == incoming.end())
            continue;
        Row& row = rows_[old];
        known[found->second] = true;
        const RelayLinkFigures& fresh = links[found->second].figures;
        if (seconds > 0) {
            row.rateUp = static_cast<double>(fresh.bytesUp - row.link.figures.bytesUp) / seconds;
            row.rateDown = static_cast<double>(fresh.bytesDown - row.link.figures.bytesDown) / seconds;
        }
        row.link.figures = fresh;
        movedTo[old] = static_cast<int>(next.size());
        next.push_back(std::move(row));
    }
    const bool same = next.size() == rows_.size() && next.size() == links.size();
    for (std::size_t i = 0; i < links.size(); ++i)
        if (!known[i])
            next.push_back({std::move(links[i]), 0, 0});
    if (same) {
        // Durations move on in every row: one change for the whole table.
        rows_ = std::move(next);
        if (!rows_.empty())
            emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, columnCount() - 1));
        return;
    }
    emit layoutAboutToBeChanged();
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
        const int row = movedTo[static_cast<std::size_t>(old.row())];
        to.append(row < 0 ? QModelIndex() : createIndex(row, old.column()));
    }
    rows_ = std::move(next);
    changePersistentIndexList(from, to);
    emit layoutChanged();
}

void TLinksModel::UpdateEnded(const std::deque<MappingLink>& ended, std::size_t fresh) {
    fresh = std::min(fresh, ended.size());
    if (fresh > 0) {
        beginInsertRows({}, 0, static_cast<int>(fresh) - 1);
        std::vector<Row> top;
        for (std::size_t i = 0; i < fresh; ++i)
            top.push_back({ended[i], 0, 0});
        rows_.insert(rows_.begin(), top.begin(), top.end());
        endInsertRows();
    }
    if (rows_.size() > ended.size()) {
        beginRemoveRows({}, static_cast<int>(ended.size()), static_cast<int>(rows_.size()) - 1);
        rows_.resize(ended.size());
        endRemoveRows();
    }
}

const MappingLink* TLinksModel::LinkAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? &rows_[static_cast<std::size_t>(row)].link
                                                            : nullptr;
}

int TLinksModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TLinksModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

std::chrono::seconds TLinksModel::Age(const Row& row) const {
    const RelayLinkFigures& f = row.link.figures;
    if (row.link.ended != std::chrono::system_clock::time_point{})
        return std::chrono::duration_cast<std::chrono::seconds>(row.link.ended - f.started);
    return std::chrono::duration_cast<std::chrono::seconds>(now_ - f.startedSteady);
}

QVariant TLinksModel::Display(const Row& row, Column column) const {
    const RelayLinkFigures& f = row.link.figures;
    switch (column) {
    case Column::Mapping:
        return MappingName(row.link.slot);
    case Column::Protocol:
        return QString::fromLatin1(ProtocolText(f.protocol));
    case Column::Client:
        return Text(EndpointText(f.client));
    case Column::Destination:
        // One that was never reached shows where it was tried.
        return Text(EndpointText(f.destination.length ? f.destination : f.tried));
    case Column::State:
        return QString::fromLatin1(StateText(f.state));
    case Column::Reason:
        return QString::fromLatin1(ReasonText(f.reason));
    case Column::Sent:
        return Carried(f, f.bytesUp, f.datagramsUp);
    case Column::Received:
        return Carried(f, f.bytesDown, f.datagramsDown);
    case Column::RateUp:
        return HumanRate(row.rateUp);
    case Column::RateDown:
        return HumanRate(row.rateDown);
    case Column::Duration:
        return HumanDuration(Age(row));
    case Column::Ended:
        return QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(row.link.ended))
            .toString(QStringLiteral("HH:mm:ss"));
    }
    return {};
}

QVariant TLinksModel::Exact(const Row& row, Column column) const {
    const RelayLinkFigures& f = row.link.figures;
    const QLocale locale;
    switch (column) {
    case Column::Protocol:
        return IsUdp(f) ? QStringLiteral("%1 datagrams dropped (too large for the way on, or no room)")
                              .arg(locale.toString(static_cast<qulonglong>(f.datagramsDropped)))
                        : QVariant();
    case Column::Sent:
        return CarriedExactly(f, f.bytesUp, f.datagramsUp);
    case Column::Received:
        return CarriedExactly(f, f.bytesDown, f.datagramsDown);
    case Column::RateUp:
        return QStringLiteral("%1 bytes/s").arg(locale.toString(row.rateUp, 'f', 0));
    case Column::RateDown:
        return QStringLiteral("%1 bytes/s").arg(locale.toString(row.rateDown, 'f', 0));
    case Column::Duration:
        return QStringLiteral("%1 s").arg(locale.toString(static_cast<qlonglong>(Age(row).count())));
    case Column::Ended:
        return QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(row.link.ended))
            .toString(Qt::ISODate);
    default:
        return Display(row, column);
    }
}

QVariant TLinksModel::SortValue(const Row& row, Column column) const {
    const RelayLinkFigures& f = row.link.figures;
    switch (column) {
    case Column::Mapping:
        return row.link.slot;
    case Column::Sent:
        return static_cast<qulonglong>(f.bytesUp);
    case Column::Received:
        return static_cast<qulonglong>(f.bytesDown);
    case Column::RateUp:
        return row.rateUp;
    case Column::RateDown:
        return row.rateDown;
    case Column::Duration:
        return static_cast<qlonglong>(Age(row).count());
    case Column::Ended:
        return static_cast<qlonglong>(std::chrono::system_clock::to_time_t(row.link.ended));
    default:
        return Display(row, column);
    }
}

QVariant TLinksModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const Column column = ColumnAt(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return Display(row, column);
    case Qt::ToolTipRole:
        return Exact(row, column);
    case Qt::UserRole:
        return SortValue(row, column);
    case Qt::TextAlignmentRole:
        return column >= Column::Sent && column <= Column::Duration
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    default:
        return {};
    }
}

QVariant TLinksModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return QString::fromLatin1(Caption(ColumnAt(section)));
}

} // namespace qv
