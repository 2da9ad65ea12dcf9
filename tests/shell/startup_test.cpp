// Start-up of the main window for each state of the configuration file.
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "shell/main_window.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/show_counter.h"

using namespace qvtest;

namespace {

const char* const kOldNotice =
    "It is a old file (The new file is encrypted for more security). Error loading the configuration "
    "file.\r\n"
    "This file version is not 2.0, or the file is empty.\r\n"
    "If it is a old configuration click (File - Load a older configuration) to open that file.\r\n"
    "When you have openned your old file save and overwrite on that file.";

QStringList FieldNames() {
    QStringList names;
    for (const char* base : {"IncommingPort", "OutcommingPort", "OutcommingIp"})
        for (int n = 1; n <= 6; ++n)
            names << (n == 1 ? QString::fromLatin1(base) : QString::fromLatin1(base) + QString::number(n));
    return names;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private:
    static void VerifyFileControlsDisabled(const RosterFixture& f) {
        QVERIFY(!f.Find<QPushButton>("LoadIni")->isEnabled());
        QVERIFY(!f.Find<QPushButton>("SaveIni")->isEnabled());
        QVERIFY(!f.Find<QAction>("LoadIni2")->isEnabled());
        QVERIFY(!f.Find<QAction>("SaveIni2")->isEnabled());
    }
    static void VerifyAllFieldsEmpty(const RosterFixture& f) {
        for (const QString& name : FieldNames())
            QVERIFY2(f.Find<QLineEdit>(name.toLatin1().constData())->text().isEmpty(), qPrintable(name));
    }

private slots:
    void firstRunCreatesFileWithMarkerAlone() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        qv::TQuorvaneMapping& main = roster.Mapping();
        QVERIFY(main.isVisible());
        QVERIFY(main.windowState() & Qt::WindowMaximized);
        QVERIFY(f.platform.Boxes().isEmpty());
        QCOMPARE(f.platform.Beeps(), 0);
        // Exactly one section with exactly the marker: "2.0" shifted by 118.
        QCOMPARE(QByteArray::fromStdString(ReadAll(f.ConfigPath())),
                 QByteArray("[QuorvaneDataMapping]\r\nVQRVNV=\xA8\xA4\xA6\r\n"));
        VerifyFileControlsDisabled(f);
        VerifyAllFieldsEmpty(f);
        QVERIFY(!main.Timer(7)->Enabled());
        QVERIFY(!main.Timer(8)->Enabled());
        QVERIFY(!f.Find<QCheckBox>("CheckBox1")->isChecked());
    }

