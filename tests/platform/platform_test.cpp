// The general error report, whole-number reading, window timers and hints.
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <stdexcept>

#include "platform/error_report.h"
#include "platform/hint.h"
#include "platform/str_to_int.h"
#include "platform/ui_timer.h"
#include "support/fake_platform.h"
#include "support/qt_test_main.h"

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
            QCOMPARE(QString::fromLatin1(error.what()), QStringLiteral("'%1' is not a valid integer value").arg(text));
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
