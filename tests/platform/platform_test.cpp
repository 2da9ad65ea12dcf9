// The general error report, whole-number reading, window timers, hints and the real file dialogs.
#include <QAction>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "config/config_messages.h"
#include "core/profile/version_marker.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "platform/qt_platform.h"
#include "platform/str_to_int.h"
#include "platform/ui_timer.h"
#include "remote/remote_window.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "support/fake_platform.h"
#include "support/qt_test_main.h"
#include "support/temp_dir.h"

namespace {
// The program's own dialogs and boxes, its files in a temporary folder.
qv::QtPlatform TempDirPlatform(const qvtest::TempDir& dir) {
    const std::string folder = dir.File("");
    return qv::QtPlatform(qv::FileLocations{folder + "quorvane", folder, folder, false});
}
} // namespace

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void escapedErrorIsShownOnceAndSkipsTheRest() {
        qvtest::FakePlatform platform(QStringLiteral("/tmp/"));
        platform.ExpectBox(qv::BoxKind::Error);
        QStringList steps;
        QPushButton button;
        qv::OnSignal(&button, &QPushButton::clicked, &button, platform, [&] {
            steps << "first";
            throw std::runtime_error("Unable to write to /x/DataQRVN.qrvd");
            steps << "never";
        });
        button.click();
        QCOMPARE(steps, QStringList{"first"});
        QCOMPARE(platform.Boxes().size(), 1);
        QCOMPARE(platform.Boxes().first().kind, qv::BoxKind::Error);
        QCOMPARE(platform.Boxes().first().title, QStringLiteral("Quorvane - Internet Port Mapping"));
        QCOMPARE(platform.Boxes().first().text, QStringLiteral("Unable to write to /x/DataQRVN.qrvd"));
        // The next click runs the handler again from the start.
        platform.ExpectBox(qv::BoxKind::Error);
        button.click();
        QCOMPARE(steps, (QStringList{"first", "first"}));
    }

    void handlerWithoutErrorShowsNothing() {
        qvtest::FakePlatform platform(QStringLiteral("/tmp/"));
        int runs = 0;
        qv::Guarded(platform, [&] { ++runs; });
        QCOMPARE(runs, 1);
        QVERIFY(platform.Boxes().isEmpty());
    }

    void strToInt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("digits") << "8080" << true << 8080;
        QTest::newRow("leading zeros") << "00080" << true << 80;
        QTest::newRow("leading blank") << " 21" << true << 21;
        QTest::newRow("signed") << "-5" << true << -5;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("letters") << "80a" << false << 0;
        QTest::newRow("trailing blank") << "80 " << false << 0;
        QTest::newRow("overflow") << "2147483648" << false << 0;
        QTest::newRow("far overflow") << "99999999999999999999" << false << 0;
    }
    void strToInt() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        if (valid) {
            QCOMPARE(qv::StrToInt(text), value);
            return;
        }
        try {
            qv::StrToInt(text);
            QFAIL("no error raised");
        } catch (const qv::ConvertError& error) {
            QCOMPARE(QString::fromLatin1(error.what()),
                     QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }

    void zeroIntervalNeverTicks() {
        qv::UiTimer timer(QStringLiteral("Timer1"), 0, nullptr);
        QSignalSpy ticks(&timer, &qv::UiTimer::Tick);
        timer.SetEnabled(true);
        QVERIFY(timer.Enabled());
        QTest::qWait(50);
        QCOMPARE(ticks.size(), 0);
        timer.SetInterval(5);
        QTRY_VERIFY(ticks.size() > 0);
    }

    void enablingARunningTimerDoesNotRestartIt() {
        qv::UiTimer timer(QStringLiteral("Timer2"), 1000, nullptr);
        QSignalSpy ticks(&timer, &qv::UiTimer::Tick);
        QElapsedTimer clock;
        clock.start();
        timer.SetEnabled(true);
        QTest::qWait(500);
        timer.SetEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(ticks.size(), 1, 3000);
        // A restart at 500 ms would have put the tick at 1500 ms or later.
        QVERIFY2(clock.elapsed() < 1450, qPrintable(QString::number(clock.elapsed())));
    }

    // A typed name of a file that does not exist is taken by the open dialog; the file reads as
    // empty and the program gives its own answer.
    void openDialogTakesAMissingFile_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("box");
        QTest::newRow("Load Configuration From")
            << QStringLiteral("LoadConfigurationFrom1") << QString::fromLatin1(qv::kOldFileNotice);
        QTest::newRow("Load A Older Configuration")
            << QStringLiteral("Loadaolderconfiguration1") << QString::fromLatin1(qv::kReplaceQuestion);
    }
    void openDialogTakesAMissingFile() {
        QFETCH(QString, item);
        QFETCH(QString, box);
        qvtest::TempDir dir;
        qv::WriteVersionMarker(dir.File("DataQRVN.qrvd"));
        qv::QtPlatform platform = TempDirPlatform(dir);
        qv::TRoster roster(platform);
        QCoreApplication::sendPostedEvents();
        const QString missing = QString::fromStdString(dir.File("absent.qrvd"));
        // Plays the user: types the name into the dialog, then answers Yes or OK to each box. A
        // dialog that refused the name is cancelled.
        QStringList boxes;
        QTimer user;
        connect(&user, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                if (!boxes.isEmpty())
                    return dialog->reject();
                QLineEdit* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                name->setText(missing);
                // Queued: a box the dialog opens must not block this timer.
                QMetaObject::invokeMethod(
                    name, [name] { QTest::keyClick(name, Qt::Key_Return); }, Qt::QueuedConnection);
            } else if (auto* shown = qobject_cast<QMessageBox*>(modal)) {
                boxes << shown->text();
                QAbstractButton* yes = shown->button(QMessageBox::Yes);
                (yes ? yes : shown->button(QMessageBox::Ok))->click();
            }
        });
        user.start(10);
        QLineEdit* serverPort = roster.Remote().findChild<QLineEdit*>(QStringLiteral("ServerPort"));
        serverPort->setText(QStringLiteral("6586"));
        roster.Mapping().findChild<QAction*>(item)->trigger();
        user.stop();
        QCOMPARE(boxes, QStringList{box});
        // The import read the missing file as empty: every field is cleared.
        QCOMPARE(serverPort->text().isEmpty(), item == QLatin1String("Loadaolderconfiguration1"));
    }

    // Once the end has begun nothing waits for a person: the box that is up closes unanswered and
    // a later one is not shown at all. A box still up on the next look is answered by the test.
    void boxesCloseOnceTheEndBegins() {
        qvtest::TempDir dir;
        qv::QtPlatform platform = TempDirPlatform(dir);
        QStringList shown;
        QTimer user;
        connect(&user, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->text();
                if (shown.size() == 1)
                    platform.BeginEnding();
                else
                    box->reject();
            }
        });
        user.start(10);
        QVERIFY(!platform.Question(QStringLiteral("first")));
        QVERIFY(!platform.Question(QStringLiteral("second")));
        user.stop();
        QCOMPARE(shown, QStringList{QStringLiteral("first")});
    }

    void hintSplitsAtTheBar() {
        QPushButton button;
        qv::SetHint(&button, "Save Configurations|Save Configurations on DataQRVN.qrvd");
        QCOMPARE(button.toolTip(), QStringLiteral("Save Configurations"));
        QCOMPARE(button.statusTip(), QStringLiteral("Save Configurations on DataQRVN.qrvd"));
        qv::SetHint(&button, "Show tray icon.");
        QCOMPARE(button.toolTip(), QStringLiteral("Show tray icon."));
        QCOMPARE(button.statusTip(), QStringLiteral("Show tray icon."));
    }
};

QV_TEST_MAIN(PlatformTest)
#include "platform_test.moc"