    // Every state of the file starts, with the icon on or off and with or without a notification
    // area. The scripted boxes deliver events while they are up, as real modal boxes do.
    void everyStartUpPathRuns_data() {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("old");
        QTest::addColumn<bool>("trayArea");
        QTest::addColumn<bool>("iconOff");
        const std::string mapping = "[QuorvaneDataMapping]\r\nVQRVNV=";
        const std::string iconOff =
            "TrayIcon=" + qv::ScrambleText("Disabled", qv::kTrayIconShiftKey) + "\r\n";
        const std::string minimized =
            "WindowsState=" + qv::ScrambleText("Minimized", qv::kWindowsStateShiftKey) + "\r\n";
        struct File {
            const char* name;
            bool exists;
            std::string contents;
            bool old;
            std::string settings;
        };
        const File files[] = {
            {"missing file", false, "", false, ""},
            {"empty file", true, "", true, ""},
            {"no marker", true, "[QuorvaneDataMapping]\r\nIncommingPort=80\r\n", true, ""},
            {"marker 1.0", true, mapping + qv::ScrambleText("1.0", qv::kMappingDataShiftKey) + "\r\n", true,
             ""},
            {"empty marker", true, mapping + "\r\n", true, ""},
            {"marker not scrambled", true, mapping + "2.0\r\n", true, ""},
            {"marker of another key", true, mapping + qv::ScrambleText("2.0", "103") + "\r\n", true, ""},
            {"current, minimized", true, mapping + qv::ScrambleText("2.0", qv::kMappingDataShiftKey) + "\r\n",
             false, minimized},
        };
        for (const File& file : files)
            for (const bool area : {true, false})
                for (const bool off : {false, true}) {
                    // Only a file that holds something can switch the icon off.
                    if (off && file.contents.empty())
                        continue;
                    const std::string settings = file.settings + (off ? iconOff : "");
                    const std::string contents =
                        file.contents + (settings.empty() ? "" : "[QuorvaneDataSettings]\r\n" + settings);
                    QTest::addRow("%s, %s, icon %s", file.name, area ? "tray" : "no tray", off ? "off" : "on")
                        << file.exists << QByteArray::fromStdString(contents) << file.old << area << off;
                }
    }
    void everyStartUpPathRuns() {
        QFETCH(bool, fileExists);
        QFETCH(QByteArray, contents);
        QFETCH(bool, old);
        QFETCH(bool, trayArea);
        QFETCH(bool, iconOff);
        RosterFixture f;
        if (fileExists)
            WriteAll(f.ConfigPath(), contents.toStdString());
        const bool minimized = contents.contains("WindowsState");
        const bool icon = trayArea && !iconOff;
        f.platform.SetTrayAvailable(trayArea);
        f.platform.RunEventsInBoxes(true);
        if (old)
            f.platform.ExpectBox(qv::BoxKind::Notice);
        qv::TRoster& roster = f.Start();
        qv::TQuorvaneMapping& main = roster.Mapping();
        QTRY_VERIFY(f.platform.PendingScript() == 0 && !roster.Tray().Timer(3)->Enabled() &&
                    !main.Timer(6)->Enabled());
        QCOMPARE(f.platform.Beeps(), old ? 1 : 0);
        QCOMPARE(f.platform.BoxTexts(), old ? QStringList{QString::fromLatin1(kOldNotice)} : QStringList{});
        if (old)
            QCOMPARE(f.platform.Boxes().first().title, QStringLiteral("Quorvane - Internet Port Mapping"));
        // Only a window with an icon to come back from starts in the tray.
        const bool inTray = minimized && icon;
        QCOMPARE(main.isVisible(), !inTray);
        QCOMPARE(roster.Tray().Show()->isEnabled(), inTray);
        QCOMPARE(main.Minimize2()->isEnabled(), icon && !inTray);
        VerifyFileControlsDisabled(f);
        VerifyAllFieldsEmpty(f);
        f.Stop();
        if (old) // neither read nor rewritten
            QCOMPARE(QByteArray::fromStdString(ReadAll(f.ConfigPath())), contents);
        else
            QVERIFY(qv::IsCurrentVersion(f.ConfigPath()));
    }

    void validFileFillsFieldsWithoutSwitchingSlotsOn() {
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Store(qv::kMappingSection, "IncommingPort3", "8080", qv::kMappingDataShiftKey);
        f.Store(qv::kMappingSection, "OutcommingPort3", "80", qv::kMappingDataShiftKey);
        f.Store(qv::kMappingSection, "OutcommingIp3", "web.example.org", qv::kMappingDataShiftKey);
        f.Store(qv::kMappingSection, "OutcommingIp5", "only the host", qv::kMappingDataShiftKey);
        f.Store(qv::kSettingsSection, "CLLogsSave", "Save", qv::kCLLogsSaveShiftKey);
        qv::TRoster& roster = f.Start();
        qv::TQuorvaneMapping& main = roster.Mapping();
        QCOMPARE(f.Find<QLineEdit>("IncommingPort3")->text(), QStringLiteral("8080"));
        QCOMPARE(f.Find<QLineEdit>("OutcommingPort3")->text(), QStringLiteral("80"));
        QCOMPARE(f.Find<QLineEdit>("OutcommingIp3")->text(), QStringLiteral("web.example.org"));
        QCOMPARE(f.Find<QLineEdit>("OutcommingIp5")->text(), QStringLiteral("only the host"));
        QVERIFY(f.Find<QPushButton>("MappingEnable3")->isEnabled());
        QVERIFY(!f.Find<QPushButton>("MappingEnable5")->isEnabled());
        QVERIFY(!f.Find<QPushButton>("MappingDisable3")->isEnabled());
        VerifyFileControlsDisabled(f);
        QVERIFY(f.Find<QCheckBox>("CheckBox1")->isChecked());
        QVERIFY(main.Timer(7)->Enabled());
        QVERIFY(main.Timer(8)->Enabled());
        QVERIFY(main.isVisible());
        QVERIFY(main.windowState() & Qt::WindowMaximized);
        QVERIFY(f.platform.Boxes().isEmpty());
    }

