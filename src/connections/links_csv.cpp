#include "connections/links_csv.h"

#include <QDateTime>
#include <QStringList>

namespace qv {

namespace {
QString Field(QString text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

// Local time with its offset from UTC, so that a file read elsewhere, or across a change of daylight
// saving time, still names one moment.
QString Time(std::chrono::system_clock::time_point when) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count());
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString Line(const MappingLink& link, bool live, std::chrono::system_clock::time_point now) {
    const RelayLinkFigures& f = link.figures;
    const auto end = live ? now : link.ended;
    QStringList fields = {
        live ? QStringLiteral("live") : QStringLiteral("ended"),
        QString::number(link.slot),
        QString::fromStdString(EndpointText(f.client)),
        QString::fromStdString(EndpointText(f.destination.length ? f.destination : f.tried)),
        // An ended link's figures keep the state it was ending from; in the file it has ended.
        live ? QString::fromLatin1(StateText(f.state)) : QStringLiteral("ended"),
        QString::fromLatin1(ReasonText(f.reason)),
        QString::number(f.bytesUp),
        QString::number(f.bytesDown),
        Time(f.started),
        live ? QString() : Time(link.ended),
        QString::number(std::chrono::duration<double>(end - f.started).count(), 'f', 3),
        QString::fromLatin1(ProtocolText(f.protocol)),
    };
    // Datagrams: UDP sessions only.
    const bool udp = f.protocol == RelayProtocol::Udp;
    for (std::uint64_t n : {f.datagramsUp, f.datagramsDown, f.datagramsDropped})
        fields << (udp ? QString::number(n) : QString());
    for (QString& field : fields)
        field = Field(field);
    return fields.join(QLatin1Char(',')) + QLatin1String("\r\n");
}
} // namespace

QString LinksCsv(const std::vector<MappingLink>& live, const std::deque<MappingLink>& ended,
                 std::chrono::system_clock::time_point now) {
    QString text = QStringLiteral("status,mapping,client,destination,state,reason,bytes sent,bytes received,"
                                  "started,ended,seconds,protocol,datagrams sent,datagrams received,"
                                  "datagrams dropped\r\n");
    for (const MappingLink& link : live)
        text += Line(link, true, now);
    for (const MappingLink& link : ended)
        text += Line(link, false, now);
    return text;
}

} // namespace qv
