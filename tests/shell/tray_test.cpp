// The tray icon and the showing and hiding of the main window, on the fake tray.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "info/about_window.h"
#include "lock/lock_window.h"
#include "lock/unlock_window.h"
#include "shell/main_window.h"
#include "shell/program_icon.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/show_counter.h"

using namespace qvtest;
using qv::TrayMouse;

namespace {

std::string StoredTrayIcon(const RosterFixture& f) {
    return qv::ReadString(f.ConfigPath(), qv::kSettingsSection, "TrayIcon");
}

// Waits for the start-up timers (icon off, start in the tray) to have run.
void Settle(qv::TRoster& roster) {
    QTRY_VERIFY(!roster.Tray().Timer(3)->Enabled() && !roster.Mapping().Timer(6)->Enabled());
}

// Runs one tray timer, as the settings window's close does.
void RunTrayTimer(qv::TRoster& roster, int number) {
    roster.Tray().Timer(number)->SetEnabled(true);
    QTRY_VERIFY(!roster.Tray().Timer(number)->Enabled());
}

// The locked state as the lock leaves it: main window in the tray, only "Unlock" usable.
void Lock(qv::TRoster& roster) {
    qv::TQuorvaneTray& tray = roster.Tray();
    roster.Mapping().Minimize2()->trigger();
    for (QAction* item : {tray.Restart(), tray.Exit(), tray.About3(), tray.Minimize(), tray.Show()})
        item->setEnabled(false);
    tray.Unlock1()->setVisible(true);
    tray.Unlock1()->setEnabled(true);
    tray.PopupMenu1()->setDefaultAction(tray.Unlock1());
}

} // namespace

class TrayTest : public QObject {
    Q_OBJECT

private slots:
    void iconAtStartFollowsTheStoredSetting_data() {
        QTest::addColumn<QByteArray>("stored"); // raw value in the file; "-" for no key
        QTest::addColumn<bool>("icon");
        const auto scrambled = [](const char* plain) {
            return QByteArray::fromStdString(qv::ScrambleText(plain, qv::kTrayIconShiftKey));
        };
        QTest::newRow("absent") << QByteArray("-") << true;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("scrambled Disabled") << scrambled("Disabled") << false;
        QTest::newRow("plain word Disabled") << QByteArray("Disabled") << true;
        QTest::newRow("scrambled disabled, lower case") << scrambled("disabled") << true;
        QTest::newRow("scrambled Disabled with a blank") << scrambled("Disabled ") << true;
        QTest::newRow("scrambled Enabled") << scrambled("Enabled") << true;
        QTest::newRow("Disabled under another shift key")
            << QByteArray::fromStdString(qv::ScrambleText("Disabled", qv::kWindowsStateShiftKey)) << true;
    }
    void iconAtStartFollowsTheStoredSetting() {
        QFETCH(QByteArray, stored);
        QFETCH(bool, icon);
        RosterFixture f;
        f.StoreCurrentMarker();
        if (stored != "-")
            qv::WriteString(f.ConfigPath(), qv::kSettingsSection, "TrayIcon", stored.toStdString());
        qv::TRoster& roster = f.Start();
        Settle(roster);
        QCOMPARE(f.platform.TrayIconShown(), icon);
        QCOMPARE(f.platform.TrayAdds(), icon ? 1 : 0);
        QCOMPARE(roster.Tray().IconShown(), icon);
        QCOMPARE(roster.Mapping().Minimize2()->isEnabled(), icon);
        // Reading the setting never rewrites it.
        if (stored != "-")
            QCOMPARE(QByteArray::fromStdString(StoredTrayIcon(f)), stored);
        if (!icon)
            return;
        const qv::TrayIconRecord& record = *f.platform.TrayIcon();
        QCOMPARE(record.window, static_cast<QWidget*>(&roster.Tray()));
        QCOMPARE(record.id, 1);
        QCOMPARE(record.flags, 7);
        QCOMPARE(record.callbackMessage, 1124);
        QCOMPARE(record.tip, QStringLiteral("Quorvane - Internet Port Mapping"));
        QCOMPARE(record.icon.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 qv::ProgramIconImage(32));
    }