    void markerAloneGivesEmptyFieldsAndRunsTheTimers() {
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = f.Start();
        VerifyAllFieldsEmpty(f);
        QVERIFY(roster.Mapping().Timer(7)->Enabled());
        for (int n = 1; n <= 6; ++n)
            QVERIFY(!roster.Mapping()
                         .findChild<QPushButton*>(n == 1 ? QStringLiteral("MappingEnable")
                                                         : QStringLiteral("MappingEnable%1").arg(n))
                         ->isEnabled());
        QVERIFY(!f.Find<QCheckBox>("CheckBox1")->isChecked());
    }

    // A file as a plain Windows profile writer leaves it: raw bytes, CR LF, blanks around "=".
    void rawWindowsFileReadsIntoTheRightFields() {
        RosterFixture f;
        const std::string raw = "[QuorvaneDataSettings]\r\nCLLogsSave=" + qv::ScrambleText("Save", "103") +
                                "\r\n\r\n[QuorvaneDataMapping]\r\nVQRVNV=" + qv::ScrambleText("2.0", "118") +
                                "\r\nOutcommingIp2=" + qv::ScrambleText("host.example.net", "118") +
                                "\r\nincommingport2 = " + qv::ScrambleText("8080", "118") +
                                "\r\nOutcommingPort2=" + qv::ScrambleText("80", "118") + "\r\n";
        WriteAll(f.ConfigPath(), raw);
        f.Start();
        QCOMPARE(f.Find<QLineEdit>("OutcommingIp2")->text(), QStringLiteral("host.example.net"));
        QCOMPARE(f.Find<QLineEdit>("IncommingPort2")->text(), QStringLiteral("8080"));
        QCOMPARE(f.Find<QLineEdit>("OutcommingPort2")->text(), QStringLiteral("80"));
        QVERIFY(f.Find<QPushButton>("MappingEnable2")->isEnabled());
        QVERIFY(f.Find<QCheckBox>("CheckBox1")->isChecked());
    }

