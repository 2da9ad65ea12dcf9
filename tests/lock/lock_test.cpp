// The password lock: its refusals and questions, the stored password, the tray and main window
// while locked and after the unlock.
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <optional>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "info/about_window.h"
#include "lock/lock_window.h"
#include "lock/unlock_window.h"
#include "rules/rules_window.h"
#include "shell/main_window.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/write_failure.h"

using namespace qvtest;

namespace {

const QString kLockQuestion =
    QStringLiteral("Are you sure want lock Quorvane - Internet Port Mapping with your password?");
const QString kUnlockQuestion = QStringLiteral("Are you sure want unlock Quorvane - Internet Port Mapping?");

// A program whose modal windows stay open for the test to work in.
struct Program : RosterFixture {
    qv::TRoster& Run() {
        platform.OnShowModal([](QWidget* window) { window->show(); });
        return Start();
    }
    std::string StoredPassword() const { return qv::ReadString(ConfigPath(), qv::kMappingSection, "LQRVNL"); }
    // Types into the window and presses "OK".
    static void Press(qv::PasswordWindow& window, const QString& edit1, const QString& edit2 = {}) {
        window.Edit1()->setText(edit1);
        if (auto* confirmation = window.findChild<QLineEdit*>(QStringLiteral("Edit2")))
            confirmation->setText(edit2);
        QTest::mouseClick(window.Button1(), Qt::LeftButton);
    }
    qv::TQuorvaneMappingLock& OpenLock() {
        roster->Tray().Lock1()->trigger();
        return roster->Lock();
    }
};

// Per tray item Lock1, Unlock1, Show, Minimize, Restart, Exit, About3: "e" enabled, "d" disabled, "h" hidden.
QString TrayState(qv::TQuorvaneTray& tray) {
    QString state;
    for (QAction* item : {tray.Lock1(), tray.Unlock1(), tray.Show(), tray.Minimize(), tray.Restart(),
                          tray.Exit(), tray.About3()})
        state += !item->isVisible()  ? QLatin1Char('h')
                 : item->isEnabled() ? QLatin1Char('e')
                                     : QLatin1Char('d');
    return state;
}

} // namespace

