// The settings window: preferences applied and stored on close, the autostart entry, the log
// switch mirror and the background colour.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "info/about_window.h"
#include "info/changes_news_window.h"
#include "info/update_window.h"
#include "lock/lock_window.h"
#include "lock/unlock_window.h"
#include "log/connection_log.h"
#include "mapping/advanced_window.h"
#include "prefs/autostart_entry.h"
#include "prefs/background_colour.h"
#include "prefs/settings_window.h"
#include "remote/remote_window.h"
#include "shell/main_window.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/write_failure.h"

using namespace qvtest;

namespace {

bool WindowsStateStored(const RosterFixture& f) {
    return qv::IsSwitchOn(f.ConfigPath(), "WindowsState", "Minimized", qv::kWindowsStateShiftKey);
}

// A program whose secondary windows really appear when shown modally, with its start-up done.
qv::TRoster& StartShowing(RosterFixture& f) {
    f.platform.OnShowModal([](QWidget* window) { window->show(); });
    qv::TRoster& roster = f.Start();
    // Timer8 is the last of the start-up timers to be enabled; the tray's Timer3 runs at once.
    if (!QTest::qWaitFor(
            [&] { return !roster.Mapping().Timer(8)->Enabled() && !roster.Tray().Timer(3)->Enabled(); }))
        QTest::qFail("the start-up timers never ran", __FILE__, __LINE__);
    return roster;
}

// "Options, Settings" in the main window.
qv::TQuorvaneSettings& OpenSettings(qv::TRoster& roster) {
    roster.Mapping().findChild<QAction*>(QStringLiteral("Settings1"))->trigger();
    return roster.Settings();
}

QList<QWidget*> NineWindows(const qv::TRoster& roster) {
    return {&roster.Settings(), &roster.Mapping(),     &roster.Remote(),
            &roster.About(),    &roster.MappingPlus(), &roster.ChangesNews(),
            &roster.Lock(),     &roster.Unlock(),      &roster.Update()};
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void closeAppliesAndStoresEveryPreference_data() {
        QTest::addColumn<bool>("entryBefore");
        QTest::addColumn<bool>("autostart");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("tray");
        QTest::newRow("autostart on") << false << true << false << true;
        QTest::newRow("autostart off, entry there") << true << false << false << true;
        QTest::newRow("autostart off, no entry") << false << false << false << true;
        QTest::newRow("minimized on") << false << false << true << true;
        QTest::newRow("tray icon off") << true << true << true << false;
    }
    void closeAppliesAndStoresEveryPreference() {
        QFETCH(bool, entryBefore);
        QFETCH(bool, autostart);
        QFETCH(bool, minimized);
        QFETCH(bool, tray);
        RosterFixture f;
        f.StoreCurrentMarker();
        if (entryBefore)
            f.platform.WriteAutostartEntry("Quorvane", qv::AutostartEntryText("/old/place/quorvane"));
        qv::TRoster& roster = StartShowing(f);
        qv::TQuorvaneSettings& settings = OpenSettings(roster);
        QVERIFY(settings.isVisible());
        QCOMPARE(settings.CheckBox(1)->isChecked(), entryBefore);
        settings.CheckBox(1)->setChecked(autostart);
        settings.CheckBox(2)->setChecked(minimized);
        settings.CheckBox(4)->setChecked(tray);
        QTest::mouseClick(settings.Button(3), Qt::LeftButton);

        QVERIFY(!settings.isVisible());
        const std::string entry = f.platform.ReadAutostartEntry("Quorvane");
        QCOMPARE(qv::AutostartEntryIsOn(entry), autostart);
        if (autostart)
            QVERIFY(entry.find("\nExec=" + f.platform.ExecutablePath().toStdString() + "\n") !=
                    std::string::npos);
        QCOMPARE(WindowsStateStored(f), minimized);
        QTRY_COMPARE(f.platform.TrayIconShown(), tray);
        QCOMPARE(qv::IsSwitchOn(f.ConfigPath(), "TrayIcon", "Disabled", qv::kTrayIconShiftKey), !tray);
        QCOMPARE(roster.Mapping().Minimize2()->isEnabled(), tray);

        // The next start shows what was stored.
        f.Stop();
        qv::TRoster& again = StartShowing(f);
        QCOMPARE(again.Settings().CheckBox(1)->isChecked(), autostart);
        QCOMPARE(again.Settings().CheckBox(2)->isChecked(), minimized);
        QCOMPARE(again.Settings().CheckBox(4)->isChecked(), tray);
    }

    void autostartEntryNamesThePath_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("exec");
        QTest::addColumn<QByteArray>("tryExec");
        QTest::newRow("plain") << QByteArray("/opt/quorvane/quorvane") << QByteArray("/opt/quorvane/quorvane")
                               << QByteArray("/opt/quorvane/quorvane");
        QTest::newRow("blanks") << QByteArray("/home/me/My Programs/quorvane")
                                << QByteArray("\"/home/me/My Programs/quorvane\"")
                                << QByteArray("/home/me/My Programs/quorvane");
        QTest::newRow("quote, dollar, backslash") << QByteArray("/tmp/a\"b$c\\d/quorvane")
                                                  << QByteArray("\"/tmp/a\\\\\"b\\\\$c\\\\\\\\d/quorvane\"")
                                                  << QByteArray("/tmp/a\"b$c\\\\d/quorvane");
        QTest::newRow("percent") << QByteArray("/srv/100%/quorvane") << QByteArray("/srv/100%%/quorvane")
                                 << QByteArray("/srv/100%/quorvane");
    }
    void autostartEntryNamesThePath() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, exec);
        QFETCH(QByteArray, tryExec);
        const std::string text = qv::AutostartEntryText(path.toStdString());
        QVERIFY(text.starts_with("[Desktop Entry]\n"));
        QVERIFY2(text.find("\nExec=" + exec.toStdString() + "\n") != std::string::npos, text.c_str());
        QVERIFY2(text.find("\nTryExec=" + tryExec.toStdString() + "\n") != std::string::npos, text.c_str());
        QVERIFY(qv::AutostartEntryIsOn(text));
        QVERIFY(!qv::AutostartEntryIsOn(text + "Hidden=true\n"));
    }

    void failedWriteLeavesBothStoredStates_data() {
        QTest::addColumn<bool>("blockAutostart"); // else the configuration file cannot grow
        QTest::newRow("autostart folder unwritable") << true;
        QTest::newRow("configuration unwritable") << false;
    }
    void failedWriteLeavesBothStoredStates() {
        QFETCH(bool, blockAutostart);
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = StartShowing(f);
        qv::TQuorvaneSettings& settings = OpenSettings(roster);
        settings.CheckBox(1)->setChecked(true);
        settings.CheckBox(2)->setChecked(true);
        settings.CheckBox(4)->setChecked(false);
        // A plain file where the autostart folder belongs cannot be made a folder, even by root.
        const std::string folder = f.platform.Autostart().Directory();
        if (blockAutostart)
            WriteAll(folder.substr(0, folder.size() - 1), "not a folder");
        f.platform.ExpectBox(qv::BoxKind::Error);
        {
            std::optional<FileSizeLimit> full;
            if (!blockAutostart)
                full.emplace(0);
            settings.close();
        }
        QCOMPARE(f.platform.BoxTexts(),
                 QStringList{blockAutostart ? QStringLiteral("Failed to set data for 'Quorvane'")
                                            : QStringLiteral("Unable to write to %1")
                                                  .arg(QString::fromStdString(f.ConfigPath()))});
        QVERIFY(settings.isVisible());
        QVERIFY(!WindowsStateStored(f));
        QVERIFY(f.platform.ReadAutostartEntry("Quorvane").empty());
        QVERIFY(!roster.Tray().Timer(2)->Enabled());
        QVERIFY(f.platform.TrayIconShown());

        // Once the obstacle is gone the same close stores everything.
        if (blockAutostart)
            std::remove(folder.substr(0, folder.size() - 1).c_str());
        settings.close();
        QVERIFY(!settings.isVisible());
        QVERIFY(WindowsStateStored(f));
        QVERIFY(qv::AutostartEntryIsOn(f.platform.ReadAutostartEntry("Quorvane")));
        QTRY_VERIFY(!f.platform.TrayIconShown());
    }

    void logSwitchIsMirroredBothWays() {
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = StartShowing(f);
        QCheckBox* logSwitch = roster.Mapping().Log().CheckBox1();
        for (bool on : {true, false}) {
            logSwitch->setChecked(on);
            qv::TQuorvaneSettings& settings = OpenSettings(roster);
            QCOMPARE(settings.CheckBox(3)->isChecked(), on);
            // A click takes effect at once, before the window closes.
            settings.CheckBox(3)->click();
            QCOMPARE(logSwitch->isChecked(), !on);
            settings.close();
        }
    }

    void backgroundColour_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("changedBefore"); // the windows already dark blue
        QTest::addColumn<QColor>("chosen");      // invalid: the colour dialog is cancelled
        QTest::addColumn<int>("answer");         // -1: no question expected
        QTest::addColumn<QString>("box");
        QTest::addColumn<QColor>("result"); // invalid: the system colour
        QTest::addColumn<bool>("reopens");
        const QColor none;
        const QColor blue(Qt::darkBlue);
        const QColor yellow(Qt::yellow);
        const QString change = QStringLiteral("Are you sure remplace your current backgrounds color?");
        const QString reset = QStringLiteral("Are you sure reset your backgrounds color?");
        const int yes = int(qv::Answer::Yes), no = int(qv::Answer::No);
        QTest::newRow("change, Yes") << "Change" << false << blue << yes << change << blue << true;
        QTest::newRow("change to a light colour")
            << "Change" << true << yellow << yes << change << yellow << true;
        QTest::newRow("change, No") << "Change" << false << blue << no << change << none << false;
        QTest::newRow("change cancelled") << "Change" << false << none << -1 << QString() << none << false;
        QTest::newRow("reset at the default")
            << "Reset" << false << none << -1 << QStringLiteral("You have already reseted backgrounds color.")
            << none << false;
        QTest::newRow("reset, Yes") << "Reset" << true << none << yes << reset << none << true;
        QTest::newRow("reset, No") << "Reset" << true << none << no << reset << blue << false;
    }
    void backgroundColour() {
        QFETCH(QString, button);
        QFETCH(bool, changedBefore);
        QFETCH(QColor, chosen);
        QFETCH(int, answer);
        QFETCH(QString, box);
        QFETCH(QColor, result);
        QFETCH(bool, reopens);
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = StartShowing(f);
        qv::TQuorvaneSettings& settings = OpenSettings(roster);
        if (changedBefore) {
            f.platform.SetChosenColor(QColor(Qt::darkBlue));
            f.platform.Answer(qv::Answer::Yes);
            settings.Button1Click();
            QTRY_VERIFY(settings.isVisible() && settings.Button(1)->isEnabled());
            f.platform.ClearBoxes();
        }
        const int shownBefore = int(f.platform.ModalShown().count(&settings));
        f.platform.SetChosenColor(chosen.isValid() ? std::optional<QColor>(chosen) : std::nullopt);
        if (answer >= 0)
            f.platform.Answer(qv::Answer(answer));
        else if (!box.isEmpty())
            f.platform.ExpectBox(qv::BoxKind::Information);
        QTest::mouseClick(settings.Button(button == QLatin1String("Change") ? 1 : 2), Qt::LeftButton);

        QCOMPARE(f.platform.BoxTexts(), box.isEmpty() ? QStringList() : QStringList{box});
        const QColor expected = result.isValid() ? result : qv::SystemBackgroundColour();
        for (QWidget* window : NineWindows(roster))
            QVERIFY2(qv::BackgroundColour(*window) == expected, qPrintable(window->objectName()));
        QCOMPARE(qv::BackgroundColour(roster.Tray()), qv::SystemBackgroundColour());
        // Text on the new background stays readable: white on dark blue, black on yellow.
        const QColor text = roster.Mapping()
                                .findChild<QLabel*>(QStringLiteral("Label4"))
                                ->palette()
                                .color(QPalette::WindowText);
        if (result.isValid())
            QCOMPARE(text, result == QColor(Qt::yellow) ? QColor(Qt::black) : QColor(Qt::white));
        QCOMPARE(settings.Exit1()->isEnabled(), true);
        QCOMPARE(settings.Button(3)->isEnabled(), true);
        if (!reopens) {
            QVERIFY(settings.isVisible());
            QVERIFY(settings.Button(1)->isEnabled() && settings.Button(2)->isEnabled());
            QCOMPARE(int(f.platform.ModalShown().count(&settings)), shownBefore);
            return;
        }
        // Closed, shown again through the main window's Timer5, Change and Reset back a second later.
        QVERIFY(!settings.Button(1)->isEnabled() && !settings.Button(2)->isEnabled());
        QTRY_COMPARE(int(f.platform.ModalShown().count(&settings)), shownBefore + 1);
        QVERIFY(settings.isVisible());
        QVERIFY(!settings.Button(1)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(settings.Button(1)->isEnabled() && settings.Button(2)->isEnabled(), 3000);
    }
};

QV_TEST_MAIN(SettingsTest)
#include "settings_test.moc"
