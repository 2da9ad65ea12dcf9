#include "shell/secondary_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include "shell/image_list.h"

namespace qv {

SecondaryWindow::SecondaryWindow(TRoster& roster, const char* className, const char* caption, QSize size)
    : QMainWindow(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      roster_(roster) {
    setObjectName(QString::fromLatin1(className));
    setWindowTitle(QString::fromLatin1(caption));
    setWindowIcon(ProgramIcon());
    setFixedSize(size);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, screen->availableGeometry()));
}

} // namespace qv