class LockTest : public QObject {
    Q_OBJECT

private slots:
    // Every refusal and every No leaves the window open with its texts, and nothing stored or locked.
    void attemptsThatChangeNothing_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("edit1");
        QTest::addColumn<QString>("edit2");
        QTest::addColumn<QString>("text"); // the last box; a question is answered No
        const QString refused = QStringLiteral(
            "You can not lock without the tray icon: the unlock is done from the tray icon.\r\n");
        const QString noIcon = refused + QStringLiteral("Check \"Show tray icon.\" in the settings first.");
        const QString noArea = refused + QStringLiteral("This desktop has no notification area");
        // clang-format off
        QTest::newRow("lock, empty")            << "lock" << "" << "abc" << "You must enter a password.";
        QTest::newRow("lock, no confirmation")  << "lock" << "abc" << "" << "You must enter a confirm password.";
        QTest::newRow("lock, case differs")     << "lock" << "Secret" << "secret" << "The password does not correspond to the confirmation.";
        QTest::newRow("lock, No")               << "lock" << "Secret" << "Secret" << kLockQuestion;
        QTest::newRow("lock, icon off")         << "lock, icon off" << "Secret" << "Secret" << noIcon;
        QTest::newRow("lock, no tray area")     << "lock, no area" << "Secret" << "Secret" << noArea;
        QTest::newRow("lock, file unwritable")  << "lock, full disk" << "Secret" << "Secret" << "Unable to write to ";
        QTest::newRow("unlock, empty")          << "unlock" << "" << "" << "You must enter a password.";
        QTest::newRow("unlock, case differs")   << "unlock" << "secret" << "" << "Invalid Password.";
        QTest::newRow("unlock, No")             << "unlock" << "Secret" << "" << kUnlockQuestion;
        QTest::newRow("unlock, key gone")       << "unlock, key gone" << "Secret" << "" << "Invalid Password.";
        // clang-format on
    }
    void attemptsThatChangeNothing() {
        QFETCH(QString, setup);
        QFETCH(QString, edit1);
        QFETCH(QString, edit2);
        QFETCH(QString, text);
        Program f;
        f.StoreCurrentMarker();
        if (setup.endsWith(QStringLiteral("icon off")))
            f.Store(qv::kSettingsSection, "TrayIcon", "Disabled", qv::kTrayIconShiftKey);
        f.platform.SetTrayAvailable(!setup.endsWith(QStringLiteral("no area")));
        qv::TRoster& roster = f.Run();
        const bool unlock = setup.startsWith(QStringLiteral("unlock"));
        if (unlock) {
            f.platform.Answer(qv::Answer::Yes);
            Program::Press(f.OpenLock(), QStringLiteral("Secret"), QStringLiteral("Secret"));
            if (setup.endsWith(QStringLiteral("key gone")))
                qv::DeleteKey(f.ConfigPath(), qv::kMappingSection, "LQRVNL");
            QVERIFY(f.platform.ClickTray(qv::TrayMouse::LeftButtonDown));
        }
        qv::PasswordWindow& shown = unlock ? static_cast<qv::PasswordWindow&>(roster.Unlock()) : f.OpenLock();
        const std::string fileBefore = ReadAll(f.ConfigPath());
        const QString trayBefore = TrayState(roster.Tray());
        f.platform.ClearBoxes();
        const int beeps = f.platform.Beeps();
        const bool question = text.startsWith(QStringLiteral("Are you sure"));
        const bool fullDisk = setup.endsWith(QStringLiteral("full disk"));
        if (question || fullDisk)
            f.platform.Answer(fullDisk ? qv::Answer::Yes : qv::Answer::No);
        if (!question)
            f.platform.ExpectBox(fullDisk ? qv::BoxKind::Error : qv::BoxKind::Notice);
        {
            std::optional<FileSizeLimit> limit;
            if (fullDisk)
                limit.emplace(8);
            Program::Press(shown, edit1, edit2);
        }

        QCOMPARE(f.platform.Boxes().size(), fullDisk ? 2 : 1);
        QVERIFY2(f.platform.Boxes().last().text.startsWith(text), qPrintable(f.platform.Boxes().last().text));
        QCOMPARE(f.platform.Beeps() - beeps, question || fullDisk ? 0 : 1);
        QVERIFY(shown.isVisible());
        QCOMPARE(shown.Edit1()->text(), edit1);
        for (QWidget* control :
             shown.findChildren<QWidget*>(QRegularExpression(QStringLiteral("^(Edit|Button)\\d$"))))
            QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
        QVERIFY(shown.findChild<QAction*>(QStringLiteral("Exit1"))->isEnabled());
        QCOMPARE(ReadAll(f.ConfigPath()), fileBefore);
        QCOMPARE(TrayState(roster.Tray()), trayBefore);
        QCOMPARE(roster.Mapping().isVisible(), !unlock);
    }

    // A lock and its unlock through the tray: the stored password, the tray's menu, the main window.
    void lockThenUnlock_data() {
        QTest::addColumn<bool>("fileExisted");
        QTest::addColumn<bool>("restart"); // the program ends while locked and starts again
        QTest::newRow("configuration file existed") << true << false;
        QTest::newRow("no configuration file") << false << false;
        QTest::newRow("restarted while locked") << true << true;
    }
    void lockThenUnlock() {
        QFETCH(bool, fileExisted);
        QFETCH(bool, restart);
        Program f;
        if (fileExisted)
            f.StoreCurrentMarker();
        qv::TRoster* roster = &f.Run();
        if (!fileExisted)
            QFile::remove(QString::fromStdString(f.ConfigPath())); // the first start wrote its marker
        const QString password = QString::fromLatin1("Pa\xdf w\xf6rd");
        qv::TQuorvaneTray& tray = roster->Tray();
        qv::TQuorvaneMapping& mapping = roster->Mapping();

        roster->ShowMappingRules(1);
        qv::TQuorvaneMappingLock& lock = f.OpenLock();
        QVERIFY(!mapping.Lock1()->isEnabled() && !mapping.Button4()->isEnabled() &&
                !tray.Lock1()->isEnabled());
        f.platform.Answer(qv::Answer::Yes);
        Program::Press(lock, password, password);
        QCOMPARE(f.platform.BoxTexts(), QStringList{kLockQuestion});
        QVERIFY(!lock.isVisible() && lock.Edit1()->text().isEmpty());
        QCOMPARE(f.StoredPassword(), qv::ScrambleText("Pa\xdf w\xf6rd", qv::kLQRVNLShiftKey));
        QVERIFY(qv::IsCurrentVersion(f.ConfigPath()));
        if (!fileExisted) // the marker and the password, nothing else
            QCOMPARE(QByteArray::fromStdString(ReadAll(f.ConfigPath())).count('='), 2);
        QCOMPARE(TrayState(tray), fileExisted ? QStringLiteral("heddddd") : QStringLiteral("eeddddd"));
        QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Unlock1());
        QVERIFY(!mapping.isVisible() && !f.platform.TaskbarVisible() && mapping.Button5()->isEnabled());
        QVERIFY(!roster->MappingRules().isVisible());

        if (restart) {
            f.Stop();
            QCOMPARE(TrayState(f.Run().Tray()), QStringLiteral("ehdeeee"));
            QVERIFY(!f.StoredPassword().empty());
            return;
        }
        // A left click opens the unlock window; About from there leaves the tray's About off.
        QVERIFY(f.platform.ClickTray(qv::TrayMouse::LeftButtonDown));
        qv::TQuorvaneMappingUnlock& unlock = roster->Unlock();
        QVERIFY(unlock.isVisible() && !tray.Unlock1()->isEnabled() && !mapping.isVisible());
        unlock.findChild<QAction*>(QStringLiteral("About2"))->trigger();
        QVERIFY(roster->About().close());
        QVERIFY(!tray.About3()->isEnabled());

        f.platform.ClearBoxes();
        f.platform.Answer(qv::Answer::Yes);
        Program::Press(unlock, password);
        QCOMPARE(f.platform.BoxTexts(), QStringList{kUnlockQuestion});
        QVERIFY(!unlock.isVisible() && unlock.Edit1()->text().isEmpty());
        QVERIFY(f.StoredPassword().empty() && qv::IsCurrentVersion(f.ConfigPath()));
        QCOMPARE(TrayState(tray), QStringLiteral("ehdeeee"));
        QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Minimize());
        QVERIFY(mapping.isVisible() && (mapping.windowState() & Qt::WindowMaximized) &&
                f.platform.TaskbarVisible());
        QVERIFY(mapping.Button4()->isEnabled() && !mapping.Button5()->isEnabled() &&
                mapping.Minimize2()->isEnabled());
    }
};

QV_TEST_MAIN(LockTest)
#include "lock_test.moc"
