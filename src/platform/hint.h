#pragma once

#include <QAction>
#include <QString>
#include <QWidget>

namespace qv {

// Hints read "short|long": the short part is the tooltip, the long part goes to the status bar.
// A hint without a bar uses the whole text for both.
inline QString ShortHint(const QString& hint) {
    return hint.section(QLatin1Char('|'), 0, 0);
}
inline QString LongHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

template <class Target> // QWidget or QAction
void SetHint(Target* target, const char* hint) {
    const QString text = QString::fromLatin1(hint);
    target->setToolTip(ShortHint(text));
    target->setStatusTip(LongHint(text));
}

} // namespace qv