    void everyWindowCarriesTheProgramIcon() {
        RosterFixture f;
        f.Start();
        const QImage expected = qv::ProgramIconImage(32);
        int windows = 0;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (!top->objectName().startsWith(QLatin1Char('T')))
                continue;
            ++windows;
            QVERIFY2(top->windowIcon().pixmap(32).toImage().convertToFormat(expected.format()) == expected,
                     qPrintable(top->objectName()));
        }
        QCOMPARE(windows, 10);
    }

    void iconScalesToEveryThemeSize_data() {
        QTest::addColumn<int>("size");
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            QTest::addRow("%d", size) << size;
    }
    void iconScalesToEveryThemeSize() {
        QFETCH(int, size);
        const QImage image = qv::ProgramIconImage(size);
        QCOMPARE(image.size(), QSize(size, size));
        // The tile fills the square at every size; the corners stay clear of the rounded edge.
        for (double at : {0.25, 0.5, 0.75})
            QCOMPARE(qAlpha(image.pixel(int(size * at), int(size * at))), 255);
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        // The relay arrow is yellow in the middle.
        const QColor middle = image.pixelColor(int(size * 15.0 / 32), size / 2);
        QVERIFY2(middle.red() > 200 && middle.green() > 150 && middle.blue() < 150,
                 qPrintable(middle.name()));
    }

    // The menu items carry the main window's visibility in every state.
    void menuItemsInEachState_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("minimize");
        QTest::addColumn<bool>("minimize2");
        QTest::addColumn<QString>("defaultItem");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("taskbar");
        QTest::addColumn<bool>("icon");
        const QString show = QStringLiteral("Show"), minimize = QStringLiteral("Minimize");
        // clang-format off
        QTest::newRow("on screen at start")      << "start"        << false << true  << true  << minimize << true  << false << true;
        QTest::newRow("File Minimize")           << "Minimize2"    << true  << false << false << show     << false << false << true;
        QTest::newRow("tray Minimize")           << "Minimize"     << true  << false << false << show     << false << false << true;
        QTest::newRow("started in the tray")     << "Minimized"    << true  << false << false << show     << false << false << true;
        QTest::newRow("closed into the tray")    << "close"        << true  << false << true  << show     << false << false << true;
        QTest::newRow("back by left click")      << "left click"   << false << true  << true  << minimize << true  << true  << true;
        QTest::newRow("back by Show")            << "Show"         << false << true  << true  << minimize << true  << true  << true;
        QTest::newRow("closed, back by click")   << "close, click" << false << true  << true  << minimize << true  << true  << true;
        QTest::newRow("icon Disabled")           << "Disabled"     << false << true  << false << minimize << true  << false << false;
        QTest::newRow("no notification area")    << "no area"      << false << true  << false << minimize << true  << false << false;
        QTest::newRow("icon switched off")       << "Timer2"       << false << true  << false << minimize << true  << false << false;
        QTest::newRow("icon switched on again")  << "Timer2, 1"    << false << true  << true  << minimize << true  << false << true;
        // clang-format on
    }
    void menuItemsInEachState() {
        QFETCH(QString, state);
        QFETCH(bool, show);
        QFETCH(bool, minimize);
        QFETCH(bool, minimize2);
        QFETCH(QString, defaultItem);
        QFETCH(bool, visible);
        QFETCH(bool, taskbar);
        QFETCH(bool, icon);
        RosterFixture f;
        f.StoreCurrentMarker();
        if (state == QStringLiteral("Minimized"))
            f.Store(qv::kSettingsSection, "WindowsState", "Minimized", qv::kWindowsStateShiftKey);
        if (state == QStringLiteral("Disabled"))
            f.Store(qv::kSettingsSection, "TrayIcon", "Disabled", qv::kTrayIconShiftKey);
        f.platform.SetTrayAvailable(state != QStringLiteral("no area"));
        qv::TRoster& roster = f.Start();
        Settle(roster);
        qv::TQuorvaneMapping& mapping = roster.Mapping();
        qv::TQuorvaneTray& tray = roster.Tray();
        if (state == QStringLiteral("Minimize2"))
            mapping.Minimize2()->trigger();
        else if (state == QStringLiteral("Minimize"))
            tray.Minimize()->trigger();
        else if (state.startsWith(QStringLiteral("close")))
            QVERIFY(mapping.close());
        else if (state == QStringLiteral("left click") || state == QStringLiteral("Show"))
            tray.Minimize()->trigger();
        else if (state.startsWith(QStringLiteral("Timer2")))
            RunTrayTimer(roster, 2);
        if (state.endsWith(QStringLiteral("click")))
            QVERIFY(f.platform.ClickTray(TrayMouse::LeftButtonDown));
        else if (state == QStringLiteral("Show"))
            tray.Show()->trigger();
        else if (state.endsWith(QStringLiteral(", 1")))
            RunTrayTimer(roster, 1);

        QVERIFY(f.platform.Boxes().isEmpty());
        QCOMPARE(tray.Show()->isEnabled(), show);
        QCOMPARE(tray.Minimize()->isEnabled(), minimize);
        QCOMPARE(mapping.Minimize2()->isEnabled(), minimize2);
        QCOMPARE(tray.PopupMenu1()->defaultAction()->objectName(), defaultItem);
        QCOMPARE(mapping.isVisible(), visible);
        if (visible)
            QVERIFY(mapping.windowState() & Qt::WindowMaximized);
        QCOMPARE(f.platform.TaskbarVisible(), taskbar);
        QCOMPARE(f.platform.TrayIconShown(), icon);
        // Visibility never touches the items the lock and the exit flow own.
        for (QAction* item : {tray.About3(), tray.Lock1(), tray.Restart(), tray.Exit()})
            QVERIFY2(item->isEnabled() && item->isVisible(), qPrintable(item->objectName()));
        QVERIFY(!tray.Unlock1()->isVisible() && !tray.Unlock1()->isEnabled());
    }

    // A left click shows the window when unlocked and the unlock window when locked; a right
    // click always pops the menu up at the cursor.
    void iconClicks_data() {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<int>("mouse");
        QTest::addColumn<int>("message");
        QTest::addColumn<QString>("outcome");
        for (bool locked : {false, true}) {
            const char* lock = locked ? "locked" : "unlocked";
            QTest::addRow("%s, left", lock)
                << locked << 513 << 1124
                << (locked ? QStringLiteral("unlock window") : QStringLiteral("shown"));
            QTest::addRow("%s, right", lock) << locked << 516 << 1124 << QStringLiteral("menu");
            for (int other : {512, 514, 515, 517, 518, 519})
                QTest::addRow("%s, mouse event %d", lock, other)
                    << locked << other << 1124 << QStringLiteral("nothing");
            QTest::addRow("%s, left under another message", lock)
                << locked << 513 << 1125 << QStringLiteral("nothing");
        }
    }
    void iconClicks() {
        QFETCH(bool, locked);
        QFETCH(int, mouse);
        QFETCH(int, message);
        QFETCH(QString, outcome);
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        qv::TQuorvaneTray& tray = roster.Tray();
        qv::TQuorvaneMapping& mapping = roster.Mapping();
        if (locked)
            Lock(roster);
        else
            tray.Minimize()->trigger();
        QVERIFY(!mapping.isVisible());

        if (message == 1124) {
            QVERIFY(f.platform.ClickTray(static_cast<TrayMouse>(mouse)));
        } else {
            tray.IconRecord().callback(message, static_cast<TrayMouse>(mouse));
        }

        QCOMPARE(mapping.isVisible(), outcome == QStringLiteral("shown"));
        QCOMPARE(f.platform.TaskbarVisible(), outcome == QStringLiteral("shown"));
        QCOMPARE(roster.Unlock().isVisible(), outcome == QStringLiteral("unlock window"));
        QCOMPARE(f.platform.PoppedUpMenus(),
                 outcome == QStringLiteral("menu") ? QList<QMenu*>{tray.PopupMenu1()} : QList<QMenu*>{});
        QVERIFY(f.platform.ModalShown().isEmpty());
        QVERIFY(f.platform.Boxes().isEmpty());
        if (outcome == QStringLiteral("shown")) {
            QVERIFY(mapping.windowState() & Qt::WindowMaximized);
            QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Minimize());
        }
        if (locked) {
            QCOMPARE(tray.Unlock1()->isEnabled(), outcome != QStringLiteral("unlock window"));
            QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Unlock1());
            QVERIFY(!tray.Show()->isEnabled());
        }
        if (outcome == QStringLiteral("unlock window")) {
            // Still locked while the unlock window is open: a second click never shows the window.
            QVERIFY(f.platform.ClickTray(TrayMouse::LeftButtonDown));
            QVERIFY(!mapping.isVisible());
            QVERIFY(roster.Unlock().isVisible());
        }
    }

    void unlockFromTheMenuShowsTheTaskbarToo() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        Lock(roster);
        roster.Tray().Unlock1()->trigger();
        QVERIFY(roster.Unlock().isVisible());
        QVERIFY(f.platform.ModalShown().isEmpty());
        QVERIFY(f.platform.TaskbarVisible());
        QVERIFY(!roster.Tray().Unlock1()->isEnabled());
        QVERIFY(!roster.Mapping().isVisible());
    }

    void aboutBringsTheWindowBackBeforeTheAboutWindow() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        qv::TQuorvaneTray& tray = roster.Tray();
        qv::TQuorvaneMapping& mapping = roster.Mapping();
        tray.Minimize()->trigger();
        QStringList seen;
        f.platform.OnShowModal([&](QWidget* window) {
            seen << window->objectName();
            if (mapping.isVisible() && (mapping.windowState() & Qt::WindowMaximized))
                seen << QStringLiteral("main maximized");
            if (f.platform.TaskbarVisible())
                seen << QStringLiteral("taskbar");
            if (mapping.Minimize2()->isEnabled() && tray.Minimize()->isEnabled())
                seen << QStringLiteral("minimize enabled");
            if (!tray.About3()->isEnabled() && !tray.Show()->isEnabled())
                seen << QStringLiteral("About3 and Show disabled");
            window->show();
            window->hide();
        });
        tray.About3()->trigger();
        QCOMPARE(seen, (QStringList{"TAbout", "main maximized", "taskbar", "minimize enabled",
                                    "About3 and Show disabled"}));
        QVERIFY(tray.About3()->isEnabled());
    }

    void lockFromTheTrayOpensTheLockWindowModally() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        roster.Tray().Lock1()->trigger();
        QCOMPARE(f.platform.ModalShown(), QList<QWidget*>{&roster.Lock()});
    }

    void startInTheTrayOnlyWithAnIcon_data() {
        QTest::addColumn<QString>("icon");
        QTest::addColumn<bool>("inTray");
        QTest::newRow("icon shown") << QStringLiteral("shown") << true;
        QTest::newRow("icon Disabled") << QStringLiteral("Disabled") << false;
        QTest::newRow("no notification area") << QStringLiteral("no area") << false;
    }
    void startInTheTrayOnlyWithAnIcon() {
        QFETCH(QString, icon);
        QFETCH(bool, inTray);
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Store(qv::kSettingsSection, "WindowsState", "Minimized", qv::kWindowsStateShiftKey);
        if (icon == QStringLiteral("Disabled"))
            f.Store(qv::kSettingsSection, "TrayIcon", "Disabled", qv::kTrayIconShiftKey);
        f.platform.SetTrayAvailable(icon != QStringLiteral("no area"));
        ShowCounter shows("TQuorvaneMapping");
        qv::TRoster& roster = f.Start();
        Settle(roster);
        // The window never flashes on screen on its way into the tray.
        QCOMPARE(shows.shows, inTray ? 0 : 1);
        QCOMPARE(roster.Mapping().isVisible(), !inTray);
        QCOMPARE(roster.Tray().Show()->isEnabled(), inTray);
        if (!inTray)
            return;
        QVERIFY(f.platform.ClickTray(TrayMouse::LeftButtonDown));
        QVERIFY(roster.Mapping().isVisible());
        QVERIFY(roster.Mapping().windowState() & Qt::WindowMaximized);
    }

    void noNotificationAreaAsksToExitAndKeepsTheSetting() {
        RosterFixture f;
        f.StoreCurrentMarker();
        f.platform.SetTrayAvailable(false);
        qv::TRoster& roster = f.Start();
        Settle(roster);
        const std::string before = ReadAll(f.ConfigPath());
        QCOMPARE(f.platform.TrayAdds(), 0);
        // The user's choice stays "show the icon"; only the desktop lacks the area for it.
        QVERIFY(f.Find<QCheckBox>("CheckBox4")->isChecked());
        f.platform.Answer(qv::Answer::No);
        QVERIFY(!roster.Mapping().close());
        QCOMPARE(f.platform.BoxTexts(), QStringList{QStringLiteral("Are you sure want to exit?")});
        QVERIFY(roster.Mapping().isVisible());
        QCOMPARE(f.platform.EndRequests(), 0);
        QCOMPARE(ReadAll(f.ConfigPath()), before);
    }

    void settingsSwitchTheIconOffAndOn() {
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = f.Start();
        QVERIFY(f.platform.TrayIconShown());

        RunTrayTimer(roster, 2);
        QVERIFY(!f.platform.TrayIconShown());
        QVERIFY(!roster.Mapping().Minimize2()->isEnabled());
        QCOMPARE(qv::UnscrambleText(StoredTrayIcon(f), qv::kTrayIconShiftKey), std::string("Disabled"));
        QVERIFY(!f.platform.ClickTray(TrayMouse::LeftButtonDown));

        RunTrayTimer(roster, 1);
        QVERIFY(f.platform.TrayIconShown());
        QCOMPARE(f.platform.TrayAdds(), 2);
        QVERIFY(roster.Mapping().Minimize2()->isEnabled());
        QCOMPARE(StoredTrayIcon(f), std::string());
        QVERIFY(f.platform.ClickTray(TrayMouse::RightButtonDown));
        QCOMPARE(f.platform.PoppedUpMenus().size(), 1);
    }

    void switchingOnWithoutNotificationAreaLeavesMinimizeOff() {
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Store(qv::kSettingsSection, "TrayIcon", "Disabled", qv::kTrayIconShiftKey);
        f.platform.SetTrayAvailable(false);
        qv::TRoster& roster = f.Start();
        Settle(roster);
        RunTrayTimer(roster, 1);
        QVERIFY(!f.platform.TrayIconShown());
        QVERIFY(!roster.Tray().IconShown());
        QVERIFY(!roster.Mapping().Minimize2()->isEnabled());
        // The user's choice is stored all the same.
        QCOMPARE(StoredTrayIcon(f), std::string());
    }

    // Exit and Restart from the tray: the icon goes with a Yes, before a restarted instance
    // starts, and stays with a No.
    void exitAndRestartFromTheTray_data() {
        QTest::addColumn<bool>("restart");
        QTest::addColumn<bool>("unsaved");
        QTest::addColumn<bool>("yes");
        for (bool restart : {false, true})
            for (bool unsaved : {false, true})
                for (bool yes : {false, true})
                    QTest::addRow("%s %s %s", restart ? "Restart" : "Exit", unsaved ? "unsaved" : "saved",
                                  yes ? "Yes" : "No")
                        << restart << unsaved << yes;
    }
    void exitAndRestartFromTheTray() {
        QFETCH(bool, restart);
        QFETCH(bool, unsaved);
        QFETCH(bool, yes);
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = f.Start();
        qv::TQuorvaneTray& tray = roster.Tray();
        tray.Minimize()->trigger();
        if (unsaved) {
            f.Find<QLineEdit>("IncommingPort2")->setText(QStringLiteral("81"));
            f.platform.ExpectBox(qv::BoxKind::Information);
        }
        f.platform.Answer(yes ? qv::Answer::Yes : qv::Answer::No);
        (restart ? tray.Restart() : tray.Exit())->trigger();

        QCOMPARE(f.platform.Boxes().size(), unsaved ? 2 : 1);
        QCOMPARE(f.platform.TrayIconShown(), !yes);
        QCOMPARE(f.platform.EndRequests(), yes ? 1 : 0);
        QCOMPARE(f.platform.StartedProcesses().size(), restart && yes ? 1 : 0);
        if (restart && yes)
            QVERIFY(!f.platform.StartedProcesses().first().trayIconShown);
        if (!yes) {
            // Still in the tray, with a working icon and every item usable again.
            QVERIFY(!roster.Mapping().isVisible());
            for (QAction* item :
                 {tray.Exit(), tray.Restart(), roster.Mapping().Exit1(), roster.Mapping().Restart1()})
                QVERIFY2(item->isEnabled(), qPrintable(item->objectName()));
            QVERIFY(f.platform.ClickTray(TrayMouse::LeftButtonDown));
            QVERIFY(roster.Mapping().isVisible());
        }
    }

    void theTrayWindowsEndRemovesTheIcon_data() {
        QTest::addColumn<bool>("close");
        QTest::newRow("close") << true;
        QTest::newRow("destroy") << false;
    }
    void theTrayWindowsEndRemovesTheIcon() {
        QFETCH(bool, close);
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        QVERIFY(f.platform.TrayIconShown());
        if (close) {
            QVERIFY(roster.Tray().close());
            QVERIFY(!f.platform.TrayIconShown());
            QCOMPARE(f.platform.EndRequests(), 1);
        }
        f.Stop();
        QVERIFY(!f.platform.TrayIconShown());
        // Both the close and the destruction delete; the second finds nothing and is harmless.
        QCOMPARE(f.platform.TrayDeletes(), close ? 2 : 1);
    }
};

QV_TEST_MAIN(TrayTest)
#include "tray_test.moc"
