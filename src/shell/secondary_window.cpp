#include "shell/secondary_window.h"

#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>

#include "info/about_window.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "shell/image_list.h"
#include "shell/roster.h"
#include "shell/tray_window.h"

namespace qv {

namespace {
QAction* AddItem(QMenu* menu, const char* name, const char* caption, const char* hint, int image) {
    QAction* action = menu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    SetHint(action, hint);
    if (image >= 0)
        action->setIcon(ImageListIcon(image));
    return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption, const char* hint) {
    QMenu* menu = bar->addMenu(QString::fromLatin1(caption));
    menu->setObjectName(QString::fromLatin1(name));
    SetHint(menu->menuAction(), hint);
    return menu;
}
} // namespace

void ShowAboutWindow(TRoster& roster) {
    roster.Tray().About3()->setEnabled(false);
    roster.platform().ShowModal(&roster.About());
}

void OpenVendorPage(Platform& platform) {
    platform.OpenUrl(QString::fromLatin1(kVendorPage));
}

SecondaryWindow::SecondaryWindow(TRoster& roster, const char* className, const char* caption, QSize size)
    : QMainWindow(nullptr,
                  Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      roster_(roster) {
    setObjectName(QString::fromLatin1(className));
    setWindowTitle(QString::fromLatin1(caption));
    setWindowIcon(ProgramIcon());
    setFixedSize(size);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, screen->availableGeometry()));
}

SecondaryWindow::StandardMenu SecondaryWindow::BuildStandardMenu(bool withImages) {
    const auto image = [withImages](int index) { return withImages ? index : -1; };
    QMenuBar* bar = menuBar();
    QMenu* file = AddMenu(bar, "File1", "File", "File|File");
    QMenu* help = AddMenu(bar, "About1", "Help", "Help|Help");
    StandardMenu menu;
    menu.exit1 = AddItem(file, "Exit1", "Close", "Close|Close this windows", image(16));
    menu.about2 = AddItem(help, "About2", "About", "About|About", image(17));
    menu.about2->setShortcut(QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key_A)));
    menu.checkfor1 = AddItem(help, "Checkfor1", "Upgrades", "Upgrades|Check the latest version", image(19));
    menu.help1 = AddItem(help, "Help1", "Help", "Help|Help", image(18));
    menu.help1->setEnabled(false);

    Platform& platform = roster_.platform();
    OnSignal(menu.exit1, &QAction::triggered, this, platform, [this] { close(); });
    closeItem_ = menu.exit1;
    OnSignal(menu.about2, &QAction::triggered, this, platform, [this] { ShowAboutWindow(roster_); });
    OnSignal(menu.checkfor1, &QAction::triggered, this, platform, [&platform] { OpenVendorPage(platform); });
    return menu;
}

void SecondaryWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier)
        return QMainWindow::keyPressEvent(event);
    // A window without the menu has only its close box.
    if (!closeItem_)
        close();
    else if (closeItem_->isEnabled())
        closeItem_->trigger();
}

QStatusBar* SecondaryWindow::BuildHintStatusBar() {
    // QMainWindow shows every status tip of its widgets in its status bar.
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    return bar;
}

} // namespace qv
