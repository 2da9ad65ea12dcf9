#include "connections/mapping_summary.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include "connections/human_units.h"
#include "connections/throughput_graph.h"

namespace qv {

namespace {
QString Failures(const MappingTotals& totals) {
    QStringList parts;
    for (const auto& [reason, count] : totals.failures)
        parts << QStringLiteral("%1 %2").arg(QString::fromLatin1(ReasonText(reason))).arg(count);
    return parts.isEmpty() ? QStringLiteral("no failures")
                           : QStringLiteral("failures: ") + parts.join(QStringLiteral(", "));
}
} // namespace

TMappingSummary::TMappingSummary(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MappingSummary"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    nothing_ = new QLabel(QStringLiteral("No mapping is switched on."), this);
    layout->addWidget(nothing_);
    for (Line& line : lines_) {
        line.row = new QWidget(this);
        auto* row = new QHBoxLayout(line.row);
        row->setContentsMargins(0, 0, 0, 0);
        line.text = new QLabel(line.row);
        line.text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // A long line (many kinds of failure, a long host name) wraps rather than being cut.
        line.text->setWordWrap(true);
        line.graph = new TThroughputGraph(line.row);
        row->addWidget(line.text, 1);
        row->addWidget(line.graph);
        const int slot = static_cast<int>(&line - lines_.data()) + 1;
        // The timed mapping follows mapping 1's destination and has no rules of its own.
        if (slot <= TMappingService::kSlots) {
            auto* rules = new QPushButton(QStringLiteral("Rules..."), line.row);
            rules->setObjectName(QStringLiteral("MappingRulesButton%1").arg(slot));
            rules->setToolTip(
                QStringLiteral("Where this mapping listens, who may connect, limits and fallbacks"));
            connect(rules, &QPushButton::clicked, this, [this, slot] { emit RulesWanted(slot); });
            row->addWidget(rules);
        }
        layout->addWidget(line.row);
        line.row->hide();
    }
}

void TMappingSummary::Update(const TMappingService& service, const std::vector<MappingLink>& live,
                             bool newSecond) {
    std::array<int, TMappingService::kTimedSlot> liveCount{};
    std::array<std::uint64_t, TMappingService::kTimedSlot> up{};
    std::array<std::uint64_t, TMappingService::kTimedSlot> down{};
    for (const MappingLink& link : live) {
        ++liveCount[link.slot - 1];
        up[link.slot - 1] += link.figures.bytesUp;
        down[link.slot - 1] += link.figures.bytesDown;
    }
    bool any = false;
    for (int slot = 1; slot <= TMappingService::kTimedSlot; ++slot) {
        Line& line = lines_[slot - 1];
        const bool on = service.Running(slot);
        const TMappingService::StartFailure& failure = service.LastFailure(slot);
        line.row->setVisible(on || !failure.text.isEmpty());
        line.graph->setVisible(on);
        if (!on) {
            // A mapping whose "Enable" failed says why while it is off.
            line.text->setText(QStringLiteral("Mapping #%1: off, it could not listen: %2 %3")
                                   .arg(slot)
                                   .arg(failure.text.simplified(), failure.detail));
            line.sampled = false;
            continue;
        }
        any = true;
        const MappingTotals& totals = service.Totals(slot);
        const std::uint64_t sent = totals.endedBytesUp + up[slot - 1];
        const std::uint64_t received = totals.endedBytesDown + down[slot - 1];
        const MappingTarget target = service.Target(slot);
        const QString name = slot == TMappingService::kTimedSlot ? QStringLiteral("Timed mapping")
                                                                 : QStringLiteral("Mapping #%1").arg(slot);
        line.text->setText(
            QStringLiteral("%1: port %2 -> %3:%4, %5 live, %6 in all, sent %7, received %8, %9")
                .arg(name)
                .arg(target.listenPort)
                .arg(QString::fromStdString(target.host))
                .arg(target.destinationPort)
                .arg(liveCount[slot - 1])
                .arg(totals.connections)
                .arg(HumanBytes(sent), HumanBytes(received), Failures(totals)));
        if (newSecond) {
            // The first second after a switch-on has nothing to compare with.
            if (line.sampled)
                line.graph->AddSample(static_cast<double>(sent - std::min(sent, line.lastUp)),
                                      static_cast<double>(received - std::min(received, line.lastDown)));
            line.lastUp = sent;
            line.lastDown = received;
            line.sampled = true;
        }
    }
    nothing_->setVisible(!any);
}

QString TMappingSummary::LineText(int slot) const {
    const Line& line = lines_.at(slot - 1);
    return line.row->isHidden() ? QString() : line.text->text();
}

} // namespace qv
