// The About window: memory figures as the kernel gives them, refreshed only while shown, and the
// processor speed measured once in the background.
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <fstream>
#include <map>

#include "info/about_window.h"
#include "shell/secondary_window.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"

using namespace qvtest;

namespace {
// The kernel's own figures in bytes, read apart from the program.
std::map<std::string, std::uint64_t> MemInfo() {
    std::map<std::string, std::uint64_t> figures;
    std::ifstream file("/proc/meminfo");
    std::string name, rest;
    std::uint64_t kib = 0;
    while (file >> name >> kib && std::getline(file, rest))
        figures[name.substr(0, name.size() - 1)] = kib * 1024;
    return figures;
}
// The number after the colon of a line such as "Memory Free : 123 bytes".
double Figure(const QLabel* label) {
    return label->text().section(QLatin1Char(' '), -2, -2).toDouble();
}
} // namespace

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void memoryFiguresRefreshOnlyWhileShown() {
        RosterFixture f;
        f.platform.OnShowModal([](QWidget* window) { window->show(); });
        qv::TRoster& roster = f.Start();
        const auto label = [&](const char* name) {
            return roster.About().findChild<QLabel*>(QLatin1String(name));
        };
        roster.Tray().About3()->trigger();
        QVERIFY(roster.About().isVisible() && !roster.Tray().About3()->isEnabled());

        // Whole byte counts beyond 32 bits, against the kernel within what moves between two readings.
        const auto kernel = MemInfo();
        const double total = double(kernel.at("MemTotal")), available = double(kernel.at("MemAvailable"));
        QCOMPARE(label("Label4")->text(),
                 QStringLiteral("Total Memory : %1 bytes").arg(kernel.at("MemTotal")));
        QVERIFY2(std::abs(Figure(label("Label5")) - available) < total / 20,
                 qPrintable(label("Label5")->text()));
        QVERIFY2(std::abs(Figure(label("Label7")) - 100 * (total - available) / total) <= 5,
                 qPrintable(label("Label7")->text()));

        // While shown, free memory and load follow within a second; the total stays as shown.
        f.platform.SetMemory(qv::MemoryStatus{64'000'000'000, 6'000'000'000, 91});
        QTRY_COMPARE_WITH_TIMEOUT(label("Label7")->text(), QStringLiteral("Total Of Memory Used : 91 %"),
                                  1500);
        QCOMPARE(label("Label5")->text(), QStringLiteral("Memory Free : 6000000000 bytes"));
        QCOMPARE(Figure(label("Label4")), total);

        // Closed: no refresh, and the tray's About is back. Shown again: every figure at once.
        QTest::mouseClick(roster.About().findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(!roster.About().isVisible() && roster.Tray().About3()->isEnabled());
        f.platform.SetMemory(qv::MemoryStatus{64'000'000'000, 7'000'000'000, 89});
        QTest::qWait(1300);
        QCOMPARE(label("Label5")->text(), QStringLiteral("Memory Free : 6000000000 bytes"));
        roster.Tray().About3()->trigger();
        QCOMPARE(label("Label4")->text(), QStringLiteral("Total Memory : 64000000000 bytes"));
        QCOMPARE(label("Label5")->text(), QStringLiteral("Memory Free : 7000000000 bytes"));

        QTest::mouseClick(label("Label2"), Qt::LeftButton);
        QCOMPARE(f.platform.OpenedUrls(), QStringList{QString::fromLatin1(qv::kVendorPage)});
    }

    void cpuSpeedLine_data() {
        QTest::addColumn<double>("ticksPerNs"); // 0: no counter
        // Half a second at 10 GHz is 5e9 ticks, more than 32 bits hold.
        QTest::newRow("10 GHz counter") << 10.0;
        QTest::newRow("no counter") << 0.0;
    }
    void cpuSpeedLine() {
        QFETCH(double, ticksPerNs);
        RosterFixture f;
        if (ticksPerNs > 0)
            f.platform.SetCycleRate(ticksPerNs);
        const QLabel* line = f.Start().About().findChild<QLabel*>(QStringLiteral("Label6"));
        // The program is up before a measurement ends (with no counter there is nothing to wait for).
        if (ticksPerNs > 0)
            QCOMPARE(line->text(), QStringLiteral("Estimated CPU Speed : measuring..."));
        QTRY_VERIFY(!line->text().endsWith(QStringLiteral("measuring...")));
        if (ticksPerNs == 0) {
            QCOMPARE(line->text(), QStringLiteral("Estimated CPU Speed : not available on this processor"));
            return;
        }
        const QString number = line->text().section(QLatin1Char(' '), -2, -2);
        QVERIFY2(line->text() == QStringLiteral("Estimated CPU Speed : %1 MHz").arg(number) &&
                     number.section(QLocale().decimalPoint(), 1).size() == 2,
                 qPrintable(line->text()));
        QVERIFY2(std::abs(QLocale().toDouble(number) - ticksPerNs * 1000) < ticksPerNs * 10,
                 qPrintable(number));
    }
};

QV_TEST_MAIN(AboutTest)
#include "about_test.moc"
