#pragma once

#include <QObject>
#include <exception>

#include "platform/platform.h"

namespace qv {

// The general error report: shows the text of an error that escaped a handler in one box.
void ReportError(Platform& platform, const QString& text);

// Runs a handler; the text of an exception thrown inside it goes to `report`, and the handler's
// remaining steps are skipped.
template <class Handler, class Report> void Catching(Handler&& handler, Report&& report) {
    try {
        handler();
    } catch (const std::exception& error) {
        report(QString::fromLatin1(error.what()));
    } catch (...) {
        report(QStringLiteral("Unknown error"));
    }
}

// Runs one user-interface handler. An exception thrown inside it is reported and the handler's
// remaining steps are skipped; nothing ever propagates into Qt's event loop.
template <class Handler> void Guarded(Platform& platform, Handler&& handler) {
    Catching(handler, [&platform](const QString& text) { ReportError(platform, text); });
}

// connect() for handlers: the slot runs through Guarded and ignores the signal's arguments.
template <class Sender, class Signal, class Handler>
QMetaObject::Connection OnSignal(Sender* sender, Signal signal, QObject* context, Platform& platform,
                                 Handler handler) {
    return QObject::connect(sender, signal, context,
                            [&platform, handler = std::move(handler)]() { Guarded(platform, handler); });
}

} // namespace qv
