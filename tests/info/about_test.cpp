// The About window: memory figures as the kernel gives them, refreshed only while shown, and the
// processor speed measured once in the background.
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>

#include "info/about_window.h"
#include "shell/secondary_window.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"

using namespace qvtest;

namespace {

// The kernel's own figures in bytes, read independently of the program.
std::map<std::string, std::uint64_t> MemInfo() {
    std::map<std::string, std::uint64_t> figures;
    std::ifstream file("/proc/meminfo");
    std::string name;
    std::uint64_t kib = 0;
    std::string unit;
    while (file >> name >> kib) {
        name.pop_back(); // the colon
        figures[name] = kib * 1024;
        std::getline(file, unit);
    }
    return figures;
}

// The number in a line such as "Memory Free : 123 bytes".
std::uint64_t Figure(const QLabel* label) {
    const QString digits = label->text().section(QLatin1Char(':'), 1).section(QLatin1Char(' '), 1, 1);
    bool ok = false;
    const std::uint64_t value = digits.toULongLong(&ok);
    if (!ok)
        qWarning("no figure in %s", qPrintable(label->text()));
    return value;
}

} // namespace

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void memoryFiguresRefreshOnlyWhileShown() {
        RosterFixture f;
        f.platform.OnShowModal([](QWidget* window) { window->show(); });
        qv::TRoster& roster = f.Start();
        const auto label = [&](const char* name) { return roster.About().findChild<QLabel*>(QLatin1String(name)); };
        roster.Tray().About3()->trigger();
        QVERIFY(roster.About().isVisible() && !roster.Tray().About3()->isEnabled());

        // Whole 64-bit byte counts, against the kernel within what moves between two readings.
        const auto kernel = MemInfo();
        const std::uint64_t total = kernel.at("MemTotal");
        QCOMPARE(label("Label4")->text(), QStringLiteral("Total Memory : %1 bytes").arg(total));
        const std::uint64_t available = kernel.at("MemAvailable");
        QVERIFY2(std::llabs(static_cast<long long>(Figure(label("Label5")) - available)) < static_cast<long long>(total / 20),
                 qPrintable(label("Label5")->text()));
        const double load = 100.0 * double(total - available) / double(total);
        QVERIFY2(std::abs(double(Figure(label("Label7"))) - load) <= 5, qPrintable(label("Label7")->text()));
        QVERIFY(label("Label7")->text().endsWith(QStringLiteral(" %")));

        // While shown, free memory and load follow within a second; the total stays as shown.
        const std::uint64_t beyond32Bits = 6'000'000'000;
        f.platform.SetMemory(qv::MemoryStatus{64'000'000'000, beyond32Bits, 91});
        QTRY_COMPARE_WITH_TIMEOUT(label("Label5")->text(), QStringLiteral("Memory Free : 6000000000 bytes"), 1500);
        QCOMPARE(label("Label7")->text(), QStringLiteral("Total Of Memory Used : 91 %"));
        QCOMPARE(label("Label4")->text(), QStringLiteral("Total Memory : %1 bytes").arg(total));

        // Closed: no refresh, and the tray's About is back.
        QTest::mouseClick(roster.About().findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(!roster.About().isVisible() && roster.Tray().About3()->isEnabled());
        f.platform.SetMemory(qv::MemoryStatus{64'000'000'000, 7'000'000'000, 89});
        QTest::qWait(1300);
        QCOMPARE(label("Label5")->text(), QStringLiteral("Memory Free : 6000000000 bytes"));

        // Shown again: every figure at once.
        roster.Tray().About3()->trigger();
        QCOMPARE(label("Label4")->text(), QStringLiteral("Total Memory : 64000000000 bytes"));
        QCOMPARE(label("Label5")->text(), QStringLiteral("Memory Free : 7000000000 bytes"));

        QTest::mouseClick(label("Label2"), Qt::LeftButton);
        QCOMPARE(f.platform.OpenedUrls(), QStringList{QString::fromLatin1(qv::kVendorPage)});
    }

    void cpuSpeedLine_data() {
        QTest::addColumn<double>("ticksPerNs"); // 0: no counter
        // 10 GHz: half a second is 5e9 ticks, beyond what 32 bits hold.
        QTest::newRow("fast counter") << 10.0;
        QTest::newRow("slow counter") << 0.5;
        QTest::newRow("no counter") << 0.0;
    }
    void cpuSpeedLine() {
        QFETCH(double, ticksPerNs);
        RosterFixture f;
        if (ticksPerNs > 0)
            f.platform.SetCycleRate(ticksPerNs);
        qv::TRoster& roster = f.Start();
        const QLabel* line = roster.About().findChild<QLabel*>(QStringLiteral("Label6"));
        // The program is up before the measurement ends.
        if (ticksPerNs > 0)
            QVERIFY(line->text().endsWith(QStringLiteral("measuring...")));
        QTRY_VERIFY(!line->text().endsWith(QStringLiteral("measuring...")));
        if (ticksPerNs == 0) {
            QCOMPARE(line->text(), QStringLiteral("Estimated CPU Speed : not available on this processor"));
            return;
        }
        const QString prefix = QStringLiteral("Estimated CPU Speed : "), suffix = QStringLiteral(" MHz");
        QVERIFY2(line->text().startsWith(prefix) && line->text().endsWith(suffix), qPrintable(line->text()));
        const QString number = line->text().mid(prefix.size()).chopped(suffix.size());
        QCOMPARE(number.section(QLocale().decimalPoint(), 1).size(), 2);
        bool ok = false;
        const double mhz = QLocale().toDouble(number, &ok);
        QVERIFY(ok);
        QVERIFY2(std::abs(mhz - ticksPerNs * 1000) < ticksPerNs * 10, qPrintable(line->text()));
    }
};

QV_TEST_MAIN(AboutTest)
#include "about_test.moc"
