#include "info/news_servers.h"

#include <QRegularExpression>
#include <QStringList>

namespace qv {

namespace {
constexpr const char* kDefaults[2] = {"http://news1.quorvane.example/", "http://news2.quorvane.example/"};

// A base ends in "/", so the documents resolve beneath it rather than beside it.
QUrl Base(QString text) {
    if (!text.endsWith(QLatin1Char('/')))
        text += QLatin1Char('/');
    return QUrl(text);
}
} // namespace

std::array<QUrl, 2> NewsServers() {
    const QStringList given = QString::fromLocal8Bit(qgetenv(kNewsServersVariable))
                                  .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (given.isEmpty())
        return {QUrl(QString::fromLatin1(kDefaults[0])), QUrl(QString::fromLatin1(kDefaults[1]))};
    return {Base(given.at(0)), Base(given.at(given.size() > 1 ? 1 : 0))};
}

} // namespace qv
