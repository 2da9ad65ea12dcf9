// The remote window's stored settings: creation read, key filters, change handling, own load and save.
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "remote/remote_server.h"
#include "remote/remote_window.h"
#include "shell/main_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"

using namespace qvtest;

namespace {
QLineEdit* Field(qv::TRoster& roster, const char* name) {
    return roster.Remote().Field(name);
}
} // namespace

class RemoteWindowTest : public QObject {
    Q_OBJECT

private slots:
    void firstRunShowsEmptyFields() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        // The main window wrote the marker alone before this window read its keys.
        for (const char* name : qv::TQuorvaneRemote::kFieldNames)
            QVERIFY2(Field(roster, name)->text().isEmpty(), name);
        QVERIFY(!roster.Remote().LoadIni()->isEnabled() && !roster.Remote().SaveIni()->isEnabled());
        QVERIFY(!roster.Mapping().SaveIni()->isEnabled());
    }

    void oldFileKeepsBuiltInTextsAndHidesSave() {
        RosterFixture f;
        WriteAll(f.ConfigPath(), "[QuorvaneDataRemoteMapping]\r\nServerName=plain\r\n");
        f.platform.ExpectBox(qv::BoxKind::Notice);
        qv::TRoster& roster = f.Start();
        QCOMPARE(Field(roster, "ServerName")->text(), QStringLiteral("Quorvane"));
        QCOMPARE(Field(roster, "RemotePort")->text(), QStringLiteral("6586"));
        QCOMPARE(Field(roster, "RemoteIp")->text(), QStringLiteral("255.255.255.0"));
        QVERIFY(roster.Remote().SaveIni()->isHidden());
    }

    void currentFileFillsTheFieldsWithoutCountingAsAChange() {
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Store(qv::kRemoteSection, "RemoteIp", "10.1.2.3", qv::kMappingDataShiftKey);
        f.Store(qv::kRemoteSection, "ServerPassword", "s3cr=t;", qv::kMappingDataShiftKey);
        qv::TRoster& roster = f.Start();
        QCOMPARE(Field(roster, "RemoteIp")->text(), QStringLiteral("10.1.2.3"));
        QCOMPARE(Field(roster, "ServerPassword")->text(), QStringLiteral("s3cr=t;"));
        QCOMPARE(Field(roster, "ServerPassword")->echoMode(), QLineEdit::Password);
        QVERIFY(Field(roster, "ServerName")->text().isEmpty()); // absent key: empty, not the built-in text
        QVERIFY(!roster.Remote().LoadIni()->isEnabled() && !roster.Remote().SaveIni()->isEnabled());
        QVERIFY(!roster.Mapping().SaveIni()->isEnabled() && !roster.Mapping().LoadIni2()->isEnabled());
    }

    void portFieldsTakeDigitsAndChangesEnableLoadAndSave() {
        RosterFixture f;
        f.StoreCurrentMarker();
        qv::TRoster& roster = f.Start();
        for (const char* name : {"RemotePort", "ServerPort"}) {
            QLineEdit* port = Field(roster, name);
            QTest::keyClicks(port, "6x5:8-6");
            QCOMPARE(port->text(), QStringLiteral("6586"));
        }
        QVERIFY(roster.Remote().LoadIni()->isEnabled() && roster.Remote().SaveIni()->isEnabled());
        QVERIFY(roster.Mapping().SaveIni()->isEnabled() && roster.Mapping().SaveIni2()->isEnabled());
        QTest::keyClicks(Field(roster, "RemoteLogin"), "a b:c");
        QCOMPARE(Field(roster, "RemoteLogin")->text(), QStringLiteral("a b:c"));
    }

    void ownSaveWritesMarkerAndTheEightKeysOnly() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        std::filesystem::remove(f.ConfigPath());
        Field(roster, "ServerLogin")->setText(QStringLiteral("admin"));
        roster.Mapping()
            .findChild<QLineEdit*>(QStringLiteral("OutcommingIp"))
            ->setText(QStringLiteral("main"));
        roster.Remote().SaveIni()->click();
        QVERIFY(!roster.Remote().SaveIni()->isEnabled() && !roster.Remote().LoadIni()->isEnabled());
        QVERIFY(qv::IsCurrentVersion(f.ConfigPath()));
        QCOMPARE(qv::UnscrambleText(qv::ReadString(f.ConfigPath(), qv::kRemoteSection, "ServerLogin"),
                                    qv::kMappingDataShiftKey),
                 std::string("admin"));
        QVERIFY(qv::ReadString(f.ConfigPath(), qv::kMappingSection, "OutcommingIp").empty());
        // The main window's controls are not this window's business.
        QVERIFY(roster.Mapping().SaveIni()->isEnabled());
    }

    void ownLoadAsksAndRefills_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }
    void ownLoadAsksAndRefills() {
        QFETCH(bool, yes);
        RosterFixture f;
        f.StoreCurrentMarker();
        f.Store(qv::kRemoteSection, "ServerName", "stored", qv::kMappingDataShiftKey);
        qv::TRoster& roster = f.Start();
        Field(roster, "ServerName")->setText(QStringLiteral("typed"));
        f.platform.Answer(yes ? qv::Answer::Yes : qv::Answer::No);
        roster.Remote().LoadIni()->click();
        QCOMPARE(f.platform.BoxTexts().last(),
                 QStringLiteral("Are you sure remplace your current settings with the old configuration?"));
        QCOMPARE(Field(roster, "ServerName")->text(),
                 yes ? QStringLiteral("stored") : QStringLiteral("typed"));
        QVERIFY(roster.Remote().LoadIni()->isEnabled());
        QVERIFY(roster.Remote().findChild<QPushButton*>(QStringLiteral("Button1"))->isEnabled());
        QCOMPARE(roster.Remote().SaveIni()->isEnabled(), !yes);
    }

    void betaNoticeAtEveryShow() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        for (int shown = 1; shown <= 2; ++shown) {
            f.platform.ExpectBox(qv::BoxKind::Notice);
            roster.Remote().show();
            roster.Remote().findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            QVERIFY(roster.Remote().isHidden());
        }
        const QString notice =
            QStringLiteral("This options (Remote Settings and Remote Connections) is a beta version. "
                           "\r\nYour software version : 1.3 Build 47 07 11 2002\r\n"
                           "Software Protocol Version 1.06B Beta.");
        QCOMPARE(f.platform.BoxTexts(), (QStringList{notice, notice}));
        QCOMPARE(f.platform.Beeps(), 2);
    }

    // Port 0 and five digits past 65535 are refused before any socket is made.
    void portsOutOfRangeAreRefused_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("notice");
        QTest::newRow("server 0") << "ServerPort"
                                  << "0"
                                  << "Invalid server port number.";
        QTest::newRow("server 70000") << "ServerPort"
                                      << "70000"
                                      << "Invalid server port number.";
        QTest::newRow("remote 99999") << "RemotePort"
                                      << "99999"
                                      << "Invalid remote port number.";
    }
    void portsOutOfRangeAreRefused() {
        QFETCH(QString, field);
        QFETCH(QString, port);
        QFETCH(QString, notice);
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        for (const char* name : qv::TQuorvaneRemote::kFieldNames)
            Field(roster, name)->setText(QStringLiteral("x"));
        Field(roster, field.toLatin1().constData())->setText(port);
        f.platform.ExpectBox(qv::BoxKind::Notice);
        if (field == QLatin1String("ServerPort"))
            roster.Remote().RemoteActive()->setChecked(true);
        else
            roster.Remote().RemoteConnect()->click();
        QCOMPARE(f.platform.BoxTexts(), QStringList{notice});
        QVERIFY(!roster.Mapping().RemoteServer().ServerSocket1().Active());
        QVERIFY(!roster.Remote().ClientSocket1().HasSocket());
    }

    void ownLoadRefusesMissingFile() {
        RosterFixture f;
        qv::TRoster& roster = f.Start();
        std::filesystem::remove(f.ConfigPath());
        f.platform.ExpectBox(qv::BoxKind::Notice);
        roster.Remote().LoadIni()->setEnabled(true);
        roster.Remote().LoadIni()->click();
        QCOMPARE(f.platform.BoxTexts(),
                 QStringList{
                     QStringLiteral("The file DataQRVN.qrvd in your application directory do not exist.")});
        QCOMPARE(f.platform.Beeps(), 1);
    }
};

QV_TEST_MAIN(RemoteWindowTest)
#include "remote_window_test.moc"
