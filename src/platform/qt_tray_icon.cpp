// The tray icon part of QtPlatform, on QSystemTrayIcon.
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include "platform/qt_platform.h"

namespace qv {

QtPlatform::~QtPlatform() {
    for (auto& [key, icon] : trayIcons_)
        delete icon.data();
}

bool QtPlatform::TrayAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtPlatform::AddTrayIcon(const TrayIconRecord& record) {
    QPointer<QSystemTrayIcon>& slot = trayIcons_[{record.window, record.id}];
    if (slot)
        return;
    auto* icon = new QSystemTrayIcon(record.window);
    if (record.flags & TrayIconRecord::kIconValid)
        icon->setIcon(record.icon);
    if (record.flags & TrayIconRecord::kTipValid)
        icon->setToolTip(record.tip);
    if ((record.flags & TrayIconRecord::kMessageValid) && record.callback) {
        // No context menu is set on the icon: the window decides what a right click pops up (a
        // locked window still shows its menu, an unlocked one too, but a left click differs).
        QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                         [callback = record.callback,
                          message = record.callbackMessage](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger)
                                 callback(message, TrayMouse::LeftButtonDown);
                             else if (reason == QSystemTrayIcon::Context)
                                 callback(message, TrayMouse::RightButtonDown);
                         });
    }
    icon->show();
    slot = icon;
}

void QtPlatform::DeleteTrayIcon(const TrayIconRecord& record) {
    const auto found = trayIcons_.find({record.window, record.id});
    if (found == trayIcons_.end())
        return;
    // Hidden at once: the icon must vanish now even when the program ends only later.
    if (QSystemTrayIcon* icon = found->second) {
        icon->hide();
        icon->deleteLater();
        QGuiApplication::sync();
    }
    trayIcons_.erase(found);
}

void QtPlatform::PopupTrayMenu(QMenu* menu) {
    if (menu)
        menu->popup(QCursor::pos());
}

} // namespace qv
