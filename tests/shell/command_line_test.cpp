// The command line: --help and --version answer and end, the restart's "-copy" starts the program,
// anything else is refused with the usage on standard error and status 2.
#include <QProcess>
#include <QTest>

#include "shell/command_line.h"
#include "support/qt_test_main.h"

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("run");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors");
        QTest::newRow("nothing") << QStringList{} << true << 0 << ""
                                 << "";
        QTest::newRow("restart") << QStringList{"-copy"} << true << 0 << ""
                                 << "";
        QTest::newRow("help") << QStringList{"--help"} << false << 0 << "--version"
                              << "";
        QTest::newRow("short help") << QStringList{"-h"} << false << 0 << "Usage:"
                                    << "";
        QTest::newRow("version") << QStringList{"--version"} << false << 0 << "1.3 Build 47"
                                 << "";
        QTest::newRow("unknown") << QStringList{"--bogus"} << false << 2 << ""
                                 << "Unknown option 'bogus'";
        QTest::newRow("unknown after copy") << QStringList{"-copy", "-x"} << false << 2 << ""
                                            << "Usage:";
        QTest::newRow("stray argument") << QStringList{"file.qrvd"} << false << 2 << ""
                                        << "Unexpected argument 'file.qrvd'";
    }
    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, run);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);
        const qv::CommandLine line = qv::ParseCommandLine(QStringList{"quorvane"} + arguments);
        QCOMPARE(line.run, run);
        QCOMPARE(line.exitCode, exitCode);
        QCOMPARE(line.output.isEmpty(), output.isEmpty());
        QVERIFY2(line.output.contains(output), qPrintable(line.output));
        QCOMPARE(line.errors.isEmpty(), errors.isEmpty());
        QVERIFY2(line.errors.contains(errors), qPrintable(line.errors));
        if (exitCode == 2)
            QVERIFY(line.errors.contains(QStringLiteral("Usage:")));
    }

    // The real program: the command line is judged without a display (no platform named at all),
    // Qt's own options taken out first.
    void program_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors");
        QTest::newRow("version without display") << QStringList{"--version"} << "xcb" << 0 << "1.3 Build 47"
                                                 << "";
        QTest::newRow("qt option then help")
            << QStringList{"-platform", "offscreen", "--help"} << "xcb" << 0 << "Usage:"
            << "";
        QTest::newRow("qt options without display")
            << QStringList{"-style", "fusion", "--reverse", "-qmljsdebugger=port:0", "--version"} << "" << 0
            << "1.3 Build 47"
            << "";
        QTest::newRow("unknown without display") << QStringList{"--bogus"} << "" << 2 << ""
                                                 << "Unknown option 'bogus'.\nUsage:";
    }
    void program() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, platform);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (!platform.isEmpty())
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QV_EXECUTABLE), arguments);
        QVERIFY(process.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QCOMPARE(out.isEmpty(), output.isEmpty());
        QVERIFY2(out.contains(output), qPrintable(out));
        QVERIFY2(err.contains(errors), qPrintable(err));
    }
};

QV_TEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