    void storedMinimizedStartsInTheTrayWithoutFlashing() {
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Store(qv::kSettingsSection, "WindowsState", "Minimized", qv::kWindowsStateShiftKey);
        ShowCounter shows("TQuorvaneMapping");
        qv::TRoster& roster = f.Start();
        QVERIFY(roster.Mapping().Timer(6)->Enabled());
        QTRY_VERIFY(!roster.Mapping().Timer(6)->Enabled());
        QCOMPARE(shows.shows, 0);
        QVERIFY(!roster.Mapping().isVisible());
        qv::TQuorvaneTray& tray = roster.Tray();
        QVERIFY(tray.Show()->isEnabled());
        QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Show());
        QVERIFY(!tray.Minimize()->isEnabled());
        QVERIFY(!roster.Mapping().Minimize2()->isEnabled());
        QVERIFY(!f.platform.TaskbarVisible());
    }

    void otherWindowStatesStartOnScreen_data() {
        QTest::addColumn<QString>("stored");
        QTest::newRow("absent") << QString();
        QTest::newRow("other word") << QStringLiteral("Maximized");
        QTest::newRow("plain word") << QStringLiteral("plain");
    }
    void otherWindowStatesStartOnScreen() {
        QFETCH(QString, stored);
        RosterFixture f;
        f.StoreCurrentMarker();
        if (stored == QStringLiteral("plain"))
            qv::WriteString(f.ConfigPath(), qv::kSettingsSection, "WindowsState", "Minimized");
        else if (!stored.isEmpty())
            f.Store(qv::kSettingsSection, "WindowsState", stored.toStdString(), qv::kWindowsStateShiftKey);
        qv::TRoster& roster = f.Start();
        QVERIFY(roster.Mapping().isVisible());
        QVERIFY(!roster.Mapping().Timer(6)->Enabled());
    }

    void trayIconDisabledTakesMinimizeAway_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("minimizeEnabled");
        QTest::newRow("scrambled Disabled") << QStringLiteral("scrambled") << false;
        QTest::newRow("plain Disabled") << QStringLiteral("plain") << true;
        QTest::newRow("absent") << QString() << true;
    }
    void trayIconDisabledTakesMinimizeAway() {
        QFETCH(QString, stored);
        QFETCH(bool, minimizeEnabled);
        RosterFixture f;
        f.StoreCurrentMarker();
        if (stored == QStringLiteral("scrambled"))
            f.Store(qv::kSettingsSection, "TrayIcon", "Disabled", qv::kTrayIconShiftKey);
        else if (stored == QStringLiteral("plain"))
            qv::WriteString(f.ConfigPath(), qv::kSettingsSection, "TrayIcon", "Disabled");
        qv::TRoster& roster = f.Start();
        QTRY_VERIFY(!roster.Tray().Timer(3)->Enabled());
        QCOMPARE(roster.Mapping().Minimize2()->isEnabled(), minimizeEnabled);
        QCOMPARE(f.Find<QCheckBox>("CheckBox4")->isChecked(), minimizeEnabled);
    }

    void saveSwitchIsPersistedAtShutdown() {
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Start();
        f.Find<QCheckBox>("CheckBox1")->setChecked(true);
        f.Stop();
        QCOMPARE(qv::UnscrambleText(qv::ReadString(f.ConfigPath(), qv::kSettingsSection, "CLLogsSave"),
                                    qv::kCLLogsSaveShiftKey),
                 std::string("Save"));
        // The closing line went to the log; no start line, as the switch was off at start.
        const std::string log = ReadAll(f.LogPath());
        QVERIFY(log.find(" Quorvane - Internet Port Mapping is closing.\r\n") != std::string::npos);
        QVERIFY(log.find("is starting.") == std::string::npos);

        f.Start();
        QVERIFY(f.Find<QCheckBox>("CheckBox1")->isChecked());
        QTRY_VERIFY(ReadAll(f.LogPath()).find(" Quorvane - Internet Port Mapping is starting.\r\n") !=
                    std::string::npos);
        f.Find<QCheckBox>("CheckBox1")->setChecked(false);
        f.Stop();
        QVERIFY(qv::ReadString(f.ConfigPath(), qv::kSettingsSection, "CLLogsSave").empty());
    }

    // A malformed file full of duplicates: start-up reads it once and the exit deletes every copy of the
    // switch in one pass. A file past the size limit is left as it is, with a notice.
    void hugeFiles_data() {
        QTest::addColumn<int>("duplicates");
        QTest::addColumn<bool>("tooLarge");
        QTest::newRow("200,000 duplicate keys") << 200000 << false;
        QTest::newRow("past the size limit") << 700000 << true;
    }
    void hugeFiles() {
        QFETCH(int, duplicates);
        QFETCH(bool, tooLarge);
        RosterFixture f;
        f.StoreCurrentMarker();
        std::string text = ReadAll(f.ConfigPath()) + "[QuorvaneDataSettings]\r\n";
        for (int i = 0; i < duplicates; ++i)
            text += "CLLogsSave=junk\r\n";
        WriteAll(f.ConfigPath(), text);
        if (tooLarge)
            f.platform.ExpectBox(qv::BoxKind::Notice);
        // The notice is a box like the old-file one: it must not come while the windows are built,
        // even without a notification area, whose timers would then run against a missing window.
        f.platform.RunEventsInBoxes(true);
        f.platform.SetTrayAvailable(false);
        QElapsedTimer took;
        took.start();
        f.Start();
        f.Stop();
        // The fault took two minutes; this leaves room for a loaded machine and sanitizers.
        QVERIFY2(took.elapsed() < 20000, qPrintable(QString::number(took.elapsed())));
        const std::string after = ReadAll(f.ConfigPath());
        if (tooLarge) {
            QCOMPARE(after, text);
            QCOMPARE(f.platform.BoxTexts(),
                     QStringList{
                         QStringLiteral("The configuration file %1 is larger than %2 bytes. It has not been "
                                        "read and is left as it is.")
                             .arg(QString::fromStdString(f.ConfigPath()))
                             .arg(qv::kMaxProfileFileSize)});
        } else {
            QVERIFY(after.find("CLLogsSave") == std::string::npos);
            QVERIFY(f.platform.Boxes().isEmpty());
        }
    }
};

QV_TEST_MAIN(StartupTest)
#include "startup_test.moc"
