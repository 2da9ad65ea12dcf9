#include "connections/throughput_graph.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "connections/human_units.h"

namespace qv {

TThroughputGraph::TThroughputGraph(QWidget* parent) : QWidget(parent) {
    setFixedSize(240, 40);
    setToolTip(QStringLiteral("Sent (blue) and received (green) over the last minute"));
}

void TThroughputGraph::AddSample(double sent, double received) {
    samples_.emplace_back(sent, received);
    while (samples_.size() > kSeconds)
        samples_.pop_front();
    update();
}

void TThroughputGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().mid().color());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    double top = 1;
    for (const auto& [sent, received] : samples_)
        top = std::max({top, sent, received});
    const double step = static_cast<double>(width() - 2) / static_cast<double>(kSeconds - 1);
    const double first = static_cast<double>(kSeconds - samples_.size());
    const auto line = [&](auto pick, QColor colour) {
        QPainterPath path;
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            const QPointF point(1 + (first + static_cast<double>(i)) * step,
                                height() - 2 - pick(samples_[i]) / top * (height() - 4));
            i == 0 ? path.moveTo(point) : path.lineTo(point);
        }
        painter.setPen(QPen(colour, 1.5));
        painter.drawPath(path);
    };
    painter.setRenderHint(QPainter::Antialiasing);
    line([](const auto& s) { return s.first; }, QColor(40, 90, 200));
    line([](const auto& s) { return s.second; }, QColor(30, 150, 60));
    painter.setPen(palette().text().color());
    painter.setFont(QFont(font().family(), 7));
    painter.drawText(rect().adjusted(3, 1, -3, -1), Qt::AlignTop | Qt::AlignRight, HumanRate(top));
}

} // namespace qv
